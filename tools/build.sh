#!/bin/bash
# Configures and builds both architectures from one source tree, each in a
# tree of its own: build/win32 (the product, i686) and build/win64 (x86_64).
# Each holds the exe, the stand-in library, the tests, the benchmarks, its
# release zip and its Wine wrappers (wine-bin/).
#   VORLANE_ARCHES  the trees to build (default "win32 win64")
# Further arguments go to `cmake --build` (e.g. --target Vorlane WrRdIO).
set -euo pipefail
source "$(dirname "$0")/wineenv.sh"

for arch in ${VORLANE_ARCHES:-win32 win64}; do
    case "$arch" in
        win32) toolchain=mingw-i686 ;;
        win64) toolchain=mingw-x86_64 ;;
        *) echo "build: unknown architecture $arch (win32 or win64)" >&2; exit 2 ;;
    esac
    runs=ON
    if [ "$arch" = win32 ] && ! vorlane_host_runs_32bit; then runs=OFF; fi
    tree="$(vorlane_tree "$arch")"
    # Configured every time: a target added since the last configure must be
    # known before it can be asked for.
    cmake -S "$VORLANE_ROOT" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$VORLANE_ROOT/cmake/$toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DVORLANE_HOST_RUNS=$runs >/dev/null
    vorlane_write_wine_wrappers "$tree"
    cmake --build "$tree" -j"$(nproc)" "$@"
done
