#!/usr/bin/env bash
# orvctl.exe's ledger under Wine, end to end: orvctl.exe sets a simulated camera (orv-camsim.exe)
# and records each outcome in its own SQLite file (the default under the Wine user's
# %LOCALAPPDATA%\OrvCamera, then --ledger FILE) and in a PostgreSQL database of a server this
# script starts on the Linux side (initdb into a temporary folder as an unprivileged account,
# 127.0.0.1 and a free port, trust for its one role; stopped and removed on every exit). The events
# are read back with `orvctl.exe ledger verify|head|history` and, for PostgreSQL, with psql; an
# event edited behind the ledger's back must make `ledger verify` fail. The evidence under Wine:
# the station's key and witness file in %LOCALAPPDATA%\OrvCamera, a signed checkpoint after each
# command, a proof of one event, the export verified with no database, a ledger file swapped for
# another refused before anything is sent (exit 5), and a database set up by `ledger init-db`
# where the stations' role records but cannot change an event (psql) nor move the head.
#   scripts/test-windows-ledger-e2e.sh [BUILD_DIR [PROGRAM_FOLDER]]
# BUILD_DIR (default build-ci-windows) gives bin/orv-camsim.exe; PROGRAM_FOLDER holds the
# orvctl.exe under test with its DLLs (default BUILD_DIR/bin; scripts/test-windows-e2e.sh passes
# the installed one). A WINEPREFIX from the caller is used as it is; otherwise a fresh one is made
# and removed again. Runs in a network namespace with only loopback (entered here unless the
# caller is in one already: ORV_E2E_NETNS=1).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$here/build-ci-windows}")
programs=$(realpath -m "${2:-$build/bin}")

if [[ -z ${ORV_E2E_NETNS:-} ]]; then
    "$here/scripts/setup.sh" --windows
    if unshare --net true 2>/dev/null; then
        ORV_E2E_NETNS=1 exec unshare --net -- bash "$0" "$build" "$programs"
    fi
    echo "ledger-e2e: cannot create a network namespace (unshare --net); refusing to run outside one" >&2
    exit 1
fi
ip link set lo up

say() { echo "ledger-e2e: $*"; }
fail() {
    echo "ledger-e2e: FAILED: $*" >&2
    exit 1
}

orvctl=$programs/orvctl.exe
camsim=$build/bin/orv-camsim.exe
for f in "$orvctl" "$camsim"; do
    [[ -f $f ]] || fail "missing $f"
done
for dll in libcrypto-3-x64.dll libssl-3-x64.dll libpq.dll sqlite3.dll; do
    [[ -f $programs/$dll ]] || fail "$dll is not beside $orvctl"
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/orv-ledger-e2e.XXXXXX")
address=127.0.0.61
device=ORVE2E0001
pgdir=
pgbin=
serverUser=
camsimPid=
ownPrefix=
if [[ -z ${WINEPREFIX:-} ]]; then
    export WINEPREFIX=$tmp/prefix
    ownPrefix=1
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}"
unset DISPLAY WAYLAND_DISPLAY

asServer() {
    if [[ -n $serverUser ]]; then runuser -u "$serverUser" -- "$@"; else "$@"; fi
}
finish() {
    local status=$?
    if [[ -n $pgdir && -f $pgdir/data/postmaster.pid ]]; then
        asServer "$pgbin/pg_ctl" stop -D "$pgdir/data" -m immediate -w >/dev/null 2>&1 || true
    fi
    if ((status != 0)) && [[ -n $pgdir && -f $pgdir/server.log ]]; then
        tail -n 20 "$pgdir/server.log" >&2 || true
    fi
    if [[ -n $camsimPid ]]; then
        kill "$camsimPid" 2>/dev/null || true
        # Gone before the caller goes on (its own camera listens on the same port elsewhere).
        for ((i = 0; i < 50; ++i)); do
            listening "$address" 19436 || break
            sleep 0.1
        done
    fi
    [[ -n $ownPrefix ]] && wineserver -k >/dev/null 2>&1 || true
    [[ -n $pgdir ]] && rm -rf "$pgdir"
    rm -rf "$tmp"
    if ((status == 0)); then say "passed"; else say "failed (exit status $status)"; fi
}
trap finish EXIT

