#!/usr/bin/env bash
# A disk that fills at the end of a shift: a small file system of the test's own (small_disk_run.sh
# mounts it) filled to the last byte while orvctl writes each of its files there: a new inventory,
# an inventory row, a ledger file, a device-id export, a custody report, the station's witness file
# and its spool for a shared database.
# Each gives a clear message naming the file; a file that existed is byte for byte as it was; none
# is left behind half made; nothing is sent to the camera before its inventory can be written and
# while its ledger's disk has no room for the outcome. Once space is freed the same step succeeds.
# Needs root and unshare(1); skips (exit 77) elsewhere. Only loopback addresses are contacted.
# Usage: disk_full_test.sh BIN_FOLDER
set -euo pipefail

BIN=${1:?usage: disk_full_test.sh BIN_FOLDER}
if [[ -z ${ORV_SMALL_DISK:-} ]]; then
    exec "$(dirname "$0")/small_disk_run.sh" "$0" "$@"
fi

SMALL=$ORV_SMALL_DISK
WORK=$(mktemp -d /tmp/orv-disk-full-XXXXXX)
export XDG_DATA_HOME="$WORK/data" # the default ledger and the station's files: on a disk with room
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
    echo "--- last output"; cat "$WORK/out" "$WORK/err" 2>/dev/null || true
    exit 1
}
fill() { dd if=/dev/zero of="$SMALL/filler" bs=4k >/dev/null 2>&1 || true; sync; }
makeRoom() { rm -f "$SMALL/filler"; }
# fillLeaving KB: full but for KB kilobytes.
fillLeaving() {
    dd if=/dev/zero of="$SMALL/spare" bs=1k count="$1" >/dev/null 2>&1
    fill
    rm -f "$SMALL/spare"
}
# run ARGS...: orvctl against the camera; output in $WORK/out and $WORK/err, exit status in $ran.
run() {
    ran=0
    "$BIN/orvctl" --ip "$CAMERA" --timeout-ms 3000 "$@" >"$WORK/out" 2>"$WORK/err" || ran=$?
}
ssid() { "$BIN/orvctl" --ip "$CAMERA" get wifi | sed -n 's/^wifi.ssid=//p'; }

CAMERA=127.81.0.1
"$BIN/orv-camsim" --listen "$CAMERA" --device-id FULL-CAM-1 >"$WORK/camera.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do
    grep -q "listening on" "$WORK/camera.log" && break
    sleep 0.05
done
cp "$(dirname "$0")/../data/fleet/unit-setup.xml" "$WORK/setup.xml"
provision() { run --poll-ms 50 provision "$WORK/setup.xml" --all --address "$CAMERA" --count 1 --inventory "$SMALL/inv.csv"; }

# A new inventory on a full disk: refused before anything is sent, and not left behind empty.
before=$(ssid)
fill
provision
((ran != 0)) || fail "provision with no room for its inventory exited 0"
grep -q "inventory $SMALL/inv.csv: .*nothing was sent" "$WORK/err" || fail "the message does not name the inventory"
[[ ! -e $SMALL/inv.csv ]] || fail "an inventory whose header did not fit was left behind ($(wc -c <"$SMALL/inv.csv") bytes)"
[[ $(ssid) == "$before" ]] || fail "the camera was sent its setup"
makeRoom
provision
((ran == 0)) || fail "provision after room was made exited $ran"
[[ $(wc -l <"$SMALL/inv.csv") == 2 ]] || fail "the inventory after room was made: $(cat "$SMALL/inv.csv")"
echo "a new inventory: refused on a full disk, nothing sent, no file left; written once there was room"

