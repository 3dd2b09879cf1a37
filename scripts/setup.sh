#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing OrvCamera need,
# only those that are missing. Safe to run again and again.
#   scripts/setup.sh            packages for the Linux build, tests and demo
#   scripts/setup.sh --windows  also the mingw-w64 cross compiler and Wine
#   scripts/setup.sh --package  also what building and checking the Debian packages needs
set -euo pipefail

packages=(
    cmake ninja-build ccache g++ clang-14 libclang-rt-14-dev pkg-config
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-translations-l10n libgl-dev libtinyxml2-dev
    libcli11-dev nlohmann-json3-dev libsqlite3-dev libpq-dev libssl-dev postgresql
    fonts-wqy-microhei fonts-dejavu-core poppler-utils
)
for flag in "$@"; do
    case "$flag" in
        --windows) packages+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64 dpkg-dev xz-utils
        nsis msitools wixl locales xclip fonts-wine xvfb xdotool x11-apps zip unzip netpbm iproute2) ;;
        --package) packages+=(dpkg-dev fakeroot file help2man lintian appstream desktop-file-utils) ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "setup: installing ${missing[*]}" >&2
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
    sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
