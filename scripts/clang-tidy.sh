#!/bin/sh
# Runs clang-tidy (the checks in .clang-tidy) over the project's code in the compile database
# of the "default" preset: every .cpp file but the tests, and the project's headers they
# include; fails on any finding. Extra arguments go to run-clang-tidy, e.g. a regular
# expression that picks other files: scripts/clang-tidy.sh 'platform/.*Test\.cpp$'
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset default >/dev/null
[ $# -gt 0 ] || set -- '^(?!.*Test\.cpp$).*/(base|platform|json|HelperProtocol|CleanerCore|helper|tools|testing)/.*\.cpp$'
run-clang-tidy-14 -p build/default -quiet -j "$(nproc)" "$@"
