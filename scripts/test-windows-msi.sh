#!/usr/bin/env bash
# The machine-wide MSI as IT deploys it and an operator then uses it, under Wine: checks the MSI's
# own tables (for all users, Program Files, the Start menu of all users, the upgrade code), installs
# OrvCamera-*.msi silently into a fresh prefix of an unprivileged account (orv-operator, created when
# missing), makes the program folder read-only as Program Files is for an operator, and then, as that
# operator in an Xvfb display of its own against the simulated camera: logs in with the console
# started from the Start menu, starts it again from the program folder and logs in with the login it
# remembered in %APPDATA%\OrvCamera, has the installed orvctl.exe record in
# %LOCALAPPDATA%\OrvCamera\orv_ledger.db, opens and closes the search tool, and finds the program
# folder unchanged, file for file. Then it installs a later version built from the same package over
# it (one product afterwards) and removes that with msiexec /x, which leaves only the operator's files.
#   scripts/test-windows-msi.sh [BUILD_DIR]   (default build-ci-windows, packaged already; run as root)
# The camera's log, the console as it opens the second time (the remembered IP and user on show) and a
# screenshot of the whole display when a step fails land in BUILD_DIR/e2e-msi/.
# Everything runs in a network namespace of its own with only loopback.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$here/build-ci-windows}")
operator=orv-operator
# shellcheck source=scripts/windows-e2e-lib.sh
source "$here/scripts/windows-e2e-lib.sh" e2e-msi

if [[ -z ${ORV_E2E_NETNS:-} ]]; then
    export ORV_E2E_STARTED=$EPOCHSECONDS
    # Running Wine as another account takes root; so does a network namespace without a user one.
    if (($(id -u) != 0)); then
        say "run as root: the test runs Wine as the unprivileged account $operator" >&2
        exit 1
    fi
    "$here/scripts/setup.sh" --windows
    if ! getent passwd "$operator" >/dev/null; then
        useradd --system --user-group --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$operator"
    fi
    # As the real root: a user namespace would leave it without the right to be the operator.
    enterNetworkNamespace --without-user-namespace "$build"
fi
ip link set lo up

