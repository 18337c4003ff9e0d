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

# shellcheck source-path=SCRIPTDIR source=../support/desktop_session.sh
. "$(dirname "$0")/../support/desktop_session.sh"
session_private_bus "$0" "$@"

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
require_tools pipewire wireplumber dbus-send
if [ -z "$FAKE" ]; then
  require_tools sway swaymsg
  [ -x "$PORTAL" ] || skip "xdg-desktop-portal is not installed"
  [ -x "$PORTAL_WLR" ] || skip "xdg-desktop-portal-wlr is not installed"
  ls /dev/dri/renderD* >/dev/null 2>&1 ||
    skip "no GPU render node (/dev/dri/renderD*): sway then draws with pixman and its screencopy frames offer no" \
      "dmabuf format, so xdg-desktop-portal-wlr 0.7 fails every ScreenCast Start (response 2, its log says" \
      "\"unable to receive a valid format from wlr_screencopy\"); the GLES2 renderer needs the render node too"
fi

session_folder wayland
session_home
# sway refuses to run as root (CI runs as root): there it runs as nobody, owning the runtime
# folder (root's own programs reach every socket in it all the same).
AS_USER=""
if [ -z "$FAKE" ] && [ "$(id -u)" -eq 0 ]; then
  command -v setpriv >/dev/null 2>&1 || skip "running as root needs setpriv (package util-linux) to start sway"
  AS_USER="setpriv --reuid=nobody --regid=nogroup --clear-groups"
  chmod 0755 "$TMP"
  chown nobody:nogroup "$XDG_RUNTIME_DIR"
fi
export XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland
unset DISPLAY WAYLAND_DISPLAY SWAYSOCK PIPEWIRE_REMOTE

session_pipewire "pipewire did not start"

TAVIK_WAYLAND_WINDOW_PID=""
if [ -n "$FAKE" ]; then
  # shellcheck disable=SC2086 # the stand-in's words are split on purpose
  session_service portal.log org.freedesktop.portal.Desktop "the stand-in portal did not start" $FAKE
  TAVIK_WAYLAND_WINDOW_PID=$LAST_PID
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
# shellcheck disable=SC2086 # AS_USER is a command prefix or nothing
session_start sway.log env WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
  WLR_HEADLESS_OUTPUTS=1 $AS_USER sway -c "$TMP/sway.conf"
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
session_service xdpw.log org.freedesktop.impl.portal.desktop.wlr "xdg-desktop-portal-wlr did not start" \
  "$PORTAL_WLR" -r -l DEBUG -c "$TMP/xdpw.conf"
session_service portal.log org.freedesktop.portal.Desktop "xdg-desktop-portal did not start" "$PORTAL" -r

if [ -n "$WINDOW" ]; then
  session_start window.log env QT_QPA_PLATFORM=wayland "$WINDOW"
  TAVIK_WAYLAND_WINDOW_PID=$LAST_PID
  wait_for 'swaymsg -t get_tree 2>/dev/null | grep -q "\"pid\": $TAVIK_WAYLAND_WINDOW_PID"' ||
    skip "the test window did not appear (see $TMP/window.log)"
  # It has drawn once it says so.
  wait_for 'grep -q "^painted" "$TMP/window.log"' || skip "the test window did not paint (see $TMP/window.log)"
fi
export TAVIK_WAYLAND_SESSION="$TMP" TAVIK_WAYLAND_WINDOW_PID

"$@"
rc=$?
exit $rc
