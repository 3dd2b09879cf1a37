#!/usr/bin/env bash
# Configures and builds one build tree.
#   scripts/build.sh [BUILD_DIR] [extra cmake arguments...]
# ORV_BUILD_TARGETS="a b" builds only those targets (and what they need); BUILD_TYPE sets the
# build type of a new tree (default RelWithDebInfo). Compiles through ccache when it is installed
# (scripts/compiler-cache.sh; ORV_CCACHE=0: without); arguments given here come after, and win.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
shift || true
# shellcheck source=scripts/compiler-cache.sh
source "$here/scripts/compiler-cache.sh"
orv_compiler_cache "$here"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "${orv_cache_args[@]}" "$@" >/dev/null
targets=()
for t in ${ORV_BUILD_TARGETS:-}; do
    targets+=(--target "$t")
done
cmake --build "$build" --parallel "$(nproc)" "${targets[@]}"
