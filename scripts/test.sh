#!/bin/sh
# Installs what is missing, builds everything and runs the whole test suite.
#   scripts/test.sh               normal build in build/
#   TAVIK_SANITIZE=1 scripts/test.sh   AddressSanitizer + UBSan build in build-asan/
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
BUILD=build
EXTRA=""
if [ -n "$TAVIK_SANITIZE" ]; then
  BUILD=build-asan
  EXTRA="-DTAVIK_SANITIZE=ON -DTAVIK_BENCH=OFF"
fi
cmake -S . -B "$BUILD" -G Ninja $EXTRA
cmake --build "$BUILD" -j "$(nproc)"
# One test at a time: the end-to-end tests share machine-wide objects (shared
# block numbers, the connection info map, the mouse map) as real processes do.
ctest --test-dir "$BUILD" --output-on-failure "$@"
