#!/usr/bin/env bash
# The worked example of docs/LEDGER.md, run as written against a ledger made here: two events
# recorded by orvctl against a simulated camera on a loopback address of its own, then the chain
# hash, the leaf hash (the root of a checkpoint of one event), the key id and the signature of that
# checkpoint checked with the openssl command line alone, each against what the ledger says.
#   tests/ledger/openssl_example.sh BIN_FOLDER
set -euo pipefail
BIN=$(cd "$1" && pwd)
command -v openssl >/dev/null || { echo "openssl not installed: skipped"; exit 77; }
WORK=$(mktemp -d /tmp/orv-openssl-XXXXXX)
CAMERA_PID=
cleanup() {
    [[ -n $CAMERA_PID ]] && kill "$CAMERA_PID" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}
export XDG_DATA_HOME="$WORK/data"
unset ORV_STATION_FOLDER
ADDRESS=127.0.71.$((RANDOM % 200 + 20))
"$BIN/orv-camsim" --listen "$ADDRESS" >"$WORK/camera.log" 2>&1 &
CAMERA_PID=$!
for _ in $(seq 100); do
    grep -q "listening on" "$WORK/camera.log" && break
    sleep 0.05
done
cd "$WORK"
"$BIN/orvctl" --ip "$ADDRESS" timesync >/dev/null || fail "timesync"
"$BIN/orvctl" --ip "$ADDRESS" set wifi ssid=station-7 >/dev/null || fail "set wifi"
orvctl() { "$BIN/orvctl" "$@"; }
orvctl ledger export ledger.jsonl >/dev/null

# --- as in docs/LEDGER.md ---
orvctl ledger key | head -n 1 > station.vkey
orvctl ledger prove 1 --out event1.tlog-proof >/dev/null
orvctl ledger checkpoint --size 1 > checkpoint1.txt
sed -n 2p event1.tlog-proof | cut -d' ' -f2 | base64 -d > event1.txt
chain=$( (printf '%064d' 0; cat event1.txt) | openssl dgst -sha256 -r | cut -d' ' -f1)
leaf=$( (printf '\0'; cat event1.txt) | openssl dgst -sha256 -binary | base64)
cut -d+ -f3- station.vkey | base64 -d | tail -c 32 > pub.raw
(printf '\x30\x2a\x30\x05\x06\x03\x2b\x65\x70\x03\x21\x00'; cat pub.raw) > pub.der
openssl pkey -pubin -inform DER -in pub.der -out pub.pem
keyid=$( (printf '%s\n\x01' "$(cut -d+ -f1 station.vkey)"; cat pub.raw) | openssl dgst -sha256 -r | cut -c1-8)
head -n 3 checkpoint1.txt > signed.txt
sed -n 5p checkpoint1.txt | cut -d' ' -f3 | base64 -d | tail -c 64 > signature.bin
verified=$(openssl pkeyutl -verify -pubin -inkey pub.pem -rawin -in signed.txt -sigfile signature.bin)
# --- end of the example ---

grep -q "^number:1:1$" event1.txt || fail "the extra line is not event 1's canonical form: $(head -3 event1.txt)"
grep -q "\"number\":1,.*\"hash\":\"$chain\"" ledger.jsonl || fail "chain hash $chain is not event 1's in the export"
[[ $(sed -n 3p checkpoint1.txt) == "$leaf" ]] || fail "leaf hash $leaf is not the root of the checkpoint of 1 event"
[[ $(cut -d+ -f2 station.vkey) == "$keyid" ]] || fail "key id $keyid is not the vkey's $(cut -d+ -f2 station.vkey)"
[[ $verified == "Signature Verified Successfully" ]] || fail "openssl says: $verified"
# A checkpoint changed by one character no longer verifies.
sed -i '2s/1/2/' signed.txt
if openssl pkeyutl -verify -pubin -inkey pub.pem -rawin -in signed.txt -sigfile signature.bin >/dev/null 2>&1; then
    fail "a changed checkpoint still verifies"
fi
echo "ok: chain hash, leaf hash, key id and signature reproduced with openssl"
