#!/bin/sh
# The screen viewer on a virtual X display when no desktop is there: builds
# what is needed, starts a private Xvfb with a sample window, the virtual
# tactile display in this terminal and Lumo, which puts the window in front
# on the pins.
#   scripts/demo-lumo.sh                 run until you press q on the virtual display
#   DEMO_SECONDS=10 scripts/demo-lumo.sh end by itself after 10 seconds
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target padsim TAVIK Padrik tavikutil Lumo

BIN="$PWD/build/bin"
OUT="$PWD/out/demo-lumo"
CFG="$OUT/config/Orvane/TAVIK200_J"
mkdir -p "$CFG"
# A settings folder of the demo's own: the user's settings stay untouched.
export XDG_CONFIG_HOME="$OUT/config"
LINK="$OUT/padsim-tty"
printf '[Ports]\nCom1=%s\n' "$LINK" > "$CFG/TAVIK.ini"
# Com1, the 64 x 48 display; the window in front, refreshed every 0.1 s.
printf '[Connection]\nPort=0\nHardware=2\n[Browse]\nScanningMode=1\nRefresh=1\n' > "$CFG/Lumo.ini"
export TAVIK_PATH="$BIN/TAVIK"

# A private X display (the first free number from 90 up).
N=90
while [ -e "/tmp/.X11-unix/X$N" ] || [ -e "/tmp/.X$N-lock" ]; do N=$((N+1)); done
Xvfb ":$N" -screen 0 640x480x24 -nolisten tcp >"$OUT/xvfb.log" 2>&1 &
XVFB=$!
export DISPLAY=":$N"
i=0; while ! xprop -root >/dev/null 2>&1 && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done

# The sample window, made the window in front (there is no window manager to do it).
FONT=10x20
xlsfonts 2>/dev/null | grep -qx "$FONT" || FONT=fixed
xmessage -geometry +20+20 -fn "$FONT" -buttons "" "   Lumo   " >/dev/null 2>&1 &
SAMPLE=$!
i=0; while ! xwininfo -name xmessage >/dev/null 2>&1 && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done
WIN=$(xwininfo -name xmessage | sed -n 's/^xwininfo: Window id: \(0x[0-9a-f]*\).*/\1/p')
xprop -root -f _NET_ACTIVE_WINDOW 32x -set _NET_ACTIVE_WINDOW "$WIN"

rm -f "$LINK"
(
  i=0; while [ ! -e "$LINK" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done
  # The connect dialog is answered by this script line; the dialog itself is not shown.
  echo "connect|0|2|ok" > "$OUT/answers"
  export TAVIK_UI_SCRIPT="$OUT/answers" QT_QPA_PLATFORM=offscreen
  export TAVIK_FOREGROUND_PID_FILE="$OUT/foreground.pid"
  "$BIN/Lumo" 2>>"$OUT/app.log" &
  LUMO=$!
  echo "$LUMO" > "$TAVIK_FOREGROUND_PID_FILE"
  trap 'kill -TERM $LUMO 2>/dev/null' TERM INT
  [ -n "$DEMO_SECONDS" ] && (sleep "$DEMO_SECONDS"; kill -TERM $LUMO 2>/dev/null) &
  wait $LUMO || wait $LUMO || true
) &
APP=$!
cleanup() { kill $APP $SAMPLE $XVFB 2>/dev/null || true; }
trap cleanup EXIT
echo "Virtual tactile display showing the window in front of a virtual X display ($DISPLAY); q quits."
echo "(Application messages go to $OUT/app.log.)"
if [ -n "$DEMO_SECONDS" ]; then
  "$BIN/padsim" --link "$LINK" --png "$OUT/pins.png" --state "$OUT/pins.state" --script /dev/null </dev/null &
  SIM=$!
  wait $APP || true
  kill $SIM 2>/dev/null || true
  echo "Pins written to $OUT/pins.png and $OUT/pins.state"
else
  sleep 2
  "$BIN/padsim" --link "$LINK" --png "$OUT/pins.png" || true
fi
