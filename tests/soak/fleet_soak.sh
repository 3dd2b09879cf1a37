#!/usr/bin/env bash
# A dock station left to itself: orvctl provision --all, then the search tool with
# --keep-applying, each watching eight places on loopback while cameras are unplugged and plugged
# in again a few hundred times (a simulated camera killed, and after a pause a new one started at
# the same place with a device id of its own, SOAK-<place>-<plug>). Every camera serves one
# connection at a time. Fails when:
#  - the program's threads, open descriptors or resident memory grew between the first ten
#    cameras recorded and the end by more than the bounds below (a leak per camera or per look
#    shows as hundreds);
#  - a camera ever held two connections at once;
#  - an inventory row is not ok and its camera was still plugged in when the row was written
#    (a camera pulled out during its run fails, rightly; one that stayed must not), a camera has
#    two rows, or a camera that stayed plugged in long enough was never recorded;
#  - a camera gone before its work began was recorded (a row "failed: no connection" without a
#    device id): besides the pulls at random, every other camera is pulled out the moment its row
#    is written, as officers do at a dock, while the program looks at it again, and another is
#    plugged in a second later;
#  - orvctl does not end with 130 soon after Ctrl+C (SIGINT), or the search tool does not end
#    after SIGTERM.
# Only 127.0.77.0/24 is used: eight places in one of its /27 blocks, the first one no other soak
# on this machine holds.
# Usage: fleet_soak.sh BIN_FOLDER [--seconds N] [--no-rss-bound]
#   --seconds N     the whole soak, shared by the two programs (default 60); try 600 by hand to
#                   tell a leak from warm-up
#   --no-rss-bound  print resident memory but do not hold it to its bound (sanitizer builds,
#                   whose allocators keep freed memory in quarantine)
set -euo pipefail

