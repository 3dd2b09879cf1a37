#!/usr/bin/env bash
# Packages a Windows build (scripts/test-windows.sh BUILD_DIR) into BUILD_DIR/package/:
#   OrvCamera-1.0.0.2-setup.exe        the NSIS installer (per user, no elevation; /S is silent)
#   OrvCamera-1.0.0.2.msi              the MSI for IT (all users, Program Files; msiexec /i ... /qn)
#   OrvCamera-1.0.0.2-portable.zip     the same program folder, to unpack anywhere writable
#   OrvCamera-1.0.0.2-demo.zip         plus the simulated camera, the SDK stand-in and start-demo.cmd
# Beside the programs: Qt's and the C++ runtime's DLLs, and the ledger's OpenSSL (libcrypto, libssl),
# libpq and SQLite DLLs with OpenSSL's licence (Apache 2.0) and PostgreSQL's, the custody report's
# font (fonts/wqy-microhei.ttc, Debian's fonts-wqy-microhei); OrvCamera's licence
# (LICENSE.txt) and THIRD-PARTY-NOTICES.txt, every component that is not ours with its licence.
# The maker's SDK (QMNetSDK.dll) is not ours to ship: installer and portable zip leave it out.
#   scripts/package-windows.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: package-windows.sh BUILD_DIR}" && pwd)
bin=$build/bin
version=1.0.0.2
out=$build/package
stage=$out/OrvCamera
rm -rf "$out" && mkdir -p "$stage"

# What the installed console needs, and nothing more (cmake/WindowsRuntime.cmake names the DLLs,
# cmake/LedgerMingw.cmake the ledger's and their licences).
mapfile -t runtime < "$build/windows-shipped-files.txt"
files=(orvcamera.exe SearchTool.exe orvctl.exe orv_language.ini orvcamera.ico "${runtime[@]}")
cp "$build/app/orvcamera.ico" "$bin/orvcamera.ico"
for f in "${files[@]}"; do
    mkdir -p "$stage/$(dirname "$f")"
    cp "$bin/$f" "$stage/$f"
done
cat > "$stage/README-SDK.txt" <<'TXT'
The GB28181 dialog needs the camera maker's SDK. Copy the maker's QMNetSDK.dll into this folder,
beside orvcamera.exe; the console loads it from here only.
TXT
files+=(README-SDK.txt)

# OrvCamera's licence, and the notices of everything in the folder that is not ours, with the
# versions of this build and their licence texts (scripts/check-windows-notices.sh, at the end,
# checks that they name every DLL). Text for Windows gets CRLF line ends; the notices, which are
# UTF-8 (some names in them are not ASCII), start with the byte order mark that tells Notepad so.
{ printf '\xef\xbb\xbf'; "$here/scripts/windows-notices.sh" "$build" "$version"; } | sed 's/\r*$/\r/' \
    > "$stage/THIRD-PARTY-NOTICES.txt"
sed 's/\r*$/\r/' "$here/LICENSE" > "$stage/LICENSE.txt"
files+=(LICENSE.txt THIRD-PARTY-NOTICES.txt)

# The installer's file list and the uninstaller's, from the same list, so that uninstalling
# removes exactly what was installed.
{
    for f in "${files[@]}"; do
        d=$(dirname "$f")
        if [[ $d == . ]]; then echo "SetOutPath \"\$INSTDIR\""; else echo "SetOutPath \"\$INSTDIR\\${d//\//\\}\""; fi
        echo "File \"$stage/$f\""
    done
    echo "SetOutPath \"\$INSTDIR\""
} > "$out/files.nsh"
{
    for f in "${files[@]}"; do echo "Delete \"\$INSTDIR\\${f//\//\\}\""; done
    for f in "${files[@]}"; do d=$(dirname "$f"); [[ $d == . ]] || echo "RMDir \"\$INSTDIR\\${d//\//\\}\""; done | sort -u
} > "$out/unfiles.nsh"

