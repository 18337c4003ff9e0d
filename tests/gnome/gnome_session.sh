#!/bin/sh
# Runs a command inside a headless GNOME Shell session of its own: a private session bus, a
# private bus standing in for the system bus, PipeWire and WirePlumber, GNOME Shell on its
# headless Wayland back end with one 1280x800 virtual monitor and no Xwayland, the suite's
# extension enabled (and a test extension that opens the shell's Eval call to the test and leaves
# the overview the shell opens at start), the desktop portal with GNOME's back ends only. The
# accessibility bus is started by the session bus on demand. Everything lives in a temporary
# folder (runtime folder, home, logs) and is stopped afterwards; the command's exit code is
# returned. Exits 77 with a "SKIP:" line naming the step when a piece does not start.
#   tests/gnome/gnome_session.sh EXTENSION_DIR TEST_EXTENSION_DIR [--keep] -- COMMAND [ARGS...]
# The command sees WAYLAND_DISPLAY, XDG_RUNTIME_DIR, DBUS_SESSION_BUS_ADDRESS,
# XDG_CURRENT_DESKTOP=GNOME and TAVIK_GNOME_SESSION (the temporary folder; logs are in it).
set -u

# shellcheck source-path=SCRIPTDIR source=../support/desktop_session.sh
. "$(dirname "$0")/../support/desktop_session.sh"
session_private_bus "$0" "$@"

[ $# -ge 2 ] || { echo "usage: $0 EXTENSION_DIR TEST_EXTENSION_DIR [--keep] -- COMMAND [ARGS...]" >&2; exit 2; }
EXT="$1"
TEST_EXT="$2"
shift 2
KEEP=""
while [ $# -gt 0 ]; do
  case "$1" in
    --keep) KEEP=1; shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 EXTENSION_DIR TEST_EXTENSION_DIR [--keep] -- COMMAND [ARGS...]" >&2; exit 2; }

require_tools gnome-shell dbus-daemon dbus-send gsettings pipewire wireplumber
[ -f "$EXT/metadata.json" ] || skip "the extension was not built ($EXT)"

# Waits are up to 20 s unless said.
WAIT_SECONDS=20
session_folder gnome 5
session_home
export XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
mkdir -p "$XDG_DATA_HOME/gnome-shell/extensions" "$XDG_CACHE_HOME"
export XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland XDG_SESSION_DESKTOP=gnome
unset DISPLAY WAYLAND_DISPLAY SWAYSOCK PIPEWIRE_REMOTE AT_SPI_BUS_ADDRESS GSETTINGS_BACKEND

# The stand-in system bus: GNOME Shell ends at start when it cannot reach one.
cat >"$TMP/system.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$TMP/system_bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
session_start system-bus.log dbus-daemon --config-file="$TMP/system.conf" --nofork
wait_for '[ -S "$TMP/system_bus" ]' 10 || skip "step 'stand-in system bus': dbus-daemon did not start (see $TMP/system-bus.log)"
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$TMP/system_bus"

# Services the bus starts on demand (dconf, the accessibility bus, the portals) live in the
# session's folders too.
dbus-update-activation-environment XDG_RUNTIME_DIR XDG_CURRENT_DESKTOP XDG_SESSION_TYPE XDG_CONFIG_HOME \
  XDG_DATA_HOME XDG_CACHE_HOME HOME DBUS_SYSTEM_BUS_ADDRESS >/dev/null 2>&1 ||
  skip "step 'session bus environment': dbus-update-activation-environment failed"

# The desktop portal with GNOME's back ends only. Its Settings portal otherwise starts every back end
# installed that has one (the KDE back end too, which in a GNOME session sits on the accessibility
# bus without answering, so that every tool that walks the bus stalls on it for seconds).
mkdir -p "$TMP/portals"
for p in /usr/share/xdg-desktop-portal/portals/*.portal; do
  [ -f "$p" ] || continue
  grep -qi '^UseIn=.*gnome' "$p" && cp "$p" "$TMP/portals/"
done
dbus-update-activation-environment XDG_DESKTOP_PORTAL_DIR="$TMP/portals" >/dev/null 2>&1

# The extensions, enabled through the user's settings (dconf, started by the session bus).
uuid_of() { sed -n 's/.*"uuid": *"\([^"]*\)".*/\1/p' "$1/metadata.json"; }
uuid=$(uuid_of "$EXT")
test_uuid=$(uuid_of "$TEST_EXT")
[ -n "$uuid" ] && [ -n "$test_uuid" ] || skip "step 'extension': no uuid in $EXT or $TEST_EXT"
cp -r "$EXT" "$XDG_DATA_HOME/gnome-shell/extensions/$uuid"
cp -r "$TEST_EXT" "$XDG_DATA_HOME/gnome-shell/extensions/$test_uuid"
gsettings set org.gnome.shell enabled-extensions "['$uuid', '$test_uuid']" 2>"$TMP/gsettings.log" ||
  skip "step 'enable the extension': gsettings could not write the setting (see $TMP/gsettings.log)"
gsettings set org.gnome.shell disable-user-extensions false 2>>"$TMP/gsettings.log"
# No welcome tour over the test windows.
gsettings set org.gnome.shell welcome-dialog-last-shown-version "'999'" 2>>"$TMP/gsettings.log"

session_pipewire "step 'pipewire': it did not start" 10

# The display's name is known before the shell starts, so that the services it starts on demand
# (the portals among them) reach it.
WAYLAND_DISPLAY=wayland-tavik
dbus-update-activation-environment WAYLAND_DISPLAY=$WAYLAND_DISPLAY >/dev/null 2>&1
# The programs the shell starts itself (the input method's GTK helper among them) stay off the
# accessibility bus: in a headless session they sit on it without answering, so that every tool
# that walks the bus stalls on them for seconds.
session_start gnome-shell.log env NO_AT_BRIDGE=1 \
  gnome-shell --headless --wayland --no-x11 --virtual-monitor 1280x800 --wayland-display=$WAYLAND_DISPLAY
wait_for 'has_name org.gnome.Shell' 40 ||
  skip "step 'gnome-shell --headless': it did not come up on the session bus (see $TMP/gnome-shell.log:" \
    "$(tail -n 3 "$TMP/gnome-shell.log" | tr '\n' ' '))"
wait_for '[ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ]' 20 ||
  skip "step 'gnome-shell --headless': no Wayland socket $WAYLAND_DISPLAY in the runtime folder"
export WAYLAND_DISPLAY
wait_for 'has_name org.tavik.WindowFacts' 20 ||
  skip "step 'extension': $uuid did not come up on the session bus (see $TMP/gnome-shell.log:" \
    "$(grep -i "extension\|JS ERROR" "$TMP/gnome-shell.log" | tail -n 3 | tr '\n' ' '))"

export TAVIK_GNOME_SESSION="$TMP"
"$@"
exit $?
