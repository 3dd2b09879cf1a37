#!/usr/bin/env bash
# One demo session: copies the console into a demo folder of its own with an orv_setup.ini that
# remembers the simulated camera on 127.0.0.1 (admin / wrenq), starts the simulated camera, opens
# the console and stops the camera when the console closes. The user's own settings are never
# touched. Used by scripts/run-demo.sh (build tree) and the installed orvcamera-demo.
#   demo-session.sh NAME PROGRAM_DIR HELPER_DIR CAMSIM DEMO_DIR
# PROGRAM_DIR holds orvcamera and orv_language.ini, HELPER_DIR orv-remember-login and the stand-in
# of the camera maker's SDK (libQMNetSDK.so). ORV_DEMO_LANGUAGE=0|1|2 chooses the language of a new
# demo folder (Simplified Chinese, Traditional Chinese, English; default English); later runs keep
# what the console last chose.
set -euo pipefail
name=$1 program=$2 helpers=$3 camsim=$4 demo=$5
address=127.0.0.1

for f in "$program/orvcamera" "$program/orv_language.ini" "$helpers/orv-remember-login" "$camsim"; do
    if [[ ! -e "$f" ]]; then
        echo "$name: $f is missing" >&2
        exit 1
    fi
done

# A copy, not a link: the console takes its files from beside its real path.
mkdir -p "$demo"
cp -f "$program/orvcamera" "$program/orv_language.ini" "$demo/"
# The search tool that Batch starts, looking at the simulated camera instead of the interfaces.
if [[ -e "$program/SearchTool" ]]; then
    cp -f "$program/SearchTool" "$demo/"
fi
export ORV_CAMERA_ADDRESSES=$address
# The demo's ledger events (console and search tool) go to a default ledger in the demo folder,
# never to the user's own.
XDG_DATA_HOME="$(cd "$demo" && pwd)/data"
export XDG_DATA_HOME
# The stand-in of the camera maker's SDK, so that the GB28181 dialog reaches the simulated camera.
if [[ -e "$helpers/libQMNetSDK.so" ]]; then
    cp -f "$helpers/libQMNetSDK.so" "$demo/"
fi
if [[ -e "$demo/orv_setup.ini" ]]; then
    "$helpers/orv-remember-login" "$demo" "$address" admin wrenq
else
    "$helpers/orv-remember-login" "$demo" "$address" admin wrenq "${ORV_DEMO_LANGUAGE:-2}"
fi

"$camsim" --listen "$address" &
camsim_pid=$!
trap 'kill "$camsim_pid" 2>/dev/null || true; wait "$camsim_pid" 2>/dev/null || true' EXIT

# Wait until the camera listens, or tell why it could not start.
for _ in $(seq 50); do
    if ! kill -0 "$camsim_pid" 2>/dev/null; then
        echo "$name: the simulated camera did not start (is port 19436 of $address taken?)" >&2
        exit 1
    fi
    if (exec 3<>"/dev/tcp/$address/19436") 2>/dev/null; then
        break
    fi
    sleep 0.1
done

echo "$name: simulated camera on $address:19436; console from $demo" >&2
"$demo/orvcamera"