# The MSI's components, one a file, from the same list: both installers install exactly the same
# files. wixl wants sources relative to where it runs, the package folder.
wixId() { # wixId PREFIX PATH -> PREFIX_PATH with what an MSI identifier cannot hold as _
    local s=${2//[^A-Za-z0-9_]/_}
    printf '%s_%s' "$1" "${s:0:60}"
}
dirId() { if [[ $1 == . ]]; then echo INSTALLDIR; else wixId d "$1"; fi; }
xmlText() {
    local s=$1
    s=${s//'&'/'&amp;'}
    s=${s//'<'/'&lt;'}
    s=${s//'>'/'&gt;'}
    s=${s//'"'/'&quot;'}
    printf '%s' "$s"
}
{
    echo '<?xml version="1.0" encoding="utf-8"?>'
    echo '<Include xmlns="http://schemas.microsoft.com/wix/2006/wi">'
    echo '<Fragment>'
    # The folders below the program folder, each after its parent.
    for f in "${files[@]}"; do
        d=$(dirname "$f")
        while [[ $d != . ]]; do echo "$d" && d=$(dirname "$d"); done
    done | sort -u | while read -r d; do
        echo "  <DirectoryRef Id=\"$(dirId "$(dirname "$d")")\"><Directory Id=\"$(dirId "$d")\" Name=\"$(xmlText "$(basename "$d")")\"/></DirectoryRef>"
    done
    for f in "${files[@]}"; do
        echo "  <DirectoryRef Id=\"$(dirId "$(dirname "$f")")\"><Component Id=\"$(wixId c "$f")\" Guid=\"*\" Win64=\"yes\">"
        echo "    <File Id=\"$(wixId f "$f")\" Name=\"$(xmlText "$(basename "$f")")\" Source=\"\$(var.Stage)/$(xmlText "$f")\" KeyPath=\"yes\"/>"
        echo "  </Component></DirectoryRef>"
    done
    echo '  <ComponentGroup Id="ProgramFolder">'
    for f in "${files[@]}"; do echo "    <ComponentRef Id=\"$(wixId c "$f")\"/>"; done
    echo '  </ComponentGroup>'
    echo '</Fragment>'
    echo '</Include>'
} > "$out/files.wxi"
ids=$(for f in "${files[@]}"; do wixId c "$f"; echo; done | sort | uniq -d)
[[ -z $ids ]] || { echo "package-windows.sh: files with the same MSI identifier: $ids" >&2; exit 1; }
# Windows Installer tells versions apart by their first three parts only: every 1.0.0.x is below 1.0.1.
IFS=. read -r major minor patch _ <<<"$version"
(cd "$out" && wixl -a x64 -D Version="$version" -D UpgradeBelow="$major.$minor.$((patch + 1))" -D Stage=OrvCamera \
    -I . -o "OrvCamera-$version.msi" "$here/packaging/windows/orvcamera.wxs")

makensis -V2 -DSTAGE="$out" -DOUTFILE="$out/OrvCamera-$version-setup.exe" -DICON="$stage/orvcamera.ico" \
    "$here/packaging/windows/orvcamera.nsi"

(cd "$out" && zip -qr "OrvCamera-$version-portable.zip" OrvCamera)
demo=$out/demo/OrvCamera-demo
mkdir -p "$demo"
cp -r "$stage/." "$demo/"
cp "$bin/orv-camsim.exe" "$bin/QMNetSDK.dll" "$bin/orv-remember-login.exe" "$demo/"
sed 's/$/\r/' "$here/packaging/windows/start-demo.cmd" > "$demo/start-demo.cmd"
(cd "$out/demo" && zip -qr "$out/OrvCamera-$version-demo.zip" OrvCamera-demo)
ls -l "$out"/*.exe "$out"/*.msi "$out"/*.zip
# Every DLL and font shipped must be named in the notices.
"$here/scripts/check-windows-notices.sh" "${out%/package}"
