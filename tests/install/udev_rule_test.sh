#!/bin/sh
# Checks that udev accepts the suite's rule file: `udevadm verify` where it
# exists, else (as root) the rule is placed in /run/udev/rules.d for one
# `udevadm test` run, which names every line it cannot parse.
#   udev_rule_test.sh RULE_FILE       (exit 77: skipped)
set -u
RULE=$1
command -v udevadm >/dev/null 2>&1 || { echo "udevadm not installed: skipped"; exit 77; }
if udevadm verify --help >/dev/null 2>&1; then
  exec udevadm verify "$RULE"
fi
[ "$(id -u)" -eq 0 ] || { echo "needs root for udevadm test: skipped"; exit 77; }
DEV=$(ls -d /sys/class/tty/* 2>/dev/null | head -1)
[ -n "$DEV" ] || { echo "no tty device to test with: skipped"; exit 77; }
mkdir -p /run/udev/rules.d
COPY=/run/udev/rules.d/70-tavik-check-$$.rules
cp "$RULE" "$COPY"
OUT=$(udevadm test "$DEV" 2>&1)
rm -f "$COPY"
echo "$OUT" | grep -q "Reading rules file: $COPY" || { echo "$OUT" | tail -5; echo "rule file was not read"; exit 1; }
BAD=$(echo "$OUT" | grep "^$COPY:" || true)
if [ -n "$BAD" ]; then
  echo "$BAD" | sed "s|$COPY|$RULE|"
  exit 1
fi
echo "udev accepts $RULE"
