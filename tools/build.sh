#!/bin/bash
# Configures and builds everything into build/ (the exe, the stand-in library,
# the tests and the benchmarks).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${VORLANE_BUILD:-$ROOT/build}"
# Configured every time: a target added since the last configure must be known
# before it can be asked for.
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j"$(nproc)" "$@"
