#!/usr/bin/env bash
# Writes THIRD-PARTY-NOTICES.txt of a Windows build to standard output: every component of the
# Windows package that is not OrvCamera's, with the versions this build holds, where its source is,
# its copyright records and the licence texts they refer to. The text is
# packaging/windows/THIRD-PARTY-NOTICES.txt.in with its @NAMES@ filled in; the records and
# licence texts come from the sources compiled in and from Debian's packages that the DLLs and
# headers came from. Fails rather than write notices with a version missing or wrong.
#   scripts/windows-notices.sh BUILD_DIR VERSION > THIRD-PARTY-NOTICES.txt
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: windows-notices.sh BUILD_DIR VERSION}" && pwd)
bin=$build/bin
version=${2:?usage: windows-notices.sh BUILD_DIR VERSION}

fail() {
    echo "windows-notices.sh: $*" >&2
    exit 1
}
cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
# The version in a DLL's version resource (UTF-16 text after the key ProductVersion).
dllVersion() { strings -el "$bin/$1" | grep -A1 -x ProductVersion | sed -n 2p; }
# debOf FILE: the Debian package that installed FILE and its version, "package version".
debOf() {
    local pkg
    pkg=$(dpkg -S "$(realpath "$1")" 2>/dev/null | head -n 1 | cut -d: -f1) || true
    [[ -n $pkg ]] || fail "no Debian package holds $1: the notices cannot name its version"
    dpkg-query -W -f='${Package} ${Version}' "$pkg"
}
# runtimeOf DLL: the same for a mingw-w64 runtime DLL, which must be the cross compiler's own
# (cmake/WindowsRuntime.cmake copies it from there).
runtimeOf() {
    local f
    f=$(x86_64-w64-mingw32-g++-posix -print-file-name="$1")
    cmp -s "$f" "$bin/$1" || fail "$1 is not the cross compiler's $f"
    debOf "$f"
}

tinyxml2=$(cached ORV_TINYXML2_SOURCE_DIR)
cli11=$(cached ORV_CLI11_INCLUDE_DIR)
json=$(cached ORV_NLOHMANN_JSON_INCLUDE_DIR)
ledger=$(cached LEDGER_MINGW)
[[ -f $tinyxml2/debian/changelog ]] || fail "no Debian tinyxml2 source at '$tinyxml2' (ORV_TINYXML2_SOURCE_DIR)"
[[ -f $cli11/Version.hpp ]] || fail "no CLI11 at '$cli11' (ORV_CLI11_INCLUDE_DIR)"
[[ -f $json/nlohmann/json.hpp ]] || fail "no nlohmann-json at '$json' (ORV_NLOHMANN_JSON_INCLUDE_DIR)"
[[ -f $ledger/include/sqlite3.h ]] || fail "no ledger prefix at '$ledger' (LEDGER_MINGW)"
gcc=$(runtimeOf libstdc++-6.dll)
[[ $(runtimeOf libgcc_s_seh-1.dll) == "$gcc" ]] || fail "libgcc_s_seh-1.dll and libstdc++-6.dll come from different packages"
mingw=$(runtimeOf libwinpthread-1.dll)
cli11_deb=$(debOf "$cli11/Version.hpp")
json_deb=$(debOf "$json/nlohmann/json.hpp")
# Qt's DLLs are built from the source of the same Debian qt6-base whose host tools (moc, rcc, uic)
# the build uses.
qt_deb=$(dpkg-query -W -f='${source:Version}' qt6-base-dev-tools)
qt_doc=/usr/share/doc/qt6-base-dev-tools/copyright
# Qt's catalogues come from Debian's qt6-translations-l10n (cmake/WindowsRuntime.cmake).
translations_deb=$(dpkg-query -W -f='${Version}' qt6-translations-l10n 2>/dev/null) ||
    fail "qt6-translations-l10n is not installed (scripts/setup.sh)"
translations_doc=/usr/share/doc/qt6-translations-l10n/copyright
# The report's font is Debian's fonts-wqy-microhei file, copied unchanged (cmake/WindowsRuntime.cmake).
font_source=$(cached ORV_REPORT_FONT_FILE)
[[ -f $font_source ]] || fail "no report font at '$font_source' (ORV_REPORT_FONT_FILE)"
cmp -s "$font_source" "$bin/fonts/wqy-microhei.ttc" || fail "fonts/wqy-microhei.ttc is not $font_source"
font_deb=$(debOf "$font_source")
[[ ${font_deb% *} == fonts-wqy-microhei ]] || fail "the report font $font_source is not Debian's fonts-wqy-microhei"

