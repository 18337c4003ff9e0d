# The start-up pieces the headless desktop session scripts share (tests/wayland/session.sh,
# tests/gnome/gnome_session.sh, tests/kde/kwin_session.sh): a private session bus, a temporary
# folder holding the runtime folder, home and logs, background services that are stopped at the
# end, and bounded waits. POSIX sh, sourced by those scripts (which run under `set -u`):
#   . "$(dirname "$0")/../support/desktop_session.sh"
# Variables it keeps: TMP (the session's folder), PIDS (what was started, stopped at the end),
# LAST_PID (the last process session_start started); the script sets KEEP (non-empty: the folder
# is kept and named at the end) and may set WAIT_SECONDS (wait_for's default bound, 10).

# Ends the script with the skip status and a line saying why.
skip() { echo "SKIP: $*"; exit 77; }

# session_private_bus [--quiet] SCRIPT [ARGS...]: runs SCRIPT (the caller's "$0" "$@") again under
# a session bus of its own and returns only in that inner run. --quiet: the bus and the services
# it starts on demand write nowhere, so one that lingers after the session does not hold the
# caller's output open; the inner script gets its output back.
session_private_bus() {
  quiet=""
  if [ "${1:-}" = "--quiet" ]; then quiet=1; shift; fi
  if [ -n "${TAVIK_SESSION_INNER:-}" ]; then
    unset TAVIK_SESSION_INNER
    [ -z "$quiet" ] || exec 1>&3 2>&4 3>&- 4>&-
    return 0
  fi
  command -v dbus-run-session >/dev/null 2>&1 || skip "dbus-run-session is not installed (package dbus-daemon)"
  if [ -n "$quiet" ]; then
    TAVIK_SESSION_INNER=1 exec dbus-run-session -- "$@" 3>&1 4>&2 >/dev/null 2>&1
  fi
  TAVIK_SESSION_INNER=1 exec dbus-run-session -- "$@"
}

# Skips unless every named program is on PATH.
require_tools() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed (scripts/deps.sh installs it)"
  done
}

# session_folder NAME [GRACE_SECONDS]: makes the session's folder TMP (tavik-NAME.XXXXXX) and has
# it removed at exit, after every process in PIDS was asked to end (TERM, then KILL after
# GRACE_SECONDS, default 3) and the document portal's mount in it was undone.
session_folder() {
  TMP=$(mktemp -d "${TMPDIR:-/tmp}/tavik-$1.XXXXXX") || exit 1
  SESSION_GRACE_TENTHS=$(( ${2:-3} * 10 ))
  PIDS=""
  LAST_PID=""
  KEEP=${KEEP:-}
  trap session_cleanup EXIT
  trap 'exit 143' TERM INT
}

session_cleanup() {
  for p in $PIDS; do kill "$p" 2>/dev/null; done
  for p in $PIDS; do
    i=0; while kill -0 "$p" 2>/dev/null && [ $i -lt "$SESSION_GRACE_TENTHS" ]; do sleep 0.1; i=$((i+1)); done
    kill -9 "$p" 2>/dev/null
  done
  # The document portal (started by the bus on demand) may have mounted its folder.
  fusermount -u -z "$TMP/runtime/doc" 2>/dev/null || fusermount3 -u -z "$TMP/runtime/doc" 2>/dev/null
  [ -n "$KEEP" ] && echo "session folder kept: $TMP" >&2 || rm -rf "$TMP" 2>/dev/null
}

# wait_for CONDITION [SECONDS]: waits up to SECONDS (default WAIT_SECONDS, else 10) for the
# shell condition to hold; its status is the condition's.
wait_for() {
  n=$(( ${2:-${WAIT_SECONDS:-10}} * 10 )); i=0
  while ! eval "$1" && [ $i -lt $n ]; do sleep 0.1; i=$((i+1)); done
  eval "$1"
}

# True when NAME has an owner on the session bus.
has_name() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q "boolean true"
}

# The session's runtime folder (0700) and home with its configuration folder, all in TMP.
session_home() {
  export XDG_RUNTIME_DIR="$TMP/runtime"
  mkdir -m 0700 "$XDG_RUNTIME_DIR"
  export HOME="$TMP/home" XDG_CONFIG_HOME="$TMP/home/.config"
  mkdir -p "$XDG_CONFIG_HOME"
}

# session_start LOG COMMAND [ARGS...]: starts the command in the background, its output in
# $TMP/LOG; it is stopped at the end. Its process is LAST_PID.
session_start() {
  log="$1"; shift
  "$@" >"$TMP/$log" 2>&1 &
  LAST_PID=$!
  PIDS="$PIDS $LAST_PID"
}

# session_service LOG BUS_NAME WHAT COMMAND [ARGS...]: starts the command as session_start does
# and skips with "WHAT (see the log)" unless it takes BUS_NAME on the session bus in time.
session_service() {
  log="$1"; name="$2"; what="$3"; shift 3
  session_start "$log" "$@"
  wait_for "has_name $name" || skip "$what (see $TMP/$log)"
}

# session_pipewire WHAT [SECONDS]: PipeWire on the runtime folder's socket (skips with "WHAT (see
# the log)" unless the socket appears in time), then WirePlumber.
session_pipewire() {
  unset PIPEWIRE_REMOTE
  session_start pipewire.log pipewire
  wait_for '[ -S "$XDG_RUNTIME_DIR/pipewire-0" ]' ${2:+"$2"} || skip "$1 (see $TMP/pipewire.log)"
  session_start wireplumber.log wireplumber
}
