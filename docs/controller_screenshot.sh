#!/bin/sh
# Makes docs/controller.png: the controller's window and its monitor window
# under Xvfb while pin_demo draws on the virtual display. Needs a build in
# build/ (targets TAVIK Padrik padsim pin_demo tavikutil).
set -e
cd "$(dirname "$0")/.."
BIN="$PWD/build/bin"
OUT="$(mktemp -d)"
mkdir -p "$OUT/config/Orvane/TAVIK200_J"
export XDG_CONFIG_HOME="$OUT/config"
printf '[Ports]\nCom1=%s\n[Monitor]\nSize=0\n' "$OUT/tty" > "$XDG_CONFIG_HOME/Orvane/TAVIK200_J/TAVIK.ini"
export TAVIK_PATH="$BIN/TAVIK"
export TAVIK_SCREENSHOT="$PWD/docs/controller.png"
unset QT_QPA_PLATFORM
Xvfb :77 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
XVFB=$!
export DISPLAY=:77
"$BIN/padsim" --link "$OUT/tty" --script /dev/null </dev/null >/dev/null 2>&1 &
SIM=$!
i=0; while [ ! -e "$OUT/tty" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done
"$BIN/pin_demo" --port 0 --seconds 9 2>"$OUT/app.log" || true
kill $SIM $XVFB 2>/dev/null || true
wait 2>/dev/null || true
rm -rf "$OUT"
ls -l docs/controller.png
