#!/bin/sh
# The idle cost of the screen viewer on GNOME: Lumo on padsim (refresh 0.1 s, the window in front,
# no view frame) beside one Qt window, nothing changing, in a headless GNOME Shell session of its
# own (tests/gnome/gnome_session.sh), with the shell's screen cast open (its Screen Share dialog
# answered by tests/gnome/answer_portal_dialogs); prints the CPU share of a core of Lumo, its
# controller, the shell and PipeWire over SECONDS (default 20) after a settling time of 15 s.
#   bench/desktop_wayland/gnome_idle_cost.sh BUILD_DIR [SECONDS]
# Run it inside /work/isolated-style namespaces or on a machine of its own: it uses port 30 of
# a private settings folder, but Lumo's shared sections are per user.
set -u
if [ -z "${TAVIK_GNOME_SESSION:-}" ]; then
  [ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [SECONDS]" >&2; exit 2; }
  here=$(cd "$(dirname "$0")" && pwd)
  build=$(cd "$1" && pwd)
  exec "$here/../../tests/gnome/gnome_session.sh" "$build/share/gnome-shell/extensions/window-facts@tavik.orvane" \
    "$here/../../tests/gnome/test_extension" -- "$here/gnome_idle_cost.sh" "$build" "${2:-20}"
fi
B="$1/bin"
SECONDS_MEASURED="${2:-20}"
D=$(mktemp -d)
trap 'kill $L $W $P 2>/dev/null; rm -rf "$D"' EXIT
mkdir -p "$D/config/Orvane/TAVIK200_J"
"$B/padsim" --quiet --link "$D/tty" --control "$D/ctl" --state "$D/state" --log "$D/log" >/dev/null 2>&1 &
P=$!
sleep 1
printf '[Ports]\nCom31=%s\n' "$D/tty" >"$D/config/Orvane/TAVIK200_J/TAVIK.ini"
printf '[Connection]\nPort=30\nHardware=2\n[Browse]\nScanningMode=1\nRefresh=1\nViewFrame=0\n' \
  >"$D/config/Orvane/TAVIK200_J/Lumo.ini"
echo "connect||2|ok" >"$D/script"
env QT_QPA_PLATFORM=offscreen LANG=C TAVIK_UI_SCRIPT="$D/script" XDG_CONFIG_HOME="$D/config" \
  TAVIK_PATH="$B/TAVIK" TAVIK_FOREGROUND_PID_FILE="$D/fg" "$B/Lumo" >"$D/lumo.log" 2>&1 &
L=$!
echo "$L" >"$D/fg"
# The screen cast opens at Lumo's first refresh; its dialog is answered once.
cast="not open (tests/gnome/answer_portal_dialogs not built)"
if [ -x "$1/tests/gnome_answer_portal_dialogs" ]; then
  if answer=$("$1/tests/gnome_answer_portal_dialogs" 60 2>/dev/null); then
    i=0; while [ ! -s "$D/config/Orvane/TAVIK200_J/ScreenCast.token" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done
    [ -s "$D/config/Orvane/TAVIK200_J/ScreenCast.token" ] && cast="open ($answer)" || cast="granted but no permission kept ($answer)"
  else
    cast="not open: $answer"
  fi
fi
QT_QPA_PLATFORM=wayland QT_WAYLAND_DISABLE_WINDOWDECORATION=1 "$1/tests/wayland_pattern_window" tavik.idle >/dev/null 2>&1 &
W=$!
sleep 15
T=$(pgrep -f "$B/TAVIK" | head -n 1)
G=$(pgrep -x gnome-shell | head -n 1)
PW=$(pgrep -x pipewire | head -n 1)
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
a1=$(ticks "$L"); t1=$(ticks "$T"); g1=$(ticks "$G"); p1=$(ticks "$PW"); s1=$(date +%s.%N)
sleep "$SECONDS_MEASURED"
a2=$(ticks "$L"); t2=$(ticks "$T"); g2=$(ticks "$G"); p2=$(ticks "$PW"); s2=$(date +%s.%N)
hz=$(getconf CLK_TCK)
share() { echo "scale=2; ($2 - $1) * 100 / $hz / ($s2 - $s1)" | bc; }
# The streams while measuring: the shell's video output and Lumo's input, as PipeWire lists them.
if command -v pw-cli >/dev/null 2>&1; then
  nodes=$(pw-cli ls Node 2>/dev/null | grep -A1 'node.name = "\(gnome-shell\|Lumo\)"' | grep -c 'media.class = "Stream/')
  cast="$cast; video streams now: $nodes (2 = the shell's and Lumo's)"
fi
echo "screen cast: $cast"
echo "Lumo:        $(share "$a1" "$a2") % of a core"
echo "TAVIK:       $(share "$t1" "$t2") % of a core"
echo "gnome-shell: $(share "$g1" "$g2") % of a core"
echo "pipewire:    $(share "$p1" "$p2") % of a core"
echo "Lumo said:"
sed 's/^/  /' "$D/lumo.log"
