#!/usr/bin/env bash
# Packages a Windows build (scripts/test-windows.sh BUILD_DIR) into BUILD_DIR/package/:
#   OrvCamera-1.0.0.2-setup.exe        the NSIS installer (per user, no elevation; /S is silent)
#   OrvCamera-1.0.0.2-portable.zip     the same program folder, to unpack anywhere writable
#   OrvCamera-1.0.0.2-demo.zip         plus the simulated camera, the SDK stand-in and start-demo.cmd
# Beside the programs: Qt's and the C++ runtime's DLLs, and the ledger's OpenSSL (libcrypto, libssl),
# libpq and SQLite DLLs with OpenSSL's licence (Apache 2.0) and PostgreSQL's.
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

makensis -V2 -DSTAGE="$out" -DOUTFILE="$out/OrvCamera-$version-setup.exe" -DICON="$stage/orvcamera.ico" \
    "$here/packaging/windows/orvcamera.nsi"

(cd "$out" && zip -qr "OrvCamera-$version-portable.zip" OrvCamera)
demo=$out/demo/OrvCamera-demo
mkdir -p "$demo"
cp -r "$stage/." "$demo/"
cp "$bin/orv-camsim.exe" "$bin/QMNetSDK.dll" "$bin/orv-remember-login.exe" "$demo/"
sed 's/$/\r/' "$here/packaging/windows/start-demo.cmd" > "$demo/start-demo.cmd"
(cd "$out/demo" && zip -qr "$out/OrvCamera-$version-demo.zip" OrvCamera-demo)
ls -l "$out"/*.exe "$out"/*.zip
