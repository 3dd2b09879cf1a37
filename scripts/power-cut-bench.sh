#!/usr/bin/env bash
# The power-cut test at its full count: orvctl provision --all over eight simulated cameras killed
# with SIGKILL at random moments 50 times (CTest's power_cut runs 10).
#   scripts/power-cut-bench.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
exec "$here/tests/faults/power_cut_test.sh" "$build/bin" "${2:-50}"
