#!/usr/bin/env bash
# Sets everything up, builds, and runs every test.
#   scripts/test.sh [BUILD_DIR] [extra cmake arguments...]
# The tests are switched on whatever the build tree's cache says (scripts/run.sh may have made it),
# and CTest fails when it finds no test: a green run always ran the suite.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
build=${1:-$here/build}
shift || true
"$here/scripts/build.sh" "$build" "$@" -DORV_TESTS=ON
ctest --test-dir "$build" --output-on-failure --no-tests=error --parallel "$(nproc)" --timeout 120
