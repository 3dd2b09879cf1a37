#!/usr/bin/env bash
# Sets everything up, builds, and runs every test.
#   scripts/test.sh [BUILD_DIR] [extra cmake arguments...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
build=${1:-$here/build}
shift || true
"$here/scripts/build.sh" "$build" "$@"
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 120
