// Evaluating 10000 paths with the path policy against the floor any symlink-resolving
// policy pays: a bare realpath(3) of each path's parent directory. PathPolicyEvaluate takes
// the paths as the helper does, as one request whose paths share their parents'
// resolutions (ParentResolutions.h); PathPolicyEvaluateAlone evaluates each on its own.
//
// The mix lives in a scratch home under /tmp: caches below the home, system paths, deep
// project trees and paths through symbolic links to directories.
//
// PathPolicyByParentDepth evaluates 10000 paths whose parents are 64 levels deep against
// 10000 whose parents are 6 levels deep: resolving a parent is linear in its length, so
// the deep request costs a small multiple of the shallow one (realpath(3) of every
// ancestor made it quadratic). OpenParentByDepth is the floor for that ratio: the kernel's
// own lookup of the same parents.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "CleanerCore/policy/PathPolicy.h"

namespace {

constexpr int count = 10000;

void makeChain(const std::string& path) {
    std::string partial;
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            partial = path.substr(0, i);
            ::mkdir(partial.c_str(), 0755);
        }
    }
}

struct Workload {
    std::string root;
    std::string home;
    std::vector<std::string> paths;

    Workload() {
        char pattern[] = "/tmp/kbpolbench-XXXXXX";
        root = ::mkdtemp(pattern);
        home = root + "/home/user";
        const std::string deep = home + "/src/project/node_modules/pkg/lib/a/b/c/d/e/f";
        for (int app = 0; app < 20; ++app) {
            makeChain(home + "/.cache/app-" + std::to_string(app) + "/thumbnails/large");
        }
        makeChain(deep);
        makeChain(home + "/.config/editor/cache");
        std::filesystem::create_symlink(home + "/.cache", home + "/cache-link");
        std::filesystem::create_symlink(home + "/src/project", root + "/project-link");

        const std::string system[] = {
            "/usr/share/doc/bash/README",     "/var/log/apt/history.log.1",
            "/var/cache/apt/archives/a.deb",  "/etc/ssl/certs/x.pem",
            "/usr/local/share/tool/data.bin", "/tmp/session.tmp"};
        for (int i = 0; i < count; ++i) {
            const std::string n = std::to_string(i);
            const std::string app = "app-" + std::to_string(i % 20);
            switch (i % 5) {
                case 0:
                case 1:
                    paths.push_back(home + "/.cache/" + app + "/thumbnails/large/" + n + ".png");
                    break;
                case 2:
                    paths.push_back(system[i % 6]);
                    break;
                case 3:
                    paths.push_back(deep + "/file-" + n + ".js");
                    break;
                default:
                    paths.push_back(i % 2 == 0 ? home + "/cache-link/" + app + "/thumbnails/" + n
                                               : root + "/project-link/node_modules/pkg/" + n);
                    break;
            }
        }
    }
    ~Workload() {
        const std::string command = "rm -rf '" + root + "'";
        [[maybe_unused]] int rc = std::system(command.c_str());
    }
};

const Workload& workload() {
    static const Workload instance;
    return instance;
}

void PathPolicyEvaluate(benchmark::State& state) {
    const Workload& w = workload();
    const kb::PathPolicy policy(w.home);
    for (auto _ : state) {
        kb::ParentResolutions request;
        for (const auto& path : w.paths) {
            benchmark::DoNotOptimize(policy.evaluate(path, request));
        }
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(PathPolicyEvaluate)->Unit(benchmark::kMillisecond);

void PathPolicyEvaluateAlone(benchmark::State& state) {
    const Workload& w = workload();
    const kb::PathPolicy policy(w.home);
    for (auto _ : state) {
        for (const auto& path : w.paths) {
            benchmark::DoNotOptimize(policy.evaluate(path));
        }
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(PathPolicyEvaluateAlone)->Unit(benchmark::kMillisecond);

void RealpathOfParent(benchmark::State& state) {
    const Workload& w = workload();
    char buffer[PATH_MAX];
    for (auto _ : state) {
        for (const auto& path : w.paths) {
            const std::string parent = path.substr(0, path.rfind('/'));
            benchmark::DoNotOptimize(::realpath(parent.c_str(), buffer));
        }
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(RealpathOfParent)->Unit(benchmark::kMillisecond);

constexpr int deepLevels = 64;

// 10000 paths below 20 directories whose paths have `levels` pieces, in a scratch home.
struct DepthWorkload {
    std::string root;
    std::string home;
    std::vector<std::string> paths;

    explicit DepthWorkload(int levels) {
        char pattern[] = "/tmp/kbpoldepth-XXXXXX";
        root = ::mkdtemp(pattern);
        home = root + "/home/user";
        std::string base = home + "/.cache";
        while (std::count(base.begin(), base.end(), '/') < levels - 1) {
            base += "/d";
        }
        for (int i = 0; i < count; ++i) {
            const std::string directory = base + "/app-" + std::to_string(i % 20);
            if (i < 20) {
                makeChain(directory);
            }
            paths.push_back(directory + "/" + std::to_string(i) + ".png");
        }
    }
    ~DepthWorkload() {
        const std::string command = "rm -rf '" + root + "'";
        [[maybe_unused]] int rc = std::system(command.c_str());
    }
};

const DepthWorkload& depthWorkload(int levels) {
    static const DepthWorkload shallow(6);
    static const DepthWorkload deep(deepLevels);
    return levels == deepLevels ? deep : shallow;
}

void PathPolicyByParentDepth(benchmark::State& state, int levels) {
    const DepthWorkload& w = depthWorkload(levels);
    const kb::PathPolicy policy(w.home);
    for (auto _ : state) {
        for (const auto& path : w.paths) {
            benchmark::DoNotOptimize(policy.evaluate(path));
        }
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK_CAPTURE(PathPolicyByParentDepth, shallow, 6)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PathPolicyByParentDepth, deep, deepLevels)->Unit(benchmark::kMillisecond);

void OpenParentByDepth(benchmark::State& state, int levels) {
    const DepthWorkload& w = depthWorkload(levels);
    for (auto _ : state) {
        for (const auto& path : w.paths) {
            const std::string parent = path.substr(0, path.rfind('/'));
            const int fd = ::open(parent.c_str(), O_PATH | O_CLOEXEC);
            benchmark::DoNotOptimize(fd);
            ::close(fd);
        }
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK_CAPTURE(OpenParentByDepth, shallow, 6)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenParentByDepth, deep, deepLevels)->Unit(benchmark::kMillisecond);

// Keeps the CPU time (user and system) of every benchmark run, in its unit (all of them
// milliseconds): on a shared machine it moves less than the wall time.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration) {
                times_[run.benchmark_name()] = run.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatio(const char* what, const std::string& ours, const std::string& peer) const {
        const auto a = times_.find(ours);
        const auto b = times_.find(peer);
        if (a != times_.end() && b != times_.end() && b->second > 0) {
            std::printf("%-58s ratio %.2f\n", what, a->second / b->second);
        }
    }

  private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatio("policy, 10000 mixed paths, one request / realpath", "PathPolicyEvaluate",
                        "RealpathOfParent");
    reporter.printRatio("policy, 10000 mixed paths, each alone / realpath",
                        "PathPolicyEvaluateAlone", "RealpathOfParent");
    reporter.printRatio("policy, parents 64 deep / 6 deep", "PathPolicyByParentDepth/deep",
                        "PathPolicyByParentDepth/shallow");
    reporter.printRatio("kernel lookup, parents 64 deep / 6 deep", "OpenParentByDepth/deep",
                        "OpenParentByDepth/shallow");
    benchmark::Shutdown();
    return 0;
}
