#!/usr/bin/env bash
# Sets everything up, builds, starts the simulated camera on 127.0.0.1 and opens the console
# ready to log in to it. Only the programs of the demo are built, in the same tree as
# scripts/test.sh, without changing which parts that tree builds: either script may run first.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
ORV_BUILD_TARGETS="orvcamera SearchTool orv-camsim orv-remember-login QMNetSDK orv_language_file" \
    "$here/scripts/build.sh" "$here/build"
exec "$here/scripts/run-demo.sh" "$here/build"