usage() {
    echo "usage: fleet_soak.sh BIN_FOLDER [--seconds N] [--no-rss-bound]" >&2
    exit 2
}
[[ $# -ge 1 ]] || usage
BIN=$1
shift
SECONDS_TOTAL=60
RSS_BOUND=1
while [[ $# -gt 0 ]]; do
    case $1 in
        --seconds)
            [[ ${2:-} =~ ^[0-9]+$ && $2 -ge 10 ]] || usage
            SECONDS_TOTAL=$2
            shift 2
            ;;
        --no-rss-bound)
            RSS_BOUND=0
            shift
            ;;
        *) usage ;;
    esac
done
for program in orvctl orv-camsim; do
    [[ -x $BIN/$program ]] || { echo "FAIL: no $program in $BIN"; exit 1; }
done

PLACES=8
# Bounds on the growth from the first ten cameras recorded to the end. Each figure is the least
# of ten readings 0.05 s apart, so that a socket open for a moment does not count; a leaked one is
# in every reading.
# Threads: every pool starts a worker only when all of its workers are busy and keeps it, so the
# watch's contacts (one per place) and the runner's workers (one per camera at work) are mostly
# there after the first cameras; a few may still join when more cameras come at once.
THREAD_SLACK=4
# Descriptors: nothing but the cameras' sockets comes and goes; a camera at work holds one.
FD_SLACK=8
# Memory: allocator arenas and caches settle within 2 MB, whatever the number of cameras; what
# grows beyond that by more than 1 kB for every camera recorded grows with the cameras (a long
# run by hand shows it), and nothing may add 8 MB.
RSS_SLACK_KB=$((8 * 1024))
RSS_SETTLE_KB=$((2 * 1024))
RSS_PER_CAMERA_KB=1

WORK=$(mktemp -d)
# The ledger the programs record to lives with the rest of the run.
export XDG_DATA_HOME="$WORK/data"
declare -A CAMERA_PID=()   # place -> pid of the camera plugged in there
declare -A CAMERA_ID=()    # place -> its device id
declare -A DOWN_UNTIL=()   # place -> when it is plugged in again (µs), while unplugged
PROGRAM_PID=
PULLER_PID=
LOCK_FD=

# reap PID: returns once the camera is gone.
reap() {
    while kill -0 "$1" 2>/dev/null; do sleep 0.01; done
}

cleanup() {
    local place
    if [[ -n $PULLER_PID ]]; then
        kill -KILL "$PULLER_PID" 2>/dev/null || true
        wait "$PULLER_PID" 2>/dev/null || true
    fi
    if [[ -n $PROGRAM_PID ]]; then
        kill -KILL "$PROGRAM_PID" 2>/dev/null || true
        wait "$PROGRAM_PID" 2>/dev/null || true
    fi
    for place in "${!CAMERA_PID[@]}"; do kill -KILL "${CAMERA_PID[$place]}" 2>/dev/null || true; done
    for place in "${!CAMERA_PID[@]}"; do reap "${CAMERA_PID[$place]}"; done
    if [[ -n ${ORV_SOAK_KEEP:-} ]]; then
        echo "kept: $WORK"
    else
        rm -rf "$WORK"
    fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# The first /27 of 127.0.77.0/24 that no other soak on this machine holds.
BASE=
for block in 0 1 2 3 4 5 6 7; do
    exec {LOCK_FD}>"${TMPDIR:-/tmp}/orv-fleet-soak-$UID-$block.lock"
    if flock -n "$LOCK_FD"; then
        BASE=$((block * 32))
        break
    fi
    exec {LOCK_FD}>&-
done
[[ -n $BASE ]] || { echo "FAIL: every block of 127.0.77.0/24 is held by another soak"; exit 1; }
address() { echo "127.0.77.$((BASE + 10 + $1))"; }

now() { echo "${EPOCHREALTIME/./}"; } # µs
stamp() { printf '%(%Y-%m-%d %H:%M:%S)T' "${1:0:-6}"; }

FAILURES=0
fault() {
    echo "FAIL: $*"
    FAILURES=$((FAILURES + 1))
}

PLUGS=0
# plug PLACE: a new camera there. journal: device id, place, plugged in (µs), pulled out (µs).
plug() {
    local place=$1 id
    PLUGS=$((PLUGS + 1))
    id=SOAK-$place-$PLUGS
    "$BIN/orv-camsim" --listen "$(address "$place")" --device-id "$id" --one-connection --reply-delay-ms 5 \
        --verbose >"$PHASE/cameras/$id.log" 2>&1 {LOCK_FD}>&- &
    CAMERA_PID[$place]=$!
    disown "$!" # the puller kills cameras too: the shell is not to report each one "Killed"
    CAMERA_ID[$place]=$id
    unset "DOWN_UNTIL[$place]"
    echo "$id $place $(now)" >>"$PHASE/plugged"
    echo "$! $id" >"$PHASE/camera-$place.tmp" # for the puller: which camera is in there
    mv "$PHASE/camera-$place.tmp" "$PHASE/camera-$place"
}

# unplug PLACE [DOWN_US]: the camera there is pulled out, and stays out for DOWN_US.
unplug() {
    local place=$1 at
    rm -f "$PHASE/camera-$place"
    at=$(now) # before the kill: whatever the kill makes fail comes after it
    kill -KILL "${CAMERA_PID[$place]}" 2>/dev/null || true
    reap "${CAMERA_PID[$place]}"
    echo "${CAMERA_ID[$place]} $at" >>"$PHASE/pulled"
    unset "CAMERA_PID[$place]" "CAMERA_ID[$place]"
    DOWN_UNTIL[$place]=$(($(now) + ${2:-0}))
}

# pullAfterDone INVENTORY: in the background, pulls every other camera out the moment its row is
# written (looked for every 20 ms), and tells the soak loop so in PHASE/down-PLACE (the camera's
# id and when it is to be plugged in again, a second later).
pullAfterDone() {
    local inventory=$1 seen=1 lines line device place pid id at
    while sleep 0.02; do
        [[ -f $inventory ]] || continue
        lines=$(wc -l <"$inventory")
        ((lines > seen)) || continue
        while IFS= read -r line; do
            IFS=, read -r _ _ device _ <<<"$line"
            [[ $device == SOAK-* ]] && ((RANDOM % 2 == 0)) || continue
            place=${device#SOAK-}
            place=${place%%-*}
            read -r pid id <"$PHASE/camera-$place" 2>/dev/null || continue
            [[ $id == "$device" ]] || continue
            at=$(now)
            kill -KILL "$pid" 2>/dev/null || continue
            echo "$id $at" >>"$PHASE/pulled"
            echo "$id $((at + 1000000))" >"$PHASE/down-$place"
        done < <(sed -n "$((seen + 1)),${lines}p" "$inventory")
        seen=$lines
    done
}

# The cameras the puller pulled out: unplugged as far as the soak loop is concerned.
PULLED_AFTER_DONE=0
takePulled() {
    local place id until
    for ((place = 1; place <= PLACES; place++)); do
        [[ -f $PHASE/down-$place ]] || continue
        read -r id until <"$PHASE/down-$place"
        rm -f "$PHASE/down-$place"
        [[ ${CAMERA_ID[$place]:-} == "$id" ]] || continue
        rm -f "$PHASE/camera-$place"
        reap "${CAMERA_PID[$place]}"
        unset "CAMERA_PID[$place]" "CAMERA_ID[$place]"
        DOWN_UNTIL[$place]=$until
        PULLED_AFTER_DONE=$((PULLED_AFTER_DONE + 1))
    done
}

# figures PID: threads, open descriptors, resident kB; each the least of ten readings.
figures() {
    local pid=$1 threads fds rss key value least_t=999999 least_f=999999 least_r=999999999 entries
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        while read -r key value _; do
            case $key in
                Threads:) threads=$value ;;
                VmRSS:) rss=$value ;;
            esac
        done <"/proc/$pid/status"
        entries=("/proc/$pid/fd/"*)
        fds=${#entries[@]}
        ((threads < least_t)) && least_t=$threads
        ((fds < least_f)) && least_f=$fds
        ((rss < least_r)) && least_r=$rss
        sleep 0.05 # readings spread over half a second
    done
    echo "$least_t $least_f $least_r"
}

rowsIn() { # rows of an inventory, header left out
    if [[ -f $1 ]]; then echo $(($(wc -l <"$1") - 1)); else echo 0; fi
}

# soak NAME SECONDS DOWN_MIN_MS DOWN_SPREAD_MS PACE_MS RECORD_WITHIN_S COMMAND...: one program
# against the eight places. Every PACE_MS (on average) one camera that is in is pulled out, for
# DOWN_MIN_MS plus up to DOWN_SPREAD_MS, so the program's next look sees it gone; at most half
# of the places are empty at once. A camera that stayed in RECORD_WITHIN_S must have been recorded.
soak() {
    local name=$1 seconds=$2 downMin=$3 downSpread=$4 pace=$5 recordWithin=$6
    shift 6
    local inventory=$WORK/$name.csv place end early='' earlyRows=0 final stopAt code cycles=0
    PHASE=$WORK/$name
    mkdir -p "$PHASE/cameras"
    : >"$PHASE/plugged"
    : >"$PHASE/pulled"
    PULLED_AFTER_DONE=0
    for ((place = 1; place <= PLACES; place++)); do plug "$place"; done
    pullAfterDone "$inventory" {LOCK_FD}>&- &
    PULLER_PID=$!

    "$@" --inventory "$inventory" >"$WORK/$name.out" 2>"$WORK/$name.err" </dev/null {LOCK_FD}>&- &
    PROGRAM_PID=$!
    end=$(($(now) + seconds * 1000000))
    while (($(now) < end)); do
        kill -0 "$PROGRAM_PID" 2>/dev/null || break
        if [[ -z $early ]] && (($(rowsIn "$inventory") >= 10)); then
            early=$(figures "$PROGRAM_PID")
            earlyRows=$(rowsIn "$inventory")
        fi
        takePulled
        for ((place = 1; place <= PLACES; place++)); do
            if [[ -n ${DOWN_UNTIL[$place]:-} ]] && ((DOWN_UNTIL[$place] <= $(now))); then
                plug "$place"
            fi
        done
        if ((${#DOWN_UNTIL[@]} < PLACES / 2)); then
            local inNow=("${!CAMERA_PID[@]}")
            unplug "${inNow[RANDOM % ${#inNow[@]}]}" $(((downMin + RANDOM % (downSpread + 1)) * 1000))
            cycles=$((cycles + 1))
        fi
        sleep "$(printf '0.%03d' $((pace / 2 + RANDOM % (pace + 1))))" # pacing of the plug-ins
    done
    if ! kill -0 "$PROGRAM_PID" 2>/dev/null; then
        kill -KILL "$PULLER_PID" 2>/dev/null || true
        wait "$PULLER_PID" 2>/dev/null || true
        PULLER_PID=
        wait "$PROGRAM_PID" && code=0 || code=$?
        PROGRAM_PID=
        fault "$name ended by itself (status $code) during the soak"
        tail -20 "$WORK/$name.err"
        return
    fi
    final=$(figures "$PROGRAM_PID")
    kill -KILL "$PULLER_PID" 2>/dev/null || true
    wait "$PULLER_PID" 2>/dev/null || true
    PULLER_PID=
    takePulled

    stopAt=$(now)
    if [[ $name == orvctl ]]; then
        kill -INT "$PROGRAM_PID"
    else
        kill -TERM "$PROGRAM_PID"
    fi
    timeout 30 tail --pid="$PROGRAM_PID" -f /dev/null || true
    if kill -0 "$PROGRAM_PID" 2>/dev/null; then
        fault "$name still runs 30 s after it was asked to stop"
        kill -KILL "$PROGRAM_PID"
    fi
    wait "$PROGRAM_PID" && code=0 || code=$?
    PROGRAM_PID=
    for ((place = 1; place <= PLACES; place++)); do
        [[ -n ${CAMERA_PID[$place]:-} ]] && unplug "$place"
    done

    echo "== $name: $seconds s, $cycles cameras pulled out at random and $PULLED_AFTER_DONE right after their row," \
        "$PLUGS plugged in so far"
    ((PULLED_AFTER_DONE > 0)) || fault "$name: no camera was pulled out right after its row was written"
    if [[ $name == orvctl ]]; then
        [[ $code == 130 ]] || fault "orvctl ended with $code after Ctrl+C, not 130: $(tail -5 "$WORK/$name.err")"
    else
        [[ $code == 143 || $code == 0 ]] || fault "the search tool ended with $code after SIGTERM"
    fi
    checkFigures "$name" "$early" "$final" $(($(rowsIn "$inventory") - earlyRows))
    checkCameras "$name"
    checkInventory "$name" "$inventory" "$stopAt" "$recordWithin"
}

checkFigures() {
    local name=$1 early=$2 final=$3 cameras=$4 t0 f0 r0 t1 f1 r1 grown
    if [[ -z $early ]]; then
        fault "$name: fewer than ten cameras were recorded, so there is no early reading"
        return
    fi
    read -r t0 f0 r0 <<<"$early"
    read -r t1 f1 r1 <<<"$final"
    grown=$((r1 - r0))
    echo "$name after the first ten cameras: threads $t0, descriptors $f0, resident $((r0 / 1024)) MB ($r0 kB)"
    echo "$name at the end:                  threads $t1, descriptors $f1, resident $((r1 / 1024)) MB ($r1 kB);" \
        "$grown kB more over $cameras cameras recorded since ($((grown * 1000 / (cameras > 0 ? cameras : 1))) B each)"
    ((t1 <= t0 + THREAD_SLACK)) || fault "$name: threads grew from $t0 to $t1 (bound +$THREAD_SLACK)"
    ((f1 <= f0 + FD_SLACK)) || fault "$name: open descriptors grew from $f0 to $f1 (bound +$FD_SLACK)"
    if ((RSS_BOUND)); then
        ((grown <= RSS_SLACK_KB)) || fault "$name: resident memory grew by $grown kB (bound $RSS_SLACK_KB kB)"
        ((grown <= RSS_SETTLE_KB || grown <= cameras * RSS_PER_CAMERA_KB)) ||
            fault "$name: resident memory grew by $grown kB, more than $RSS_PER_CAMERA_KB kB for each of the" \
                "$cameras cameras recorded since: it grows with the cameras"
    fi
}

checkCameras() {
    local name=$1 twice
    twice=$(grep -l -E "most at once ([2-9]|[1-9][0-9])" "$PHASE"/cameras/*.log || true)
    [[ -z $twice ]] ||
        fault "$name: a camera held two connections at once: $(echo "$twice" | xargs -n1 basename | tr '\n' ' ')"
}

# Every row against when its camera was plugged in and pulled out.
checkInventory() {
    local name=$1 inventory=$2 stopAt=$3 recordWithin=$4
    local -A plugged=() pulled=() at=() rows=()
    local id place t line when where device result rest kind
    local ok=0 pulledFailed=0 stopped=0 bad=0 unrecorded=0 recorded=0
    while read -r id place t; do
        plugged[$id]=$t
        at[$id]=$place
    done <"$PHASE/plugged"
    while read -r id t; do pulled[$id]=$t; done <"$PHASE/pulled"

    while IFS= read -r line; do
        line=${line%$'\r'}
        IFS=, read -r when where device _ rest <<<"$line"
        result=${rest#\"}
        kind=other
        case $result in
            ok,*) kind=ok ;;
            failed*) kind=failed ;;
            stopped*) kind=stopped ;;
        esac
        if [[ -z $device ]]; then
            # Gone before its work began: no camera, so no row.
            if [[ $result == "failed: no connection"* ]]; then
                bad=$((bad + 1))
                fault "$name: a camera gone before its work began was recorded: $line"
            # Pulled out after the worker's connect, before its device id was read.
            elif [[ $kind == failed ]] && pulledNear "$where" "$when"; then
                pulledFailed=$((pulledFailed + 1))
            else
                bad=$((bad + 1))
                fault "$name: a row without a device id and no camera pulled there just before: $line"
            fi
            continue
        fi
        rows[$device]=$((${rows[$device]:-0} + 1))
        ((rows[$device] == 1)) || fault "$name: $device was recorded twice: $line"
        recorded=$((recorded + 1))
        case $kind in
            ok) ok=$((ok + 1)) ;;
            failed)
                # The inventory's seconds come from time(), which may lag this script's clock by
                # a tick: a row written just after a pull at a second's turn may show the second before.
                if [[ -n ${pulled[$device]:-} && ! $when < $(stamp "$((${pulled[$device]} - 1000000))") ]]; then
                    pulledFailed=$((pulledFailed + 1))
                else
                    bad=$((bad + 1))
                    fault "$name: $device failed while it was plugged in: $line"
                    cameraStory "$device"
                fi
                ;;
            stopped)
                if [[ $name == orvctl && ! $when < $(stamp "$((stopAt - 1000000))") ]]; then
                    stopped=$((stopped + 1))
                else
                    bad=$((bad + 1))
                    fault "$name: $device was stopped though nobody asked: $line"
                fi
                ;;
            *)
                bad=$((bad + 1))
                fault "$name: $device: $line"
                ;;
        esac
    done < <(tail -n +2 "$inventory" 2>/dev/null)

    for id in "${!plugged[@]}"; do
        local until=${pulled[$id]:-$stopAt}
        # One pulled out at once may not have got as far as listening; one that stayed a second has.
        if ((until - plugged[$id] >= 1000000)) && ! grep -q "listening on" "$PHASE/cameras/$id.log"; then
            fault "$name: $id did not start: $(head -3 "$PHASE/cameras/$id.log")"
        fi
        if [[ -z ${rows[$id]:-} ]] && ((until - plugged[$id] >= recordWithin * 1000000)); then
            unrecorded=$((unrecorded + 1))
            fault "$name: $id stayed plugged in at $(address "${at[$id]}") for $(((until - plugged[$id]) / 1000)) ms" \
                "and was never recorded"
        fi
    done
    echo "$name inventory: ${#plugged[@]} cameras plugged in, $recorded recorded by device id;" \
        "rows: $ok ok, $pulledFailed failed because the camera was pulled out during its run, $stopped stopped by" \
        "Ctrl+C, $bad otherwise; $unrecorded cameras that stayed ${recordWithin} s or more never recorded"
}

# cameraStory ID: when the camera was plugged in and pulled out, and its connections.
cameraStory() {
    local id=$1
    echo "  $id plugged in $(stamp "$(awk -v id="$id" '$1 == id { print $3 }' "$PHASE/plugged")")," \
        "pulled out $(awk -v id="$id" '$1 == id { print $2 }' "$PHASE/pulled" | while read -r t; do stamp "$t"; done)"
    tail -8 "$PHASE/cameras/$id.log" | cut -c1-120 | sed 's/^/  /'
}

# pulledNear ADDRESS TIME: a camera at ADDRESS was pulled out within the three seconds up to TIME.
pulledNear() {
    local where=$1 when=$2 id t rowSecond
    rowSecond=$(date -d "$when" +%s)
    while read -r id t; do
        local place=${id#SOAK-}
        place=${place%%-*}
        [[ $(address "$place") == "$where" ]] || continue
        # A tick of slack for time()'s lag, as for the rows with a device id.
        ((${t:0:-6} <= rowSecond + 1 && ${t:0:-6} >= rowSecond - 3)) && return 0
    done <"$PHASE/pulled"
    return 1
}

# The search tool gets two fifths: its look comes every 500 ms, so a camera must stay out longer
# to be seen gone, and fewer cycles fit.
SEARCH_SECONDS=0
if [[ -x $BIN/SearchTool ]]; then
    SEARCH_SECONDS=$((SECONDS_TOTAL * 2 / 5))
fi
ORVCTL_SECONDS=$((SECONDS_TOTAL - SEARCH_SECONDS))

cat >"$WORK/setup.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<root>
    <funtion uidentify="1"/>
    <net4g apn="unit.apn" username="unit" password="apn-secret"/>
    <wifi ssid="Soak Wifi" password="wifi-secret"/>
    <device deviceid="" policeid="SOAK" policename="Soak" companyid="U0" companyname="Unit"/>
    <time summertime="0" choice_timezone="20"/>
</root>
EOF
ADDRESSES=()
for ((place = 1; place <= PLACES; place++)); do ADDRESSES+=("$(address "$place")"); done

orvctlAddresses=()
for a in "${ADDRESSES[@]}"; do orvctlAddresses+=(--address "$a"); done
soak orvctl "$ORVCTL_SECONDS" 300 500 150 3 \
    "$BIN/orvctl" --poll-ms 50 provision "$WORK/setup.xml" --all "${orvctlAddresses[@]}"

if ((SEARCH_SECONDS > 0)); then
    mkdir -p "$WORK/home" "$WORK/runtime"
    chmod 700 "$WORK/runtime"
    # A home and runtime folder of its own: its window marker stays out of the way of other
    # search tools (and of the tests that look for them), and nothing is written for the user.
    soak search-tool "$SEARCH_SECONDS" 1500 1000 400 8 \
        env QT_QPA_PLATFORM=offscreen HOME="$WORK/home" XDG_RUNTIME_DIR="$WORK/runtime" \
        XDG_CONFIG_HOME="$WORK/home/.config" "$BIN/SearchTool" --address "$(IFS=,; echo "${ADDRESSES[*]}")" \
        --setup "$WORK/setup.xml" --apply-all-when 1 --keep-applying
else
    echo "no SearchTool in $BIN: its part is left out"
fi

if ((FAILURES > 0)); then
    echo "FAIL: $FAILURES problems (ORV_SOAK_KEEP=1 keeps the logs)"
    exit 1
fi
echo "PASS: no growth beyond the bounds, no camera held two connections, every row accounted for"
