#!/bin/sh
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 30).
set -eu
cd "$(dirname "$0")/.."
seconds="${1:-30}"
./scripts/install-deps.sh
cmake --preset fuzz -DKB_WERROR=ON
cmake --build --preset fuzz -j "$(nproc)"
for target in build/fuzz/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus="build/fuzz/corpus/$name"
    mkdir -p "$corpus"
    seeds="fuzz/seeds/$name"
    [ -d "$seeds" ] || seeds=""
    echo "== $name for ${seconds}s"
    "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 "$corpus" $seeds
done
