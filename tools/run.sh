#!/bin/bash
# Installs what is missing, builds, and starts Vorlane on the simulated EC.
# With a display it opens there; without one it runs for about ten seconds on
# a private virtual screen and leaves a screenshot, whose path it prints.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${VORLANE_BUILD:-$ROOT/build}"

bash "$ROOT/tools/setup.sh"
VORLANE_BUILD="$BUILD" bash "$ROOT/tools/build.sh" --target Vorlane WrRdIO

source "$ROOT/tools/wineenv.sh"
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    vorlane_make_prefix "$BUILD/wine-run"
    exec wine "$BUILD/Vorlane.exe"
fi

unset DISPLAY
vorlane_start_xvfb
cleanup() {
    wineserver -k 2>/dev/null || true
    vorlane_stop_xvfb
}
trap cleanup EXIT
vorlane_make_prefix "$BUILD/wine-run"
wine explorer /desktop=Vorlane,800x600 "$BUILD/Vorlane.exe" >/dev/null 2>&1 &
sleep "${VORLANE_RUN_SECONDS:-10}"
SHOT="$BUILD/screenshot.png"
import -window root "$SHOT"
echo "Vorlane ran headless; screenshot: $SHOT"
