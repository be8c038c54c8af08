// DirectorySizer::allocatedSize against `du -s --block-size=1` over the same tree of 100 000
// regular files in 1 111 nested directories, with a warm cache, in one run.
//
// Before timing, the byte totals are compared: ours must equal the sum of
// `find -type f -printf '%b'` x 512 (regular files only); du also counts the directories, so
// its difference from ours is printed apart. The Google Benchmark runs show how the walk
// scales with threads; the headline figure comes last: our wall and CPU time against du's,
// measured in alternation (one of ours, one of du, repeated) so that both see the same load,
// as medians and ratios (lower is better). The exit status is 1 when the byte totals differ.
//
// Usage: bench_DirectorySizerBench [--benchmark_...]   (tree made under $TMPDIR or /tmp,
// removed at the end; see main for the environment variables)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "CleanerCore/model/DirectorySizer.h"

extern char** environ;

namespace {

std::string treeRoot;

void makeTree(const std::string& root) {
    std::string content;
    int file = 0;
    for (int a = 0; a < 10; ++a) {
        for (int b = 0; b < 10; ++b) {
            for (int c = 0; c < 10; ++c) {
                const std::string dir = root + "/a" + std::to_string(a) + "/b" + std::to_string(b) +
                                        "/c" + std::to_string(c);
                std::filesystem::create_directories(dir);
                for (int f = 0; f < 100; ++f, ++file) {
                    // Sizes from empty to several blocks, so block rounding shows.
                    content.assign(static_cast<std::size_t>(file % 9) * 1700, 'x');
                    const std::string path = dir + "/f" + std::to_string(f);
                    const int fd =
                        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                    if (fd < 0 || ::write(fd, content.data(), content.size()) < 0) {
                        std::perror(path.c_str());
                        std::exit(1);
                    }
                    ::close(fd);
                }
            }
        }
    }
}

// Runs argv with standard output to `out` (or /dev/null when empty); returns whether it
// exited with 0.
bool run(const std::vector<std::string>& args, std::string* out = nullptr) {
    std::string command;
    for (const auto& arg : args) {
        command.append(1, '\'').append(arg).append("' ");
    }
    if (out == nullptr) {
        return std::system((command + ">/dev/null").c_str()) == 0;
    }
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return false;
    }
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out->append(buffer, n);
    }
    return ::pclose(pipe) == 0;
}

// du as a bare child process, output discarded: no shell in the timed path.
void spawnDu() {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"du", "-s", "--block-size=1", treeRoot.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "du", &actions, nullptr, const_cast<char* const*>(argv), environ) != 0) {
        std::abort();
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

void BM_AllocatedSize(benchmark::State& state) {
    const auto threads = static_cast<unsigned>(state.range(0));
    for (auto _ : state) {
        auto size = kb::DirectorySizer::allocatedSize(treeRoot, {}, {.maxThreads = threads});
        benchmark::DoNotOptimize(size);
    }
}
BENCHMARK(BM_AllocatedSize)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_DuSummary(benchmark::State& state) {
    for (auto _ : state) {
        spawnDu();
    }
}
BENCHMARK(BM_DuSummary)->Unit(benchmark::kMillisecond)->UseRealTime();

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double cpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Sample {
    double wall;
    double cpu;
};

template <class Body>
Sample measure(int who, Body&& body) {
    const double cpuBefore = cpuSeconds(who);
    const auto start = std::chrono::steady_clock::now();
    body();
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    return {wall.count(), cpuSeconds(who) - cpuBefore};
}

// Alternates the two tools so that both see the same load on a shared machine; prints the
// median wall and CPU times and their ratios.
void compareInterleaved(int rounds) {
    std::vector<double> oursWall, oursCpu, duWall, duCpu;
    for (int i = 0; i < rounds; ++i) {
        const auto ours = measure(RUSAGE_SELF, [] {
            auto size = kb::DirectorySizer::allocatedSize(treeRoot);
            benchmark::DoNotOptimize(size);
        });
        const auto du = measure(RUSAGE_CHILDREN, spawnDu);
        oursWall.push_back(ours.wall);
        oursCpu.push_back(ours.cpu);
        duWall.push_back(du.wall);
        duCpu.push_back(du.cpu);
    }
    const double ow = median(oursWall), dw = median(duWall);
    const double oc = median(oursCpu), dc = median(duCpu);
    std::printf("\ninterleaved, %d rounds, medians:\n", rounds);
    std::printf("  allocatedSize  wall %7.1f ms  cpu %7.1f ms (all threads)\n", ow * 1e3, oc * 1e3);
    std::printf("  du -s          wall %7.1f ms  cpu %7.1f ms\n", dw * 1e3, dc * 1e3);
    std::printf("  ratio          wall %.2fx  cpu %.2fx of du -s\n", ow / dw, oc / dc);
}

std::uint64_t parseLeadingNumber(const std::string& text) {
    return std::strtoull(text.c_str(), nullptr, 10);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // KB_DIRSIZER_TREE names a tree made by an earlier run (kept, reused as it is);
    // KB_DIRSIZER_ROUNDS the rounds of the interleaved comparison (default 15).
    const char* given = std::getenv("KB_DIRSIZER_TREE");
    const char* roundsText = std::getenv("KB_DIRSIZER_ROUNDS");
    const int rounds = roundsText != nullptr ? std::max(1, std::atoi(roundsText)) : 15;
    const bool keepTree = given != nullptr;
    if (keepTree) {
        treeRoot = given;
        if (!std::filesystem::exists(treeRoot)) {
            std::filesystem::create_directories(treeRoot);
            makeTree(treeRoot);
        }
    } else {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/kb-dirsizer-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        treeRoot = pattern;
        makeTree(treeRoot);
    }

    // Warm the cache, then compare the byte totals.
    const auto ours = kb::DirectorySizer::allocatedSize(treeRoot);
    std::string duOut;
    std::string findOut;
    run({"du", "-s", "--block-size=1", treeRoot}, &duOut);
    run({"find", treeRoot, "-type", "f", "-printf", "%b\\n"}, &findOut);
    std::uint64_t findBlocks = 0;
    for (std::size_t pos = 0; pos < findOut.size();) {
        const auto end = findOut.find('\n', pos);
        findBlocks += parseLeadingNumber(findOut.substr(pos, end - pos));
        pos = end == std::string::npos ? findOut.size() : end + 1;
    }
    const std::uint64_t duBytes = parseLeadingNumber(duOut);
    const std::uint64_t oursBytes = ours.ok() ? *ours : 0;
    std::printf("allocatedSize:            %llu bytes\n",
                static_cast<unsigned long long>(oursBytes));
    std::printf("find -type f %%b x 512:    %llu bytes (%s)\n",
                static_cast<unsigned long long>(findBlocks * 512),
                findBlocks * 512 == oursBytes ? "equal" : "DIFFERENT");
    std::printf("du -s (files + dirs):     %llu bytes (directories: %lld bytes more)\n",
                static_cast<unsigned long long>(duBytes),
                static_cast<long long>(duBytes) - static_cast<long long>(oursBytes));

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    compareInterleaved(rounds);

    if (!keepTree) {
        std::filesystem::remove_all(treeRoot);
    }
    return findBlocks * 512 == oursBytes ? 0 : 1;
}
