#!/bin/sh
# The screen viewer on a virtual X display when no desktop is there: builds
# what is needed, starts a private Xvfb with a sample window in front, the
# virtual tactile display in this terminal and Lumo, which shows the window in
# front on the pins. After a few seconds a second window comes to the front
# and the pins follow it.
#   scripts/demo-lumo.sh                 run until you press q on the virtual display
#   DEMO_SECONDS=10 scripts/demo-lumo.sh end by itself after 10 seconds
#   DEMO_SECOND_WINDOW=5                 the second window after 5 s (default 8; "no": never)
# Everything it starts ends with it, also when a step fails or it is interrupted.
set -e
cd "$(dirname "$0")/.."

PIDS=""
cleanup() {
  trap - EXIT INT TERM
  for p in $PIDS; do kill -TERM "$p" 2>/dev/null || true; done
  # Lumo and the controller leave the port in their own time; Xvfb goes last.
  for p in $PIDS; do
    i=0; while kill -0 "$p" 2>/dev/null && [ $i -lt 50 ]; do sleep 0.1; i=$((i+1)); done
    kill -KILL "$p" 2>/dev/null || true
  done
  [ -n "$XVFB" ] && kill -TERM "$XVFB" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM
fail() { echo "demo-lumo: $*" >&2; exit 1; }

scripts/deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target padsim TAVIK Padrik tavikutil Lumo demo_windows

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
: > "$OUT/app.log"

# A private X display: Xvfb picks a free number and writes it once it accepts clients.
rm -f "$OUT/display"
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$OUT/display" >"$OUT/xvfb.log" 2>&1 &
XVFB=$!
i=0; while [ ! -s "$OUT/display" ] && kill -0 "$XVFB" 2>/dev/null && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done
[ -s "$OUT/display" ] || fail "the virtual X display did not start (see $OUT/xvfb.log)"
export DISPLAY=":$(head -n1 "$OUT/display")"

# The sample windows: the first in front at once, the second on SIGUSR1 (sent below).
SECOND="${DEMO_SECOND_WINDOW:-8}"
case "$SECOND" in no|[0-9]|[0-9][0-9]|[0-9][0-9][0-9]) ;; *) fail "DEMO_SECOND_WINDOW is whole seconds or no" ;; esac
"$BIN/demo_windows" >"$OUT/windows.out" 2>>"$OUT/app.log" &
WINDOWS=$!
PIDS="$WINDOWS"
i=0; while ! grep -qx ready "$OUT/windows.out" 2>/dev/null && kill -0 "$WINDOWS" 2>/dev/null && [ $i -lt 300 ]; do
  sleep 0.1; i=$((i+1))
done
grep -qx ready "$OUT/windows.out" 2>/dev/null || fail "the sample window did not open (see $OUT/app.log)"

rm -f "$LINK"
# Lumo is the application the controller shows on the pins (there is no desktop to say so).
export TAVIK_FOREGROUND_PID_FILE="$OUT/foreground.pid"
: > "$TAVIK_FOREGROUND_PID_FILE"
echo "Virtual tactile display showing the window in front of a virtual X display ($DISPLAY); q quits."
[ "$SECOND" = no ] || echo "A second window comes to the front after $SECOND s; the pins follow it."
echo "(Application messages go to $OUT/app.log.)"
if [ -n "$DEMO_SECONDS" ]; then
  # padsim draws the live pins into pins-live.*; the pictures kept are copies taken on the way.
  "$BIN/padsim" --link "$LINK" --png "$OUT/pins-live.png" --state "$OUT/pins-live.state" --script /dev/null </dev/null &
  SIM=$!
else
  SIM=""
fi

# Lumo once the virtual display's port is there; the connect dialog is answered by a script line.
i=0; while [ -n "$SIM" ] && [ ! -e "$LINK" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done
start_lumo() {
  i=0; while [ ! -e "$LINK" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done
  echo "connect|0|2|ok" > "$OUT/answers"
  TAVIK_UI_SCRIPT="$OUT/answers" QT_QPA_PLATFORM=offscreen "$BIN/Lumo" 2>>"$OUT/app.log" &
  echo $! > "$TAVIK_FOREGROUND_PID_FILE"
}
# The second window comes to the front SECOND seconds after Lumo started.
second_window_later() {
  [ "$SECOND" = no ] && return 0
  ( sleep "$SECOND"; kill -USR1 "$WINDOWS" 2>/dev/null ) &
  PIDS="$! $PIDS"
}

if [ -n "$SIM" ]; then
  PIDS="$PIDS $SIM"
  [ -e "$LINK" ] || fail "the virtual tactile display did not start"
  start_lumo
  LUMO=$(cat "$TAVIK_FOREGROUND_PID_FILE")
  PIDS="$LUMO $PIDS"
  keep() {  # keep [name]: the pins as shown now, as $OUT/name.png and name.state
    for f in png state; do
      [ -f "$OUT/pins-live.$f" ] && cp "$OUT/pins-live.$f" "$OUT/$1.$f.tmp" && mv "$OUT/$1.$f.tmp" "$OUT/$1.$f"
    done
  }
  # With whole seconds and the second window within the run: the first window's pins just before it.
  if [ "$SECOND" != no ] && [ "$SECOND" -ge 2 ] && [ "$DEMO_SECONDS" -gt "$SECOND" ] 2>/dev/null; then
    sleep $((SECOND - 1))
    keep pins-first
    kill -USR1 "$WINDOWS" 2>/dev/null || true
    sleep $((DEMO_SECONDS - SECOND + 1))
    echo "Pins of the first window written to $OUT/pins-first.png"
  else
    second_window_later
    sleep "$DEMO_SECONDS"
  fi
  keep pins
  kill -TERM "$LUMO" 2>/dev/null || true
  i=0; while kill -0 "$LUMO" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done
  echo "Pins after $DEMO_SECONDS s written to $OUT/pins.png and $OUT/pins.state"
else
  # padsim runs in this terminal; Lumo starts beside it once its port exists.
  ( start_lumo ) &
  STARTER=$!
  PIDS="$STARTER $PIDS"
  second_window_later
  sleep 2
  "$BIN/padsim" --link "$LINK" --png "$OUT/pins.png" || true
  wait "$STARTER" 2>/dev/null || true
  [ -s "$TAVIK_FOREGROUND_PID_FILE" ] && PIDS="$(cat "$TAVIK_FOREGROUND_PID_FILE") $PIDS"
fi
