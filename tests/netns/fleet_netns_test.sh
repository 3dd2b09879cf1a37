#!/usr/bin/env bash
# Cameras as they are really attached: each in a network namespace of its own behind a veth pair,
# all answering at the same address, the host end of every pair in the same /24 as USB adapters
# are. orvctl scan finds four; provision --all --roster gives each its own officer; the camera
# whose pair is deleted during the run is recorded as failed; a fifth added later is found. Then the
# search tool, unattended, finds the four left and gives each a new officer with one press. Every
# camera refuses a second connection while one is open, and none ever held two.
# Needs root and ip(8); skips (exit 77) elsewhere. Only 198.51.100.0/24 inside the namespaces made
# here is contacted, and they are removed however the test ends.
# Usage: fleet_netns_test.sh BIN_FOLDER (with orvctl and orv-camsim, and SearchTool when built)
set -euo pipefail

BIN=${1:?usage: fleet_netns_test.sh BIN_FOLDER}
CAMERA=198.51.100.158
TAG=of$$ # interface names stay under 16 characters

if [[ $EUID -ne 0 ]] || ! command -v ip >/dev/null; then
    echo "SKIP: the namespace test needs root and ip"
    exit 77
fi
if ! ip netns add "$TAG-try" 2>/dev/null; then
    echo "SKIP: network namespaces cannot be made here"
    exit 77
fi
ip netns del "$TAG-try"

WORK=$(mktemp -d)
# The ledger the programs record to lives with the rest of the run.
export XDG_DATA_HOME="$WORK/data"
PIDS=()
NAMESPACES=()
RP_FILTER=$(sysctl -n net.ipv4.conf.all.rp_filter)
cleanup() {
    local pid ns
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
    for ns in "${NAMESPACES[@]}"; do ip netns del "$ns" 2>/dev/null || true; done
    # Deleting a namespace deletes its end of the pair and with it the host's end.
    for ns in "${NAMESPACES[@]}"; do ip link del "${ns/-c/-h}" 2>/dev/null || true; done
    sysctl -qw net.ipv4.conf.all.rp_filter="$RP_FILTER" || true
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    echo "--- orvctl output"; cat "$WORK/provision.out" 2>/dev/null || true
    echo "--- inventory"; cat "$WORK/inventory.csv" 2>/dev/null || true
    exit 1
}

# Every pair's host end holds an address in the same /24, so the answer to a camera may come in on
# any of them: strict reverse-path filtering would drop it.
if [[ $RP_FILTER == 1 ]]; then
    sysctl -qw net.ipv4.conf.all.rp_filter=2
fi

# addCamera N [REPLY_DELAY_MS]: namespace $TAG-cN with the camera, device id NS-CAM-N, and host end $TAG-hN.
addCamera() {
    local n=$1 delay=${2:-20} ns=$TAG-c$1 host=$TAG-h$1
    ip netns add "$ns"
    NAMESPACES+=("$ns")
    ip link add "$host" type veth peer name eth0 netns "$ns"
    ip addr add "198.51.100.$n/24" dev "$host"
    ip link set "$host" up
    ip netns exec "$ns" ip link set lo up
    ip netns exec "$ns" ip addr add "$CAMERA/24" dev eth0
    ip netns exec "$ns" ip link set eth0 up
    ip netns exec "$ns" "$BIN/orv-camsim" --listen "$CAMERA" --device-id "NS-CAM-$n" --reply-delay-ms "$delay" \
        --one-connection --verbose >"$WORK/camera$n.log" 2>&1 &
    PIDS+=($!)
    # The camera says so once it listens.
    for _ in $(seq 100); do
        grep -q "listening on" "$WORK/camera$n.log" && return 0
        sleep 0.05
    done
    fail "camera $n did not start: $(cat "$WORK/camera$n.log")"
}

interfaces() {
    local n args=()
    for n in "$@"; do args+=(--interface "$TAG-h$n"); done
    echo "${args[@]}"
}

for n in 1 2 3; do addCamera "$n"; done
addCamera 4 300 # slow enough to be pulled out in the middle of its run

# scan: four cameras, each behind its own interface, each with its own device id.
# shellcheck disable=SC2046
"$BIN/orvctl" --ip "$CAMERA" scan $(interfaces 1 2 3 4) >"$WORK/scan.out" || fail "scan failed"
for n in 1 2 3 4; do
    grep -q "^$TAG-h$n $CAMERA  device NS-CAM-$n " "$WORK/scan.out" || fail "scan: camera $n missing: $(cat "$WORK/scan.out")"
done
grep -q "^4 cameras found" "$WORK/scan.out" || fail "scan: $(cat "$WORK/scan.out")"

