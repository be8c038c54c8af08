#!/bin/sh
# Builds everything with PRESET (default: "default") and runs the whole test suite.
set -eu
cd "$(dirname "$0")/.."
preset="${1:-default}"
./scripts/install-deps.sh
# Warnings are errors here (and in CI); a plain configure leaves them warnings.
cmake --preset "$preset" -DKB_WERROR=ON
cmake --build --preset "$preset" -j "$(nproc)"
# Each test is its own entry; two at a time (the ones that need the machine alone run alone).
ctest --preset "$preset" -j 2
