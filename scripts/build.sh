#!/usr/bin/env bash
# Configures and builds one build tree.
#   scripts/build.sh [BUILD_DIR] [extra cmake arguments...]
# ORV_BUILD_TARGETS="a b" builds only those targets (and what they need); BUILD_TYPE sets the
# build type of a new tree (default RelWithDebInfo).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
shift || true
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
targets=()
for t in ${ORV_BUILD_TARGETS:-}; do
    targets+=(--target "$t")
done
cmake --build "$build" --parallel "$(nproc)" "${targets[@]}"
