#!/bin/sh
# Runs one Windows program of the cross build under Wine, without a display and without Wine's
# debug chatter, and passes its exit status on.
#   cmake/wine-run.sh WINEPREFIX PROGRAM.exe [ARGUMENTS...]
set -eu
if [ $# -lt 2 ]; then
    echo "usage: $0 WINEPREFIX PROGRAM.exe [ARGUMENTS...]" >&2
    exit 2
fi
WINEPREFIX=$1
shift
export WINEPREFIX
export WINEDEBUG=-all
# Headless unless the caller provides an X display (ORV_WINE_DISPLAY, the Xvfb of
# scripts/test-windows.sh) for the tests that need real windows. Every program of the prefix gets
# it then: Wine's desktop process, started by the first one, serves the windows of all of them.
# Qt's offscreen platform (WINEQT_QPA_PLATFORM) keeps the other tests off the display all the same.
unset WAYLAND_DISPLAY
if [ -n "${ORV_WINE_DISPLAY:-}" ]; then
    export DISPLAY="$ORV_WINE_DISPLAY"
else
    unset DISPLAY
fi
# No desktop integration, no Gecko/Mono install prompts: nothing of that is needed to run tests.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}"

# Wine's server and its system processes (services.exe and friends) take seconds to start, so a
# server that outlives each program for a while lets the next test start in a fraction of that.
# They are started here, detached from this program's output: a system process started by the
# test program itself would keep the test's stderr open, and ctest would wait for it to end.
# The lock makes parallel tests set up the prefix and start the server only once.
mkdir -p "$WINEPREFIX"
(
    flock 9
    if [ ! -f "$WINEPREFIX/.orv-prefix-ready" ]; then
        wineserver -p"${ORV_WINESERVER_LINGER:-30}" </dev/null >/dev/null 2>&1 9>&- || true
        wineboot --init </dev/null >/dev/null 2>&1 9>&-
        touch "$WINEPREFIX/.orv-prefix-ready"
    elif wineserver -p"${ORV_WINESERVER_LINGER:-30}" </dev/null >/dev/null 2>&1 9>&-; then
        wineboot </dev/null >/dev/null 2>&1 9>&- || true
    fi
) 9>"$WINEPREFIX.lock"
# A program that opens a window makes Wine start its desktop process (explorer.exe), which
# inherits the program's output and outlives it; ctest would wait for that process to end before
# it counts the test as finished. So the output goes through a file, shown once the program ends.
output=$(mktemp)
trap 'rm -f "$output"' EXIT
status=0
wine "$@" >"$output" 2>&1 || status=$?
cat "$output"
exit "$status"
