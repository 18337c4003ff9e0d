#!/bin/sh
# Runs a command inside a headless KDE Plasma compositor of its own: a private session bus and KWin
# on its virtual back end (one 1280x800 output). Everything lives in a temporary folder (runtime
# folder, home, logs) and is stopped afterwards; the command's exit code is returned. Exits 77 with
# a "SKIP:" line naming the step that failed when a piece is not installed or does not start.
# The packaged kwin_wayland carries a file capability (cap_sys_resource) that a container may
# refuse to execute ("Operation not permitted"); a copy without it (cp drops it) runs, so the copy
# in the temporary folder is what is started.
# --portal also starts PipeWire and the desktop portal with its KDE back end (global shortcuts,
# screen cast).
# --grant PROGRAM lets PROGRAM (an absolute path) use KWin's fake-input protocol (a desktop file
# naming it, read by KWin through the service cache that kbuildsycoca5 builds first).
#   tests/kde/kwin_session.sh [--portal] [--grant PROGRAM] [--keep] -- COMMAND [ARGS...]
# The command sees WAYLAND_DISPLAY, XDG_RUNTIME_DIR, DBUS_SESSION_BUS_ADDRESS, XDG_SESSION_TYPE=wayland,
# XDG_CURRENT_DESKTOP=KDE and TAVIK_KWIN_SESSION (the temporary folder; kwin.log is in it).
set -u

skip() { echo "SKIP: $*"; exit 77; }

if [ -z "${TAVIK_KWIN_INNER:-}" ]; then
  command -v dbus-run-session >/dev/null 2>&1 || skip "dbus-run-session is not installed (package dbus-daemon)"
  # The bus and the services it starts on demand write nowhere: one that lingers after the
  # session would otherwise hold the caller's output open. This script and the command keep it
  # (descriptors 3 and 4).
  TAVIK_KWIN_INNER=1 exec dbus-run-session -- "$0" "$@" 3>&1 4>&2 >/dev/null 2>&1
fi
unset TAVIK_KWIN_INNER
exec 1>&3 2>&4 3>&- 4>&-

KEEP=""
PORTAL=""
GRANT=""
while [ $# -gt 0 ]; do
  case "$1" in
    --keep) KEEP=1; shift ;;
    --portal) PORTAL=1; shift ;;
    --grant) GRANT="$2"; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--portal] [--keep] -- COMMAND [ARGS...]" >&2; exit 2; }

KWIN=$(command -v kwin_wayland) || skip "kwin_wayland is not installed (package kwin-wayland)"
command -v dbus-send >/dev/null 2>&1 || skip "dbus-send is not installed (package dbus-bin)"
XDP=/usr/libexec/xdg-desktop-portal
XDP_KDE=""
for f in /usr/lib/*/libexec/xdg-desktop-portal-kde /usr/libexec/xdg-desktop-portal-kde; do
  [ -x "$f" ] && XDP_KDE=$f && break
done
if [ -n "$PORTAL" ]; then
  [ -x "$XDP" ] || skip "xdg-desktop-portal is not installed"
  [ -n "$XDP_KDE" ] || skip "xdg-desktop-portal-kde is not installed"
fi

TMP=$(mktemp -d "${TMPDIR:-/tmp}/tavik-kwin.XXXXXX") || exit 1
PIDS=""
cleanup() {
  for p in $PIDS; do kill "$p" 2>/dev/null; done
  for p in $PIDS; do
    i=0; while kill -0 "$p" 2>/dev/null && [ $i -lt 30 ]; do sleep 0.1; i=$((i+1)); done
    kill -9 "$p" 2>/dev/null
  done
  [ -n "$KEEP" ] && echo "session folder kept: $TMP" >&2 || rm -rf "$TMP" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# Waits up to 20 s for the shell condition "$1".
wait_for() {
  i=0
  while ! eval "$1" && [ $i -lt 200 ]; do sleep 0.1; i=$((i+1)); done
  eval "$1"
}
has_name() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q "boolean true"
}

export XDG_RUNTIME_DIR="$TMP/runtime"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
export HOME="$TMP/home" XDG_CONFIG_HOME="$TMP/home/.config"
mkdir -p "$XDG_CONFIG_HOME"
export XDG_CURRENT_DESKTOP=KDE XDG_SESSION_TYPE=wayland KDE_FULL_SESSION=true
unset DISPLAY WAYLAND_DISPLAY SWAYSOCK

if [ -n "$GRANT" ]; then
  export XDG_DATA_HOME="$HOME/.local/share"
  mkdir -p "$XDG_DATA_HOME/applications"
  cat >"$XDG_DATA_HOME/applications/tavik-granted.desktop" <<DESKTOP
[Desktop Entry]
Type=Application
Name=tavik test helper
Exec=$GRANT
NoDisplay=true
X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input
DESKTOP
  command -v kbuildsycoca5 >/dev/null 2>&1 || skip "kbuildsycoca5 is not installed (package libkf5service-bin)"
  kbuildsycoca5 >"$TMP/kbuildsycoca.log" 2>&1 || skip "kbuildsycoca5 failed (see $TMP/kbuildsycoca.log)"
fi

cp "$KWIN" "$TMP/kwin_wayland" || skip "kwin_wayland could not be copied into $TMP"
# KWin's own windows (none are shown here) need no display of their own.
QT_QPA_PLATFORM=offscreen "$TMP/kwin_wayland" --virtual --width 1280 --height 800 --socket tavik-kwin \
  --no-lockscreen >"$TMP/kwin.log" 2>&1 &
PIDS="$PIDS $!"
wait_for '[ -S "$XDG_RUNTIME_DIR/tavik-kwin" ]' ||
  skip "kwin_wayland --virtual did not open its Wayland socket (see $TMP/kwin.log: $(tail -n 3 "$TMP/kwin.log" | tr '\n' ' '))"
wait_for 'has_name org.kde.KWin' || skip "KWin did not take org.kde.KWin on the session bus (see $TMP/kwin.log)"
export WAYLAND_DISPLAY=tavik-kwin TAVIK_KWIN_SESSION="$TMP"
dbus-update-activation-environment WAYLAND_DISPLAY XDG_RUNTIME_DIR XDG_CURRENT_DESKTOP XDG_SESSION_TYPE \
  XDG_CONFIG_HOME HOME >/dev/null 2>&1

if [ -n "$PORTAL" ]; then
  for tool in pipewire wireplumber; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed (scripts/deps.sh installs it)"
  done
  unset PIPEWIRE_REMOTE
  pipewire >"$TMP/pipewire.log" 2>&1 &
  PIDS="$PIDS $!"
  wait_for '[ -S "$XDG_RUNTIME_DIR/pipewire-0" ]' || skip "pipewire did not start (see $TMP/pipewire.log)"
  wireplumber >"$TMP/wireplumber.log" 2>&1 &
  PIDS="$PIDS $!"
  QT_QPA_PLATFORM=wayland QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$XDP_KDE" >"$TMP/portal-kde.log" 2>&1 &
  PIDS="$PIDS $!"
  wait_for 'has_name org.freedesktop.impl.portal.desktop.kde' ||
    skip "xdg-desktop-portal-kde did not start (see $TMP/portal-kde.log)"
  "$XDP" -r >"$TMP/portal.log" 2>&1 &
  PIDS="$PIDS $!"
  wait_for 'has_name org.freedesktop.portal.Desktop' || skip "xdg-desktop-portal did not start (see $TMP/portal.log)"
fi

"$@"
exit $?
