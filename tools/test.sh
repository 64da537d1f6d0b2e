#!/bin/bash
# Installs what is missing, builds, and runs the whole test suite headless
# under Wine. Exits non-zero when any test fails.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${VORLANE_BUILD:-$ROOT/build}"

bash "$ROOT/tools/setup.sh"
VORLANE_BUILD="$BUILD" bash "$ROOT/tools/build.sh"

source "$ROOT/tools/wineenv.sh"
vorlane_start_xvfb
cleanup() {
    wineserver -k 2>/dev/null || true
    vorlane_stop_xvfb
}
trap cleanup EXIT
vorlane_make_prefix "$BUILD/wine-test" vdesk
# One persistent wineserver for the whole run: each process start is cheap then.
wineserver -p
# Wine starts its desktop and services from the first process that needs them,
# and they would inherit that process's output: start them here, detached, so
# that ctest is not left waiting on a pipe they hold.
wine explorer /desktop=Default,800x600 >/dev/null 2>&1 </dev/null &
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
# Serial: every end-to-end test owns the one main-window caption while it runs.
ctest --test-dir "$BUILD" --output-on-failure -j1 "$@"
