#!/bin/sh
# Installs what is missing, builds everything and runs the whole test suite.
#   scripts/test.sh                      normal build in build/
#   TAVIK_SANITIZE=1 scripts/test.sh     AddressSanitizer + UBSan build in build-asan/
#   TAVIK_SANITIZE=thread scripts/test.sh  ThreadSanitizer build in build-tsan/ (end-to-end tests
#                                        but those labelled no_tsan, each with its reason)
#   TAVIK_CI=1                           warnings are errors; a missing test dependency fails
# Tests labelled heavy (whole desktop sessions: GNOME Shell, KWin, Orca) run in the normal build
# only; the sanitizer runs leave them out unless the label is asked for.
# Extra arguments go to ctest (e.g. -R client_ or -L unit).
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
BUILD=build
EXTRA=""
CTEST_EXTRA=""
case "$TAVIK_SANITIZE" in
  "") ;;
  thread) BUILD=build-tsan; EXTRA="-DTAVIK_TSAN=ON -DTAVIK_BENCH=OFF"; CTEST_EXTRA="-L e2e -LE no_tsan|heavy" ;;
  *) BUILD=build-asan; EXTRA="-DTAVIK_SANITIZE=ON -DTAVIK_BENCH=OFF"; CTEST_EXTRA="-LE heavy" ;;
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
if [ "$TAVIK_SANITIZE" != thread ]; then
  exec ctest --test-dir "$BUILD" --output-on-failure -j "$(nproc)" $CTEST_EXTRA "$@"
fi
# Under ThreadSanitizer every process of a test (the test and the programs it
# starts) writes its reports to $BUILD/tsan-reports/<test>.<pid>: any report
# fails the run, also one from a helper process whose test passed.
REPORTS="$BUILD/tsan-reports"
rm -rf "$REPORTS"
mkdir -p "$REPORTS"
# The checker needs its fixed shadow layout: on kernels that randomise mappings with more bits than
# it expects it stops at start ("unexpected memory mapping"), so the run goes without address
# randomisation where that can be asked for.
NORANDOM=""
if setarch "$(uname -m)" -R true 2>/dev/null; then
  NORANDOM="setarch $(uname -m) -R"
fi
rc=0
$NORANDOM ctest --test-dir "$BUILD" --output-on-failure -j "$(nproc)" $CTEST_EXTRA "$@" || rc=$?
if [ -n "$(ls -A "$REPORTS")" ]; then
  for f in "$REPORTS"/*; do
    echo "==== $f"
    cat "$f"
  done
  echo "ThreadSanitizer reports: $(ls "$REPORTS" | wc -l) process(es), in $REPORTS" >&2
  rc=1
fi
exit $rc
