#!/usr/bin/env bash
# Opens the console ready to log in to a simulated camera on 127.0.0.1, from a demo folder of its
# own (BUILD_DIR/demo), so no real installation's remembered login is touched. The simulated
# camera stops when the console closes.
#   scripts/run-demo.sh [BUILD_DIR]        (after scripts/setup.sh and a build into BUILD_DIR, default build/)
# ORV_DEMO_LANGUAGE=0|1|2 chooses the language of a new demo folder (Simplified Chinese,
# Traditional Chinese, English; default English). Later runs keep what the console last chose.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
bin=$build/bin
if [[ ! -e "$bin/orvcamera" || ! -e "$bin/orv-camsim" ]]; then
    echo "run-demo: the programs are missing from $bin; build first: scripts/build.sh $build" >&2
    exit 1
fi
exec "$here/tools/demo/demo-session.sh" run-demo "$bin" "$bin" "$bin/orv-camsim" "$build/demo"
