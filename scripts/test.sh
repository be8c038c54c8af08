#!/bin/sh
# Builds everything with PRESET (default: "default") and runs the whole test suite.
set -eu
cd "$(dirname "$0")/.."
preset="${1:-default}"
./scripts/install-deps.sh
# CI passes -DKB_WERROR=ON -DKB_STRICT_WARNINGS=ON in KB_CI_CMAKE_FLAGS; elsewhere warnings
# stay warnings, so that a newer compiler's new warning does not break a user's build.
# shellcheck disable=SC2086
cmake --preset "$preset" ${KB_CI_CMAKE_FLAGS:-}
cmake --build --preset "$preset" -j "$(nproc)"
# Each test is its own entry; two at a time (the ones that need the machine alone run alone).
ctest --preset "$preset" -j 2
