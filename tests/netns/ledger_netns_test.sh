#!/usr/bin/env bash
# The shared ledger's network cut, not its server stopped: PostgreSQL runs in a network namespace
# of its own behind a veth pair, and the host's end of the pair is set down while orvctl provisions
# four simulated cameras. The run goes on: every camera is done and its outcome kept in the
# station's spool, no camera's steps wait for the database. Once the link is up again the next
# command forwards what waited before it begins, and the shared ledger holds every event once.
# Needs root, ip(8) and PostgreSQL's server programs; skips (exit 77) elsewhere. Only
# 198.51.100.0/24 inside the namespace made here and loopback addresses are contacted, and the
# namespace is removed however the test ends.
# Usage: ledger_netns_test.sh BIN_FOLDER (with orvctl and orv-camsim)
set -euo pipefail

BIN=${1:?usage: ledger_netns_test.sh BIN_FOLDER}
DB_ADDRESS=198.51.100.200
TAG=ol$$ # interface names stay under 16 characters
PG_BIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1 || true)

if [[ $EUID -ne 0 ]] || ! command -v ip >/dev/null || [[ -z $PG_BIN || ! -x $PG_BIN/pg_ctl ]]; then
    echo "SKIP: the namespace test needs root, ip and PostgreSQL's server programs"
    exit 77
fi
if ! ip netns add "$TAG-try" 2>/dev/null; then
    echo "SKIP: network namespaces cannot be made here"
    exit 77
fi
ip netns del "$TAG-try"
SERVER_USER=postgres
id "$SERVER_USER" >/dev/null 2>&1 || SERVER_USER=nobody

WORK=$(mktemp -d /tmp/orv-ledger-netns-XXXXXX)
chmod 755 "$WORK"
export XDG_DATA_HOME="$WORK/data"
PIDS=()
cleanup() {
    local pid
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
    if [[ -f $WORK/pg/data/postmaster.pid ]]; then
        ip netns exec "$TAG-db" runuser -u "$SERVER_USER" -- "$PG_BIN/pg_ctl" stop -D "$WORK/pg/data" -m immediate \
            >/dev/null 2>&1 || true
    fi
    ip netns del "$TAG-db" 2>/dev/null || true
    ip link del "$TAG-hd" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    for f in provision.out sync.out next.out; do
        echo "--- $f"; cat "$WORK/$f" 2>/dev/null || true
    done
    exit 1
}

# The database's namespace and its link.
ip netns add "$TAG-db"
ip link add "$TAG-hd" type veth peer name eth0 netns "$TAG-db"
ip addr add 198.51.100.1/24 dev "$TAG-hd"
ip link set "$TAG-hd" up
ip netns exec "$TAG-db" ip link set lo up
ip netns exec "$TAG-db" ip addr add "$DB_ADDRESS/24" dev eth0
ip netns exec "$TAG-db" ip link set eth0 up

mkdir -p "$WORK/pg"
chown "$SERVER_USER" "$WORK/pg"
runuser -u "$SERVER_USER" -- "$PG_BIN/initdb" -D "$WORK/pg/data" -U orv -A trust -E UTF8 --locale=C --no-sync \
    >"$WORK/initdb.log" 2>&1 || fail "initdb: $(cat "$WORK/initdb.log")"
echo "host all all 198.51.100.0/24 trust" >>"$WORK/pg/data/pg_hba.conf"
ip netns exec "$TAG-db" runuser -u "$SERVER_USER" -- "$PG_BIN/pg_ctl" start -D "$WORK/pg/data" -w -t 60 \
    -l "$WORK/pg/server.log" -o "-c listen_addresses=$DB_ADDRESS -c unix_socket_directories=$WORK/pg -c fsync=off" \
    >/dev/null || fail "the server did not start: $(cat "$WORK/pg/server.log")"
LEDGER="host=$DB_ADDRESS port=5432 user=orv dbname=postgres connect_timeout=2"

