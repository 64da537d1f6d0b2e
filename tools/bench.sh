#!/bin/bash
# Builds, then runs every benchmark headless under Wine and prints one
# markdown table: the chart's frame against one block copy, its parts, the
# sampling tick and one EC call, the guardian's hand-back, and Vorlane.exe's
# CPU time and private bytes beside the fair floor and the chart-only floor,
# in two runs that trade places. Not part
# of the test suite; docs/PERFORMANCE.md tells how the figures are taken.
# Usage: bash tools/bench.sh [win32|win64]  (default: what tools/run.sh runs)
#   VORLANE_BUILD          build folder (default build-bench; the tree is
#                          build-bench/win32 or build-bench/win64)
#   VORLANE_BENCH_SECONDS  length of each program run (default 60)
#   VORLANE_BENCH_CONTROL  1: a second fair floor in Vorlane's place, to check
#                          the measurement itself
# How each figure was obtained goes to stderr, below the table.
set -euo pipefail
source "$(dirname "$0")/wineenv.sh"
BENCHES=(bench_chart bench_tick bench_wrrdio bench_guard bench_process)
ARCH="${1:-$(vorlane_default_arch)}"
if ! [[ "$ARCH" =~ ^win(32|64)$ ]]; then
    echo "usage: $0 [win32|win64]" >&2
    exit 2
fi
export VORLANE_BUILD="${VORLANE_BUILD:-$VORLANE_ROOT/build-bench}"
BUILD="$(vorlane_tree "$ARCH")"
export VORLANE_BENCH_SECONDS="${VORLANE_BENCH_SECONDS:-60}"
# A trace file written on every EC call would be measured with the call.
unset WRRDIO_TRACE

mkdir -p "$BUILD"
VORLANE_ARCHES="$ARCH" bash "$VORLANE_ROOT/tools/build.sh" --target "${BENCHES[@]}" \
    >"$BUILD/bench-build.log" 2>&1 || {
    cat "$BUILD/bench-build.log" >&2
    exit 1
}

vorlane_use_wine "$BUILD"
echo "bench: $ARCH build ($BUILD) on $(uname -m), $(vorlane_host_runs_32bit && echo 'host runs 32-bit code' || echo 'host without 32-bit execution')" >&2
# Room for three programs side by side: a window covered by another paints less.
VORLANE_DESKTOP_SIZE=1024x768
trap vorlane_stop_headless_wine EXIT
vorlane_start_headless_wine "$BUILD/wine-bench"

OUT="$BUILD/bench-out"
rm -rf "$OUT"
mkdir -p "$OUT"
cd "$BUILD"
echo "| Figure | Median | Spread | Repetitions | Target | Verdict |"
echo "|---|---|---|---|---|---|"
for bench in "${BENCHES[@]}"; do
    # Files, not pipes: Wine's helper processes inherit the output handles.
    if ! wine "$bench.exe" >"$OUT/$bench.rows" 2>"$OUT/$bench.notes" </dev/null; then
        echo "$bench failed:" >&2
        cat "$OUT/$bench.rows" "$OUT/$bench.notes" >&2
        exit 1
    fi
    tr -d '\r' <"$OUT/$bench.rows" | grep '^|'
done
cat "$OUT"/*.notes | tr -d '\r' | grep -v '^$' >&2 || true
