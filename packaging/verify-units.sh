#!/bin/sh
# Checks the systemd units with systemd-analyze verify, as they are after installation.
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$here/dev.kestrelbay.helper.socket" "$scratch/"
# verify wants ExecStart= to name an existing file: /bin/true stands in for the helper.
sed -e 's|@KB_HELPER_PATH@|/bin/true|' -e 's|@KB_DOC_DIR@|/usr/share/doc/kestrelbay-helper|' \
    "$here/dev.kestrelbay.helper.service.in" >"$scratch/dev.kestrelbay.helper.service"
output=$(systemd-analyze verify --man=no "$scratch/dev.kestrelbay.helper.socket" \
    "$scratch/dev.kestrelbay.helper.service" 2>&1) || { echo "$output"; exit 1; }
if [ -n "$output" ]; then
    echo "$output"
    exit 1
fi
echo "units verified"
