#!/bin/sh
# Installs what is missing, builds everything and runs the whole test suite.
#   scripts/test.sh                      normal build in build/
#   TAVIK_SANITIZE=1 scripts/test.sh     AddressSanitizer + UBSan build in build-asan/
#   TAVIK_SANITIZE=thread scripts/test.sh  ThreadSanitizer build in build-tsan/ (end-to-end tests)
#   TAVIK_CI=1                           warnings are errors; a missing test dependency fails
# Extra arguments go to ctest (e.g. -R client_ or -L unit).
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
BUILD=build
EXTRA=""
CTEST_EXTRA=""
case "$TAVIK_SANITIZE" in
  "") ;;
  thread) BUILD=build-tsan; EXTRA="-DTAVIK_TSAN=ON -DTAVIK_BENCH=OFF"; CTEST_EXTRA="-L e2e" ;;
  *) BUILD=build-asan; EXTRA="-DTAVIK_SANITIZE=ON -DTAVIK_BENCH=OFF" ;;
esac
if [ -n "$TAVIK_CI" ]; then
  EXTRA="$EXTRA -DTAVIK_WERROR=ON -DTAVIK_REQUIRE_ALL=ON"
fi
if command -v ccache >/dev/null 2>&1; then
  EXTRA="$EXTRA -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
fi
cmake -S . -B "$BUILD" -G Ninja $EXTRA
cmake --build "$BUILD" -j "$(nproc)"
# Unit tests run in parallel; end-to-end tests hold the "machine" resource lock
# and run one at a time (they share machine-wide sections as real processes do).
ctest --test-dir "$BUILD" --output-on-failure -j "$(nproc)" $CTEST_EXTRA "$@"
