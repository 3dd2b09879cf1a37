#!/usr/bin/env bash
# Builds the Debian packages orvcamera and orvcamera-demo into a build tree of their own (default
# build-package/, so build/ stays as it is), with Debian's hardening flags, and lists them.
#   scripts/package.sh [BUILD_DIR]
# Install:  sudo apt-get install ./build-package/orvcamera_*.deb [./build-package/orvcamera-demo_*.deb]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-package}
"$here/scripts/setup.sh" --package

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
# Build type None: the optimisation and debug flags are Debian's; cpack strips the programs.
BUILD_TYPE=None "$here/scripts/build.sh" "$build" -DORV_TESTS=OFF -DORV_BENCH=OFF -DORV_SCREENSHOTS=OFF \
    -DCMAKE_CXX_FLAGS="$cflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls -1 "$build"/*.deb
