#!/usr/bin/env bash
# The packaged Windows programs on a Chinese Windows, under Wine: the ANSI code page is 936, as on
# the users' computers (Wine takes it from the Unix locale zh_CN.UTF-8), and the console speaks
# Simplified Chinese. Installs OrvCamera-*-setup.exe silently into a fresh prefix and drives the
# installed console with the mouse and the keyboard in an Xvfb display of its own against a
# simulated camera (its state file named 相机.state) whose officer is 张三 of 一中队: Device Get
# shows them, Save Setup writes them into 设置.xml as UTF-8, the GB28181 dialog shows and sends
# back the Chinese server name of its record, Save Log writes the Chinese log lines into 日志.txt
# as UTF-16LE; the installed orvctl.exe gives the camera another officer, and Load Setup and Device
# Set send 张三 and 一中队 back in the same GBK bytes; the installed search tool sets the camera from
# 设置.xml and records it in 清单.csv and the ledger 台账.db; the installed orvctl.exe writes the
# camera's custody report 报告.pdf in Simplified Chinese from that ledger (read back with pdftotext
# and pdffonts: its title, the camera and the units, in the embedded font shipped beside it) and
# checks one of its proofs with the station's key. Every text a control shows is read
# through the clipboard, every byte the camera received is checked in its frame log. Takes the
# README's screenshots of the console and the search tool in Chinese.
#   scripts/test-windows-zh-e2e.sh [--docs] [BUILD_DIR]   (default build-ci-windows, packaged already)
# Screenshots, the files the programs wrote and the camera's frame log land in BUILD_DIR/e2e-zh/
# (a screenshot of the whole display too when a step fails); --docs also copies the screenshots to
# docs/screenshot-windows-zh-{console,searchtool}.png.
# Everything runs in a network namespace of its own with only loopback, so no keystroke can send
# anything to a real camera address.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/windows-e2e-lib.sh
source "$here/scripts/windows-e2e-lib.sh" e2e-zh
e2eArguments "$@"

