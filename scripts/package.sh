#!/bin/sh
# Builds the Debian packages kestrelbay-helper and libkestrelbay-dev into build/packages/
# with the "package" preset (Release, prefix /usr, tests off). Extra arguments go to the
# configure step, e.g. -DKB_WERROR=ON.
set -eu
cd "$(dirname "$0")/.."
cmake --preset package "$@"
cmake --build --preset package -j "$(nproc)"
rm -rf build/packages
mkdir -p build/packages
(cd build/package && cpack -G DEB -B "$PWD/../packages")
rm -rf build/packages/_CPack_Packages
ls -l build/packages/*.deb
