#!/usr/bin/env bash
# Opens the console ready to log in to a simulated camera on 127.0.0.1. Everything runs from a
# demo folder of its own (BUILD_DIR/demo: a copy of the program, its language file and an
# orv_setup.ini that remembers 127.0.0.1), so no real installation's remembered login is touched.
# The simulated camera stops when the console closes.
#   scripts/run-demo.sh [BUILD_DIR]        (after scripts/setup.sh and a build into BUILD_DIR, default build/)
# ORV_DEMO_LANGUAGE=0|1|2 chooses the language of a new demo folder (Simplified Chinese,
# Traditional Chinese, English; default English). Later runs keep what the console last chose.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
bin=$build/bin
demo=$build/demo
address=127.0.0.1

for f in orvcamera orv-camsim orv-remember-login orv_language.ini; do
    if [[ ! -e "$bin/$f" ]]; then
        echo "run-demo: $bin/$f is missing; build first: scripts/build.sh $build" >&2
        exit 1
    fi
done

mkdir -p "$demo"
cp -f "$bin/orvcamera" "$bin/orv_language.ini" "$demo/"
# The stand-in of the camera maker's SDK, so that the GB28181 dialog reaches the simulated camera.
if [[ -e "$bin/libQMNetSDK.so" ]]; then
    cp -f "$bin/libQMNetSDK.so" "$demo/"
fi
# The simulated camera's own account: admin / wrenq.
if [[ -e "$demo/orv_setup.ini" ]]; then
    "$bin/orv-remember-login" "$demo" "$address" admin wrenq
else
    "$bin/orv-remember-login" "$demo" "$address" admin wrenq "${ORV_DEMO_LANGUAGE:-2}"
fi

"$bin/orv-camsim" --listen "$address" &
camsim=$!
trap 'kill "$camsim" 2>/dev/null || true; wait "$camsim" 2>/dev/null || true' EXIT

# Wait until the camera listens, or tell why it could not start.
for _ in $(seq 50); do
    if ! kill -0 "$camsim" 2>/dev/null; then
        echo "run-demo: the simulated camera did not start (is port 19436 of $address taken?)" >&2
        exit 1
    fi
    if (exec 3<>"/dev/tcp/$address/19436") 2>/dev/null; then
        break
    fi
    sleep 0.1
done

echo "run-demo: simulated camera on $address:19436; console from $demo" >&2
"$demo/orvcamera"
