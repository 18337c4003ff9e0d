#!/bin/sh
# The main job on a machine without a device: builds what is needed, starts
# the virtual tactile display in this terminal and an application on it.
#   scripts/demo.sh            run until you press q on the virtual display
#   DEMO_SECONDS=10 scripts/demo.sh   end by itself after 10 seconds, keeping the
#                                     pins shown then in out/demo/pins.png
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja >/dev/null
TARGETS="padsim TAVIK Padrik tavikutil pin_demo"
[ -n "$(cmake --build build --target help | grep -w Bitora)" ] && TARGETS="$TARGETS Bitora"
cmake --build build -j "$(nproc)" --target $TARGETS

BIN="$PWD/build/bin"
OUT="$PWD/out/demo"
mkdir -p "$OUT/config/Orvane/TAVIK200_J"
# A settings folder of the demo's own: the user's settings stay untouched.
export XDG_CONFIG_HOME="$OUT/config"
LINK="$OUT/padsim-tty"
INI="$XDG_CONFIG_HOME/Orvane/TAVIK200_J/TAVIK.ini"
printf '[Ports]\nCom1=%s\n' "$LINK" > "$INI"
export TAVIK_PATH="$BIN/TAVIK"
[ -z "$DISPLAY" ] && export QT_QPA_PLATFORM=offscreen

APP_PID="$OUT/app.pid"
rm -f "$LINK" "$APP_PID"
(
  # Wait for the virtual display's port, then start the application on it.
  i=0; while [ ! -e "$LINK" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done
  if [ -x "$BIN/Bitora" ] && [ -f resources/samples/sample.bmp ]; then
    # Without an X desktop nothing is "in front": this file names Bitora as the application shown.
    export TAVIK_FOREGROUND_PID_FILE="$OUT/foreground.pid"
    # A copy of the sample: Bitora keeps the view beside the picture (sample.LMC).
    cp -n resources/samples/sample.bmp "$OUT/sample.bmp"
    # The first time, start with the whole 320 x 240 picture on the 64 x 48 pins (5 pixels a pin).
    [ -f "$OUT/sample.LMC" ] || printf 'nBaseX=0\r\nnBaseY=0\r\nnDivX=5\r\nnDivY=5\r\nfOverview=0\r\nfAutoThreshfold=1\r\nbMode=5\r\n' > "$OUT/sample.LMC"
    "$BIN/Bitora" "$OUT/sample.bmp" /Com1 "/Hardware=QX-64X48" 2>>"$OUT/app.log" &
    PROGRAM=$!
    echo "$PROGRAM" > "$TAVIK_FOREGROUND_PID_FILE"
  else
    "$BIN/pin_demo" --port 0 2>>"$OUT/app.log" &
    PROGRAM=$!
  fi
  echo "$PROGRAM" > "$APP_PID"
  trap 'kill -TERM $PROGRAM 2>/dev/null' TERM INT
  wait $PROGRAM || wait $PROGRAM || true
) &
APP=$!
if [ -x "$BIN/Bitora" ] && [ -f resources/samples/sample.bmp ]; then
  echo "Virtual tactile display with Bitora showing a sample picture: - zooms in, + zooms out, the arrow keys scroll, q quits."
else
  echo "Virtual tactile display: press the arrow keys to move the cross, 1..9 for numbered keys, q to quit."
fi
echo "(Application messages go to $OUT/app.log.)"
if [ -n "$DEMO_SECONDS" ]; then
  # padsim keeps its live picture in pins-last.*: the application clears the pins when it ends.
  "$BIN/padsim" --link "$LINK" --png "$OUT/pins-last.png" --state "$OUT/pins-last.state" --script /dev/null </dev/null &
  SIM=$!
  sleep "$DEMO_SECONDS"
  # The pins as the application shows them, taken before it ends.
  for f in png state; do
    [ -f "$OUT/pins-last.$f" ] && cp "$OUT/pins-last.$f" "$OUT/pins.$f.tmp" && mv "$OUT/pins.$f.tmp" "$OUT/pins.$f"
  done
  [ -f "$APP_PID" ] && kill -TERM "$(cat "$APP_PID")" 2>/dev/null
  wait $APP || true
  # The controller clears the pins as it ends, after its last application has left: a moment
  # after the application itself. padsim keeps drawing pins-last.* until the pins are down.
  i=0; while grep -q '#' "$OUT/pins-last.state" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done
  if grep -q '#' "$OUT/pins-last.state" 2>/dev/null; then
    echo "(the pins were still raised 10 s after the application ended)" >&2
  fi
  kill $SIM 2>/dev/null || true
  echo "Pins as the application showed them after $DEMO_SECONDS s written to $OUT/pins.png and $OUT/pins.state"
  echo "(after it ended and cleared them: $OUT/pins-last.png)"
else
  sleep 3  # time to read the keys before the pins fill the terminal
  "$BIN/padsim" --link "$LINK" --png "$OUT/pins.png" || true
  kill $APP 2>/dev/null || true
fi