declare -A notice=(
    [VERSION]=$version
    [QT_VERSION]=$(dllVersion Qt6Core.dll | cut -d. -f1-3)
    [QT_DEBIAN]=$qt_deb
    [TINYXML2_DEBIAN]=$(dpkg-parsechangelog -l "$tinyxml2/debian/changelog" -S Version)
    [CLI11_VERSION]=$(sed -n 's/^#define CLI11_VERSION "\(.*\)"/\1/p' "$cli11/Version.hpp")
    [CLI11_DEBIAN]=${cli11_deb#* }
    [JSON_DEBIAN]=${json_deb#* }
    [JSON_VERSION]=$(sed -n 's/^#define NLOHMANN_JSON_VERSION_\(MAJOR\|MINOR\|PATCH\) \([0-9]*\).*/\2/p' \
        "$json/nlohmann/detail/abi_macros.hpp" | head -n 3 | paste -sd.)
    [GCC_DEBIAN]=${gcc#* }
    [MINGW_DEBIAN]=${mingw#* }
    [OPENSSL_VERSION]=$(dllVersion libcrypto-3-x64.dll)
    [LIBPQ_VERSION]=$(dllVersion libpq.dll)
    [QT_TRANSLATIONS_DEBIAN]=$translations_deb
    [QT_TRANSLATIONS_VERSION]=${translations_deb%%-*}
    [FONT_DEBIAN]=${font_deb#* }
    [SQLITE_VERSION]=$(sed -n 's/^#define SQLITE_VERSION *"\(.*\)"/\1/p' "$ledger/include/sqlite3.h")
)
notice[TINYXML2_VERSION]=${notice[TINYXML2_DEBIAN]%%+*}
notice[GCC_VERSION]=${notice[GCC_DEBIAN]%%-*}
notice[MINGW_VERSION]=${notice[MINGW_DEBIAN]%%-*}
notice[FONT_VERSION]=${notice[FONT_DEBIAN]%-*}
for key in "${!notice[@]}"; do
    [[ -n ${notice[$key]} ]] || fail "found no $key"
done
[[ ${notice[QT_VERSION]} == "${qt_deb%%+*}" ]] ||
    fail "Qt6Core.dll is Qt ${notice[QT_VERSION]}, but the host tools' qt6-base is $qt_deb"

text=$(<"$here/packaging/windows/THIRD-PARTY-NOTICES.txt.in")
for key in "${!notice[@]}"; do
    text=${text//@$key@/${notice[$key]}}
done
if left=$(grep -o '@[A-Z0-9_]\+@' <<<"$text"); then
    fail "the template names what this script does not fill in: $(sort -u <<<"$left" | tr '\n' ' ')"
fi

section() {
    printf '\n\n%s\n%s\n\n' "$1" "$(printf '%*s' "${#1}" '' | tr ' ' =)"
}
printf '%s\n' "$text"
# scripts/check-windows-notices.sh looks for the DLLs' names above this heading only.
section "Copyright records and licence texts"
printf '%s\n' "The records of the components above, as their sources have them, then the licence texts."
# How Qt was built, and the changes to its source: the recipe and its files in full.
for f in scripts/build-qt-windows.sh scripts/qt-windows/mingw-w64-x86_64.cmake scripts/qt-windows/wintab-shim.diff \
    scripts/qt-windows/qwindowsintegration-directwrite3-needs-direct2d.diff; do
    section "Qt's build: $f (OrvCamera's source)"
    cat "$here/$f"
done
section "Qt: Debian's copyright record of qt6-base $qt_deb"
cat "$qt_doc"
section "Qt's translations: Debian's copyright record of qt6-translations-l10n $translations_deb"
cat "$translations_doc"
section "tinyxml2: its LICENSE.txt"
cat "$tinyxml2/LICENSE.txt"
section "tinyxml2: Debian's copyright record"
cat "$tinyxml2/debian/copyright"
section "CLI11: Debian's copyright record ($cli11_deb)"
cat "/usr/share/doc/${cli11_deb% *}/copyright"
section "nlohmann-json: Debian's copyright record ($json_deb)"
cat "/usr/share/doc/${json_deb% *}/copyright"
section "GCC runtime (libstdc++, libgcc): Debian's copyright record ($gcc)"
cat "/usr/share/doc/${gcc% *}/copyright"
section "mingw-w64 runtime (winpthreads, start-up code): Debian's copyright record ($mingw)"
cat "/usr/share/doc/${mingw% *}/copyright"
section "OpenSSL: its LICENSE (openssl-LICENSE.txt)"
cat "$bin/openssl-LICENSE.txt"
section "libpq: PostgreSQL's COPYRIGHT (postgresql-COPYRIGHT.txt)"
cat "$bin/postgresql-COPYRIGHT.txt"
section "SQLite: its notice"
cat "$ledger/share/licenses/sqlite-LICENSE.md"
section "WenQuanYi Micro Hei: Debian's copyright record ($font_deb)"
cat "/usr/share/doc/${font_deb% *}/copyright"
# The records above refer to these by their place in Debian, /usr/share/common-licenses/.
for licence in LGPL-3 GPL-3 LGPL-2.1 LGPL-2 GPL-2 Apache-2.0; do
    section "Licence text: $licence (Debian's /usr/share/common-licenses/$licence)"
    cat "/usr/share/common-licenses/$licence"
done