# An inventory row on a full disk: the file stays byte for byte as it was, the outcome says so.
# The file is first made to end 10 bytes before a page's end (tmpfs keeps whole pages: a row that
# fits in the last page's slack takes no room) with a row of another camera, so that the next row
# is written in part (its first 10 bytes) before the disk refuses the rest.
padStart="2026-03-05 14:07:09,127.81.0.9,PAD-CAM,P,ok,"
padEnd=$',0\r\n'
pad=$((4086 - $(stat -c %s "$SMALL/inv.csv") - ${#padStart} - ${#padEnd}))
printf '%s%s%s' "$padStart" "$(head -c "$pad" /dev/zero | tr '\0' x)" "$padEnd" >>"$SMALL/inv.csv"
[[ $(stat -c %s "$SMALL/inv.csv") == 4086 ]] || fail "the inventory could not be made to end before a page's end"
cp "$SMALL/inv.csv" "$WORK/inv.before"
fill
provision
((ran != 0)) || fail "provision whose row did not fit exited 0"
grep -q "(not recorded)" "$WORK/out" || fail "the camera's line does not say its row was not recorded"
cmp -s "$SMALL/inv.csv" "$WORK/inv.before" || fail "the inventory changed: $(tail -c 200 "$SMALL/inv.csv" | od -c | tail -3)"
makeRoom
provision
((ran == 0)) || fail "provision after room was made exited $ran"
[[ $(wc -l <"$SMALL/inv.csv") == 4 ]] || fail "the row was not appended once there was room"
echo "an inventory row: the file unchanged on a full disk, the camera's line says so; appended once there was room"

# A ledger file on a full disk, and on one with less than the 1 MB kept for outcomes: no camera is
# set whose outcome it has no room for; said (a full disk not as a damaged file), the ledger
# intact; recorded once there is room.
run --ledger "$SMALL/ledger.db" set wifi ssid=Before
((ran == 0)) || fail "set into a new ledger file exited $ran: $(cat "$WORK/err")"
fill
run --ledger "$SMALL/ledger.db" set wifi ssid=Full
((ran != 0)) || fail "set into a ledger file on a full disk exited 0"
grep -q "ledger $SMALL/ledger.db: cannot open it: .* (is its disk full?); it is left as it is; nothing was sent" \
    "$WORK/err" || fail "the message does not name the ledger file and its disk: $(cat "$WORK/err")"
[[ $(ssid) == Before ]] || fail "the camera was set though its outcome had no room"
makeRoom
fillLeaving 256
run --ledger "$SMALL/ledger.db" set wifi ssid=NearlyFull
((ran != 0)) || fail "set whose outcome had too little room exited 0"
grep -q "ledger $SMALL/ledger.db: its disk has [0-9]* KB free, fewer than the 1024 KB kept for the outcomes of the cameras to come; nothing was sent" \
    "$WORK/err" || fail "the message does not say the ledger's disk has too little room: $(cat "$WORK/err")"
[[ $(ssid) == Before ]] || fail "the camera was set though its outcome had too little room"
makeRoom
run --ledger "$SMALL/ledger.db" ledger verify
((ran == 0)) || fail "the ledger does not verify after a full disk: $(cat "$WORK/out" "$WORK/err")"
run --ledger "$SMALL/ledger.db" set wifi ssid=After
((ran == 0)) || fail "set after room was made exited $ran"
run --ledger "$SMALL/ledger.db" ledger verify
grep -q "^intact: 2 events" "$WORK/out" || fail "ledger verify: $(cat "$WORK/out")"
echo "a ledger file: on a full disk no camera set, said, the ledger intact; recorded once there was room"

# A device-id export and a custody report: the old export byte for byte, no report or proofs left.
run export-id "$SMALL/ids.txt"
((ran == 0)) || fail "export-id exited $ran"
# Made to end 10 bytes before a page's end, as the inventory above: a line of another id.
need=$((4086 - $(stat -c %s "$SMALL/ids.txt") - 4))
{ head -c $((need / 2)) /dev/zero | tr '\0' X | sed 's/./&\x00/g'; printf '\r\0\n\0'; } >>"$SMALL/ids.txt"
[[ $(stat -c %s "$SMALL/ids.txt") == 4086 ]] || fail "the export could not be made to end before a page's end"
cp "$SMALL/ids.txt" "$WORK/ids.before"
fill
run export-id "$SMALL/ids.txt"
((ran != 0)) || fail "export-id with no room exited 0"
grep -q "$SMALL/ids.txt" "$WORK/err" || fail "the message does not name the export"
cmp -s "$SMALL/ids.txt" "$WORK/ids.before" || fail "the export changed"
run ledger report --device FULL-CAM-1 --pdf "$SMALL/report.pdf"
((ran != 0)) || fail "a report with no room exited 0"
[[ ! -e $SMALL/report.pdf && ! -e $SMALL/report.pdf.proofs ]] || fail "a report or its proofs were left on a full disk"
[[ -z $(find "$SMALL" -name '*.tmp*' -o -name '.orv*' 2>/dev/null) ]] || fail "temporary files left: $(ls -a "$SMALL")"
makeRoom
run export-id "$SMALL/ids.txt"
((ran == 0)) || fail "export-id after room was made exited $ran"
run ledger report --device FULL-CAM-1 --pdf "$SMALL/report.pdf"
((ran == 0)) || fail "the report after room was made exited $ran: $(cat "$WORK/err")"
[[ -s $SMALL/report.pdf ]] || fail "no report once there was room"
echo "an export and a report: nothing changed or left on a full disk; written once there was room"
# The station's witness file on a full disk. Its folder is on the small disk; sets with room
# first, until the file ends so near a page's end that the next checkpoint's line needs a new page.
export ORV_STATION_FOLDER="$SMALL/station"
WITNESS=$ORV_STATION_FOLDER/orv_witness.txt
run --ledger "$WORK/station.db" set wifi ssid=W0
((ran == 0)) || fail "a set that starts the station exited $ran: $(cat "$WORK/err")"
for n in $(seq 20); do
    (($(stat -c %s "$WITNESS") % 4096 > 3396)) && break
    run --ledger "$WORK/station.db" set wifi ssid="W$n"
done
(($(stat -c %s "$WITNESS") % 4096 > 3396)) || fail "the witness file could not be brought near a page's end"
cp "$WITNESS" "$WORK/witness.before"
fill
run --ledger "$WORK/station.db" set wifi ssid=WitnessFull
((ran != 0)) || fail "a set whose checkpoint could not be kept exited 0"
grep -q "witness file $WITNESS: cannot be written" "$WORK/err" || fail "the message does not name the witness file: $(cat "$WORK/err")"
cmp -s "$WITNESS" "$WORK/witness.before" || fail "the witness file changed on a full disk"
makeRoom
run --ledger "$WORK/station.db" set wifi ssid=WitnessAfter
((ran == 0)) || fail "a set after room was made exited $ran: $(cat "$WORK/err")"
run --ledger "$WORK/station.db" ledger verify
((ran == 0)) || fail "ledger verify after the witness file's full disk: $(cat "$WORK/out" "$WORK/err")"
echo "the witness file: said on a full disk, kept as it was; the next checkpoint kept once there was room"

# The station's spool for a shared database, new on a full disk: nothing sent, no spool left
# behind (an empty one would be taken for a damaged spool at the next start). No database is
# contacted: the spool comes first.
before=$(ssid)
fill
run --ledger "host=127.0.0.1 port=1 dbname=orv user=station connect_timeout=2" set wifi ssid=SpoolFull
((ran != 0)) || fail "a set with no room for the spool exited 0"
grep -q "spool $ORV_STATION_FOLDER/orv_spool-[0-9a-f]*.db: cannot create it: database or disk is full; nothing was sent" \
    "$WORK/err" || fail "the message does not name the spool: $(cat "$WORK/err")"
[[ $(ssid) == "$before" ]] || fail "the camera was sent the set"
[[ -z $(find "$ORV_STATION_FOLDER" -name 'orv_spool-*') ]] || fail "a spool was left behind: $(ls -l "$ORV_STATION_FOLDER")"
makeRoom
echo "the spool: on a full disk nothing sent and no spool left behind"
unset ORV_STATION_FOLDER
echo "PASS: every file said, kept whole or not made on a full disk, and written once there was room"
