#!/usr/bin/env bash
# The packaged Windows console used as an operator would, under Wine: installs
# OrvCamera-*-setup.exe silently into a fresh prefix, drives the installed console with the mouse
# and the keyboard in an Xvfb display of its own against the simulated camera (log in, Wifi Get,
# a new SSID, Wifi Set, Simplified Chinese, the GB28181 dialog's Get, Batch twice), checks every
# frame the camera received, takes the README's Windows screenshots, has the installed orvctl.exe
# record to SQLite and to a PostgreSQL server (scripts/test-windows-ledger-e2e.sh), uninstalls, and
# runs the demo zip.
#   scripts/test-windows-e2e.sh [--docs] [BUILD_DIR]   (default build-ci-windows, packaged already)
# Screenshots and the camera's frame log land in BUILD_DIR/e2e/ (a screenshot of the whole display
# too when a step fails); --docs also copies the screenshots to docs/screenshot-windows-{en,zh}.png.
# Everything runs in a network namespace of its own with only loopback, so no keystroke can send
# anything to a real camera address.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/windows-e2e-lib.sh
source "$here/scripts/windows-e2e-lib.sh" e2e
e2eArguments "$@"

if [[ -z ${ORV_E2E_NETNS:-} ]]; then
    export ORV_E2E_STARTED=$EPOCHSECONDS
    "$here/scripts/setup.sh" --windows
    enterNetworkNamespace "${options[@]}" "$build"
fi
ip link set lo up

