#!/bin/sh
# Runs one GoogleTest program and reports it to CTest as skipped (exit 77)
# when it passed without running a single case: every case called GTEST_SKIP
# (no display, no accessibility bus, not root). A failure is never hidden.
out=$(mktemp "${TMPDIR:-/tmp}/gtest-out.XXXXXX") || exec "$@"
"$@" >"$out" 2>&1
rc=$?
cat "$out"
if [ "$rc" -eq 0 ] && grep -q '^\[  SKIPPED \]' "$out" && grep -q '^\[  PASSED  \] 0 tests' "$out"; then
  rc=77
fi
rm -f "$out"
exit "$rc"
