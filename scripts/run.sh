#!/usr/bin/env bash
# Sets everything up, builds, starts the simulated camera on 127.0.0.1 and opens the console
# ready to log in to it.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
"$here/scripts/build.sh" "$here/build" -DORV_TESTS=OFF -DORV_BENCH=OFF
if [[ -x "$here/scripts/run-demo.sh" && -x "$here/build/bin/orvcamera" ]]; then
    exec "$here/scripts/run-demo.sh" "$here/build"
fi
exec "$here/build/bin/orv-camsim" --listen 127.0.0.1 --verbose
