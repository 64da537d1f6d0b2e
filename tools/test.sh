#!/bin/bash
# Installs what is missing, builds, and runs the whole test suite headless
# under Wine. Exits non-zero when any test fails.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${VORLANE_BUILD:-$ROOT/build}"

bash "$ROOT/tools/setup.sh"
VORLANE_BUILD="$BUILD" bash "$ROOT/tools/build.sh"

source "$ROOT/tools/wineenv.sh"
trap vorlane_stop_headless_wine EXIT
vorlane_start_headless_wine "$BUILD/wine-test"
# Serial: every end-to-end test owns the one main-window caption while it runs.
ctest --test-dir "$BUILD" --output-on-failure -j1 "$@"
