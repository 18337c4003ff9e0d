#!/bin/sh
# Checks that udev accepts the suite's rule file: `udevadm verify` where it
# exists, else (as root) the rule is placed in /run/udev/rules.d for one
# `udevadm test` run, which names every line it cannot parse.
# Before that, without udev: every line that grants access names the USB
# vendor and product ids (a gadget can announce any product string), and the
# package scripts beside the rule parse and re-trigger only devices matched by
# their parent.
#   udev_rule_test.sh RULE_FILE       (exit 77: skipped)
set -u
RULE=$1
SCRIPTS=$(dirname "$RULE")/debian
LOOSE=$(grep -n 'uaccess' "$RULE" | grep -v '^[0-9]*:#' | grep -v 'idVendor}=="[0-9a-f]\{4\}".*idProduct}=="[0-9a-f|]*"' || true)
if [ -n "$LOOSE" ]; then
  echo "access granted without the USB vendor and product ids:"; echo "$LOOSE"; exit 1
fi
for s in postinst postrm; do
  [ -f "$SCRIPTS/$s" ] || { echo "$SCRIPTS/$s is missing"; exit 1; }
  sh -n "$SCRIPTS/$s" || { echo "$s does not parse"; exit 1; }
  WIDE=$(grep -n 'udevadm trigger' "$SCRIPTS/$s" | grep -v -- '--parent-match' || true)
  [ -z "$WIDE" ] || { echo "$s re-triggers more than the matched devices:"; echo "$WIDE"; exit 1; }
done
grep -q 'reload-rules' "$SCRIPTS/postrm" || { echo "postrm does not reload the rules"; exit 1; }
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
