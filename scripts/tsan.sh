#!/bin/sh
# Builds, with ThreadSanitizer, only the test executables that hold the concurrent tests and
# runs those tests: tree removal and re-owning (a second worker on wide trees), the directory
# sizer's threads, the worker pool and fair scheduler, the service's connections and the idle
# timer, and the client's concurrent calls. Any data race or lock-order inversion fails.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
# shellcheck disable=SC2086
cmake --preset tsan ${KB_CI_CMAKE_FLAGS:-}
cmake --build --preset tsan -j "$(nproc)" --target \
    platform_tests HelperProtocol_tests CleanerCore_model_tests helper_core_tests
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp ${TSAN_OPTIONS:-}"
status=0
run() {
    echo "== $1 $2"
    # From the executable's own folder, as ctest runs it.
    (cd "build/tsan/$(dirname "$1")" && "./$(basename "$1")" --gtest_brief=1 --gtest_filter="$2") ||
        status=1
}
# The deep and huge trees have one top-level entry: one worker, and minutes under TSan.
run platform/platform_tests 'TreeRemoval.*:TreeOwnership.*:-*DeepTree*:*HugeFlat*'
run CleanerCore/CleanerCore_model_tests 'DirectorySizer.*'
run HelperProtocol/HelperProtocol_tests 'SocketExecutor.*'
run helper/helper_core_tests \
    'FairScheduler.*:WorkerPool*:HelperService.*:Connection*:HelperListener.*:IdleExitTimer.*'
exit $status
