#!/bin/sh
# Builds the helper and runs one request in one-shot mode (default: the version request).
set -eu
cd "$(dirname "$0")/.."
request="${1:-examples/requests/getVersion.json}"
./scripts/install-deps.sh >/dev/null
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target dev.kestrelbay.helper >/dev/null
build/default/helper/dev.kestrelbay.helper --oneshot "$request"
echo
