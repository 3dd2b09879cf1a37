#!/usr/bin/env bash
# Builds everything for Windows (every library, orvcamera.exe, orvctl.exe, orv-camsim.exe, the SDK
# stand-in QMNetSDK.dll and every test) with the mingw-w64 cross compiler against Qt for Windows,
# Debian's tinyxml2 source and the ledger's OpenSSL, libpq and SQLite DLLs (scripts/windows-deps.sh),
# then runs the tests as Windows programs under Wine: headless where they can, in an Xvfb display
# where they need real windows.
#   scripts/test-windows.sh [BUILD_DIR] [extra cmake arguments...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh" --windows
build=$(realpath -m "${1:-$here/build-win}")
shift || true

# Wine's prefix lives in the build tree (the toolchain file says where); its server and system
# processes are ended when this script ends, whatever the outcome.
xvfb_pid=
stop_wine() {
    WINEPREFIX="$build/wine-prefix" wineserver -k >/dev/null 2>&1 || true
    if [[ -n $xvfb_pid ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap stop_wine EXIT
unset DISPLAY WAYLAND_DISPLAY
export WINEDEBUG=-all

mapfile -t deps < <("$here/scripts/windows-deps.sh" "$build")
((${#deps[@]} == 3)) || { echo "test-windows: scripts/windows-deps.sh $build failed" >&2; exit 1; }
qt=${deps[0]}
tinyxml2=${deps[1]}
ledger=${deps[2]}
# ccache, as the Linux builds (Qt for Windows and tinyxml2 are inside the build tree, so inside the
# cache's base folder: a fresh clone hits too).
# shellcheck source=scripts/compiler-cache.sh
source "$here/scripts/compiler-cache.sh"
orv_compiler_cache "$here"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$here/cmake/mingw-w64-qt.cmake" -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DORV_TINYXML2_SOURCE_DIR="$tinyxml2" \
    -DLEDGER_MINGW="$ledger" \
    -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" -DORV_BENCH=OFF "${orv_cache_args[@]}" "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"

# The display for the tests of window properties, close requests and the system menu
# (cmake/wine-run.sh hands it only to them). -displayfd picks a free display number.
exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
read -r -t 20 -u "$displayfd" display_number
export ORV_WINE_DISPLAY=:$display_number
ctest --test-dir "$build" --output-on-failure --no-tests=error --parallel "$(nproc)" --timeout 120
