#!/bin/sh
# Every benchmark of the project in one run, each printing its ratio to the peer it is
# measured against (lower is better). Builds the "bench" preset first. Run as root (the
# file-operation and service benchmarks create a scratch account and mount a tmpfs).
# Usage: bench/run_all.sh   (FILES, MANY and ONLY are passed on to FileOperationsBench.sh)
set -eu
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench -j 2 >/dev/null
bin=build/bench/bench
echo "== codec: decode 10 000 paths + encode 10 000 results vs bare Boost.JSON"
"$bin/bench_HelperCodecBench" | grep '^ratio'
echo "== policy evaluation vs bare realpath"
"$bin/bench_PathPolicyBench" --benchmark_color=false 2>&1 | grep 'ratio' || true
echo "== sizing a tree vs du -s"
"$bin/bench_DirectorySizerBench" 2>&1 | grep -i 'ratio' || true
echo "== file operations vs rm -rf, mv + chown -hR, bare unlink / rename loops"
bench/FileOperationsBench.sh "$bin/bench_FileOperationsBench" 2>/dev/null | grep 'ratio'
echo "== service: socket round trips, 16 clients, cold start vs C echo"
bench/service_bench.sh "$PWD/build/bench" 2>&1 | grep -iE "ratio|helper/echo" || true
