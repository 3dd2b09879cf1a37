#!/usr/bin/env bash
# Regenerates docs/report-zh-first.png, docs/report-zh-appendix.png, docs/report-en-first.png and
# docs/report-en-appendix.png: the first page and the first page of the appendix of a camera's
# chain-of-custody report, in Simplified Chinese and in English. The ledger behind it is made by
# real work: three simulated cameras on loopback addresses are set up by orvctl from a setup file
# and three rosters in turn (the officers and units change hands), with a check after each, into a
# ledger and a station folder of their own in a temporary folder; then orvctl ledger report writes
# the two reports and pdftoppm draws the pages.
#   scripts/report-screenshots.sh [BUILD_DIR]     (default build/)
# ORV_REPORT_SHOT_ADDRESSES="127.0.0.201 127.0.0.202 127.0.0.203" chooses the cameras' addresses
# (loopback only; port 19436 of each must be free).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
"$here/scripts/setup.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$build" --target orvctl orv-camsim --parallel "$(nproc)"
bin=$(cd "$build/bin" && pwd)
for tool in pdftoppm pdftotext pdfinfo pnmquant pngtopnm pnmtopng; do
    if ! command -v "$tool" >/dev/null; then
        echo "report-screenshots: $tool is missing (Debian: poppler-utils, netpbm)" >&2
        exit 1
    fi
done

read -r -a addresses <<<"${ORV_REPORT_SHOT_ADDRESSES:-127.0.0.201 127.0.0.202 127.0.0.203}"
devices=(ORV202603117 ORV202603118 ORV202603124)
if ((${#addresses[@]} != ${#devices[@]})); then
    echo "report-screenshots: ORV_REPORT_SHOT_ADDRESSES needs ${#devices[@]} addresses" >&2
    exit 1
fi
for a in "${addresses[@]}"; do
    if [[ $a != 127.* ]]; then
        echo "report-screenshots: $a is not a loopback address" >&2
        exit 1
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/orv-report-shots-XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# Nothing of this account's or this machine's ledger setup is used or touched.
export ORV_STATION_FOLDER=$work/station
export ORV_MACHINE_SETTINGS=$work/no-machine-settings.ini
export XDG_DATA_HOME=$work/data
export QT_QPA_PLATFORM=offscreen
# A station in China: every time in the reports is shown in its zone.
export TZ=Asia/Shanghai
ledger=$work/ledger.db

# The cameras, each with its device id, waited for until it listens.
for i in "${!addresses[@]}"; do
    "$bin/orv-camsim" --listen "${addresses[$i]}" --device-id "${devices[$i]}" --reply-delay-ms 5 \
        >"$work/camera$i.log" 2>&1 &
    pids+=($!)
done
for i in "${!addresses[@]}"; do
    for _ in $(seq 100); do
        if ! kill -0 "${pids[$i]}" 2>/dev/null; then
            echo "report-screenshots: the camera on ${addresses[$i]} did not start (is port 19436 taken?):" >&2
            cat "$work/camera$i.log" >&2
            exit 1
        fi
        if (exec 3<>"/dev/tcp/${addresses[$i]}/19436") 2>/dev/null; then
            break
        fi
        sleep 0.05
    done
done

setup="$work/一大队执法记录仪配置.xml"
cat >"$setup" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<root>
    <funtion uidentify="1"/>
    <net4g apn="jw.apn" username="unit" password="apn-secret"/>
    <wifi ssid="ZFJLY-01" password="wifi-secret"/>
    <device deviceid="" policeid="" policename="" companyid="310101" companyname="城关派出所"/>
    <time summertime="0" choice_timezone="20"/>
</root>
EOF

# Three rosters: the cameras handed out, handed to other officers at the next shift, and one
# lent to the traffic brigade.
roster() {
    local file=$work/roster-$1.csv
    shift
    printf 'device_id,police_id,police_name,company_id,company_name\n' >"$file"
    printf '%s\n' "$@" >>"$file"
}
roster 1 "${devices[0]},031107,张伟,310101,城关派出所" "${devices[1]},031152,李娜,310101,城关派出所" \
    "${devices[2]},031188,王强,310102,西城派出所"
roster 2 "${devices[0]},031163,刘洋,310101,城关派出所" "${devices[1]},031107,张伟,310101,城关派出所" \
    "${devices[2]},031152,李娜,310102,西城派出所"
roster 3 "${devices[0]},052031,陈静,310230,交警支队一大队" "${devices[1]},031188,王强,310101,城关派出所" \
    "${devices[2]},031163,刘洋,310102,西城派出所"

orvctl() {
    "$bin/orvctl" --ip "${addresses[0]}" --ledger "$ledger" "$@"
}
dock=()
for a in "${addresses[@]}"; do
    dock+=(--address "$a")
done
run() {
    local what=$1 n=$2
    echo "report-screenshots: $what with roster $n" >&2
    orvctl --poll-ms 100 "$what" "$setup" --all "${dock[@]}" --roster "$work/roster-$n.csv" \
        --inventory "$work/inventory.csv" --count "${#addresses[@]}" >>"$work/orvctl.log"
}
for n in 1 2 3; do
    run provision "$n"
    sleep 1
    run check "$n"
    sleep 1
done

# The reports of the first camera, and the pages drawn: the first, and the appendix's first.
mkdir -p "$here/docs"
shoot() {
    local language=$1 name=$2 appendix=$3
    local pdf=$work/report-$name.pdf
    orvctl ledger report --device "${devices[0]}" --language "$language" --pdf "$pdf" >>"$work/orvctl.log"
    local pages page=0 text
    pages=$(pdfinfo "$pdf" | sed -n 's/^Pages: *//p')
    for p in $(seq "$pages"); do
        # Read whole first: grep -q stops at the first match, and pipefail would count the
        # pdftotext it cut off as a failure.
        text=$(pdftotext -enc UTF-8 -f "$p" -l "$p" "$pdf" -)
        if grep -qF "$appendix" <<<"$text"; then
            page=$p
            break
        fi
    done
    if ((page == 0)); then
        echo "report-screenshots: no page of $pdf holds \"$appendix\"" >&2
        exit 1
    fi
    png "$pdf" 1 "$here/docs/report-$name-first.png"
    png "$pdf" "$page" "$here/docs/report-$name-appendix.png"
    echo "report-screenshots: $pdf: $pages pages, appendix from page $page" >&2
}
# A page at 80 dots an inch in at most 64 colours: small enough for the README.
png() {
    local pdf=$1 page=$2 out=$3
    pdftoppm -r 80 -f "$page" -l "$page" -singlefile -png "$pdf" "$work/page"
    pngtopnm "$work/page.png" | pnmquant 64 2>/dev/null | pnmtopng -compression 9 >"$out"
}
shoot zh_CN zh "附录：各事件的包含证明"
shoot en en "Appendix: the proof of each event"
ls -l "$here"/docs/report-*.png >&2
