#!/bin/sh
# Runs a command inside a headless Wayland session of its own: a private session bus, PipeWire and
# WirePlumber, sway on the headless back end with one 640x480 output, the desktop portal with its
# wlroots back end (no chooser: the one output is shared without asking), and optionally a test
# window, which is in front when the command starts. Everything lives in a temporary folder
# (runtime folder, configs, logs) and is stopped afterwards; the command's exit code is returned.
# Exits 77 with a "SKIP:" line when a piece of the session is not installed or does not start.
# The wlroots portal casts only what a GPU renderer drew: without a render node (/dev/dri) sway
# can draw only with pixman, whose screencopy frames offer shared memory but no dmabuf, and
# xdg-desktop-portal-wlr 0.7 answers every Start with an error unless a dmabuf format is offered
# (no option or variable turns that off), so the sway session is skipped there; --fake-portal runs
# a stand-in portal and video source instead of sway and the portals (PipeWire, WirePlumber and
# the bus are real).
#   tests/wayland/session.sh [--window PROGRAM] [--fake-portal "PROGRAM [ARGS]"] [--keep] -- COMMAND [ARGS...]
# The command sees WAYLAND_DISPLAY, SWAYSOCK, XDG_RUNTIME_DIR, DBUS_SESSION_BUS_ADDRESS and
# TAVIK_WAYLAND_SESSION (the temporary folder; logs are in it), TAVIK_WAYLAND_WINDOW_PID.
set -u

skip() { echo "SKIP: $*"; exit 77; }

if [ -z "${TAVIK_WAYLAND_INNER:-}" ]; then
  command -v dbus-run-session >/dev/null 2>&1 || skip "dbus-run-session is not installed (package dbus-daemon)"
  TAVIK_WAYLAND_INNER=1 exec dbus-run-session -- "$0" "$@"
fi
unset TAVIK_WAYLAND_INNER

WINDOW=""
FAKE=""
KEEP=""
while [ $# -gt 0 ]; do
  case "$1" in
    --window) WINDOW="$2"; shift 2 ;;
    --fake-portal) FAKE="$2"; shift 2 ;;
    --keep) KEEP=1; shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--window PROGRAM] [--keep] -- COMMAND [ARGS...]" >&2; exit 2; }

PORTAL=/usr/libexec/xdg-desktop-portal
PORTAL_WLR=/usr/libexec/xdg-desktop-portal-wlr
for tool in pipewire wireplumber dbus-send; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed (scripts/deps.sh installs it)"
done
if [ -z "$FAKE" ]; then
  for tool in sway swaymsg; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed (scripts/deps.sh installs it)"
  done
  [ -x "$PORTAL" ] || skip "xdg-desktop-portal is not installed"
  [ -x "$PORTAL_WLR" ] || skip "xdg-desktop-portal-wlr is not installed"
  ls /dev/dri/renderD* >/dev/null 2>&1 ||
    skip "no GPU render node (/dev/dri/renderD*): sway then draws with pixman and its screencopy frames offer no" \
      "dmabuf format, so xdg-desktop-portal-wlr 0.7 fails every ScreenCast Start (response 2, its log says" \
      "\"unable to receive a valid format from wlr_screencopy\"); the GLES2 renderer needs the render node too"
fi

TMP=$(mktemp -d "${TMPDIR:-/tmp}/tavik-wayland.XXXXXX") || exit 1
PIDS=""
cleanup() {
  for p in $PIDS; do kill "$p" 2>/dev/null; done
  for p in $PIDS; do
    i=0; while kill -0 "$p" 2>/dev/null && [ $i -lt 30 ]; do sleep 0.1; i=$((i+1)); done
    kill -9 "$p" 2>/dev/null
  done
  # The document portal (started by the bus on demand) may have mounted its folder.
  fusermount -u -z "$TMP/runtime/doc" 2>/dev/null || fusermount3 -u -z "$TMP/runtime/doc" 2>/dev/null
  [ -n "$KEEP" ] && echo "session folder kept: $TMP" >&2 || rm -rf "$TMP" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# Waits up to 10 s for the shell condition "$1".
wait_for() {
  i=0
  while ! eval "$1" && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done
  eval "$1"
}
has_name() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q "boolean true"
}

