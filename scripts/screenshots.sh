#!/usr/bin/env bash
# Regenerates docs/screenshot-en.png and docs/screenshot-zh.png: the console itself, rendered
# offscreen (QWidget::grab) in English and in Simplified Chinese, at a fixed time; and
# docs/screenshot-searchtool.png: the search tool after a real run on four simulated cameras.
#   scripts/screenshots.sh [BUILD_DIR]     (default build/)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
"$here/scripts/setup.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$build" --target orv-screenshots --parallel "$(nproc)"
QT_QPA_PLATFORM=offscreen "$build/bin/orv-screenshots" "$here/docs"
