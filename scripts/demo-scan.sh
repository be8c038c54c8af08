#!/bin/sh
# What a Linux home could reclaim: builds the kestrelbay tool, fills a scratch home with
# realistic clutter (examples/make-sample-home.sh) and runs 'kestrelbay scan' over it, then
# shows the plan of 'kestrelbay clean --dry-run'. The scratch home is removed at the end.
set -eu
cd "$(dirname "$0")/.."
# An already configured build directory may be given; by default the "default" preset.
build="${1:-}"
if [ -z "$build" ]; then
    if [ "$(id -u)" = 0 ]; then
        ./scripts/install-deps.sh >/dev/null
    fi
    cmake --preset default >/dev/null
    build="$PWD/build/default"
fi
cmake --build "$build" -j 2 --target kestrelbay >/dev/null

home=$(mktemp -d /tmp/kestrelbay-home.XXXXXX)
trap 'rm -rf "$home"' EXIT INT TERM
examples/make-sample-home.sh "$home" >/dev/null
echo "\$ kestrelbay scan        (HOME=$home)"
env -i HOME="$home" PATH=/usr/bin:/bin "$build/bin/kestrelbay" scan
echo
echo "\$ kestrelbay clean --dry-run"
env -i HOME="$home" PATH=/usr/bin:/bin "$build/bin/kestrelbay" clean --dry-run | tail -n 4
