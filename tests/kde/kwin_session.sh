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

# shellcheck source-path=SCRIPTDIR source=../support/desktop_session.sh
. "$(dirname "$0")/../support/desktop_session.sh"
# The bus and the services it starts on demand write nowhere: one that lingers after the session
# would otherwise hold the caller's output open. This script and the command keep it.
session_private_bus --quiet "$0" "$@"

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

# Waits are up to 20 s.
WAIT_SECONDS=20
session_folder kwin
session_home
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
session_start kwin.log env QT_QPA_PLATFORM=offscreen "$TMP/kwin_wayland" --virtual --width 1280 --height 800 \
  --socket tavik-kwin --no-lockscreen
wait_for '[ -S "$XDG_RUNTIME_DIR/tavik-kwin" ]' ||
  skip "kwin_wayland --virtual did not open its Wayland socket (see $TMP/kwin.log: $(tail -n 3 "$TMP/kwin.log" | tr '\n' ' '))"
wait_for 'has_name org.kde.KWin' || skip "KWin did not take org.kde.KWin on the session bus (see $TMP/kwin.log)"
export WAYLAND_DISPLAY=tavik-kwin TAVIK_KWIN_SESSION="$TMP"
dbus-update-activation-environment WAYLAND_DISPLAY XDG_RUNTIME_DIR XDG_CURRENT_DESKTOP XDG_SESSION_TYPE \
  XDG_CONFIG_HOME HOME >/dev/null 2>&1

if [ -n "$PORTAL" ]; then
  require_tools pipewire wireplumber
  session_pipewire "pipewire did not start"
  session_service portal-kde.log org.freedesktop.impl.portal.desktop.kde "xdg-desktop-portal-kde did not start" \
    env QT_QPA_PLATFORM=wayland QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$XDP_KDE"
  session_service portal.log org.freedesktop.portal.Desktop "xdg-desktop-portal did not start" "$XDP" -r
fi

"$@"
exit $?
