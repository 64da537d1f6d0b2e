#!/bin/bash
# Builds, then runs the benchmarks headless under Wine and prints one
# markdown table: the chart's frame against one block copy, its parts, the
# sampling tick and one EC call, the guardian's hand-back, and Vorlane.exe's
# CPU time and private bytes beside the fair floor and a second fair floor,
# the control. Not part of the test suite; docs/PERFORMANCE.md tells how the
# figures are taken.
# Usage: bash tools/bench.sh [win32|win64 [BENCHMARK...]]
#   (default: what tools/run.sh runs, every benchmark)
#   VORLANE_BUILD          build folder (default build-bench; the tree is
#                          build-bench/win32 or build-bench/win64)
#   VORLANE_BENCH_SECONDS  length of each leg of the CPU benchmark (default 20)
#   VORLANE_BENCH_RUNS     runs of the CPU benchmark, six legs each (default 3)
# How each figure was obtained goes to stderr, below the table.
set -euo pipefail
source "$(dirname "$0")/wineenv.sh"
BENCHES=(bench_chart bench_tick bench_wrrdio bench_guard bench_process)
ARCH="${1:-$(vorlane_default_arch)}"
if ! [[ "$ARCH" =~ ^win(32|64)$ ]]; then
    echo "usage: $0 [win32|win64 [BENCHMARK...]]" >&2
    exit 2
fi
if [ $# -gt 1 ]; then
    for bench in "${@:2}"; do
        if ! [[ " ${BENCHES[*]} " == *" $bench "* ]]; then
            echo "bench: no benchmark $bench (${BENCHES[*]})" >&2
            exit 2
        fi
    done
    BENCHES=("${@:2}")
fi
export VORLANE_BUILD="${VORLANE_BUILD:-$VORLANE_ROOT/build-bench}"
BUILD="$(vorlane_tree "$ARCH")"
# A trace file written on every EC call would be measured with the call; the
# CPU benchmark sets the moving EC for its programs itself.
unset WRRDIO_TRACE WRRDIO_SIM_MOVING

mkdir -p "$BUILD"
VORLANE_ARCHES="$ARCH" bash "$VORLANE_ROOT/tools/build.sh" --target "${BENCHES[@]}" \
    >"$BUILD/bench-build.log" 2>&1 || {
    cat "$BUILD/bench-build.log" >&2
    exit 1
}

vorlane_use_wine "$BUILD"
echo "bench: $ARCH build ($BUILD) on $(uname -m), $(vorlane_host_runs_32bit && echo 'host runs 32-bit code' || echo 'host without 32-bit execution')" >&2
# Room for three programs, none over another and none partly off the desktop:
# a window covered or off screen paints less.
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
