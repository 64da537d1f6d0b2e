#!/bin/bash
# Soak run, on demand (not part of the test suite): builds, then runs Vorlane
# on its own simulated EC headless under Wine while a driver cycles the EC
# through faults, extreme tachometer counts and a slow phase and clicks Test,
# Stop, the channel and the slider. Prints a report; exits non-zero when the
# program hung, crashed, grew handles or memory, or left the fan in manual mode.
# Usage: bash tools/soak.sh [minutes] [win32|win64]
#   (default 10 minutes, on the architecture tools/run.sh would use)
set -euo pipefail
source "$(dirname "$0")/wineenv.sh"
MINUTES="${1:-10}"
ARCH="${2:-$(vorlane_default_arch)}"
if ! [[ "$MINUTES" =~ ^[0-9]+$ ]] || [ "$MINUTES" -lt 1 ] || ! [[ "$ARCH" =~ ^win(32|64)$ ]]; then
    echo "usage: $0 [whole minutes, at least 1] [win32|win64]" >&2
    exit 2
fi

bash "$VORLANE_ROOT/tools/setup.sh"
VORLANE_ARCHES="$ARCH" bash "$VORLANE_ROOT/tools/build.sh" --target soak_driver

TREE="$(vorlane_tree "$ARCH")"
vorlane_use_wine "$TREE"
trap vorlane_stop_headless_wine EXIT
# A prefix of its own: its desktop holds no other copy of the program.
vorlane_start_headless_wine "$TREE/wine-soak"
echo "soak: $ARCH build ($TREE), $MINUTES min"
# The driver finishes its last cycle and the checks after the time is up; the
# bound only catches a driver that hangs.
timeout $((MINUTES * 60 + 300)) wine "$TREE/soak_driver.exe" "$MINUTES"
