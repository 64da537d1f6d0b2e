#!/bin/bash
# Installs what is missing, builds, and starts Vorlane on the simulated EC:
# the 32-bit program where this host executes 32-bit code, otherwise the
# 64-bit one, and says which. With a display it opens there; without one it
# runs for about ten seconds on a private virtual screen and leaves a
# screenshot, whose path it prints.
#   VORLANE_ARCH  win32 or win64, instead of the host's choice
set -euo pipefail
source "$(dirname "$0")/wineenv.sh"
ARCH="${VORLANE_ARCH:-$(vorlane_default_arch)}"

bash "$VORLANE_ROOT/tools/setup.sh"
VORLANE_ARCHES="$ARCH" bash "$VORLANE_ROOT/tools/build.sh" --target Vorlane WrRdIO

TREE="$(vorlane_tree "$ARCH")"
vorlane_use_wine "$TREE"
case "$ARCH" in
    win32) echo "run: the 32-bit Vorlane.exe ($TREE)" ;;
    win64) echo "run: the 64-bit Vorlane.exe ($TREE)$(vorlane_host_runs_32bit || echo ', since this host cannot execute 32-bit x86 code')" ;;
esac
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    vorlane_make_prefix "$TREE/wine-run"
    exec wine "$TREE/Vorlane.exe"
fi

unset DISPLAY
trap vorlane_stop_headless_wine EXIT
# A prefix of its own: its one virtual desktop would also show on a display.
vorlane_start_headless_wine "$TREE/wine-headless"
wine "$TREE/Vorlane.exe" >/dev/null 2>&1 </dev/null &
sleep "${VORLANE_RUN_SECONDS:-10}"
SHOT="$(vorlane_build_dir)/screenshot.png"
import -window root "$SHOT"
echo "Vorlane ($ARCH) ran headless; screenshot: $SHOT"
