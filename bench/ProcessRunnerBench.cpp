// The process runner on /bin/true against a bare posix_spawn + waitpid of the same program:
// what capturing both streams, the null-device input, the pidfd and the deadline cost.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "CleanerCore/process/ProcessRunner.h"

namespace {

void BM_ProcessRunnerTrue(benchmark::State& state) {
    for (auto _ : state) {
        auto r = kb::ProcessRunner::run("/bin/true", {}, std::nullopt,
                                        std::chrono::milliseconds(10'000));
        if (!r.ok() || r->status != 0) {
            state.SkipWithError("run failed");
            break;
        }
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_ProcessRunnerTrue)->UseRealTime()->MinTime(2.0);

void BM_PosixSpawnTrue(benchmark::State& state) {
    char path[] = "/bin/true";
    char* argv[] = {path, nullptr};
    for (auto _ : state) {
        pid_t pid = -1;
        if (::posix_spawn(&pid, path, nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("posix_spawn failed");
            break;
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        benchmark::DoNotOptimize(status);
    }
}
BENCHMARK(BM_PosixSpawnTrue)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