if [[ -z ${ORV_E2E_NETNS:-} ]]; then
    export ORV_E2E_STARTED=$EPOCHSECONDS
    "$here/scripts/setup.sh" --windows
    sudo_cmd=()
    if [[ $(id -u) -ne 0 ]]; then
        sudo_cmd=(sudo)
    fi
    # Beyond scripts/setup.sh --windows: the locales' sources, and xclip, which reads what a control
    # copied to the clipboard.
    missing=()
    for p in locales xclip; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if ((${#missing[@]} > 0)); then
        say "installing ${missing[*]}" >&2
        export DEBIAN_FRONTEND=noninteractive
        "${sudo_cmd[@]}" apt-get update -qq
        "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
    fi
    # Wine takes the ANSI code page from the Unix locale: zh_CN.UTF-8 gives 936 (C.UTF-8 gives
    # 1252). A fresh machine has the locale's sources but not the compiled locale.
    if ! locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; then
        say "generating the locale zh_CN.UTF-8" >&2
        "${sudo_cmd[@]}" localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
    fi
    enterNetworkNamespace "${options[@]}" "$build"
fi
ip link set lo up

package=$build/package
setup=$(thePackaged 'OrvCamera-*-setup.exe')
bin=$build/bin
needFiles "$bin/orv-camsim.exe" "$bin/QMNetSDK.dll" "$bin/orv-remember-login.exe"

# The Chinese Windows: its code page, and a home of its own for the prefix's user folders (Wine
# links Documents and the like to the Unix home).
tmp=$(mktemp -d "${TMPDIR:-/tmp}/orv-e2e-zh.XXXXXX")
unset LANGUAGE
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
export HOME=$tmp/home
mkdir -p "$HOME"
export WINEPREFIX=$tmp/prefix
export "${wineSettings[@]}"
unset WAYLAND_DISPLAY DISPLAY
results=$build/e2e-zh
rm -rf "$results" && mkdir -p "$results"
finish() {
    local status=$?
    keepResults "$status"
    [[ -f ${cameraState:-} ]] && cp "$cameraState" "$results/camera.state"
    for f in "${setupFile:-}" "${logFile:-}" "${inventory:-}" "${ledgerExport:-}" "${report:-}" "${toolReport:-}"; do
        [[ -n $f && -f $f ]] && cp "$f" "$results/"
    done
    wineserver -k >/dev/null 2>&1 || true
    endRun "$status" "screenshots, the files written and the camera's log"
}
trap finish EXIT

# --- windows that come and go, and the texts controls show -------------------------------------
# The visible windows' ids, sorted. A window that goes while xdotool looks at the windows makes it
# fail: it looks again.
visibleWindowIds() {
    local list tries=0
    until list=$(xdotool search --onlyvisible --name '.*' 2>/dev/null); do
        ((++tries < 20)) || fail "xdotool cannot list the windows"
        sleep 0.1
    done
    sort <<<"$list"
}
# newWindowSince IDS: the first visible window that is not among IDS.
newWindowSince() { comm -13 <(printf '%s\n' "$1") <(visibleWindowIds) | head -1; }
hasNewWindowSince() { [[ -n $(newWindowSince "$1") ]]; }
windowIdGone() { ! visibleWindowIds | grep -qx "$1"; }
# The text an edit control shows, read as the operator would copy it: a click into it, Ctrl+A,
# Ctrl+C. Wine offers the Windows clipboard to X11 as UTF-8, where xclip reads it.
clipboardText() { timeout 5 xclip -o -selection clipboard -t UTF8_STRING 2>/dev/null; }
copyControlText() { # copyControlText WINDOW DIALOG CONTROLS ID
    clickControl "$@"
    xdotool key ctrl+a ctrl+c
    sleep 0.3
}
clipboardIs() { [[ $(clipboardText) == "$1" ]]; }
# expectControlText WINDOW DIALOG CONTROLS ID TEXT WHAT: fails the step unless the control shows TEXT.
expectControlText() {
    local text=$5 what=$6 deadline=$((SECONDS + 10))
    until copyControlText "$1" "$2" "$3" "$4" && clipboardIs "$text"; do
        ((SECONDS < deadline)) || fail "$what shows \"$(clipboardText || true)\", not \"$text\""
        sleep 0.5
    done
    say "$what shows $text"
}
# pasteText TEXT: puts TEXT into the focused control through the clipboard. xclip offers it as
# X11's clipboard, and Wine hands that to the control as Unicode on Ctrl+V. (xdotool's typing of
# Chinese characters, one remapped key at a time, loses some of them in the file dialog's name
# field: a folder 文件 typed there came out as another folder.)
pasteText() {
    printf '%s' "$1" | xclip -quiet -selection clipboard -i >/dev/null 2>&1 &
    local owner=$!
    sleep 0.3
    xdotool key ctrl+v
    sleep 0.5
    kill "$owner" 2>/dev/null || true
    wait "$owner" 2>/dev/null || true
}
# answerFileDialog BEFORE WINDOWS_PATH: waits for the file dialog that a click opened (a visible
# window that is not among the ids BEFORE), puts the path into its file name field, which has the
# focus, and confirms it. The dialog is Wine's own; under Xvfb it shows black in screenshots, but
# it takes the keys.
answerFileDialog() {
    local before=$1 path=$2 dialog
    waitFor 20 "the file dialog" hasNewWindowSince "$before"
    dialog=$(newWindowSince "$before")
    sleep 1
    xdotool key ctrl+a
    pasteText "$path"
    xdotool key Return
    waitFor 20 "the file dialog to close" windowIdGone "$dialog"
}
# --- the camera's Chinese texts in the frames it received ----------------------------------------
gbkHex() { printf '%s' "$1" | iconv -f UTF-8 -t GBK | od -An -tx1 | tr 'a-f' 'A-F' | xargs; }
# lastSetConfig TYPE: the last SetConfig (command 0x0381) of that record type the camera received.
lastSetConfig() { framesReceived | awk -v t="$1" '$11 == "81" && $12 == "03" && $13 == t' | tail -1; }
# expectFieldBytes FRAME OFFSET TEXT WHAT: the record in FRAME holds TEXT in GBK and a zero at OFFSET.
expectFieldBytes() {
    local -a bytes
    read -ra bytes <<<"$1"
    local want got
    want="$(gbkHex "$3") 00"
    local n
    n=$(wc -w <<<"$want")
    got=${bytes[*]:$((12 + $2)):n}
    [[ $got == "$want" ]] || fail "$4 sent $got for \"$3\", not its GBK bytes $want"
    say "$4 sent \"$3\" as $got"
}

# expectEmbeddedFont PDF: every font of the PDF embedded, and the text in the one shipped (its name,
# maybe after a subset's prefix; the column before the last four is "emb").
expectEmbeddedFont() {
    local fonts notEmbedded
    fonts=$(pdffonts "$1") || fail "pdffonts cannot read ${1##*/}"
    notEmbedded=$(tail -n +3 <<<"$fonts" | awk '$(NF - 4) != "yes"')
    [[ -z $notEmbedded ]] || fail "${1##*/} does not embed: $notEmbedded"
    awk 'NR > 2 && $1 ~ /^([A-Z]+\+)?WenQuanYiMicroHei$/' <<<"$fonts" | grep -q . ||
        fail "${1##*/} is not in WenQuanYi Micro Hei: $fonts"
}

officer=张三
unit=一中队
otherOfficer=李四
otherUnit=二中队
gbServer=视频平台.公安

begin "display, Wine prefix and code page 936"
startDisplay
mkdir -p "$WINEPREFIX"
wineserver -p
wineboot --init >/dev/null 2>&1 || fail "wineboot --init failed"
acp=$(wine reg query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' /v ACP 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *ACP *REG_SZ *\([0-9]*\).*/\1/p')
[[ $acp == 936 ]] || fail "Wine's ANSI code page is \"$acp\", not 936 (locale $LANG)"
# And as a program sees it: cmd writes what it echoes into a file in the ANSI code page.
wine cmd /c "echo $officer> $(winPath "$tmp")\\echo.txt" >/dev/null 2>&1 || fail "cmd /c echo failed"
echoed=$(tr -d '\r\n' <"$tmp/echo.txt" | od -An -tx1 | tr 'a-f' 'A-F' | xargs)
[[ $echoed == "$(gbkHex "$officer")" ]] || fail "cmd wrote $officer as $echoed, not in GBK"
say "ANSI code page $acp; cmd writes $officer as $echoed"
localAppData=$(unixPath "$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')")
[[ -d $localAppData ]] || fail "cannot find the user's application-data folder in $WINEPREFIX"

begin "silent install"
wine "$setup" /S >/dev/null 2>&1 || fail "$setup /S exited with $?"
installDir=$localAppData/Programs/OrvCamera
startMenuLink=$(unixPath "$(wine cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')")"/Microsoft/Windows/Start Menu/Programs/OrvCamera.lnk"
for f in orvcamera.exe SearchTool.exe orvctl.exe; do
    [[ -f $installDir/$f ]] || fail "nothing installed as $installDir/$f"
done
[[ -f $startMenuLink ]] || fail "no Start-menu entry $startMenuLink"

begin "simulated camera with a Chinese officer, unit and GB28181 server"
# Files with Chinese names, as operators on a Chinese Windows name them.
work=$tmp/文件
mkdir -p "$work"
camsimLog=$tmp/camsim.log
cameraState=$work/相机.state
# Only what changes; the camera keeps its defaults for the rest and writes the whole file back.
cat >"$cameraState" <<STATE
[device]
policeName = "$officer"
companyName = "$unit"

[gb28181]
serverAddress = "$gbServer"
STATE
wine "$bin/orv-camsim.exe" --listen 127.0.0.1 --verbose --state "$(winPath "$cameraState")" >"$camsimLog" 2>&1 &
camsimPid=$!
cameraUp() { logHas "listening on 127.0.0.1:19436" || processGone "$camsimPid"; }
waitFor 30 "the simulated camera to listen on 127.0.0.1:19436" cameraUp
! processGone "$camsimPid" || fail "the simulated camera stopped: $(tr -d '\r' <"$camsimLog")"
logHas "state kept in .*相机.state" || fail "the camera does not say it keeps its state in 相机.state"
cp "$bin/QMNetSDK.dll" "$installDir/"
freetypeText "$installDir"
# Remembered: the camera's login, and Simplified Chinese (language 0).
wine "$bin/orv-remember-login.exe" "$(winPath "$installDir")" 127.0.0.1 admin wrenq 0 >/dev/null 2>&1 ||
    fail "orv-remember-login could not prepare $installDir/orv_setup.ini"
languageSaved 0 || fail "orv_setup.ini does not hold Simplified Chinese"

consoleTitle='^OrvCamera Ver\.'
startConsole() {
    wine start /unix "$startMenuLink" >/dev/null 2>&1 &
    waitFor 60 "the console window" windowShown "$consoleTitle"
    console=$(findWindow "$consoleTitle")
    focusWindow "$console"
}
logIn() {
    local before
    before=$(requestCount)
    clickControl "$console" kConsoleDialog kConsoleControls 1009
    waitFor 15 "the login's requests (GetUsers, GetConfig 6, GetTime)" requestsSeen $((before + 3))
    # Device Get is enabled only after a successful login: its caption turns from grey to black.
    waitFor 10 "Device Get to be enabled" darkerThan 100 "$console" 1054
}
closeConsole() {
    xdotool windowactivate --sync "$console" >/dev/null 2>&1 || true
    xdotool key alt+F4
    waitFor 15 "the console to close" windowGone "$consoleTitle"
}

begin "console in Simplified Chinese, log in"
startConsole
logIn

begin "Device Get shows $officer of $unit"
before=$(requestCount)
clickControl "$console" kConsoleDialog kConsoleControls 1054
waitFor 10 "the device record to be read" requestsSeen $((before + 1))
waitFor 10 "the officer's name to show" darkerThan 100 "$console" 1051
expectControlText "$console" kConsoleDialog kConsoleControls 1051 "$officer" "the officer name field"
expectControlText "$console" kConsoleDialog kConsoleControls 1053 "$unit" "the unit name field"
screenshot "$console" "$results/console-device-get.png"

begin "Save Setup into 设置.xml"
setupFile=$work/设置.xml
before=$(visibleWindowIds)
clickControl "$console" kConsoleDialog kConsoleControls 1074
answerFileDialog "$before" "$(winPath "$setupFile")"
waitFor 10 "$setupFile to be written" test -s "$setupFile"
iconv -f UTF-8 -t UTF-8 "$setupFile" >/dev/null 2>&1 || fail "设置.xml is not UTF-8 throughout"
grep -q "policename=\"$officer\"" "$setupFile" || fail "设置.xml does not hold policename=\"$officer\" in UTF-8: $(grep -a device "$setupFile")"
grep -q "companyname=\"$unit\"" "$setupFile" || fail "设置.xml does not hold companyname=\"$unit\" in UTF-8"
say "设置.xml holds $officer as $(hexOf "$officer") and $unit as $(hexOf "$unit") (UTF-8)"

begin "GB28181 dialog shows $gbServer"
openGb28181 "$console"
waitFor 10 "the server address to show" darkerThan 100 "$gb" 1084 kGb28181Dialog kGb28181Controls
expectControlText "$gb" kGb28181Dialog kGb28181Controls 1084 "$gbServer" "the GB28181 server field"
screenshot "$gb" "$results/gb28181.png"
# Set sends the record back through the SDK; the camera keeps the same text. The dialog says how
# it went in a message box, whose text Ctrl+C copies.
before=$(visibleWindowIds)
clickControl "$gb" kGb28181Dialog kGb28181Controls 1095
waitFor 15 "the SDK to write the GB28181 settings" logHas "sdk: set GB28181 record"
waitFor 10 "the GB28181 dialog's message box" hasNewWindowSince "$before"
messageBox=$(newWindowSince "$before")
sleep 0.5
xdotool key ctrl+c
sleep 0.3
[[ $(clipboardText) == *"Save NetworkProtocol Success!"* ]] || fail "the GB28181 dialog says \"$(clipboardText || true)\""
xdotool key Return
waitFor 10 "the message box to close" windowIdGone "$messageBox"
gbServerKept() { sed -n '/^\[gb28181\]/,/^bytes/p' "$cameraState" | grep -q "^serverAddress = \"$gbServer\""; }
waitFor 10 "the camera's state file to keep $gbServer" gbServerKept
# The record as the camera holds it now, as the SDK sent it: the server address at byte 593
# (link/records.h), in GBK.
gbRecord=$(sed -n '/^\[gb28181\]/,/^bytes/s/^bytes = //p' "$cameraState")
gbWanted="$(gbkHex "$gbServer" | tr -d ' ')00"
[[ ${gbRecord:$((593 * 2)):${#gbWanted}} == "$gbWanted" ]] ||
    fail "the GB28181 record holds ${gbRecord:$((593 * 2)):${#gbWanted}} where $gbServer should be, not $gbWanted"
say "the GB28181 dialog's Set sent $gbServer as $gbWanted"
xdotool key Escape
waitFor 10 "the GB28181 dialog to close" windowGone '^GB28181$'

begin "Save Log into 日志.txt"
logFile=$work/日志.txt
before=$(visibleWindowIds)
clickControl "$console" kConsoleDialog kConsoleControls 1069
answerFileDialog "$before" "$(winPath "$logFile")"
waitFor 10 "$logFile to be written" test -s "$logFile"
# UTF-16LE, as the console has always written it: the first character is the "[" of a timestamp.
[[ $(head -c 2 "$logFile" | od -An -tx1 | xargs) == "5b 00" ]] || fail "日志.txt does not start with \"[\" in UTF-16LE"
logText=$(iconv -f UTF-16LE -t UTF-8 "$logFile") || fail "日志.txt is not UTF-16LE"
for line in "Orv工具启动 ..." "登录成功 ..." "获取 device info 成功 ..." "保存用户配置 ..."; do
    grep -qF "] $line" <<<"$logText" || fail "日志.txt lacks the line \"$line\":"$'\n'"$logText"
done
say "日志.txt holds $(wc -l <<<"$logText") Chinese log lines"
screenshot "$console" "$results/screenshot-windows-zh-console.png"
closeConsole

begin "the installed orvctl.exe gives the camera $otherOfficer of $otherUnit"
# So that only Load Setup can bring back $officer. orvctl takes its arguments as Unicode, and
# records in a ledger file with a Chinese name.
printf 'wrenq\n' >"$tmp/password"
ledger=$work/台账.db
wine "$installDir/orvctl.exe" --ip 127.0.0.1 --password-file "$(winPath "$tmp/password")" --ledger "$(winPath "$ledger")" \
    set device "policeName=$otherOfficer" "companyName=$otherUnit" >"$tmp/orvctl.out" 2>&1 ||
    fail "orvctl set device failed: $(cat "$tmp/orvctl.out")"
waitFor 10 "the camera's state file to hold $otherOfficer" grep -q "^policeName = \"$otherOfficer\"" "$cameraState"

begin "Load Setup from 设置.xml, Device Set"
startConsole
before=$(visibleWindowIds)
clickControl "$console" kConsoleDialog kConsoleControls 1075
answerFileDialog "$before" "$(winPath "$setupFile")"
logIn
expectControlText "$console" kConsoleDialog kConsoleControls 1051 "$officer" "the officer name field after Load Setup"
expectControlText "$console" kConsoleDialog kConsoleControls 1053 "$unit" "the unit name field after Load Setup"
before=$(requestCount)
clickControl "$console" kConsoleDialog kConsoleControls 1055
waitFor 10 "the device record to be read and written" requestsSeen $((before + 2))
deviceSet=$(lastSetConfig 00)
[[ -n $deviceSet ]] || fail "the camera received no SetConfig of the device record"
# Officer name at byte 33 of the device record, unit name at 129 (link/records.h).
expectFieldBytes "$deviceSet" 33 "$officer" "Device Set"
expectFieldBytes "$deviceSet" 129 "$unit" "Device Set"
waitFor 10 "the camera's state file to hold $officer again" grep -q "^policeName = \"$officer\"" "$cameraState"
closeConsole

begin "the installed search tool sets the camera from 设置.xml"
inventory=$work/清单.csv
setsBefore=$(framesReceived | awk '$11 == "81" && $12 == "03" && $13 == "00"' | wc -l)
wine "$installDir/SearchTool.exe" --address 127.0.0.1 --setup "$(winPath "$setupFile")" \
    --inventory "$(winPath "$inventory")" --ledger "$(winPath "$ledger")" --apply-all-when 1 >"$tmp/searchtool.out" 2>&1 &
searchToolPid=$!
waitFor 30 "the search tool's window" windowShown '^SearchTool$'
searchTool=$(findWindow '^SearchTool$')
inventoryRow() { [[ $(tail -n +2 "$inventory" 2>/dev/null | wc -l) -ge 1 ]]; }
waitFor 30 "the search tool to record the camera in 清单.csv" inventoryRow
row=$(tail -1 "$inventory" | tr -d '\r')
[[ $row == *,127.0.0.1,ORV202600001,PC4471,ok,* ]] || fail "清单.csv records \"$row\", not the camera set ok"
deviceSets=$(framesReceived | awk '$11 == "81" && $12 == "03" && $13 == "00"' | wc -l)
((deviceSets > setsBefore)) || fail "the search tool sent no device record"
expectFieldBytes "$(lastSetConfig 00)" 33 "$officer" "the search tool"
expectFieldBytes "$(lastSetConfig 00)" 129 "$unit" "the search tool"
sleep 1 # the row's last columns filled in
xdotool windowactivate --sync "$searchTool" >/dev/null 2>&1 || true
sleep 0.5
screenshot "$searchTool" "$results/screenshot-windows-zh-searchtool.png"
# The table itself cannot be copied from; its officer column is in the screenshot. The ledger
# holds the unit before and after, in UTF-8.
ledgerExport=$work/台账.csv
wine "$installDir/orvctl.exe" --ledger "$(winPath "$ledger")" ledger export "$(winPath "$ledgerExport")" >"$tmp/orvctl.out" 2>&1 ||
    fail "orvctl ledger export failed: $(cat "$tmp/orvctl.out")"
grep -q ",orvctl,.*,set,ORV202600001,127.0.0.1,PC4471,PC4471,$unit,$otherUnit," "$ledgerExport" ||
    fail "the ledger does not record orvctl's change from $unit to $otherUnit: $(cat "$ledgerExport")"
grep -q ",SearchTool,.*,provision,ORV202600001,127.0.0.1,PC4471,PC4471,$unit,$unit,设置.xml," "$ledgerExport" ||
    fail "the ledger does not record the search tool's provision with $unit and 设置.xml: $(cat "$ledgerExport")"
cameras=$(wine "$installDir/orvctl.exe" --ledger "$(winPath "$ledger")" ledger cameras 2>&1 | tr -d '\r')
[[ $cameras == *"officer PC4471 ($unit)"* ]] || fail "orvctl ledger cameras prints \"$cameras\""
say "the ledger: $cameras"

begin "the installed search tool saves the camera's report 监管链报告.pdf"
# The camera's row (the first below the table's header), then History...: the camera's history
# window, whose focus starts in its first list; two Shift+Tab from there reach Save report...
# (before Close, the last).
eval "$(xdotool getwindowgeometry --shell "$searchTool")"
read -r _ tableTop _ _ < <(controlRect kSearchToolControls 1202)
read -r _ dialogHeight < <(dialogSize kSearchToolDialog)
xdotool mousemove --window "$searchTool" 60 $((tableTop * HEIGHT / dialogHeight + 34)) click 1
waitFor 10 "History... to be enabled by the camera's row" darkerThan 100 "$searchTool" 1228 kSearchToolDialog kSearchToolControls
clickControl "$searchTool" kSearchToolDialog kSearchToolControls 1228
waitFor 20 "the camera's history window" windowShown 'ORV202600001'
historyWindow=$(findWindow 'ORV202600001')
focusWindow "$historyWindow"
toolReport=$work/监管链报告.pdf
before=$(visibleWindowIds)
xdotool key shift+Tab shift+Tab space
answerFileDialog "$before" "$(winPath "$toolReport")"
waitFor 30 "the search tool to write 监管链报告.pdf" test -s "$toolReport"
pdftotext -enc UTF-8 "$toolReport" "$tmp/tool-report.txt" || fail "pdftotext cannot read 监管链报告.pdf"
for text in 执法记录仪监管链报告 ORV202600001 "$unit" SearchTool; do
    grep -qF "$text" "$tmp/tool-report.txt" || fail "监管链报告.pdf does not show \"$text\": $(head -c 2000 "$tmp/tool-report.txt")"
done
expectEmbeddedFont "$toolReport"
sleep 0.5
screenshot "$historyWindow" "$results/history-report.png"
xdotool key Escape
waitFor 10 "the history window to close" windowIdGone "$historyWindow"
say "监管链报告.pdf: $(pdfinfo "$toolReport" | sed -n 's/^Pages: *//p') pages from the search tool's history window"
# A click on its caption above the table gives it the focus; Alt+F4 closes it as Close does.
clickControl "$searchTool" kSearchToolDialog kSearchToolControls 1201
xdotool key alt+F4
waitFor 20 "the search tool to close" windowGone '^SearchTool$'
waitFor 20 "the search tool to end" processGone "$searchToolPid"

begin "the installed orvctl.exe writes the custody report 报告.pdf"
# From the drive C: of the prefix, where no Linux folder is the current one: the font must be the
# one installed beside orvctl.exe, and text needs the offscreen platform installed with it.
needFiles "$installDir/fonts/wqy-microhei.ttc" "$installDir/platforms/qoffscreen.dll"
report=$work/报告.pdf
(cd "$WINEPREFIX/drive_c" && wine "$installDir/orvctl.exe" --ledger "$(winPath "$ledger")" ledger report \
    --device ORV202600001 --language zh_CN --pdf "$(winPath "$report")" >"$tmp/report.out" 2>&1) ||
    fail "orvctl ledger report exited with $?: $(cat "$tmp/report.out")"
grep -q "^recorded as event [0-9]" "$tmp/report.out" || fail "the report was not recorded in the ledger: $(cat "$tmp/report.out")"
pdftotext -enc UTF-8 "$report" "$tmp/report.txt" || fail "pdftotext cannot read 报告.pdf"
for text in 执法记录仪监管链报告 ORV202600001 "$unit" "$otherUnit"; do
    grep -qF "$text" "$tmp/report.txt" || fail "报告.pdf does not show \"$text\": $(head -c 2000 "$tmp/report.txt")"
done
expectEmbeddedFont "$report"
proofs=("$report.proofs"/event-*.tlog-proof)
[[ -f ${proofs[0]} && -f $report.proofs/checkpoint.note ]] || fail "no proofs in 报告.pdf.proofs"
say "报告.pdf: $(pdfinfo "$report" | sed -n 's/^Pages: *//p') pages in Simplified Chinese, ${#proofs[@]} proofs beside it"
# One proof, checked with the station's key alone (ledger key prints it first); an altered copy is refused.
wine "$installDir/orvctl.exe" ledger key >"$tmp/key.out" 2>&1 || fail "orvctl ledger key failed: $(cat "$tmp/key.out")"
tr -d '\r' <"$tmp/key.out" | sed -n 1p >"$tmp/station.keys"
proof=${proofs[0]}
wine "$installDir/orvctl.exe" ledger verify-proof "$(winPath "$proof")" --trusted "$(winPath "$tmp/station.keys")" \
    >"$tmp/proof.out" 2>&1 || fail "verify-proof refused ${proof##*/} ($?): $(cat "$tmp/proof.out")"
# The altered copy: one character of the inclusion proof's first hash (the line after "index").
awk 'hash && !done { c = substr($0, 1, 1) == "A" ? "B" : "A"; $0 = c substr($0, 2); done = 1 }
    { hash = /^index /; print }' "$proof" >"$tmp/altered.tlog-proof"
! cmp -s "$proof" "$tmp/altered.tlog-proof" || fail "${proof##*/} has no hash after its index line to alter"
status=0
wine "$installDir/orvctl.exe" ledger verify-proof "$(winPath "$tmp/altered.tlog-proof")" \
    --trusted "$(winPath "$tmp/station.keys")" >"$tmp/altered.out" 2>&1 || status=$?
((status == 5)) || fail "verify-proof exited with $status for an altered proof: $(cat "$tmp/altered.out")"
say "verify-proof: ${proof##*/} holds with the station's key $(cut -d+ -f1-2 "$tmp/station.keys"), an altered copy exits 5"

begin "orv-remember-login prepares a folder with a Chinese name"
demoFolder=$work/演示
mkdir -p "$demoFolder"
wine "$bin/orv-remember-login.exe" "$(winPath "$demoFolder")" 127.0.0.1 admin wrenq 0 >"$tmp/remember.out" 2>&1 ||
    fail "orv-remember-login failed on $(winPath "$demoFolder"): $(cat "$tmp/remember.out")"
[[ -f $demoFolder/orv_setup.ini ]] || fail "orv-remember-login wrote no orv_setup.ini into 演示"

if [[ ${options[*]} == --docs ]]; then
    cp "$results"/screenshot-windows-zh-{console,searchtool}.png "$here/docs/"
fi