export XDG_RUNTIME_DIR="$TMP/runtime"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
# sway refuses to run as root (CI runs as root): there it runs as nobody, owning the runtime
# folder (root's own programs reach every socket in it all the same).
AS_USER=""
if [ -z "$FAKE" ] && [ "$(id -u)" -eq 0 ]; then
  command -v setpriv >/dev/null 2>&1 || skip "running as root needs setpriv (package util-linux) to start sway"
  AS_USER="setpriv --reuid=nobody --regid=nogroup --clear-groups"
  chmod 0755 "$TMP"
  chown nobody:nogroup "$XDG_RUNTIME_DIR"
fi
export HOME="$TMP/home" XDG_CONFIG_HOME="$TMP/home/.config"
mkdir -p "$XDG_CONFIG_HOME"
export XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland
unset DISPLAY WAYLAND_DISPLAY SWAYSOCK PIPEWIRE_REMOTE

pipewire >"$TMP/pipewire.log" 2>&1 &
PIDS="$PIDS $!"
wait_for '[ -S "$XDG_RUNTIME_DIR/pipewire-0" ]' || skip "pipewire did not start (see $TMP/pipewire.log)"
wireplumber >"$TMP/wireplumber.log" 2>&1 &
PIDS="$PIDS $!"

TAVIK_WAYLAND_WINDOW_PID=""
if [ -n "$FAKE" ]; then
  $FAKE >"$TMP/portal.log" 2>&1 &
  TAVIK_WAYLAND_WINDOW_PID=$!
  PIDS="$PIDS $!"
  wait_for 'has_name org.freedesktop.portal.Desktop' || skip "the stand-in portal did not start (see $TMP/portal.log)"
  export TAVIK_WAYLAND_SESSION="$TMP" TAVIK_WAYLAND_WINDOW_PID
  "$@"
  exit $?
fi

cat >"$TMP/sway.conf" <<CONF
output HEADLESS-1 mode 640x480 position 0 0 bg #404040 solid_color
default_border none
default_floating_border none
focus_follows_mouse no
xwayland disable
CONF
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=1 \
  $AS_USER sway -c "$TMP/sway.conf" >"$TMP/sway.log" 2>&1 &
PIDS="$PIDS $!"
wait_for 'ls "$XDG_RUNTIME_DIR"/wayland-* >/dev/null 2>&1 && ls "$XDG_RUNTIME_DIR"/sway-ipc.* >/dev/null 2>&1' ||
  skip "sway did not start on the headless back end (see $TMP/sway.log)"
for s in "$XDG_RUNTIME_DIR"/wayland-*; do case "$s" in *.lock) ;; *) WAYLAND_DISPLAY=$(basename "$s");; esac; done
SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.* | head -n 1)
export WAYLAND_DISPLAY SWAYSOCK
wait_for 'swaymsg -t get_outputs 2>/dev/null | grep -q HEADLESS-1' || skip "sway has no headless output (see $TMP/sway.log)"

# Services the bus starts on demand see the session's variables too.
dbus-update-activation-environment WAYLAND_DISPLAY SWAYSOCK XDG_RUNTIME_DIR XDG_CURRENT_DESKTOP \
  XDG_SESSION_TYPE XDG_CONFIG_HOME HOME >/dev/null 2>&1

cat >"$TMP/xdpw.conf" <<CONF
[screencast]
output_name=HEADLESS-1
chooser_type=none
max_fps=30
CONF
"$PORTAL_WLR" -r -l DEBUG -c "$TMP/xdpw.conf" >"$TMP/xdpw.log" 2>&1 &
PIDS="$PIDS $!"
wait_for 'has_name org.freedesktop.impl.portal.desktop.wlr' ||
  skip "xdg-desktop-portal-wlr did not start (see $TMP/xdpw.log)"
"$PORTAL" -r >"$TMP/portal.log" 2>&1 &
PIDS="$PIDS $!"
wait_for 'has_name org.freedesktop.portal.Desktop' || skip "xdg-desktop-portal did not start (see $TMP/portal.log)"

if [ -n "$WINDOW" ]; then
  QT_QPA_PLATFORM=wayland "$WINDOW" >"$TMP/window.log" 2>&1 &
  TAVIK_WAYLAND_WINDOW_PID=$!
  PIDS="$PIDS $!"
  wait_for 'swaymsg -t get_tree 2>/dev/null | grep -q "\"pid\": $TAVIK_WAYLAND_WINDOW_PID"' ||
    skip "the test window did not appear (see $TMP/window.log)"
  # It has drawn once it says so.
  wait_for 'grep -q "^painted" "$TMP/window.log"' || skip "the test window did not paint (see $TMP/window.log)"
fi
export TAVIK_WAYLAND_SESSION="$TMP" TAVIK_WAYLAND_WINDOW_PID

"$@"
rc=$?
exit $rc
