#!/bin/bash
# Builds, then runs every benchmark headless under Wine and prints one
# markdown table: the chart's frame against one block copy, its parts, the
# sampling tick and one EC call (wall and CPU time), and Vorlane.exe's CPU
# time and private bytes beside the floor and the baseline, in two runs that
# trade places. Not part of the test suite.
# Usage: bash tools/bench.sh [win32|win64]  (default: what tools/run.sh runs)
#   VORLANE_BUILD          build folder (default build-bench; the tree is
#                          build-bench/win32 or build-bench/win64)
#   VORLANE_BENCH_SECONDS  length of each program run (default 60)
#   VORLANE_BENCH_CONTROL  1: a second floor in Vorlane's place, to check the
#                          measurement itself
# How each figure was obtained goes to stderr, below the table.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
source "$ROOT/tools/host.sh"
ARCH="${1:-$(vorlane_default_arch)}"
if ! [[ "$ARCH" =~ ^win(32|64)$ ]]; then
    echo "usage: $0 [win32|win64]" >&2
    exit 2
fi
export VORLANE_BUILD="${VORLANE_BUILD:-$ROOT/build-bench}"
BUILD="$(vorlane_tree "$ARCH")"
export VORLANE_BENCH_SECONDS="${VORLANE_BENCH_SECONDS:-60}"

mkdir -p "$BUILD"
VORLANE_ARCHES="$ARCH" bash "$ROOT/tools/build.sh" >"$BUILD/bench-build.log" 2>&1 || {
    cat "$BUILD/bench-build.log" >&2
    exit 1
}

source "$ROOT/tools/wineenv.sh"
vorlane_use_wine "$BUILD"
echo "bench: $ARCH build ($BUILD) on $(uname -m), $(vorlane_host_runs_32bit && echo 'host runs 32-bit code' || echo 'host without 32-bit execution')" >&2
# Detached from this script's input: a background server holding it open
# would keep a calling pipe waiting.
vorlane_start_xvfb </dev/null
cleanup() {
    wineserver -k 2>/dev/null || true
    vorlane_stop_xvfb
}
trap cleanup EXIT
vorlane_make_prefix "$BUILD/wine-bench" vdesk </dev/null
# Room for the program and the baseline side by side: a window covered by
# another paints less.
if [ ! -f "$WINEPREFIX/.vorlane-bench-desktop" ]; then
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
        >/dev/null 2>&1 </dev/null
    wineserver -w
    touch "$WINEPREFIX/.vorlane-bench-desktop"
fi
wineserver -p >/dev/null 2>&1 </dev/null

OUT="$BUILD/bench-out"
rm -rf "$OUT"
mkdir -p "$OUT"
cd "$BUILD"
for bench in bench_chart bench_tick bench_wrrdio bench_guard bench_process; do
    # Files, not pipes: Wine's helper processes inherit the output handles.
    if ! wine "$bench.exe" >"$OUT/$bench.rows" 2>"$OUT/$bench.notes" </dev/null; then
        echo "$bench failed:" >&2
        cat "$OUT/$bench.rows" "$OUT/$bench.notes" >&2
        exit 1
    fi
done

echo "| Figure | Median | Spread | Repetitions | Target | Verdict |"
echo "|---|---|---|---|---|---|"
for bench in bench_chart bench_tick bench_wrrdio bench_guard bench_process; do
    tr -d '\r' <"$OUT/$bench.rows" | grep '^|'
done
for bench in bench_chart bench_tick bench_wrrdio bench_guard bench_process; do
    tr -d '\r' <"$OUT/$bench.notes" | grep -v '^$' >&2 || true
done