# The unit's setup, the same for the Windows programs' run (scripts/test-windows-fleet.sh).
cp "$(dirname "$0")/../data/fleet/unit-setup.xml" "$WORK/setup.xml"
{
    echo "device_id,police_id,police_name,company_id,company_name"
    for n in 1 2 3 4 5; do echo "NS-CAM-$n,P-00$n,Officer $n,U1,Harbour Unit"; done
} >"$WORK/roster.csv"

# shellcheck disable=SC2046
"$BIN/orvctl" --ip "$CAMERA" --timeout-ms 1000 --poll-ms 200 provision "$WORK/setup.xml" --all \
    $(interfaces 1 2 3 4 5) --roster "$WORK/roster.csv" --inventory "$WORK/inventory.csv" --count 5 \
    >"$WORK/provision.out" 2>&1 &
ORVCTL=$!
PIDS+=($ORVCTL)

waitFor() { # waitFor PATTERN: a line of orvctl's output
    for _ in $(seq 300); do
        grep -q "$1" "$WORK/provision.out" && return 0
        sleep 0.05
    done
    fail "no \"$1\" from orvctl"
}
waitFor "$TAG-h4 $CAMERA: device NS-CAM-4: sent uidentify"
ip link del "$TAG-h4" # camera 4 pulled out mid-run
waitFor "$TAG-h3 $CAMERA: device NS-CAM-3, officer P-003: ok"
addCamera 5 # plugged in later
wait "$ORVCTL" && code=0 || code=$?
[[ $code == 4 ]] || fail "provision --all exited with $code, not 4 (one camera unreachable)"

for n in 1 2 3 5; do
    grep -q ",$TAG-h$n $CAMERA,NS-CAM-$n,P-00$n,ok,,-\?[0-9]\+\$" <(tr -d '\r' <"$WORK/inventory.csv") ||
        fail "camera $n has no ok row with its officer"
done
grep -q ",$TAG-h4 $CAMERA,NS-CAM-4,[^,]*,failed: " "$WORK/inventory.csv" || fail "camera 4 is not recorded as failed"
[[ $(wc -l <"$WORK/inventory.csv") == 6 ]] || fail "not one row per camera"

# What the cameras hold now, as read through each one's own interface.
# shellcheck disable=SC2046
"$BIN/orvctl" --ip "$CAMERA" scan $(interfaces 1 2 3 5) >"$WORK/scan.out" || fail "scan after the run failed"
for n in 1 2 3 5; do
    grep -q "device NS-CAM-$n  officer P-00$n Officer $n" "$WORK/scan.out" || fail "camera $n: $(cat "$WORK/scan.out")"
done

# The search tool, as a dock station runs it: it watches the interfaces, presses Apply to all
# once the four cameras are ready and closes when they are done.
if [[ -x $BIN/SearchTool ]]; then
    {
        echo "device_id,police_id,police_name,company_id,company_name"
        for n in 1 2 3 5; do echo "NS-CAM-$n,Q-00$n,Relief $n,U2,Relief Unit"; done
    } >"$WORK/relief.csv"
    # shellcheck disable=SC2046
    QT_QPA_PLATFORM=offscreen timeout 60 "$BIN/SearchTool" --camera-address "$CAMERA" $(interfaces 1 2 3 5) \
        --setup "$WORK/setup.xml" --roster "$WORK/relief.csv" --inventory "$WORK/search.csv" \
        --apply-all-when 4 --close-when-done >"$WORK/search.out" 2>&1 ||
        fail "the search tool did not set every camera: $(cat "$WORK/search.out") $(cat "$WORK/search.csv" 2>/dev/null)"
    for n in 1 2 3 5; do
        grep -q ",$TAG-h$n $CAMERA,NS-CAM-$n,Q-00$n,ok,,-\?[0-9]\+\$" <(tr -d '\r' <"$WORK/search.csv") ||
            fail "search tool: camera $n has no ok row with its new officer: $(cat "$WORK/search.csv")"
    done
    # shellcheck disable=SC2046
    "$BIN/orvctl" --ip "$CAMERA" scan $(interfaces 1 2 3 5) >"$WORK/scan.out" || fail "scan after the search tool failed"
    for n in 1 2 3 5; do
        grep -q "device NS-CAM-$n  officer Q-00$n Relief $n" "$WORK/scan.out" || fail "camera $n: $(cat "$WORK/scan.out")"
    done
    echo "the search tool set the four cameras left, each with its relief officer, from one press"
else
    echo "no SearchTool in $BIN: its part is left out"
fi
# Each camera serves one connection and said how many it held: never two at once.
if grep -H "most at once [2-9]" "$WORK"/camera*.log; then
    fail "a camera held two connections at once"
fi
echo "PASS: four cameras at $CAMERA found, each given its own officer, the one pulled out failed, a fifth found"
