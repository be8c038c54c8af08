#!/bin/sh
# CI's packaging leg, as root on a scratch machine: builds the Debian packages, runs
# lintian, builds examples/app against a DESTDIR install of the SDK, installs both packages
# with dpkg, checks that the files are where administration.md says, checks the installed
# helper's hardening, runs its one-shot mode on an example, builds examples/app against
# the installed -dev package, purges both and checks that nothing is left behind.
# With --prebuilt it takes the packages already in build/packages/ (and build/package/).
set -eu
cd "$(dirname "$0")/.."
root="$PWD"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

step() { printf '\n== %s\n' "$*"; }
fail() { echo "FAIL: $*" >&2; exit 1; }

step "packages"
if [ "${1:-}" != "--prebuilt" ]; then
    # In CI (KB_CI_CMAKE_FLAGS set) the packages are built with the test leg's flags and build
    # type, so the compiler cache serves every object; elsewhere they are scripts/package.sh's
    # Release build.
    # shellcheck disable=SC2086
    ./scripts/package.sh -DKB_WERROR=ON ${KB_CI_CMAKE_FLAGS:+$KB_CI_CMAKE_FLAGS -DCMAKE_BUILD_TYPE=RelWithDebInfo}
fi
helper_deb=$(ls build/packages/kestrelbay-helper_*.deb)
dev_deb=$(ls build/packages/libkestrelbay-dev_*.deb)
dpkg-deb -I "$helper_deb"
dpkg-deb -I "$dev_deb"

step "lintian"
lintian --fail-on error --tag-display-limit 0 "$helper_deb" "$dev_deb"

step "examples/app against a DESTDIR install of the SDK"
DESTDIR="$scratch/destdir" cmake --install build/package --component dev
cmake -S examples/app -B "$scratch/example-destdir" -DCMAKE_PREFIX_PATH="$scratch/destdir/usr"
cmake --build "$scratch/example-destdir" -j "$(nproc)"
mkdir -p "$scratch/tree/sub"
head -c 100000 /dev/urandom >"$scratch/tree/sub/data"
"$scratch/example-destdir/kestrelbay-example" "$scratch/tree"

step "install"
dpkg -i "$helper_deb" "$dev_deb"
for path in \
    /usr/libexec/dev.kestrelbay.helper \
    /usr/bin/kestrelbay-helperctl \
    /lib/systemd/system/dev.kestrelbay.helper.socket \
    /lib/systemd/system/dev.kestrelbay.helper.service \
    /usr/lib/sysusers.d/kestrelbay.conf \
    /usr/share/polkit-1/actions/dev.kestrelbay.helper.policy \
    /usr/share/man/man8/dev.kestrelbay.helper.8.gz \
    /usr/share/man/man1/kestrelbay-helperctl.1.gz \
    /usr/bin/kestrelbay \
    /usr/share/kestrelbay/rules/system.json \
    /usr/share/man/man1/kestrelbay.1.gz \
    /usr/share/doc/kestrelbay-helper/administration.md \
    /usr/share/doc/kestrelbay-helper/copyright \
    /usr/include/kestrelbay/HelperProtocol/SocketExecutor.h \
    /usr/include/kestrelbay/CleanerCore/model/CleanRuleCatalog.h \
    /usr/lib/"$(dpkg-architecture -qDEB_HOST_MULTIARCH)"/cmake/KestrelBay/KestrelBayConfig.cmake \
    /usr/lib/"$(dpkg-architecture -qDEB_HOST_MULTIARCH)"/pkgconfig/kestrelbay.pc; do
    [ -e "$path" ] || fail "$path is missing"
done
if dpkg -L kestrelbay-helper libkestrelbay-dev | grep -E '/include/kestrelbay/helper/'; then
    fail "internal headers are installed"
fi
getent group kestrelbay >/dev/null || fail "the group kestrelbay was not created"
[ -L /etc/systemd/system/sockets.target.wants/dev.kestrelbay.helper.socket ] \
    || fail "the socket is not enabled"
grep -q '^ExecStart=/usr/libexec/dev.kestrelbay.helper$' \
    /lib/systemd/system/dev.kestrelbay.helper.service || fail "ExecStart= is not under /usr"
man -w 8 dev.kestrelbay.helper >/dev/null
man -w 1 kestrelbay-helperctl >/dev/null
kestrelbay-helperctl --help >/dev/null
kestrelbay-helperctl --version
man -w 1 kestrelbay >/dev/null
# The installed cleaner finds the installed catalogue and scans a sample home.
mkdir "$scratch/home"
examples/make-sample-home.sh "$scratch/home" >/dev/null
env -i HOME="$scratch/home" PATH=/usr/bin:/bin kestrelbay scan --catalog linux | grep -q '^TOTAL' \
    || fail "the installed kestrelbay does not scan"
pkg-config --exists kestrelbay || fail "pkg-config does not know kestrelbay"

step "hardening of the installed helper"
packaging/check-hardening.sh /usr/libexec/dev.kestrelbay.helper

step "one-shot mode of the installed helper"
response=$(/usr/libexec/dev.kestrelbay.helper --oneshot examples/requests/getVersion.json)
echo "$response"
echo "$response" | grep -q '^{"version":{"_0":[0-9][0-9]*}}$' || fail "unexpected one-shot response"

step "examples/app against the installed -dev package"
cmake -S examples/app -B "$scratch/example-installed"
cmake --build "$scratch/example-installed" -j "$(nproc)"
"$scratch/example-installed/kestrelbay-example" "$scratch/tree"

step "purge"
files=$(dpkg -L kestrelbay-helper libkestrelbay-dev | while read -r f; do [ -f "$f" ] && echo "$f"; done)
dpkg --purge kestrelbay-helper libkestrelbay-dev
for f in $files; do
    [ ! -e "$f" ] || fail "$f is left behind"
done
left=$(find /etc/systemd /var/lib/systemd/deb-systemd-helper-enabled \
    /var/lib/systemd/deb-systemd-helper-masked /var/lib/dev.kestrelbay.helper \
    /usr/include/kestrelbay /usr/share/doc/kestrelbay-helper /usr/share/doc/libkestrelbay-dev \
    -name '*kestrelbay*' 2>/dev/null || true)
[ -z "$left" ] || fail "left behind: $left"
echo "packages installed, checked and purged"
cd "$root"
