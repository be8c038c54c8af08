#!/bin/sh
# Installs every Debian package that building, testing, linting, fuzzing, benchmarking and
# packaging (manual pages, dpkg-shlibdeps, lintian) need.
# Idempotent: packages already present are left alone; the package lists are refreshed
# only when something is missing.
set -eu

packages="
cmake ninja-build g++ make pkg-config git ccache
libboost-json1.81-dev libasio-dev libsystemd-dev libutf8proc-dev uuid-dev
libgtest-dev libgmock-dev libbenchmark-dev
clang clang-format clang-tidy libclang-rt-14-dev
systemd acl attr e2fsprogs passwd util-linux coreutils findutils
dbus-daemon polkitd
scdoc gzip dpkg-dev fakeroot file lintian man-db binutils init-system-helpers
"

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -n "$missing" ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    # shellcheck disable=SC2086
    apt-get install -y --no-install-recommends $missing
fi
