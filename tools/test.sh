#!/bin/bash
# Installs what is missing, builds both architectures, and runs the whole
# test suite headless under Wine: the 64-bit build's on every host, the
# 32-bit build's where this host executes 32-bit code (elsewhere its entries
# report themselves skipped, and the 64-bit suite checks the 32-bit program
# without running it). The 64-bit suite also builds the release of both
# architectures again in another folder and compares the bytes. Exits
# non-zero when any test fails.
# Arguments go to each ctest run (e.g. -R test_chart).
set -euo pipefail
source "$(dirname "$0")/wineenv.sh"

bash "$VORLANE_ROOT/tools/setup.sh"
bash "$VORLANE_ROOT/tools/build.sh"

trap vorlane_stop_headless_wine EXIT
vorlane_start_xvfb </dev/null
status=0
# The 64-bit suite last: its summary, which runs on every host, ends the output.
for arch in win32 win64; do
    tree="$(vorlane_tree "$arch")"
    echo "=== $arch suite ($tree) ==="
    if [ "$arch" = win32 ] && ! vorlane_host_runs_32bit; then
        echo "test: this host cannot execute 32-bit x86 code: of the win32 suite only the checks of its built files, its zip and its MSI run here; its Wine tests show as Skipped"
    else
        vorlane_use_wine "$tree"
        # One desktop at a time on the shared screen: the tests read pixels.
        vorlane_start_wine_desktop "$tree/wine-test"
    fi
    # Serial: every end-to-end test owns the one main-window caption while it runs.
    ctest --test-dir "$tree" --output-on-failure -j1 "$@" || status=1
    wineserver -k 2>/dev/null || true
done
exit $status
