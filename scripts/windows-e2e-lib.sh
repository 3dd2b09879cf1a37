# shellcheck shell=bash
# What the end-to-end runs of the packaged Windows programs under Wine share
# (test-windows-e2e.sh, test-windows-zh-e2e.sh, test-windows-msi.sh): the run's messages and
# steps, the network namespace, the Xvfb display, the dialog geometry from the templates the
# programs are built from, the windows on the display, and the simulated camera's frame log.
#   source "$here/scripts/windows-e2e-lib.sh" NAME   (NAME begins every message: e2e, e2e-zh, ...)
# The functions read what the script sets for them: package and build (thePackaged), results
# (endRun), tmp (endRun), camsimLog (the frame log) and installDir (languageSaved).
# shellcheck disable=SC2154

e2eName=${1:?usage: source windows-e2e-lib.sh NAME}
e2eRoot=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
templates=$e2eRoot/res/dialog_templates.cpp

# e2eArguments [--docs] [BUILD_DIR]: the script's arguments: options, --docs (the screenshots go
# into docs/ too) or nothing, and build, the packaged build (build-ci-windows unless named).
# shellcheck disable=SC2034 # options is for the script
e2eArguments() {
    options=()
    if [[ ${1:-} == --docs ]]; then
        options=(--docs)
        shift
    fi
    build=$(realpath -m "${1:-$e2eRoot/build-ci-windows}")
}

# --- the run: its messages and its steps ---------------------------------------------------------
# The seconds count from the first start, before the setup and the network namespace.
started=$((SECONDS - (EPOCHSECONDS - ${ORV_E2E_STARTED:-$EPOCHSECONDS})))
step="start"
say() { echo "$e2eName: $*"; }
fail() {
    echo "$e2eName: FAILED in step \"$step\": $*" >&2
    exit 1
}
begin() {
    step=$1
    say "-- $step ($((SECONDS - started)) s)"
}
# waitFor SECONDS WHAT COMMAND...: polls COMMAND until it succeeds, or fails the step.
waitFor() {
    local limit=$1 what=$2
    shift 2
    local deadline=$((SECONDS + limit))
    until "$@" >/dev/null 2>&1; do
        ((SECONDS < deadline)) || fail "timed out after $limit s waiting for $what"
        sleep 0.2
    done
}

# enterNetworkNamespace [--without-user-namespace] ARGUMENTS...: runs this script again with
# ARGUMENTS in a network namespace of its own with only loopback, so that no keystroke can send
# anything to a real camera address, and refuses to go on outside one. An account that may not
# create the network namespace alone gets a user namespace with it, unless the script has to stay
# the real root (--without-user-namespace).
enterNetworkNamespace() {
    local userNamespace=1
    if [[ ${1:-} == --without-user-namespace ]]; then
        userNamespace=
        shift
    fi
    if unshare --net true 2>/dev/null; then
        ORV_E2E_NETNS=1 exec unshare --net -- bash "$0" "$@"
    elif [[ -n $userNamespace ]] && unshare --user --map-root-user --net true 2>/dev/null; then
        ORV_E2E_NETNS=1 exec unshare --user --map-root-user --net -- bash "$0" "$@"
    fi
    echo "$e2eName: cannot create a network namespace (unshare --net); refusing to drive the console outside one" >&2
    exit 1
}

