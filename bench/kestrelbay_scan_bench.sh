#!/bin/sh
# 'kestrelbay scan' of the Linux catalogue over a home holding 100 000 cache files, against
# 'du -s' of the same directories, both with a warm cache: median wall time of 5 runs each
# and their ratio (the goal is at most 1.2).
# Usage: bench/kestrelbay_scan_bench.sh [BUILD_DIR]   (default: the "default" preset).
set -eu
cd "$(dirname "$0")/.."
build="${1:-}"
if [ -z "$build" ]; then
    cmake --preset default >/dev/null
    build="$PWD/build/default"
fi
cmake --build "$build" -j 2 --target kestrelbay >/dev/null
tool="$build/bin/kestrelbay"

home=$(mktemp -d /tmp/kestrelbay-scan-bench.XXXXXX)
trap 'rm -rf "$home"' EXIT

# 10 caches of 10 subdirectories holding 1000 files of 1 KiB each.
for cache in .cache/some-app .cache/pip/http-v2 .cache/thumbnails/normal .cache/go-build \
    .cache/mozilla/firefox/p.default/cache2/entries ".config/google-chrome/Default/Code Cache" \
    .npm/_cacache .cargo/registry/cache/index .gradle/caches/modules-2 .cache/JetBrains/Idea; do
    for part in 0 1 2 3 4 5 6 7 8 9; do
        mkdir -p "$home/$cache/$part"
        head -c 1024000 /dev/zero | split -b 1024 -a 4 - "$home/$cache/$part/f"
    done
done
find "$home" -exec touch -h -d "3 days ago" {} +

directories="$home/.cache $home/.config $home/.npm $home/.cargo $home/.gradle"
directories="$directories /var/log /var/cache/apt/archives"

# median_ms COMMAND...: the median wall time of 5 runs after one warm-up run, in ms.
median_ms() {
    "$@" >/dev/null 2>&1 || true
    for run in 1 2 3 4 5; do
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1 || true
        end=$(date +%s%N)
        echo $(((end - start) / 1000000))
    done | sort -n | sed -n 3p
}

scan=$(median_ms env -i HOME="$home" PATH=/usr/bin:/bin "$tool" scan)
# shellcheck disable=SC2086
du=$(median_ms du -s $directories)
files=$(find "$home" -type f | wc -l)
echo "files: $files"
echo "kestrelbay scan: ${scan} ms"
echo "du -s:           ${du} ms"
awk -v s="$scan" -v d="$du" 'BEGIN { printf "ratio: %.2f (goal <= 1.2)\n", (d > 0 ? s / d : 0) }'
