#!/usr/bin/env bash
# Many cameras on Windows, under Wine: the shipped orvctl.exe and SearchTool.exe (from the portable
# zip) in a network namespace that plays the computer, each simulated camera in a namespace of its
# own behind a veth pair, every camera at 198.51.100.158, every host end in 198.51.100.0/24, as
# cameras plugged in by USB are.
#   - orvctl.exe scan finds the four, each by the adapter GetAdaptersAddresses names, each through
#     the interface index it gives;
#   - orvctl.exe provision --all --roster (a GBK roster with Chinese names) gives each its officer;
#     the camera whose pair is pulled out during the run is recorded as failed, and a fifth plugged
#     in later is set up;
#   - SearchTool.exe --apply-all-when 4 --close-when-done sets up the four left after one pair is
#     pulled out, one of them plugged in again into another port while the tool is watching (a new
#     adapter name and index). Plugged in again under its old name it cannot be shown here: Wine
#     keeps listing the adapter that went under its old index, with the address of the new one,
#     and lists the new index without an address.
# Windows sends a TCP connection out through the interface that IP_UNICAST_IF names; Linux does so
# only for UDP, so the test preloads tests/netns/tcp_unicast_if.c into Wine, which binds such a
# socket to that interface as Windows would. What the test proves is that the Windows programs find
# the adapters and give each socket the right index: the binding itself is Windows' own. A first
# scan without the layer shows why it is needed (plain Wine reaches one camera through every adapter).
# Needs root. Only the namespaces made here are contacted; they are removed however the test ends.
#   scripts/test-windows-fleet.sh [BUILD_DIR] [LINUX_BIN_DIR]
# BUILD_DIR is a packaged Windows build (default build-ci-windows); LINUX_BIN_DIR holds the Linux
# orv-camsim for the cameras (default build-ci/bin).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$here/build-ci-windows}")
linuxBin=$(realpath -m "${2:-$here/build-ci/bin}")
camera=198.51.100.158
tag=ow$$ # interface names stay under 16 characters
started=$SECONDS

say() { echo "windows-fleet: $*"; }
step="start"
fail() {
    echo "windows-fleet: FAILED in step \"$step\": $*" >&2
    exit 1
}
begin() {
    step=$1
    say "-- $step ($((SECONDS - started)) s)"
}

