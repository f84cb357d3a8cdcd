#!/usr/bin/env bash
# Builds the Debian package: a Release build of the programs under build/package with Debian's hardening flags
# and no tests, then build/package/rivanta_<version>_<arch>.deb from it (CPack). Install it with
#   apt install ./build/package/rivanta_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh help2man dpkg-dev file xz-utils
build=build/package

# The flags a Debian package is built with (hardening; build paths left out of the programs), and the date of
# the changelog's top entry for everything that would otherwise stamp the build's own time.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { dpkg-buildflags --get "$1"; }
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l packaging/changelog -STimestamp)
export SOURCE_DATE_EPOCH

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr \
      -DRIVANTA_SOURCE_METERS=OFF \
      "-DCMAKE_C_FLAGS=$(flags CFLAGS) $(flags CPPFLAGS)" "-DCMAKE_CXX_FLAGS=$(flags CXXFLAGS) $(flags CPPFLAGS)" \
      "-DCMAKE_EXE_LINKER_FLAGS=$(flags LDFLAGS)" >/dev/null
ninja -C "$build" -j2
rm -f "$build"/rivanta_*.deb
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log"; exit 1; }
ls "$build"/rivanta_*.deb
