#!/usr/bin/env bash
# Secrets at rest: orvctl and the search tool run as a user whose umask is 022, in a HOME of their
# own, over simulated cameras on loopback. Afterwards every file and folder they wrote is walked,
# and none that holds a secret (a password the run used, a private key, the station's key, its
# witness file, its spool) may be readable or writable by group or others.
# Only loopback addresses are contacted.
# Usage: secrets_walk_test.sh BIN_FOLDER
set -euo pipefail

BIN=${1:?usage: secrets_walk_test.sh BIN_FOLDER}
WORK=$(mktemp -d /tmp/orv-secrets-walk-XXXXXX)
PIDS=()
cleanup() {
    local pid
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

umask 022
export HOME="$WORK/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
export XDG_RUNTIME_DIR="$WORK/runtime"
export QT_QPA_PLATFORM=offscreen
unset ORV_STATION_FOLDER ORV_MACHINE_SETTINGS ORV_CAMERA_ADDRESSES
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 0700 "$XDG_RUNTIME_DIR"
OUT="$HOME/work" # where the operator keeps setups, inventories and exports
mkdir -p "$OUT"

WIFI_SECRET=walk-wifi-8Qe2
APN_SECRET=walk-apn-5Tz9
CAMERAS=(127.82.0.1 127.82.0.2)
for n in "${!CAMERAS[@]}"; do
    "$BIN/orv-camsim" --listen "${CAMERAS[$n]}" --sdk-port $((24000 + n)) --device-id "WALK-CAM-$((n + 1))" \
        >"$WORK/camera-$n.log" 2>&1 &
    PIDS+=($!)
done
for n in "${!CAMERAS[@]}"; do
    for _ in $(seq 100); do
        grep -q "listening on" "$WORK/camera-$n.log" && break
        sleep 0.05
    done
done
cat >"$WORK/setup.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<root>
    <wifi ssid="Walk Unit" password="$WIFI_SECRET"/>
    <net4g apn="walk.apn" user="walker" password="$APN_SECRET"/>
</root>
EOF
cp "$WORK/setup.xml" "$OUT/setup.xml"

# orvctl: a fleet run with its inventory, a device-id export, the station's key, checkpoint,
# witness file and a custody report.
"$BIN/orvctl" --poll-ms 50 provision "$OUT/setup.xml" --all --address "${CAMERAS[0]}" --address "${CAMERAS[1]}" \
    --count 2 --inventory "$OUT/orvctl-inventory.csv" >"$WORK/out" 2>&1 || {
    cat "$WORK/out"
    fail "orvctl provision"
}
"$BIN/orvctl" --ip "${CAMERAS[0]}" export-id "$OUT/ids.txt" >>"$WORK/out" 2>&1 || fail "orvctl export-id"
"$BIN/orvctl" ledger key >>"$WORK/out" 2>&1 || fail "orvctl ledger key"
"$BIN/orvctl" ledger key witness >>"$WORK/out" 2>&1 || fail "orvctl ledger key witness"
"$BIN/orvctl" ledger verify >>"$WORK/out" 2>&1 || fail "orvctl ledger verify: $(cat "$WORK/out")"
"$BIN/orvctl" ledger report --device WALK-CAM-1 --pdf "$OUT/custody.pdf" >>"$WORK/out" 2>&1 || fail "orvctl ledger report"
"$BIN/orvctl" ledger export "$OUT/ledger.jsonl" >>"$WORK/out" 2>&1 || fail "orvctl ledger export"

# The search tool, unattended: its settings, its window file, its inventory, the same ledger.
timeout 120 "$BIN/SearchTool" --address "${CAMERAS[0]},${CAMERAS[1]}" --setup "$OUT/setup.xml" \
    --inventory "$OUT/search-inventory.csv" --apply-all-when 2 --close-when-done >"$WORK/search.log" 2>&1 || {
    cat "$WORK/search.log"
    fail "the search tool's unattended run"
}

# The walk. What holds a secret: the passwords this run used, a private key, or the station's own
# key, witness file and spool by name.
holdsSecret() {
    local file=$1
    case $(basename "$file") in
        orv_station.key* | orv_witness* | orv_spool-* | *.key) return 0 ;;
    esac
    grep -aqE -e "$WIFI_SECRET|$APN_SECRET|PRIVATE KEY|admin.*wrenq" "$file" 2>/dev/null
}
walked=0
bad=()
while IFS= read -r -d '' path; do
    [[ $path == "$OUT/setup.xml" ]] && continue # the test's own copy, made with umask 022
    walked=$((walked + 1))
    mode=$(stat -c %a "$path")
    if [[ -f $path ]] && holdsSecret "$path" && ((0$mode & 077)); then
        bad+=("$mode $path")
    fi
done < <(find "$HOME" -mindepth 1 -print0)
# A folder of OrvCamera's own that holds keys must not be listable by others either.
while IFS= read -r -d '' folder; do
    mode=$(stat -c %a "$folder")
    ((0$mode & 077)) && bad+=("$mode $folder (the station's folder)")
done < <(find "$HOME" -type d -iname 'orvcamera*' -print0)

echo "walked $walked paths under HOME"
find "$HOME" -mindepth 1 -printf '%m %p\n' | sed "s|$HOME|~|" | sort -k2
((walked > 8)) || fail "the programs wrote almost nothing; the walk proves nothing"
if ((${#bad[@]})); then
    printf 'readable by others, holding a secret: %s\n' "${bad[@]}"
    fail "${#bad[@]} secret(s) readable by others"
fi
echo "PASS: no file holding a secret is readable by others"