"$here/scripts/setup.sh" --windows
[[ $EUID -eq 0 ]] || fail "network namespaces need root"
[[ -x $linuxBin/orv-camsim ]] || fail "no Linux orv-camsim in $linuxBin"
shopt -s nullglob
zips=("$build"/package/OrvCamera-*-portable.zip)
shopt -u nullglob
((${#zips[@]} == 1)) || fail "expected one OrvCamera-*-portable.zip in $build/package (scripts/package-windows.sh $build)"

work=$(mktemp -d "${TMPDIR:-/tmp}/orv-winfleet.XXXXXX")
results=$build/e2e-fleet
rm -rf "$results" && mkdir -p "$results"
pc=$tag-pc
namespaces=()
pids=()
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
    local status=$? pid ns
    cp "$work"/*.log "$work"/*.out "$work"/*.csv "$results/" 2>/dev/null || true
    if ((${#namespaces[@]} > 0)); then
        ip netns exec "$pc" wineserver -k >/dev/null 2>&1 || true
    fi
    for pid in "${pids[@]}" $(jobs -p); do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    # Deleting a camera's namespace takes its end of the pair, and with it the computer's end.
    for ns in "${namespaces[@]}"; do ip netns del "$ns" 2>/dev/null || true; done
    rm -rf "$work"
    if ((status == 0)); then
        say "passed in $((SECONDS - started)) s"
    else
        say "failed after $((SECONDS - started)) s (exit status $status); logs in $results"
    fi
}
trap cleanup EXIT

begin "the computer and four cameras"
ip netns add "$pc"
namespaces+=("$pc")
ip -n "$pc" link set lo up
# Every host end holds an address in the same /24, so a camera's answer may come in on any of them:
# strict reverse-path filtering would drop it. This is the namespace's own setting.
ip netns exec "$pc" sysctl -qw net.ipv4.conf.all.rp_filter=2 net.ipv4.conf.default.rp_filter=2
inPc() { ip netns exec "$pc" "$@"; }

# plugIn N [ADAPTER]: the pair of camera N, its host end ADAPTER (default $tag-hN) at 198.51.100.N.
plugIn() {
    local n=$1 adapter=${2:-$tag-h$1}
    ip -n "$pc" link add "$adapter" type veth peer name eth0 netns "$tag-c$n"
    ip -n "$pc" addr add "198.51.100.$n/24" dev "$adapter"
    ip -n "$pc" link set "$adapter" up
    ip -n "$tag-c$n" addr add "$camera/24" dev eth0
    ip -n "$tag-c$n" link set eth0 up
}
# pullOut N: the pair goes; the camera keeps running in its namespace, as a camera on its battery.
pullOut() { ip -n "$pc" link del "$tag-h$1"; }
interfaceIndex() { ip -n "$pc" -o link show "${2:-$tag-h$1}" | cut -d: -f1; }
# addCamera N [REPLY_DELAY_MS]: namespace $tag-cN with camera NS-CAM-N, plugged in.
addCamera() {
    local n=$1 delay=${2:-20}
    ip netns add "$tag-c$n"
    namespaces+=("$tag-c$n")
    ip -n "$tag-c$n" link set lo up
    plugIn "$n"
    ip netns exec "$tag-c$n" "$linuxBin/orv-camsim" --listen "$camera" --device-id "NS-CAM-$n" \
        --reply-delay-ms "$delay" --one-connection --verbose --state "$work/camera$n.state" >"$work/camera$n.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        grep -q "listening on" "$work/camera$n.log" && return 0
        sleep 0.05
    done
    fail "camera $n did not start: $(cat "$work/camera$n.log")"
}
for n in 1 2 3; do addCamera "$n"; done
addCamera 4 300 # slow enough to be pulled out in the middle of its run

begin "the programs as shipped, and the layer that binds TCP as Windows does"
# The search tool is a window: an X display of its own (the package has Qt's Windows platform only).
exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
read -r -t 20 -u "$displayfd" displayNumber || fail "Xvfb did not start"
export DISPLAY=:$displayNumber
unzip -q "${zips[0]}" -d "$work"
programs=$work/OrvCamera
[[ -f $programs/orvctl.exe && -f $programs/SearchTool.exe ]] || fail "the portable zip lacks orvctl.exe or SearchTool.exe"
layer=$work/tcp_unicast_if.so
cc -shared -fPIC -O2 -Wall -Wextra -Werror -o "$layer" "$here/tests/netns/tcp_unicast_if.c" -ldl ||
    fail "cannot build the test layer"
mkdir -p "$WINEPREFIX"
# The server is started inside the computer's namespace: Wine makes its sockets there.
inPc wineserver -p60
inPc wineboot --init >/dev/null 2>&1 || fail "wineboot --init failed"
# wine PROGRAM ARGS...: a shipped program in the computer's namespace, with the layer.
winPath() { inPc winepath -w "$1" 2>/dev/null | tr -d '\r'; }
wineWithLayer() { inPc env LD_PRELOAD="$layer" ORV_UNICAST_IF_TRACE=1 wine "$@"; }
interfaces() {
    local n args=()
    for n in "$@"; do args+=(--interface "$tag-h$n"); done
    echo "${args[@]}"
}
# The indexes the layer bound sockets to, from a program's standard error.
boundIndexes() { sed -n 's/^tcp_unicast_if: stream socket [0-9]* bound to interface \([0-9]*\)$/\1/p' "$1" | sort -un; }
devicesIn() { sed -n "s/^[^ ]* $camera  device \(NS-CAM-[0-9]*\) .*/\1/p" "$1" | tr -d '\r' | sort -u | xargs; }

begin "orvctl.exe scan"
# Every adapter GetAdaptersAddresses lists, none named: those in the camera's /24 are chosen.
wineWithLayer "$programs/orvctl.exe" --ip "$camera" scan >"$work/scan.out" 2>"$work/scan.log" ||
    fail "scan failed: $(cat "$work/scan.out" "$work/scan.log")"
tr -d '\r' <"$work/scan.out" >"$work/scan.txt"
for n in 1 2 3 4; do
    grep -q "^$tag-h$n $camera  device NS-CAM-$n " "$work/scan.txt" ||
        fail "scan: camera $n is not found behind $tag-h$n: $(cat "$work/scan.txt")"
done
grep -q "^4 cameras found" "$work/scan.txt" || fail "scan: $(cat "$work/scan.txt")"
want=$(for n in 1 2 3 4; do interfaceIndex "$n"; done | sort -un | xargs)
got=$(boundIndexes "$work/scan.log" | xargs)
[[ $got == "$want" ]] || fail "scan bound its sockets to the interfaces $got, not $want"
say "four cameras, each through its own adapter (indexes $got)"

begin "orvctl.exe provision --all with a GBK roster"
# The unit's setup, the same as the Linux namespace test's.
cp "$here/tests/data/fleet/unit-setup.xml" "$work/setup.xml"
names=(- 张三 李四 王五 赵六 孙七)
{
    echo "device_id,police_id,police_name,company_id,company_name"
    for n in 1 2 3 4 5; do echo "NS-CAM-$n,P-00$n,${names[n]},U1,一中队"; done
} | iconv -f UTF-8 -t GBK >"$work/roster.csv"
touch "$work/provision.out" "$work/provision.log"
# Windows paths are worked out before a program starts in the background.
setupFile=$(winPath "$work/setup.xml")
rosterFile=$(winPath "$work/roster.csv")
inventoryFile=$(winPath "$work/inventory.csv")
# shellcheck disable=SC2046
wineWithLayer "$programs/orvctl.exe" --ip "$camera" --timeout-ms 1500 --poll-ms 200 provision "$setupFile" --all \
    $(interfaces 1 2 3 4 5) --roster "$rosterFile" --inventory "$inventoryFile" --count 5 \
    >"$work/provision.out" 2>"$work/provision.log" &
orvctl=$!
pids+=("$orvctl")
waitForLine() { # waitForLine FILE PATTERN
    for _ in $(seq 1200); do
        tr -d '\r' <"$1" | grep -q "$2" && return 0
        sleep 0.05
    done
    fail "no \"$2\" in $(basename "$1"): $(cat "$1")"
}
waitForLine "$work/provision.out" "$tag-h4 $camera: device NS-CAM-4: sent uidentify"
pullOut 4
waitForLine "$work/provision.out" "$tag-h3 $camera: device NS-CAM-3, officer P-003: ok"
addCamera 5 # plugged in later
wait "$orvctl" && code=0 || code=$?
[[ $code == 4 ]] || fail "provision --all exited with $code, not 4 (one camera unreachable): $(cat "$work/provision.out")"
tr -d '\r' <"$work/inventory.csv" >"$work/inventory.txt"
for n in 1 2 3 5; do
    grep -q ",$tag-h$n $camera,NS-CAM-$n,P-00$n,ok,,-\?[0-9]\+\$" "$work/inventory.txt" ||
        fail "camera $n has no ok row with its officer: $(cat "$work/inventory.txt")"
    # The camera keeps what it was sent; its state file holds text as UTF-8.
    grep -q "\"${names[n]}\"" "$work/camera$n.state" || fail "camera $n does not hold the name ${names[n]}"
    grep -q '"一中队"' "$work/camera$n.state" || fail "camera $n does not hold the unit 一中队"
done
grep -q ",$tag-h4 $camera,NS-CAM-4,[^,]*,failed: " "$work/inventory.txt" || fail "camera 4 is not recorded as failed"
[[ $(wc -l <"$work/inventory.txt") == 6 ]] || fail "not one row per camera: $(cat "$work/inventory.txt")"
say "four cameras set with their officers from the GBK roster, the one pulled out recorded as failed"

begin "SearchTool.exe sets the four left, one plugged in again under a new index"
# Camera 4 was pulled out above; camera 1 is pulled out now and plugged in again, into another port
# (a new adapter name and index), while the tool watches every adapter in the camera's /24.
oldIndex=$(interfaceIndex 1)
pullOut 1
relief=(- 周一 吴二 郑三 - 冯五)
{
    echo "device_id,police_id,police_name,company_id,company_name"
    for n in 1 2 3 5; do echo "NS-CAM-$n,Q-00$n,${relief[n]},U2,二中队"; done
} | iconv -f UTF-8 -t GBK >"$work/relief.csv"
connectedBefore=()
for n in 2 3 5; do connectedBefore[n]=$(grep -c "client connected" "$work/camera$n.log"); done
reliefFile=$(winPath "$work/relief.csv")
searchInventory=$(winPath "$work/search.csv")
wineWithLayer "$programs/SearchTool.exe" --camera-address "$camera" --setup "$setupFile" --roster "$reliefFile" \
    --inventory "$searchInventory" --apply-all-when 4 --close-when-done >"$work/search.out" 2>"$work/search.log" &
searchTool=$!
pids+=("$searchTool")
# The tool watches: the cameras behind the adapters present see its identifying logins.
for n in 2 3 5; do
    for _ in $(seq 1800); do
        (($(grep -c "client connected" "$work/camera$n.log") > connectedBefore[n])) && break
        sleep 0.05
    done
    (($(grep -c "client connected" "$work/camera$n.log") > connectedBefore[n])) ||
        fail "the search tool never reached camera $n: $(cat "$work/search.log")"
done
sleep 1
plugIn 1 "$tag-r1"
newIndex=$(interfaceIndex 1 "$tag-r1")
[[ $newIndex != "$oldIndex" ]] || fail "the adapter came back under its old index $oldIndex"
for _ in $(seq 2400); do
    kill -0 "$searchTool" 2>/dev/null || break
    sleep 0.05
done
kill -0 "$searchTool" 2>/dev/null && fail "the search tool did not finish within two minutes: $(cat "$work/search.log")"
wait "$searchTool" && code=0 || code=$?
((code == 0)) || fail "the search tool exited with $code: $(cat "$work/search.log" "$work/search.csv" 2>/dev/null)"
tr -d '\r' <"$work/search.csv" >"$work/search.txt"
for n in 1 2 3 5; do
    adapter=$tag-h$n
    ((n != 1)) || adapter=$tag-r1
    grep -q ",$adapter $camera,NS-CAM-$n,Q-00$n,ok,,-\?[0-9]\+\$" "$work/search.txt" ||
        fail "search tool: camera $n has no ok row behind $adapter with its relief officer: $(cat "$work/search.txt")"
    grep -q "\"${relief[n]}\"" "$work/camera$n.state" || fail "camera $n does not hold the name ${relief[n]}"
done
[[ $(wc -l <"$work/search.txt") == 5 ]] || fail "not one row per camera: $(cat "$work/search.txt")"
boundIndexes "$work/search.log" | grep -qx "$newIndex" ||
    fail "the search tool never bound a socket to the adapter's new index $newIndex: $(boundIndexes "$work/search.log" | xargs)"
say "the search tool set the four left; camera 1 came back behind $tag-r1 as index $newIndex (was $oldIndex) and was used"

begin "one connection per camera"
if grep -H "most at once [2-9]" "$work"/camera*.log; then
    fail "a camera held two connections at once"
fi

# Last, as it makes two connections to one camera: the same four adapters, without the layer.
begin "plain Wine cannot tell the cameras apart"
inPc wine "$programs/orvctl.exe" --ip "$camera" scan >"$work/scan-plain.out" 2>&1 || true
plain=$(devicesIn "$work/scan-plain.out")
[[ $plain != "NS-CAM-1 NS-CAM-2 NS-CAM-3 NS-CAM-5" ]] ||
    fail "without the layer every camera was reached on its own; the test would prove nothing"
say "without the layer: ${plain:-no camera} reached through four adapters"
