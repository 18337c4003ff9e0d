#!/bin/sh
# Runs the suite from an installed package (CI installs the Debian package
# first): the controller starts from /usr/bin, its plug-in loads, and Bitora
# shows the installed sample picture on padsim.
#   package_smoke.sh [PREFIX]      (default /usr)
set -eu
P=${1:-/usr}
T=$(mktemp -d "${TMPDIR:-/tmp}/tavik-package.XXXXXX")
SIM=""; APP=""
# The controller that Bitora started outlives it and keeps writing its
# settings under $T: stop it too, and wait for every process before the
# folder goes. Cleaning up never decides the result.
cleanup() {
  [ -n "$APP" ] && kill "$APP" 2>/dev/null || true
  pkill -x TAVIK 2>/dev/null || true
  [ -n "$SIM" ] && kill "$SIM" 2>/dev/null || true
  i=0
  while [ $i -lt 50 ] && { pgrep -x TAVIK >/dev/null 2>&1 ||
        { [ -n "$SIM" ] && kill -0 "$SIM" 2>/dev/null; }; }; do
    sleep 0.1; i=$((i+1))
  done
  rm -rf "$T" 2>/dev/null || { sleep 1; rm -rf "$T" 2>/dev/null; } || true
}
trap cleanup EXIT INT TERM
fail() { echo "package_smoke: $*" >&2; [ -f "$T/app.log" ] && cat "$T/app.log" >&2; exit 1; }

for prog in TAVIK Lumo Bitora padsim; do
  "$P/bin/$prog" --version >/dev/null 2>&1 || fail "$P/bin/$prog --version failed"
done
export XDG_CONFIG_HOME="$T/config"
mkdir -p "$XDG_CONFIG_HOME/Orvane/TAVIK200_J"
LINK="$T/padsim-tty"
printf '[Ports]\nCom1=%s\n' "$LINK" >"$XDG_CONFIG_HOME/Orvane/TAVIK200_J/TAVIK.ini"
unset TAVIK_PATH TAVIK_PLUGIN_DIR DISPLAY || true
export QT_QPA_PLATFORM=offscreen
"$P/bin/padsim" --link "$LINK" --state "$T/state" --quiet </dev/null &
SIM=$!
i=0; while [ ! -e "$LINK" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done
cp "$P/share/tavik/samples/sample.bmp" "$T/sample.bmp"
# Without a desktop nothing is in front: this file (read by the controller
# that Bitora starts) names Bitora as the application shown.
export TAVIK_FOREGROUND_PID_FILE="$T/foreground.pid"
"$P/bin/Bitora" "$T/sample.bmp" /Com1 "/Hardware=QX-64X48" >"$T/app.log" 2>&1 &
APP=$!
echo "$APP" >"$TAVIK_FOREGROUND_PID_FILE"
i=0; while ! grep -q '#' "$T/state" 2>/dev/null && [ $i -lt 150 ]; do sleep 0.1; i=$((i+1)); done
grep -q '#' "$T/state" 2>/dev/null || fail "no pins raised by the installed Bitora"
pgrep -f "$P/lib/tavik/TAVIK" >/dev/null || pgrep -x TAVIK >/dev/null || fail "the installed controller is not running"
echo "package_smoke: installed controller, plug-in and Bitora showed the sample on padsim"