# The station meets the ledger once (its tables are made, its spool knows it).
"$BIN/orvctl" --ledger "$LEDGER" ledger sync >"$WORK/sync.out" 2>&1 || fail "the first sync failed"

# Four cameras on loopback, each answering in 150 ms.
ARGS=()
for n in 1 2 3 4 5; do
    "$BIN/orv-camsim" --listen "127.77.0.$n" --device-id "NET-CAM-$n" --reply-delay-ms 150 \
        >"$WORK/camera$n.log" 2>&1 &
    PIDS+=($!)
done
for n in 1 2 3 4 5; do
    for _ in $(seq 100); do
        grep -q "listening on" "$WORK/camera$n.log" && break
        sleep 0.05
    done
done
cp "$(dirname "$0")/../data/fleet/unit-setup.xml" "$WORK/setup.xml"

for n in 1 2 3 4; do ARGS+=(--address "127.77.0.$n"); done
START=$(date +%s%N)
"$BIN/orvctl" --timeout-ms 3000 --poll-ms 50 --ledger "$LEDGER" provision "$WORK/setup.xml" --all "${ARGS[@]}" \
    --inventory "$WORK/inventory.csv" --count 4 >"$WORK/provision.out" 2>&1 &
ORVCTL=$!
PIDS+=($ORVCTL)
for _ in $(seq 400); do
    grep -q "logging in as admin" "$WORK/provision.out" && break
    sleep 0.02
done
ip link set "$TAG-hd" down # the network to the database is cut; its server runs on
CUT=$(date +%s%N)
for _ in $(seq 500); do
    [[ $(grep -c ": ok " "$WORK/provision.out" || true) -ge 4 ]] && break
    sleep 0.02
done
LAST_OK=$(date +%s%N)
wait "$ORVCTL" && code=0 || code=$?
[[ $code == 0 ]] || fail "provision --all exited with $code"
grep -c ",ok," "$WORK/inventory.csv" | grep -qx 4 || fail "not four cameras done: $(cat "$WORK/inventory.csv")"
grep -q "(in this station's spool)" "$WORK/provision.out" || fail "the outcomes are not said to be in the spool"
grep -q "4 events wait in this station's spool" "$WORK/provision.out" || fail "the waiting events are not said"
# The cameras' own work: none waited for the database (4 cameras x a few 150 ms replies at once).
WORK_MS=$(( (LAST_OK - START) / 1000000 ))
echo "cut after $(( (CUT - START) / 1000000 )) ms; the fourth camera done $WORK_MS ms after the start"
[[ $WORK_MS -lt 4000 ]] || fail "the cameras' work took $WORK_MS ms: it waited for the database"

"$BIN/orvctl" --ledger "$LEDGER" --json ledger status >"$WORK/status.out"
grep -q '"waiting":4' "$WORK/status.out" || fail "status: $(cat "$WORK/status.out")"
grep -q '"unreachableSince":"' "$WORK/status.out" || fail "status: $(cat "$WORK/status.out")"

# The link comes back; the next command forwards what waited before it begins.
ip link set "$TAG-hd" up
sleep 1
"$BIN/orvctl" --timeout-ms 3000 --ip 127.77.0.5 --ledger "$LEDGER" set wifi ssid=Back >"$WORK/next.out" 2>&1 ||
    fail "the next command failed"
"$BIN/orvctl" --ledger "$LEDGER" --json ledger status >"$WORK/status.out"
grep -q '"waiting":0' "$WORK/status.out" || fail "still waiting: $(cat "$WORK/status.out")"
"$BIN/orvctl" --ledger "$LEDGER" ledger verify >"$WORK/verify.out" 2>&1 || fail "verify: $(cat "$WORK/verify.out")"
grep -q "^intact: 5 events" "$WORK/verify.out" || fail "verify: $(cat "$WORK/verify.out")"
echo "PASS: the link to the database cut mid-run, four cameras done into the spool, forwarded once when it was back"