winPath() { winepath -w "$1" 2>/dev/null | tr -d '\r'; }
unixPath() { winepath -u "$1" 2>/dev/null | tr -d '\r'; }
listening() { [[ -n $(ss -Htln "src $1 and sport = :$2") ]]; }
portFree() { [[ -z $(ss -Htan "sport = :$1") ]]; }
# run NAME ARGS...: orvctl.exe with ARGS; its output (CR LF from a Windows program: CR dropped) in
# $tmp/NAME.out and .err, its exit status in $ran.
ran=0
run() {
    local name=$1
    shift
    ran=0
    wine "$orvctl" "$@" >"$tmp/$name.out" 2>"$tmp/$name.err" </dev/null || ran=$?
    sed -i 's/\r$//' "$tmp/$name.out" "$tmp/$name.err"
}
# expectRun NAME ARGS...: run, and fail unless orvctl.exe exited with 0.
expectRun() {
    run "$@"
    ((ran == 0)) || fail "orvctl.exe ${*:2} exited with $ran: $(cat "$tmp/$1.err")"
}
output() { cat "$tmp/$1.out"; }

# --- PostgreSQL on the Linux side ------------------------------------------------------------------
if command -v pg_config >/dev/null && [[ -x $(pg_config --bindir)/initdb ]]; then
    pgbin=$(pg_config --bindir)
else
    pgbin=$(find /usr/lib/postgresql -maxdepth 2 -name bin 2>/dev/null | sort -V | tail -n 1 || true)
fi
[[ -n $pgbin && -x $pgbin/initdb && -x $pgbin/pg_ctl ]] || fail "no PostgreSQL server (initdb, pg_ctl) installed"
command -v psql >/dev/null || fail "psql is not installed"
pgdir=$(mktemp -d /tmp/orv-pg-e2e.XXXXXX)
if (($(id -u) == 0)); then
    # initdb refuses root: the server runs as postgres (or nobody) in a folder of its own.
    for candidate in postgres nobody; do
        if id "$candidate" >/dev/null 2>&1 && runuser -u "$candidate" -- true 2>/dev/null; then
            serverUser=$candidate
            break
        fi
    done
    [[ -n $serverUser ]] || fail "running as root and no account (postgres, nobody) to run the server as"
    chown "$serverUser" "$pgdir"
fi
role=orv_e2e
asServer "$pgbin/initdb" -D "$pgdir/data" -U "$role" -A trust -E UTF8 --locale=C --no-sync >"$tmp/initdb.log" 2>&1 ||
    fail "initdb failed: $(cat "$tmp/initdb.log")"
port=
for attempt in 1 2 3 4 5; do
    candidate=$((20000 + RANDOM % 40000))
    portFree "$candidate" || continue
    if asServer "$pgbin/pg_ctl" start -D "$pgdir/data" -l "$pgdir/server.log" -w -t 60 \
        -o "-c listen_addresses=127.0.0.1 -c port=$candidate -c unix_socket_directories=$pgdir -c fsync=off" \
        >/dev/null 2>&1; then
        port=$candidate
        break
    fi