package=$build/package
msi=$(thePackaged 'OrvCamera-*.msi')
version=${msi##*/OrvCamera-}
version=${version%.msi}
portableZip=$package/OrvCamera-$version-portable.zip
bin=$build/bin
needFiles "$portableZip" "$package/files.wxi" "$bin/orv-camsim.exe"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/orv-e2e-msi.XXXXXX")
# The operator reaches its own home below; nothing else in here is its.
chmod 711 "$tmp"
home=$tmp/home
install -d -o "$operator" -g "$operator" -m 700 "$home"
export WINEPREFIX=$home/prefix
unset WAYLAND_DISPLAY DISPLAY
results=$build/e2e-msi
rm -rf "$results" && mkdir -p "$results"

# asOperator COMMAND...: runs COMMAND as the operator, in its Wine prefix and this display. Wine
# refuses a prefix its user does not own, and the owner of a read-only folder may not write in it
# where root could.
asOperator() {
    runuser -u "$operator" -- env HOME="$home" USER="$operator" WINEPREFIX="$WINEPREFIX" "${wineSettings[@]}" \
        DISPLAY="${DISPLAY:-}" "$@"
}
# Qt's DirectWrite and GDI text under Wine leave every line edit blank; FreeType draws them. The
# read-only program folder cannot take the qt.conf that test-windows-e2e.sh writes, and the same choice
# in QT_QPA_PLATFORM left them blank: it goes on the command line where there is one (the Start-menu
# entry has none, and typing works all the same).
freetypeArguments=(-platform windows:fontengine=freetype)
finish() {
    local status=$?
    keepResults "$status"
    asOperator wineserver -k >/dev/null 2>&1 || true
    chmod -R u+w "$tmp" 2>/dev/null || true
    endRun "$status" "the camera's log and screenshots"
}
trap finish EXIT

# Wine's paths as the operator sees them: the prefix is its.
winPath() { asOperator winepath -w "$1" 2>/dev/null | tr -d '\r'; }
unixPath() { asOperator winepath -u "$1" 2>/dev/null | tr -d '\r'; }
msiTable() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4; }
msiProperty() { msiTable "$1" Property | awk -F '\t' -v p="$2" '$1 == p { print $2 }'; }
# A listing of the program folder with every file's checksum and every entry's mode.
folderListing() { (cd "$installDir" && find . -printf '%M %p\n' | sort -k 2 && find . -type f -print0 | sort -z | xargs -0 sha256sum); }
uninstallRoot='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
# The Add/Remove Programs entries named OrvCamera: "KEY VERSION" lines.
productsListed() {
    asOperator wine reg query "$uninstallRoot" /s 2>/dev/null | tr -d '\r' | awk '
        /^HKEY_/ { if (name == "OrvCamera") print key, version; key = $0; name = ""; version = ""; next }
        $1 == "DisplayName" { $1 = ""; $2 = ""; sub(/^ +/, ""); name = $0 }
        $1 == "DisplayVersion" { version = $3 }
        END { if (name == "OrvCamera") print key, version }'
}
# utf16Text HEX: the text in HEX's UTF-16LE units, up to the first zero one (ASCII; others as ?).
utf16Text() {
    local hex=$1 text="" unit i
    for ((i = 0; i + 4 <= ${#hex}; i += 4)); do
        unit=$((16#${hex:i+2:2}${hex:i:2}))
        ((unit != 0)) || break
        if ((unit < 128)); then text+=$(printf %b "\\x$(printf %02x "$unit")"); else text+="?"; fi
    done
    printf '%s' "$text"
}
# The login the console remembered: "IP USER HOLD" from orv_setup.ini's UserKey (the record's 168
# bytes in hex and a checksum byte: the IP in UTF-16 at 0, the user at 36, the hold switch at 164).
rememberedLogin() {
    local hex
    hex=$(tr -d '\r' <"$1" | sed -n 's/^UserKey=\([0-9A-Fa-f]*\)$/\1/p')
    ((${#hex} == 2 * 169)) || return 1
    echo "$(utf16Text "${hex:0:64}") $(utf16Text "${hex:72:128}") $((16#${hex:328:2}))"
}
# The requests the camera received from the Nth on, by name.
requestsFrom() { framesReceived | tail -n +"$1" | while read -r frame; do requestName "$frame"; done; }
loginRequests=$'GetUsers\nGetConfig 06\nGetTime'

begin "the MSI's tables"
[[ $(msiProperty "$msi" ALLUSERS) == 1 ]] || fail "the MSI does not install for all users (ALLUSERS=$(msiProperty "$msi" ALLUSERS))"
[[ $(msiProperty "$msi" ProductVersion) == "$version" ]] || fail "ProductVersion is $(msiProperty "$msi" ProductVersion), not $version"
upgradeCode=$(msiProperty "$msi" UpgradeCode)
productCode=$(msiProperty "$msi" ProductCode)
[[ -n $upgradeCode && -n $productCode ]] || fail "the MSI has no upgrade code or product code"
[[ $(msiProperty "$msi" ARPPRODUCTICON) == orvcamera.ico ]] || fail "no Add/Remove Programs icon"
msiTable "$msi" Directory | grep -qP '^INSTALLDIR\tProgramFiles64Folder\tOrvCamera$' ||
    fail "the program folder is not Program Files\\OrvCamera"
shortcuts=$(msiTable "$msi" Shortcut | awk -F '\t' '{ print $2 "|" $3 "|" $5 }' | sort)
[[ $shortcuts == $'ProgramMenuFolder|OrvCamera SearchTool|[INSTALLDIR]SearchTool.exe\nProgramMenuFolder|OrvCamera|[INSTALLDIR]orvcamera.exe' ]] ||
    fail "the Start-menu entries are not the two of the Start menu of all users:"$'\n'"$shortcuts"
# The upgrade: every earlier version and this one's first three parts replaced, a later one refused.
upgrades=$(msiTable "$msi" Upgrade | awk -F '\t' '{ print $1, $2, $3, $5, $7 }' | sort)
IFS=. read -r major minor buildNumber _ <<<"$version"
[[ $upgrades == "$upgradeCode 0.0.0 $major.$minor.$((buildNumber + 1)) 256 WIX_UPGRADE_DETECTED"$'\n'"$upgradeCode $version  2 WIX_DOWNGRADE_DETECTED" ]] ||
    fail "unexpected Upgrade table:"$'\n'"$upgrades"
msiTable "$msi" InstallExecuteSequence | grep -qP '^RemoveExistingProducts\t' || fail "the MSI does not remove the version it replaces"
# Exactly the files of the NSIS installer and the portable zip: no SDK, no test programs, no camera.
mapfile -t expected < <(unzip -Z1 "$portableZip" | sed -n 's|^OrvCamera/\(.*[^/]\)$|\1|p' | sort)
diff <(printf '%s\n' "${expected[@]}") <(msiextract -l "$msi" | sed -n 's|^OrvCamera/||p' | sort) >&2 ||
    fail "the MSI does not hold exactly the portable zip's files"
! printf '%s\n' "${expected[@]}" | grep -Ei '(^|/)(QMNetSDK\.dll|orv-camsim\.exe|orv-remember-login\.exe|[^/]*tests?[^/]*\.exe)$' ||
    fail "the MSI holds the maker's SDK, the simulated camera or a test program"
say "ALLUSERS=1, Program Files\\OrvCamera, ${#expected[@]} files, Start-menu entries in ProgramMenuFolder, upgrade code $upgradeCode"

begin "display and the operator's Wine prefix"
startDisplay
asOperator wineboot --init >/dev/null 2>&1 || fail "wineboot --init failed"
localAppData=$(unixPath "$(asOperator wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')")
appData=$(unixPath "$(asOperator wine cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')")
programFiles=$(unixPath "$(asOperator wine cmd /c echo %ProgramFiles% 2>/dev/null | tr -d '\r')")
[[ -d $localAppData && -d $appData && -d $programFiles ]] ||
    fail "cannot find the operator's application-data folders or Program Files in $WINEPREFIX"
installDir=$programFiles/OrvCamera
settingsDir=$appData/OrvCamera
# The MSIs in a folder the operator can read.
msiDir=$home/msi
install -d -o "$operator" -g "$operator" "$msiDir"
install -m 644 "$msi" "$msiDir/"
msi=$msiDir/${msi##*/}

begin "silent install"
asOperator wine msiexec /i "$(winPath "$msi")" /qn >/dev/null 2>&1 || fail "msiexec /i $msi /qn exited with $?"
installedFiles() { (cd "$installDir" && find . -type f | sed 's|^\./||' | sort); }
[[ -d $installDir ]] || fail "nothing installed in $installDir"
diff <(printf '%s\n' "${expected[@]}") <(installedFiles) >&2 || fail "$installDir does not hold exactly the package's files"
(cd "$package/OrvCamera" && sha256sum "${expected[@]}") >"$tmp/package.sha256"
(cd "$installDir" && sha256sum --quiet -c "$tmp/package.sha256" >&2) || fail "installed files differ from the package's"
# Wine's msiexec puts the Start-menu entries of all users into the user's Start menu; either will do.
startMenus=("$(unixPath "$(asOperator wine cmd /c echo %ProgramData% 2>/dev/null | tr -d '\r')")/Microsoft/Windows/Start Menu/Programs"
    "$appData/Microsoft/Windows/Start Menu/Programs")
startMenuEntries() { find "${startMenus[@]}" -maxdepth 1 -name 'OrvCamera*.lnk' 2>/dev/null | sort; }
consoleLink=$(startMenuEntries | grep '/OrvCamera\.lnk$') || fail "no Start-menu entry OrvCamera.lnk"
startMenuEntries | grep -q '/OrvCamera SearchTool\.lnk$' || fail "no Start-menu entry \"OrvCamera SearchTool.lnk\""
say "Start-menu entries: $(startMenuEntries | while read -r f; do winPath "$f"; done | paste -sd ',' - | sed 's/,/, /g')"
listed=$(productsListed)
[[ $listed == *"\\$productCode $version" && $(wc -l <<<"$listed") == 1 ]] ||
    fail "Add/Remove Programs does not list OrvCamera $version once under $productCode: $listed"
entry=$(asOperator wine reg query "$uninstallRoot\\$productCode" 2>/dev/null | tr -d '\r')
for value in "UninstallString.*MsiExec.exe /X$productCode" "InstallLocation.*$(winPath "$installDir" | sed 's/\\/\\\\/g')" \
    "Publisher.*OrvCamera" "NoModify.*0x1"; do
    grep -q "$value" <<<"$entry" || fail "the Add/Remove Programs entry lacks $value:"$'\n'"$entry"
done
# Add/Remove Programs shows an MSI product's icon from its registration (ARPPRODUCTICON).
products=$(asOperator wine reg query 'HKLM\Software\Classes\Installer\Products' /s 2>/dev/null | tr -d '\r')
grep -qi "ProductIcon.*$productCode.*orvcamera.ico" <<<"$products" || fail "no product icon registered:"$'\n'"$products"
say "installed ${#expected[@]} files into $(winPath "$installDir"), listed as $productCode"

begin "program folder read-only for the operator"
# Program Files as an operator without administrator rights has it.
chmod -R a-w "$installDir"
! asOperator touch "$installDir/.probe" 2>/dev/null || fail "the operator can still write in $installDir"
folderListing >"$tmp/before.txt"

begin "simulated camera"
camsimLog=$tmp/camsim.log
cameraState=$home/camera.state
# A copy the operator can read wherever the build is, with the C++ runtime it needs.
camsim=$home/camsim
install -d -o "$operator" -g "$operator" "$camsim"
install -m 755 "$bin/orv-camsim.exe" "$bin/libstdc++-6.dll" "$bin/libgcc_s_seh-1.dll" "$bin/libwinpthread-1.dll" "$camsim/"
asOperator wine "$camsim/orv-camsim.exe" --listen 127.0.0.1 --verbose --state "$(winPath "$cameraState")" >"$camsimLog" 2>&1 &
waitFor 30 "the simulated camera to listen on 127.0.0.1:19436" logHas "listening on 127.0.0.1:19436"

begin "console from the Start menu, log in"
consoleTitle='^OrvCamera Ver\.'
asOperator wine start /wait /unix "$consoleLink" >/dev/null 2>&1 &
consolePid=$!
waitFor 60 "the console window" windowShown "$consoleTitle"
console=$(findWindow "$consoleTitle")
focusWindow "$console"
typeLogin "$console" 127.0.0.1 admin wrenq
clickControl "$console" kConsoleDialog kConsoleControls 1010 0.15 # Hold: remember the login
clickControl "$console" kConsoleDialog kConsoleControls 1009      # Login
waitFor 15 "the login's requests (GetUsers, GetConfig 6, GetTime)" requestsSeen 3
got=$(requestsFrom 1)
[[ $got == "$loginRequests" ]] || fail "the camera received"$'\n'"$got"$'\n'"instead of"$'\n'"$loginRequests"
xdotool key alt+F4
waitFor 15 "the console to close" windowGone "$consoleTitle"
waitFor 30 "the console's process to end" processGone "$consolePid"
[[ -f $settingsDir/orv_setup.ini ]] || fail "no orv_setup.ini in $(winPath "$settingsDir")"
remembered=$(rememberedLogin "$settingsDir/orv_setup.ini") || fail "cannot read the login in $settingsDir/orv_setup.ini"
[[ $remembered == "127.0.0.1 admin 1" ]] || fail "orv_setup.ini remembers \"$remembered\", not \"127.0.0.1 admin 1\""
say "$(winPath "$settingsDir")\\orv_setup.ini remembers IP, user and hold: $remembered"

begin "console from the program folder, remembered login"
loginsBefore=$(requestCount)
asOperator wine "$(winPath "$installDir/orvcamera.exe")" "${freetypeArguments[@]}" >/dev/null 2>&1 &
consolePid=$!
waitFor 60 "the console window" windowShown "$consoleTitle"
console=$(findWindow "$consoleTitle")
focusWindow "$console"
xwd -id "$console" -silent | xwdtopnm 2>/dev/null | pnmtopng >"$results/console-remembered.png" || true
# Nothing typed: Login reaches 127.0.0.1 as admin only with what the console read back.
clickControl "$console" kConsoleDialog kConsoleControls 1009
waitFor 15 "the remembered login's requests" requestsSeen $((loginsBefore + 3))
got=$(requestsFrom $((loginsBefore + 1)))
[[ $got == "$loginRequests" ]] || fail "the camera received"$'\n'"$got"$'\n'"instead of"$'\n'"$loginRequests"
say "logged in to 127.0.0.1 as admin with the remembered login"
xdotool key alt+F4
waitFor 15 "the console to close" windowGone "$consoleTitle"
waitFor 30 "the console's process to end" processGone "$consolePid"

begin "the installed orvctl.exe's ledger"
ledger=$localAppData/OrvCamera/orv_ledger.db
# The head of that file in particular: "ledger head" would create a ledger where none is.
ledgerHead() { asOperator wine "$installDir/orvctl.exe" --ledger "$(winPath "$ledger")" ledger head 2>/dev/null | tr -d '\r'; }
headBefore=
if [[ -f $ledger ]]; then headBefore=$(ledgerHead) || fail "orvctl.exe ledger head failed"; fi
asOperator wine "$installDir/orvctl.exe" --ip 127.0.0.1 timesync >"$tmp/orvctl.txt" 2>&1 ||
    fail "orvctl.exe --ip 127.0.0.1 timesync failed: $(tr -d '\r' <"$tmp/orvctl.txt")"
[[ -f $ledger ]] || fail "no ledger at $(winPath "$ledger")"
headAfter=$(ledgerHead) || fail "orvctl.exe ledger head failed"
[[ -n $headAfter && $headAfter != "$headBefore" ]] || fail "timesync recorded nothing: the ledger's head is \"$headAfter\""
say "$(winPath "$ledger"): head ${headBefore:-none} before, $headAfter after"

begin "search tool opened and closed"
asOperator wine "$installDir/SearchTool.exe" "${freetypeArguments[@]}" >/dev/null 2>&1 &
searchPid=$!
waitFor 30 "the search tool's window" windowShown '^SearchTool$'
search=$(findWindow '^SearchTool$')
focusWindow "$search"
xdotool key alt+F4
waitFor 15 "the search tool to close" windowGone '^SearchTool$'
waitFor 30 "the search tool's process to end" processGone "$searchPid"
[[ -f $settingsDir/orv_searchtool.ini ]] || fail "the search tool kept no orv_searchtool.ini in $(winPath "$settingsDir")"

begin "nothing written in the program folder"
folderListing >"$tmp/after.txt"
diff "$tmp/before.txt" "$tmp/after.txt" >&2 || fail "the programs changed $installDir"
say "$(winPath "$installDir") unchanged; the operator's files: $(cd "$appData" && find OrvCamera -type f | sort | xargs), $(cd "$localAppData" && find OrvCamera -type f | sort | xargs)"

begin "a later version installed over it"
# The administrator installs: the program folder is writable to the installer again.
chmod -R u+w "$installDir"
IFS=. read -r major minor buildNumber revision <<<"$version"
laterVersion=$major.$minor.$buildNumber.$((revision + 1))
laterMsi=$msiDir/OrvCamera-$laterVersion.msi
(cd "$package" && wixl -a x64 -D Version="$laterVersion" -D UpgradeBelow="$major.$minor.$((buildNumber + 1))" \
    -D Stage=OrvCamera -I . -o "$laterMsi" "$here/packaging/windows/orvcamera.wxs") || fail "wixl cannot build $laterMsi"
chmod 644 "$laterMsi"
laterCode=$(msiProperty "$laterMsi" ProductCode)
[[ $(msiProperty "$laterMsi" UpgradeCode) == "$upgradeCode" && $laterCode != "$productCode" ]] ||
    fail "$laterMsi does not share the upgrade code under a product code of its own"
asOperator wine msiexec /i "$(winPath "$laterMsi")" /qn >/dev/null 2>&1 || fail "msiexec /i $laterMsi /qn exited with $?"
listed=$(productsListed)
[[ $listed == *"\\$laterCode $laterVersion" && $(wc -l <<<"$listed") == 1 ]] ||
    fail "after the upgrade Add/Remove Programs lists, instead of OrvCamera $laterVersion alone:"$'\n'"$listed"
diff <(printf '%s\n' "${expected[@]}") <(installedFiles) >&2 || fail "after the upgrade $installDir does not hold exactly the package's files"
(cd "$installDir" && sha256sum --quiet -c "$tmp/package.sha256" >&2) || fail "after the upgrade installed files differ from the package's"
[[ $(startMenuEntries | wc -l) == 2 ]] || fail "after the upgrade the Start menu holds: $(startMenuEntries | xargs)"
say "one product listed: OrvCamera $laterVersion ($laterCode)"

begin "msiexec /x"
asOperator wine msiexec /x "$laterCode" /qn >/dev/null 2>&1 || fail "msiexec /x $laterCode /qn exited with $?"
[[ -z $(productsListed) ]] || fail "Add/Remove Programs still lists $(productsListed)"
[[ -z $(startMenuEntries) ]] || fail "removing left the Start-menu entries $(startMenuEntries | xargs)"
if [[ -d $installDir ]]; then
    left=$(cd "$installDir" && find . -mindepth 1 | sort | paste -sd " " -)
    [[ -z $left ]] || fail "removing left $left in $installDir"
fi
! asOperator wine reg query 'HKLM\Software\OrvCamera' >/dev/null 2>&1 || fail "removing left HKLM\\Software\\OrvCamera"
for f in "$settingsDir/orv_setup.ini" "$settingsDir/orv_searchtool.ini" "$ledger"; do
    [[ -f $f ]] || fail "removing took the operator's $(winPath "$f")"
done
[[ $(rememberedLogin "$settingsDir/orv_setup.ini") == "127.0.0.1 admin 1" ]] || fail "orv_setup.ini lost the remembered login"
say "removed; the operator's orv_setup.ini, orv_searchtool.ini and orv_ledger.db stay"
