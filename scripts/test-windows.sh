#!/usr/bin/env bash
# Builds the Windows side (the camera link, the simulated camera and their tests) with the
# mingw-w64 cross compiler and runs the tests as Windows programs under Wine, headless.
#   scripts/test-windows.sh [BUILD_DIR] [extra cmake arguments...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh" --windows
build=$(realpath -m "${1:-$here/build-win}")
shift || true

# Wine's prefix lives in the build tree (the toolchain file says where); its server and system
# processes are ended when this script ends, whatever the outcome.
stop_wine() { WINEPREFIX="$build/wine-prefix" wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT
unset DISPLAY WAYLAND_DISPLAY
export WINEDEBUG=-all

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" -DORV_WINDOWS_SUBSET=ON -DORV_GUI=OFF -DORV_BENCH=OFF "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 120