# thePackaged PATTERN: the one file in the build's package folder that PATTERN (a glob) names, or
# the step fails.
thePackaged() {
    local -a found
    shopt -s nullglob
    # shellcheck disable=SC2206 # PATTERN is a glob, to expand here
    found=("$package"/$1)
    shopt -u nullglob
    ((${#found[@]} == 1)) || fail "expected one $1 in $package (scripts/package-windows.sh $build)"
    echo "${found[0]}"
}
# needFiles FILE...: the step fails unless every FILE is there.
needFiles() {
    local f
    for f in "$@"; do
        [[ -f $f ]] || fail "missing $f"
    done
}

# What Wine runs with: no debug output, no offer to download .NET or the HTML engine, and no menu
# entries on the Unix desktop.
# shellcheck disable=SC2034 # for the scripts' Wine
wineSettings=(WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=")

# An Xvfb display of the run's own; Xvfb picks a free display number and writes it to the pipe.
startDisplay() {
    exec {displayfd}<> <(:)
    Xvfb -displayfd "$displayfd" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    read -r -t 20 -u "$displayfd" displayNumber || fail "Xvfb did not start"
    export DISPLAY=:$displayNumber
}

# The first thing the exit trap does: when the run failed, a screenshot of the whole display into
# the results, as it was when the step failed; and the camera's frame log, once it has one.
keepResults() { # keepResults STATUS
    if (($1 != 0)) && [[ -n ${DISPLAY:-} ]]; then
        xwd -root -silent 2>/dev/null | xwdtopnm 2>/dev/null | pnmtopng >"$results/failure.png" 2>/dev/null || true
    fi
    if [[ -f ${camsimLog:-} ]]; then
        cp "$camsimLog" "$results/camsim.log"
    fi
}
# The last: ends the jobs still running, removes the run's temporary folder and says where the
# results are and how the run went.
endRun() { # endRun STATUS WHAT_THE_RESULTS_HOLD
    local pid
    # Only this script's own jobs still running: Xvfb, and whatever Wine left behind.
    for pid in $(jobs -p); do kill "$pid" 2>/dev/null || true; done
    rm -rf "$tmp"
    say "$2: $results"
    if (($1 == 0)); then
        say "passed in $((SECONDS - started)) s"
    else
        say "failed after $((SECONDS - started)) s (exit status $1)"
    fi
}

# --- dialog geometry, from the templates the programs are built from ----------------------------
# A window under Wine is its client area: pixels = dialog units * window size / template size.
dialogSize() { # dialogSize kConsoleDialog -> "628 373"
    sed -n "s/^ *{$1, u\"[^\"]*\", \([0-9]*\), \([0-9]*\),.*/\1 \2/p" "$templates"
}
controlRect() { # controlRect kConsoleControls 1042 -> "233 174 70 14"
    awk -v block="$1" -v id="$2" '
        index($0, block "{{") { inside = 1; next }
        inside && /^}};/ { exit }
        inside && $0 ~ "^ *\\{" id "," { gsub(/[{},]/, " "); n = split($0, f, " ");
            for (i = 1; i <= n; ++i) if (f[i] ~ /^[0-9]+$/) d[++k] = f[i];
            print d[2], d[3], d[4], d[5]; exit }' "$templates"
}
# clickControl WINDOW DIALOG CONTROLS ID [FRACTION_ACROSS]: one left click on a control, at its
# vertical middle (at most 7 units down: a combo box's template height includes its drop list).
clickControl() {
    local window=$1 dialog=$2 controls=$3 id=$4 across=${5:-0.5}
    local dw dh x y w h WIDTH HEIGHT
    read -r dw dh < <(dialogSize "$dialog")
    read -r x y w h < <(controlRect "$controls" "$id")
    [[ -n ${dw:-} && -n ${x:-} ]] || fail "control $id of $dialog not found in $templates"
    eval "$(xdotool getwindowgeometry --shell "$window")"
    local px py
    px=$(awk -v x="$x" -v w="$w" -v f="$across" -v W="$WIDTH" -v d="$dw" 'BEGIN { printf "%d", (x + w * f) * W / d }')
    py=$(awk -v y="$y" -v h="$h" -v H="$HEIGHT" -v d="$dh" 'BEGIN { m = h / 2; if (m > 7) m = 7; printf "%d", (y + m) * H / d }')
    xdotool mousemove --window "$window" "$px" "$py" click 1
    sleep 0.2
}
# The darkest grey inside a control: black text in it (an enabled caption), grey (a disabled one),
# or nothing but its white background.
controlDarkness() { # controlDarkness WINDOW DIALOG CONTROLS ID
    local window=$1 dw dh x y w h WIDTH HEIGHT
    read -r dw dh < <(dialogSize "$2")
    read -r x y w h < <(controlRect "$3" "$4")
    eval "$(xdotool getwindowgeometry --shell "$window")"
    xwd -id "$window" -silent | xwdtopnm 2>/dev/null |
        pamcut -left $((x * WIDTH / dw + 3)) -top $((y * HEIGHT / dh + 3)) \
            -width $((w * WIDTH / dw - 6)) -height $((h * HEIGHT / dh - 6)) |
        ppmtopgm | pamsumm -min -brief
}
# darkerThan LEVEL WINDOW ID [DIALOG CONTROLS]: the control's darkest grey is below LEVEL (the
# console's main dialog unless named).
darkerThan() { (($(controlDarkness "$2" "${4:-kConsoleDialog}" "${5:-kConsoleControls}" "$3") < $1)); }
# typeLogin WINDOW IP USER PASSWORD: fills in the console's login as an operator types it: the
# camera IP one octet at a time (each is a quarter of the field), the user name, the password.
typeLogin() {
    local window=$1 octet=0 value
    local -a octets
    IFS=. read -ra octets <<<"$2"
    for value in "${octets[@]}"; do
        clickControl "$window" kConsoleDialog kConsoleControls 1071 "0.$((12 + 25 * octet))"
        xdotool key ctrl+a
        xdotool type --delay 60 "$value"
        octet=$((octet + 1))
    done
    clickControl "$window" kConsoleDialog kConsoleControls 1007 # user name
    xdotool key ctrl+a
    xdotool type --delay 40 "$3"
    clickControl "$window" kConsoleDialog kConsoleControls 1008 # password
    xdotool key ctrl+a
    xdotool type --delay 40 "$4"
}

# openGb28181 CONSOLE: opens the console's GB28181 dialog (its window in gb) and has it read the
# camera's GB28181 settings through the SDK with Get.
openGb28181() {
    clickControl "$1" kConsoleDialog kConsoleControls 1089
    waitFor 20 "the GB28181 dialog" windowShown '^GB28181$'
    gb=$(findWindow '^GB28181$')
    sleep 0.3
    clickControl "$gb" kGb28181Dialog kGb28181Controls 1094 # Get
    waitFor 15 "the SDK to read the GB28181 settings" logHas "sdk: get GB28181 record"
}

# --- the windows on the display ------------------------------------------------------------------
findWindow() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1; }
windowShown() { [[ -n $(findWindow "$1") ]]; }
windowGone() { [[ -z $(findWindow "$1") ]]; }
visibleWindows() { xdotool search --onlyvisible --name '.*' 2>/dev/null | wc -l; }
moreVisibleWindowsThan() { (($(visibleWindows) > $1)); }
# focusWindow WINDOW: brings a program's window to the front for the keys and clicks that follow.
focusWindow() {
    xdotool windowactivate --sync "$1" >/dev/null 2>&1 || xdotool windowfocus --sync "$1" || true
    sleep 0.5
}
screenshot() { # screenshot WINDOW FILE.png
    xwd -id "$1" -silent | xwdtopnm 2>/dev/null | pnmtopng >"$2" || fail "cannot take a screenshot into $2"
}

# --- Wine ------------------------------------------------------------------------------------------
winPath() { winepath -w "$1" 2>/dev/null | tr -d '\r'; }
unixPath() { winepath -u "$1" 2>/dev/null | tr -d '\r'; }
processGone() { ! kill -0 "$1" 2>/dev/null; }
languageSaved() { [[ $(sed -n 's/^LangKey=\([0-9]*\).*/\1/p' "$installDir/orv_setup.ini") == "$1" ]]; }
# Qt's DirectWrite and GDI text under Wine leave every line edit blank; FreeType draws them. A
# qt.conf beside the program picks it, a file of the user's own like the SDK.
freetypeText() { # freetypeText PROGRAM_FOLDER
    printf '[Platforms]\r\nWindowsArguments = fontengine=freetype\r\n' >"$1/qt.conf"
}

# --- the simulated camera's frame log --------------------------------------------------------------
logHas() { grep -q -- "$1" "$camsimLog"; }
requestsSeen() { (($(grep -c -- '\] <- ' "$camsimLog") >= $1)); }
requestCount() { grep -c -- '\] <- ' "$camsimLog" || true; }
# The frames the camera received, in hex, one a line. Lines end in CR LF: the camera is a Windows
# program too.
framesReceived() { tr -d '\r' <"$camsimLog" | sed -n 's/^\[[^]]*\] <- //p'; }
# requestName FRAME: the request's command (little-endian word at 10) and, for GetConfig and
# SetConfig, the record type at 12.
requestName() {
    local -a b
    read -ra b <<<"$1"
    case "${b[11]}${b[10]}" in
        030E) echo GetUsers ;;
        030C) echo GetTime ;;
        0380) echo "GetConfig ${b[12]}" ;;
        0381) echo "SetConfig ${b[12]}" ;;
        *) echo "command ${b[11]}${b[10]}" ;;
    esac
}
hexOf() { printf '%s' "$1" | od -An -tx1 | tr 'a-f' 'A-F' | xargs; }
