#!/bin/sh
# Builds only the libFuzzer targets (clang) and runs each for SECONDS (default 30), as many
# at a time as there are processors; each target's output is printed when it ends.
set -eu
cd "$(dirname "$0")/.."
seconds="${1:-30}"
./scripts/install-deps.sh
targets=""
for src in fuzz/*.cpp; do
    targets="$targets fuzz_$(basename "$src" .cpp)"
done
cmake --preset fuzz -DKB_WERROR=ON -DKB_LINE_TABLES_ONLY=ON
# shellcheck disable=SC2086
cmake --build --preset fuzz -j "$(nproc)" --target $targets
mkdir -p build/fuzz/logs

run() {
    corpus="build/fuzz/corpus/$1"
    mkdir -p "$corpus"
    seeds="fuzz/seeds/$1"
    [ -d "$seeds" ] || seeds=""
    # shellcheck disable=SC2086
    "build/fuzz/fuzz/$1" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
        "$corpus" $seeds >"build/fuzz/logs/$1.log" 2>&1
}

finish() {
    if wait "$1"; then
        echo "== $2 for ${seconds}s: ok"
        tail -n 12 "build/fuzz/logs/$2.log"
    else
        echo "== $2 for ${seconds}s: FAILED"
        cat "build/fuzz/logs/$2.log"
        status=1
    fi
}

# pids and names are lists of words, split on purpose.
status=0
pids=""
names=""
for name in $targets; do
    run "$name" &
    pids="$pids $!"
    names="$names $name"
    # shellcheck disable=SC2086
    if [ "$(echo $pids | wc -w)" -ge "$(nproc)" ]; then
        set -- $pids; first_pid=$1; shift; pids="$*"
        set -- $names; first_name=$1; shift; names="$*"
        finish "$first_pid" "$first_name"
    fi
done
# shellcheck disable=SC2086
set -- $names
for pid in $pids; do
    finish "$pid" "$1"
    shift
done
exit $status
