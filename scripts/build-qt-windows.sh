#!/usr/bin/env bash
# Builds Qt 6.4.2 for 64-bit Windows (qtbase: Core, Gui, Widgets, Test; the windows, offscreen and
# minimal platform plugins; the Vista style) from Debian's own qt6-base source package with
# Debian's mingw-w64 cross compiler, against Debian's native Qt host tools (moc, rcc, uic).
# About 20 minutes on 2 cores. Only needed where no prebuilt copy is at hand (scripts/windows-deps.sh).
#   scripts/build-qt-windows.sh WORK_DIR     gives WORK_DIR/qt6-mingw and WORK_DIR/qt6-mingw-6.4.2.tar.xz
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
patches=$here/qt-windows
work=$(mkdir -p "${1:?usage: build-qt-windows.sh WORK_DIR}" && cd "$1" && pwd)
cd "$work"

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends g++-mingw-w64-x86-64-posix \
    gcc-mingw-w64-x86-64-posix cmake ninja-build qt6-base-dev qt6-base-dev-tools dpkg-dev xz-utils >/dev/null
"$here/add-deb-src.sh"
apt-get source --download-only qt6-base wine >/dev/null

src=$work/qtbase-everywhere-src-6.4.2
rm -rf "$src" && tar -xJf qt6-base_6.4.2+dfsg.orig.tar.xz
# Debian's repacked source lacks the tablet headers that the windows plugin includes; Wine's own
# copies (LGPL) serve, with a few macros that only Wine's headers define (wintab-shim.diff).
tar -xJf wine_8.0*.orig.tar.xz --wildcards '*/include/wintab.h' '*/include/pktdef.h'
mkdir -p "$src/src/3rdparty/wintab"
cp wine-8.0*/include/wintab.h wine-8.0*/include/pktdef.h "$src/src/3rdparty/wintab/"
# DirectWrite's font database needs Direct2D, which this build leaves out: fonts go through GDI.
(cd "$src" && patch -p1 <"$patches/wintab-shim.diff" \
    && patch -p1 <"$patches/qwindowsintegration-directwrite3-needs-direct2d.diff")

prefix=$work/qt6-mingw
rm -rf "$prefix" "$work/build"
cmake -S "$src" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$patches/mingw-w64-x86_64.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++ \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_pkg_config=OFF -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF \
    -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF -DFEATURE_direct2d=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF -DFEATURE_system_doubleconversion=OFF \
    -DFEATURE_system_libb2=OFF -DFEATURE_jpeg=OFF -DFEATURE_zstd=OFF -DFEATURE_icu=OFF -DFEATURE_glib=OFF
cmake --build "$work/build" --parallel "$(nproc)"
cmake --install "$work/build"

# Relocatable: the compilers' toolchain file travels inside the prefix and Qt's toolchain file
# loads it from there, wherever the prefix is unpacked.
cp "$patches/mingw-w64-x86_64.cmake" "$prefix/"
sed -i 's|set(__qt_initially_configured_toolchain_file ".*")|set(__qt_initially_configured_toolchain_file "${CMAKE_CURRENT_LIST_DIR}/../../../mingw-w64-x86_64.cmake")|' \
    "$prefix/lib/cmake/Qt6/qt.toolchain.cmake"
find "$prefix" -name '*.dll' -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
tar -C "$work" -cJf "$work/qt6-mingw-6.4.2.tar.xz" qt6-mingw
echo "built $prefix"
