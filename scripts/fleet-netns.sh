#!/usr/bin/env bash
# A desk of simulated cameras for trying the fleet code with real interface binding, entirely in
# network namespaces of its own: "orv-pc" plays the computer, "orv-cam1".."orv-camN" one camera
# each, every camera at the factory address 198.51.100.158 and joined to the computer by a veth
# pair (computer side "usbN", 198.51.100.(10+N)/24). The host's own namespace is never touched.
# Needs root.
#   scripts/fleet-netns.sh up N [BIN_DIR]  create the namespaces, start orv-camsim in each camera
#   scripts/fleet-netns.sh run CMD...      run a command in the computer's namespace
#   scripts/fleet-netns.sh down            stop the cameras, remove the namespaces
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
state=${ORV_NETNS_STATE:-/tmp/orv-fleet-netns}
camera=198.51.100.158

up() {
    local count=$1 bin=${2:-$here/build/bin}
    [[ -x $bin/orv-camsim ]] || { echo "no $bin/orv-camsim (build the target orv-camsim)" >&2; exit 1; }
    mkdir -p "$state"
    ip netns add orv-pc
    ip -n orv-pc link set lo up
    for ((n = 1; n <= count; ++n)); do
        ip netns add "orv-cam$n"
        ip -n "orv-cam$n" link set lo up
        # Both ends are made inside the computer's namespace, so neither ever shows on the host.
        ip -n orv-pc link add "usb$n" type veth peer name "cam$n"
        ip -n orv-pc link set "cam$n" netns "orv-cam$n"
        ip -n "orv-cam$n" link set "cam$n" name eth0
        ip -n "orv-cam$n" addr add "$camera/24" dev eth0
        ip -n "orv-cam$n" link set eth0 up
        ip -n orv-pc addr add "198.51.100.$((10 + n))/24" dev "usb$n"
        ip -n orv-pc link set "usb$n" up
        ip netns exec "orv-cam$n" "$bin/orv-camsim" --listen "$camera" --state "$state/cam$n.state" \
            >"$state/cam$n.log" 2>&1 &
        echo $! >"$state/cam$n.pid"
    done
    echo "$count cameras behind usb1..usb$count in namespace orv-pc"
}

down() {
    for pidfile in "$state"/cam*.pid; do
        [[ -e $pidfile ]] || continue
        kill "$(cat "$pidfile")" 2>/dev/null || true
        rm -f "$pidfile"
    done
    for ns in $(ip netns list | awk '$1 ~ /^orv-(pc|cam[0-9]+)$/ {print $1}'); do
        ip netns del "$ns"
    done
}

case "${1:-}" in
    up) shift; up "${1:?how many cameras}" "${2:-}" ;;
    run) shift; exec ip netns exec orv-pc "$@" ;;
    down) down ;;
    *) sed -n '2,10p' "$0" >&2; exit 2 ;;
esac
