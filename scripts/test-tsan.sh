#!/usr/bin/env bash
# Builds the tests of the threaded code with ThreadSanitizer and runs them; a data race or a lock
# order inversion fails the run.
#   scripts/test-tsan.sh [BUILD_DIR] [extra cmake arguments...]     (default build-tsan/)
# Runs the fleet, provision, ledger and simulated-camera programs whole, orvctl's fleet commands
# from cli_tests, the search tool's window (gui_search_tool) and its custody report written on the
# ledger's thread (gui_search_tool_report), its forwarder while the shared database is away
# (gui_search_tool_offline), and the console's ledger recorder
# (gui_console_ledger; gui_console_ledger_offline while its shared database is away).
# BUILD_TYPE sets the build type
# (default Debug: every frame in the stacks, and it builds in about two thirds of the CPU time
# RelWithDebInfo takes, which far outweighs the few seconds the tests run longer).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
build=${1:-$here/build-tsan}
shift || true

whole_programs=(fleet_tests provision_tests camsim_tests)
BUILD_TYPE=${BUILD_TYPE:-Debug} ORV_BUILD_TARGETS="${whole_programs[*]} cli_tests gui_search_tool gui_search_tool_report gui_search_tool_offline ledger_tests ledger_append_tool spool_forward_tool gui_console_ledger gui_console_ledger_offline" \
    "$here/scripts/build.sh" "$build" -DORV_TSAN=ON -DORV_SANITIZE=OFF -DORV_BENCH=OFF -DORV_TESTS=ON "$@"

# halt_on_error: the first report ends the test program with `exitcode`, so CTest sees a failure.
# ignore_noninstrumented_modules: Qt is not built with ThreadSanitizer, and its own thread pools
# (Qt Gui converts large images on one) hand memory over with synchronisation that cannot be seen
# here; what those libraries allocate and free is not watched. Every access our code makes still is.
# die_after_fork=0: the report's test reads its PDF with pdftotext, started (fork, then exec at once)
# while the tool's threads run.
export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:ignore_noninstrumented_modules=1:die_after_fork=0:suppressions=$here/.ci/tsan.supp${TSAN_OPTIONS:+:$TSAN_OPTIONS}"
export QT_QPA_PLATFORM=offscreen

# CTest names GoogleTest cases "Suite.Test" (with "Prefix/" for parameterised suites), not by
# program: select the suites each program lists, and those of orvctl's fleet commands by source.
suites=$(
    {
        for program in "${whole_programs[@]}"; do
            "$build/bin/$program" --gtest_list_tests | sed -n 's|^\([^ ][^ ]*\)\..*$|\1|p'
        done
        grep -oE '^(TYPED_)?TEST(_F|_P)?\(\s*\w+' "$here/tests/core/cli/orvctl_fleet_test.cpp" | sed 's/.*(\s*//'
    } | sed 's|.*/||' | sort -u | paste -sd'|'
)
selection="^(gui_search_tool|gui_search_tool_report|gui_search_tool_offline|gui_console_ledger|gui_console_ledger_offline|ledger_tests|([A-Za-z0-9_]+/)?($suites)\\..*)\$"

# This runtime places its shadow memory at fixed addresses, which a kernel randomising more
# address bits than 28 may already have handed out; there the tests run without randomisation.
runner=()
if [[ $(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 28) -gt 28 ]]; then
    runner=(setarch "$(uname -m)" -R)
fi
"${runner[@]}" ctest --test-dir "$build" --output-on-failure --no-tests=error --parallel "$(nproc)" \
    --timeout 120 -R "$selection"
