#!/bin/sh
# Builds everything with PRESET (default: "default") and runs the whole test suite.
set -eu
cd "$(dirname "$0")/.."
preset="${1:-default}"
./scripts/install-deps.sh
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset"