package=$build/package
setup=$(thePackaged 'OrvCamera-*-setup.exe')
version=${setup##*/OrvCamera-}
version=${version%-setup.exe}
portableZip=$package/OrvCamera-$version-portable.zip
demoZip=$package/OrvCamera-$version-demo.zip
bin=$build/bin
needFiles "$portableZip" "$demoZip" "$bin/orv-camsim.exe" "$bin/QMNetSDK.dll" "$bin/orv-remember-login.exe"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/orv-e2e.XXXXXX")
export WINEPREFIX=$tmp/prefix
export "${wineSettings[@]}"
unset WAYLAND_DISPLAY DISPLAY
camsimPid=
results=$build/e2e
rm -rf "$results" && mkdir -p "$results"
finish() {
    local status=$?
    keepResults "$status"
    [[ -f ${demoLog:-} ]] && cp "$demoLog" "$results/demo.log"
    wineserver -k >/dev/null 2>&1 || true
    endRun "$status" "screenshots and the camera's log"
}
trap finish EXIT

# What the steps below wait for, beyond the shared ones.
registryKeyGone() { ! wine reg query "$1" >/dev/null 2>&1; }
portFree() { [[ -z $(ss -Htln "sport = :$1") ]]; }
listening() { [[ -n $(ss -Htln "src $1 and sport = :$2") ]]; }
connectedTo() { [[ -n $(ss -Htn state established "dst $1 and dport = :$2") ]]; }

begin "display and Wine prefix"
startDisplay
mkdir -p "$WINEPREFIX"
wineserver -p
wineboot --init >/dev/null 2>&1 || fail "wineboot --init failed"
localAppData=$(unixPath "$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')")
appData=$(unixPath "$(wine cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')")
[[ -d $localAppData && -d $appData ]] || fail "cannot find the user's application-data folders in $WINEPREFIX"

begin "silent install"
wine "$setup" /S >/dev/null 2>&1 || fail "$setup /S exited with $?"
installDir=$localAppData/Programs/OrvCamera
startMenu="$appData/Microsoft/Windows/Start Menu/Programs"
startMenuLink=$startMenu/OrvCamera.lnk
startMenuEntries() { (cd "$startMenu" && find . -maxdepth 1 -name 'OrvCamera*.lnk' | sed 's|^\./||' | sort | paste -sd ',' - | sed 's/,/, /g'); }
uninstallKey='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvCamera'
mapfile -t expected < <({ unzip -Z1 "$portableZip" | sed -n 's|^OrvCamera/\(.*[^/]\)$|\1|p'; echo uninstall.exe; } | sort)
installedFiles() { (cd "$installDir" && find . -type f | sed 's|^\./||' | sort); }
[[ -d $installDir ]] || fail "nothing installed in $installDir"
diff <(printf '%s\n' "${expected[@]}") <(installedFiles) >&2 || fail "$installDir does not hold exactly the package's files"
# The ledger's OpenSSL, libpq and SQLite beside the programs, with the licences that go with them.
for f in libcrypto-3-x64.dll libssl-3-x64.dll libpq.dll sqlite3.dll openssl-LICENSE.txt postgresql-COPYRIGHT.txt; do
    [[ -f $installDir/$f ]] || fail "the package does not install $f beside the programs"
done
[[ -f $startMenuLink ]] || fail "no Start-menu entry $startMenuLink"
say "Start-menu entries: $(startMenuEntries)"
registry=$(wine reg query "$uninstallKey" 2>/dev/null | tr -d '\r') || fail "no uninstaller entry $uninstallKey"
grep -q "UninstallString.*$(winPath "$installDir" | sed 's/\\/\\\\/g')\\\\uninstall.exe" <<<"$registry" ||
    fail "the uninstaller entry does not name $installDir\\uninstall.exe: $registry"
say "installed ${#expected[@]} files into $(winPath "$installDir")"

begin "simulated camera"
camsimLog=$tmp/camsim.log
cameraState=$tmp/camera.state
wine "$bin/orv-camsim.exe" --listen 127.0.0.1 --verbose --state "$(winPath "$cameraState")" >"$camsimLog" 2>&1 &
camsimPid=$!
waitFor 30 "the simulated camera to listen on 127.0.0.1:19436" logHas "listening on 127.0.0.1:19436"
# The maker's SDK is the user's to add; the stand-in plays its part here.
cp "$bin/QMNetSDK.dll" "$installDir/"
freetypeText "$installDir"
# Remembered: a login on 127.0.0.2, where nothing listens, with a wrong password; only what the
# operator types reaches the camera. English to begin with (language 2).
wine "$bin/orv-remember-login.exe" "$(winPath "$installDir")" 127.0.0.2 admin not-the-password 2 >/dev/null 2>&1 ||
    fail "orv-remember-login could not prepare $installDir/orv_setup.ini"

begin "console from the Start menu"
consoleTitle='^OrvCamera Ver\.'
wine start /unix "$startMenuLink" >/dev/null 2>&1 &
waitFor 60 "the console window" windowShown "$consoleTitle"
console=$(findWindow "$consoleTitle")
focusWindow "$console"

begin "log in"
typeLogin "$console" 127.0.0.1 admin wrenq
clickControl "$console" kConsoleDialog kConsoleControls 1009 # Login
waitFor 15 "the login's requests (GetUsers, GetConfig 6, GetTime)" requestsSeen 3

begin "Wifi Get"
clickControl "$console" kConsoleDialog kConsoleControls 1042
waitFor 10 "the Wifi record to be read" requestsSeen 4
waitFor 10 "the SSID to show in its field" darkerThan 100 "$console" 1039
screenshot "$console" "$results/screenshot-windows-en.png"

begin "new SSID and Wifi Set"
newSsid=Patrol-Van-07
clickControl "$console" kConsoleDialog kConsoleControls 1039
xdotool key ctrl+a
xdotool type --delay 40 "$newSsid"
clickControl "$console" kConsoleDialog kConsoleControls 1043
waitFor 10 "the Wifi record to be written" requestsSeen 6
waitFor 10 "the camera's state file to keep the new SSID" grep -q "^ssid = \"$newSsid\"" "$cameraState"

begin "Simplified Chinese"
shownBefore=$(visibleWindows)
clickControl "$console" kConsoleDialog kConsoleControls 1070
waitFor 10 "the language list to drop down" moreVisibleWindowsThan "$shownBefore"
xdotool key Home Return
waitFor 10 "the language to be saved as Simplified Chinese" languageSaved 0
sleep 0.5 # repainted in the new texts
screenshot "$console" "$results/screenshot-windows-zh.png"

begin "GB28181 dialog"
openGb28181 "$console"
logHas "sdk: login of admin" || fail "the SDK did not log in as admin"
! logHas "sdk: login of .* refused" || fail "the camera refused the SDK's login"
waitFor 10 "the GB28181 dialog to show the server address" darkerThan 100 "$gb" 1084 kGb28181Dialog kGb28181Controls
xdotool key Escape
waitFor 10 "the GB28181 dialog to close" windowGone '^GB28181$'

begin "Batch starts the installed search tool and closes it"
# Started without arguments it looks behind the network interfaces: in this namespace only the
# loopback one, outside the camera's /24, so it contacts nothing.
clickControl "$console" kConsoleDialog kConsoleControls 1081
waitFor 20 "the search tool's window" windowShown '^SearchTool$'
# The tool's window opens over the console: the console comes to the front again for the second
# press, as a click on it would bring it.
xdotool windowraise "$console"
sleep 0.3
clickControl "$console" kConsoleDialog kConsoleControls 1081
waitFor 20 "the search tool to close on the console's request" windowGone '^SearchTool$'

begin "close the console"
xdotool windowactivate --sync "$console" >/dev/null 2>&1 || true
xdotool key alt+F4
waitFor 15 "the console to close" windowGone "$consoleTitle"

begin "frames the camera received"
mapfile -t received < <(framesReceived)
got=$(for frame in "${received[@]}"; do requestName "$frame"; done)
want=$'GetUsers\nGetConfig 06\nGetTime\nGetConfig 02\nGetConfig 02\nSetConfig 02'
[[ $got == "$want" ]] || fail "the camera received"$'\n'"$got"$'\n'"instead of"$'\n'"$want"
for frame in "${received[@]}"; do
    [[ $frame == "9A 42 EC 75 01 00 "* ]] || fail "a frame without the magic and fixed word: $frame"
done
# The reply to Wifi Get (the 4th request) and the record Wifi Set sent: 191 bytes after the header.
wifiRead=$(tr -d '\r' <"$camsimLog" |
    awk '/\] <- / { ++n; next } /\] -> / && n == 4 { sub(/^\[[^]]*\] -> /, ""); printf "%s ", $0 }')
read -ra readBytes <<<"$wifiRead"
read -ra setBytes <<<"${received[5]}"
((${#readBytes[@]} == 12 + 191)) || fail "the Wifi Get reply has $((${#readBytes[@]} - 12)) bytes, not 191"
((${#setBytes[@]} == 12 + 191)) || fail "Wifi Set sent $((${#setBytes[@]} - 12)) bytes, not 191"
[[ ${readBytes[*]:13:32} != "${setBytes[*]:13:32}" ]] || fail "the SSID read was $newSsid already"
ssidHex=$(hexOf "$newSsid")
read -ra ssidBytes <<<"$ssidHex"
for ((i = 0; i < 191; ++i)); do
    before=${readBytes[12 + i]} after=${setBytes[12 + i]}
    if ((i >= 1 && i <= 32)); then
        k=$((i - 1))
        wanted=${ssidBytes[k]:-00}
        [[ $after == "$wanted" ]] || fail "SSID byte $k of Wifi Set is $after, not $wanted"
    elif [[ $before != "$after" ]]; then
        fail "Wifi Set changed byte $i of the record ($before -> $after); only the SSID may change"
    fi
done
say "Wifi Set sent the record read before with only the SSID changed to $newSsid"

if [[ ${options[*]} == --docs ]]; then
    cp "$results"/screenshot-windows-{en,zh}.png "$here/docs/"
fi

begin "the installed orvctl.exe's ledger: SQLite files and a PostgreSQL server"
# In this namespace and this Wine prefix, on a camera of its own (127.0.0.61); whatever the console
# recorded in the default ledger above stays part of the chain it verifies.
"$here/scripts/test-windows-ledger-e2e.sh" "$build" "$installDir" || fail "scripts/test-windows-ledger-e2e.sh failed"

begin "silent uninstall"
wine "$installDir/uninstall.exe" /S >/dev/null 2>&1 || fail "uninstall.exe /S exited with $?"
# The uninstaller runs on from a copy of itself in the temporary folder.
waitFor 30 "the uninstaller to remove uninstall.exe" test ! -e "$installDir/uninstall.exe"
waitFor 30 "the uninstaller entry to go" registryKeyGone "$uninstallKey"
for f in "${expected[@]}"; do
    [[ ! -e $installDir/$f ]] || fail "uninstalling left $f behind"
done
[[ -z $(startMenuEntries) ]] || fail "uninstalling left the Start-menu entries $(startMenuEntries)"
[[ -f $installDir/orv_setup.ini ]] || fail "uninstalling removed the user's orv_setup.ini"
languageSaved 0 || fail "orv_setup.ini lost the chosen language"
left=$(cd "$installDir" && find . -type f | sed 's|^\./||' | sort | xargs)
# The search tool, opened and closed by Batch above, remembered its window beside the settings.
[[ $left == "QMNetSDK.dll orv_searchtool.ini orv_setup.ini qt.conf" ]] ||
    fail "after uninstalling, $installDir holds $left, not the user's own files"
say "left: $left"

begin "demo zip"
kill "$camsimPid" 2>/dev/null || true
waitFor 15 "the first simulated camera to stop" portFree 19436
demo=$tmp/demo
mkdir -p "$demo"
unzip -q "$demoZip" -d "$demo"
demoFolder=$demo/OrvCamera-demo
[[ -f $demoFolder/start-demo.cmd ]] || fail "no start-demo.cmd in $demoZip"
freetypeText "$demoFolder"
demoLog=$tmp/demo.log
# Opened as from Explorer. (Wine's cmd /c would read "start-demo.cmd" as its own "start".)
wine start /wait /unix "$demoFolder/start-demo.cmd" </dev/null >"$demoLog" 2>&1 &
demoPid=$!
waitFor 60 "the demo's console window" windowShown "$consoleTitle"
waitFor 30 "the demo's simulated camera on 127.0.0.1:19436" listening 127.0.0.1 19436
demoConsole=$(findWindow "$consoleTitle")
xdotool windowactivate --sync "$demoConsole" >/dev/null 2>&1 || true
sleep 0.5
disabled=$(controlDarkness "$demoConsole" kConsoleDialog kConsoleControls 1042) || fail "cannot look at Wifi Get"
clickControl "$demoConsole" kConsoleDialog kConsoleControls 1009 # Login, with the demo's remembered account
waitFor 15 "the demo console's connection to the camera" connectedTo 127.0.0.1 19436
# Wifi Get is enabled only after a successful login: its caption turns from grey to black.
waitFor 15 "the demo console to log in (Wifi Get enabled)" darkerThan $((disabled - 40)) "$demoConsole" 1042
say "the demo console logged in: Wifi Get's darkest grey went from $disabled to $(controlDarkness "$demoConsole" kConsoleDialog kConsoleControls 1042)"
xdotool key alt+F4
waitFor 30 "start-demo.cmd to finish after the console closed" processGone "$demoPid"