done
[[ -n $port ]] || fail "the PostgreSQL server did not start: $(tail -n 5 "$pgdir/server.log" 2>/dev/null)"
psqlAt() { psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$port" -U "$role" -d "$1" -Atc "$2"; }
psqlAt postgres "CREATE DATABASE orv_ledger" || fail "cannot create the database orv_ledger"
pgLedger=postgresql://$role@127.0.0.1:$port/orv_ledger
say "PostgreSQL $("$pgbin/postgres" --version | awk '{print $3}') on 127.0.0.1:$port, running as ${serverUser:-$(id -un)}"

# --- Wine and the simulated camera -------------------------------------------------------------------
if [[ -n $ownPrefix ]]; then
    mkdir -p "$WINEPREFIX"
    wineserver -p
    wineboot --init >/dev/null 2>&1 || fail "wineboot --init failed"
fi
localAppData=$(unixPath "$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')")
[[ -d $localAppData ]] || fail "cannot find the Wine user's %LOCALAPPDATA% in $WINEPREFIX"
defaultLedger=$localAppData/OrvCamera/orv_ledger.db
# The caller's prefix may hold events already (the installed console records its Set there).
before=0
if [[ -f $defaultLedger ]]; then
    expectRun head ledger head
    before=$(awk 'NR == 1 { print $1 }' "$tmp/head.out")
    say "events in the default ledger already: $before"
fi

wine "$camsim" --listen "$address" --device-id "$device" --state "$(winPath "$tmp/camera.state")" \
    >"$tmp/camsim.log" 2>&1 &
camsimPid=$!
for ((i = 0; i < 150; ++i)); do
    listening "$address" 19436 && break
    kill -0 "$camsimPid" 2>/dev/null || fail "orv-camsim.exe ended: $(cat "$tmp/camsim.log")"
    sleep 0.2
done
listening "$address" 19436 || fail "orv-camsim.exe does not listen on $address:19436"

# checkLedger LABEL EVENTS [--ledger LOCATION]: verify says intact with EVENTS events, head names
# the last of them, history of the camera shows its officer now.
checkLedger() {
    local label=$1 events=$2
    shift 2
    expectRun verify "$@" ledger verify
    grep -q "^intact: $events events, head $events [0-9a-f]\{64\}$" "$tmp/verify.out" ||
        fail "$label: ledger verify printed \"$(output verify)\", not $events intact events"
    expectRun head "$@" ledger head
    headHash=$(sed -n "s/^$events \([0-9a-f]\{64\}\)$/\1/p" "$tmp/head.out")
    [[ -n $headHash ]] || fail "$label: ledger head printed \"$(output head)\""
    grep -q " $headHash$" "$tmp/verify.out" || fail "$label: head and verify name different hashes"
    expectRun history "$@" ledger history --device "$device"
    grep -q "  P-0042  from .* until now" "$tmp/history.out" ||
        fail "$label: ledger history --device $device does not show P-0042 holding it now: $(output history)"
    say "$label: $events events intact, head $events ${headHash:0:12}..., $device held by P-0042"
}

# Three outcomes through orvctl.exe: a Wi-Fi SSID, the clock, the officer.
work() {
    expectRun set-wifi --ip "$address" "$@" set wifi ssid=Van-07
    expectRun timesync --ip "$address" "$@" timesync
    expectRun set-device --ip "$address" "$@" set device policeId=P-0042
}

# --- SQLite: the default file, then --ledger FILE -------------------------------------------------
work
[[ -s $defaultLedger ]] || fail "no ledger at $defaultLedger after three commands"
checkLedger "default SQLite file $(winPath "$defaultLedger")" $((before + 3))

fileLedger=$(winPath "$tmp")\\station\\ledger.db
work --ledger "$fileLedger"
[[ -s $tmp/station/ledger.db ]] || fail "--ledger $fileLedger was not written"
checkLedger "--ledger $fileLedger" 3 --ledger "$fileLedger"
checkLedger "the default file, left alone by --ledger" $((before + 3))

# --- the evidence ------------------------------------------------------------------------------
expectRun key ledger key
vkey=$(sed -n 1p "$tmp/key.out")
[[ $vkey =~ ^station/[^+]+\+[0-9a-f]{8}\+[A-Za-z0-9+/=]+$ ]] || fail "ledger key printed \"$(output key)\""
[[ -s $localAppData/OrvCamera/orv_station.key && -s $localAppData/OrvCamera/orv_witness.txt ]] ||
    fail "no station key or witness file in $localAppData/OrvCamera"
expectRun checkpoint --ledger "$fileLedger" ledger checkpoint
[[ $(sed -n 2p "$tmp/checkpoint.out") == 3 ]] || fail "ledger checkpoint printed \"$(output checkpoint)\""
grep -q "^— ${vkey%%+*} " "$tmp/checkpoint.out" || fail "the checkpoint is not signed by ${vkey%%+*}"
expectRun verify --ledger "$fileLedger" ledger verify
grep -q "3 checkpoints signed by $(cut -d+ -f1-2 <<<"$vkey")" "$tmp/verify.out" ||
    fail "ledger verify does not count the station's checkpoints: $(output verify)"
expectRun prove --ledger "$fileLedger" ledger prove 2 --out "$(winPath "$tmp")\\event2.tlog-proof"
[[ $(sed -n 1p "$tmp/event2.tlog-proof") == "c2sp.org/tlog-proof@v1" && $(sed -n 3p "$tmp/event2.tlog-proof") == "index 1" ]] ||
    fail "ledger prove wrote $(head -n 3 "$tmp/event2.tlog-proof")"
expectRun export --ledger "$fileLedger" ledger export "$(winPath "$tmp")\\ledger.jsonl"
mv "$tmp/station/ledger.db" "$tmp/station/moved.db"
expectRun verify-file ledger verify --file "$(winPath "$tmp")\\ledger.jsonl"
grep -q "^intact: 3 events" "$tmp/verify-file.out" || fail "verify --file printed \"$(output verify-file)\""
say "station key ${vkey%%+*}, a checkpoint after each command, a proof, the export verified with no database"

# Another valid ledger put in the file's place: refused before anything is sent.
cp "$defaultLedger" "$tmp/station/ledger.db"
run swapped --ip "$address" --ledger "$fileLedger" set wifi ssid=Van-08
((ran == 5)) || fail "a swapped ledger: orvctl.exe exited with $ran: $(cat "$tmp/swapped.err")"
grep -q "not the one this station recorded to" "$tmp/swapped.err" || fail "a swapped ledger: $(cat "$tmp/swapped.err")"
grep -q "nothing was sent" "$tmp/swapped.err" || fail "a swapped ledger: $(cat "$tmp/swapped.err")"
expectRun wifi-after --ip "$address" get wifi
grep -q "^wifi.ssid=Van-07$" "$tmp/wifi-after.out" || fail "the camera was sent something: $(output wifi-after)"
ls "$localAppData"/OrvCamera/orv_fork_*.txt >/dev/null 2>&1 || fail "no proof of the swap beside the witness file"
say "a swapped ledger file: exit 5, nothing sent, the proof kept"

# --- PostgreSQL ---------------------------------------------------------------------------------
work --ledger "$pgLedger"
checkLedger "PostgreSQL database orv_ledger" 3 --ledger "$pgLedger"
rows=$(psqlAt orv_ledger "SELECT number || ' ' || tool || ' ' || kind || ' ' || place || ' ' || result FROM events ORDER BY number")
want="1 orvctl set $address ok"$'\n'"2 orvctl timesync $address ok"$'\n'"3 orvctl set $address ok"
[[ $rows == "$want" ]] || fail "psql reads the events as"$'\n'"$rows"$'\n'"instead of"$'\n'"$want"
[[ $(psqlAt orv_ledger "SELECT device_id || ' ' || officer_after FROM events WHERE number = 3") == "$device P-0042" ]] ||
    fail "psql: event 3 does not give camera $device to P-0042"
[[ $(psqlAt orv_ledger "SELECT number || ' ' || hash FROM chain_head") == "3 $headHash" ]] ||
    fail "psql: the chain head is not event 3 with orvctl's hash"
say "psql reads the same three events and head"

# --- the station's spool: the database stopped, then back ------------------------------------------
asServer "$pgbin/pg_ctl" stop -D "$pgdir/data" -m fast -w >/dev/null 2>&1 || fail "cannot stop the server"
expectRun offline-set --ip "$address" --ledger "$pgLedger" set wifi ssid=Van-08
grep -q "1 event waits in this station's spool" "$tmp/offline-set.err" ||
    fail "the set done while the database was away does not say its event waits: $(cat "$tmp/offline-set.err")"
expectRun spool-status --ledger "$pgLedger" --json ledger status
grep -q '"waiting":1' "$tmp/spool-status.out" || fail "ledger status: $(output spool-status)"
spoolFile=$(sed -n 's/.*"spool":"\([^"]*\)".*/\1/p' "$tmp/spool-status.out" | sed 's/\\\\/\\/g')
[[ -s $(unixPath "$spoolFile") ]] || fail "the spool $spoolFile is not in the station's folder"
asServer "$pgbin/pg_ctl" start -D "$pgdir/data" -l "$pgdir/server.log" -w -t 60 \
    -o "-c listen_addresses=127.0.0.1 -c port=$port -c unix_socket_directories=$pgdir -c fsync=off" \
    >/dev/null 2>&1 || fail "the PostgreSQL server did not start again"
expectRun sync --ledger "$pgLedger" ledger sync
grep -q "^forwarded 1 event to " "$tmp/sync.out" || fail "ledger sync: $(output sync)"
[[ $(psqlAt orv_ledger "SELECT count(*) FROM events WHERE event_id IS NOT NULL AND arrived_utc IS NOT NULL") == 4 ]] ||
    fail "psql does not find the four events that came through the spool"
expectRun verify-spooled --ledger "$pgLedger" ledger verify
grep -q "^intact: 4 events" "$tmp/verify-spooled.out" || fail "ledger verify: $(output verify-spooled)"
say "the database stopped: the set went on into the spool ($(winPath "$(unixPath "$spoolFile")")), forwarded once it was back"

# Edited behind the ledger's back: verify finds it and says so in its exit status.
psqlAt orv_ledger "UPDATE events SET officer_after = 'P-9999' WHERE number = 3" >/dev/null
run verify --ledger "$pgLedger" ledger verify
((ran != 0)) || fail "ledger verify exited with 0 after event 3 was edited: $(output verify)"
grep -q "^broken at event 3" "$tmp/verify.out" || fail "ledger verify printed \"$(output verify)\" for an edited event 3"
say "an event edited with psql: ledger verify exits with $ran, \"$(output verify)\""

# A database set up by its owner for a stations' role that may append and nothing more.
psqlAt postgres "CREATE ROLE orv_station LOGIN" >/dev/null
psqlAt postgres "CREATE DATABASE orv_shared" >/dev/null
expectRun init-db ledger init-db "postgresql://$role@127.0.0.1:$port/orv_shared" --station-role orv_station
stationLedger=postgresql://orv_station@127.0.0.1:$port/orv_shared
work --ledger "$stationLedger"
checkLedger "PostgreSQL database orv_shared as orv_station" 3 --ledger "$stationLedger"
psqlAs() { psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$port" -U orv_station -d orv_shared -Atc "$1" 2>&1; }
for sql in "UPDATE events SET officer_after = 'P-9999' WHERE number = 3" "DELETE FROM events WHERE number = 3" \
    "UPDATE chain_head SET number = 2" "DELETE FROM checkpoints"; do
    if psqlAs "$sql" >/dev/null; then fail "the stations' role could: $sql"; fi
done
checkLedger "orv_shared after the stations' role tried to change it" 3 --ledger "$stationLedger"
say "init-db: the stations' role records, and cannot change an event, a checkpoint or the head"
