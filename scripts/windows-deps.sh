#!/usr/bin/env bash
# Puts the third-party parts of the Windows build into the build tree, once:
#   BUILD_DIR/qt6-mingw          Qt for Windows: the shared prebuilt copy (../shared/qt6-mingw beside
#                                the work tree, or ORV_QT_MINGW_TARBALL), else built from Debian's
#                                sources by scripts/build-qt-windows.sh (about 20 minutes)
#   BUILD_DIR/tinyxml2-src/...   Debian's tinyxml2 source package, compiled into the Windows build
#   BUILD_DIR/ledger-mingw       OpenSSL's libcrypto and libssl, libpq and SQLite as DLLs for the
#                                ledger: the shared prebuilt copy (../shared/ledger-mingw beside the
#                                work tree, or ORV_LEDGER_MINGW_TARBALL), else built from Debian's
#                                sources by scripts/ledger-mingw/build.sh (about 5 minutes)
# Prints the three folders, one a line.
#   scripts/windows-deps.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(mkdir -p "${1:?usage: windows-deps.sh BUILD_DIR}" && cd "$1" && pwd)

qt=$build/qt6-mingw
if [[ ! -f $qt/lib/cmake/Qt6/qt.toolchain.cmake ]]; then
    tarball=${ORV_QT_MINGW_TARBALL:-$here/../shared/qt6-mingw/qt6-mingw-6.4.2.tar.xz}
    if [[ -f $tarball ]]; then
        tar -xJf "$tarball" -C "$build"
    else
        echo "windows-deps: no prebuilt Qt for Windows at $tarball; building it from Debian's sources" >&2
        "$here/scripts/build-qt-windows.sh" "$build/qt-build" >&2
        mv "$build/qt-build/qt6-mingw" "$qt"
    fi
fi

tinyxml2=$(find "$build/tinyxml2-src" -maxdepth 2 -name tinyxml2.cpp -printf '%h\n' 2>/dev/null | head -n 1 || true)
if [[ -z $tinyxml2 ]]; then
    "$here/scripts/add-deb-src.sh"
    rm -rf "$build/tinyxml2-src" && mkdir -p "$build/tinyxml2-src"
    (cd "$build/tinyxml2-src" && apt-get source tinyxml2 >/dev/null 2>&1)
    tinyxml2=$(find "$build/tinyxml2-src" -maxdepth 2 -name tinyxml2.cpp -printf '%h\n' | head -n 1)
fi
ledger=$build/ledger-mingw
if [[ ! -f $ledger/include/libpq-fe.h ]]; then
    tarball=${ORV_LEDGER_MINGW_TARBALL:-}
    if [[ -z $tarball ]]; then
        tarball=$(find "$here/../shared/ledger-mingw" -maxdepth 1 -name 'ledger-mingw-*.tar.xz' 2>/dev/null | sort | tail -n 1 || true)
    fi
    if [[ -z $tarball || ! -f $tarball ]]; then
        echo "windows-deps: no prebuilt ledger-mingw tarball${tarball:+ at $tarball}; building it from Debian's sources" >&2
        "$here/scripts/ledger-mingw/build.sh" "$build/ledger-mingw-build" >&2
        tarball=$(find "$build/ledger-mingw-build" -maxdepth 1 -name 'ledger-mingw-*.tar.xz' | sort | tail -n 1)
    fi
    rm -rf "$ledger"
    tar -xJf "$tarball" -C "$build"
fi

echo "$qt"
echo "$tinyxml2"
echo "$ledger"
