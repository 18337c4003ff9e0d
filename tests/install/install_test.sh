#!/bin/sh
# Installs the build into a temporary prefix, checks the installed layout,
# builds examples/hello_pins against it with pkg-config and with CMake, and
# runs both builds on padsim from the prefix: the installed client library
# must find the installed controller and the controller its plug-in.
#   install_test.sh BUILD_DIR SOURCE_DIR
set -eu
BUILD=$1
SRC=$2
T=$(mktemp -d "${TMPDIR:-/tmp}/tavik-install.XXXXXX")
SIM=""
cleanup() {
  [ -n "$SIM" ] && kill "$SIM" 2>/dev/null || true
  rm -rf "$T"
}
trap cleanup EXIT INT TERM
fail() { echo "install_test: $*" >&2; exit 1; }

P="$T/prefix"
cmake --install "$BUILD" --prefix "$P" >"$T/install.log" 2>&1 || { cat "$T/install.log"; fail "cmake --install failed"; }

# Layout: public names are links into the suite's own folder.
LIBDIR=$(dirname "$(find "$P" -name 'libtavikutil.so' -path '*/lib*' ! -path '*/tavik/*' | head -1)")
[ -d "$LIBDIR" ] || fail "no libtavikutil.so link under $P"
for f in "$P/bin/TAVIK" "$P/bin/padsim" "$LIBDIR/tavik/TAVIK" "$LIBDIR/tavik/Padrik.so" "$LIBDIR/tavik/Notdrv.so" \
         "$LIBDIR/libtavikutil.so.4" "$LIBDIR/libLumoUtil.so.4" "$P/include/tavik/tavikutil.h" \
         "$P/include/tavik/lumoutil.h" "$P/include/tavik/common/export.h" "$LIBDIR/pkgconfig/tavikutil.pc" \
         "$LIBDIR/cmake/Tavik/TavikConfig.cmake" "$P/share/man/man1/TAVIK.1" "$P/share/man/man3/tavikutil.3" \
         "$P/share/man/man3/gdStart.3" "$P/share/man/man5/TAVIK.ini.5" "$P/lib/udev/rules.d/70-tavik.rules" \
         "$P/share/tavik/samples/sample.bmp"; do
  [ -e "$f" ] || fail "missing $f"
done
# No path of the build tree may be left in what was installed.
if grep -rl "$BUILD/bin" "$LIBDIR/tavik" >/dev/null 2>&1; then
  fail "installed files still name the build folder: $(grep -rl "$BUILD/bin" "$LIBDIR/tavik" | head -3)"
fi
"$P/bin/TAVIK" --version >/dev/null || fail "installed TAVIK --version failed"

# The example, built both ways against the prefix only.
export PKG_CONFIG_PATH="$LIBDIR/pkgconfig"
cc -std=c99 -Wall -Wextra -Werror "$SRC/examples/hello_pins.c" $(pkg-config --cflags --libs tavikutil lumoutil) \
   -o "$T/hello_pc" || fail "pkg-config build failed"
cmake -S "$SRC/examples" -B "$T/example" -DCMAKE_PREFIX_PATH="$P" >"$T/example.log" 2>&1 &&
  cmake --build "$T/example" >>"$T/example.log" 2>&1 || { cat "$T/example.log"; fail "CMake build failed"; }

# Both run on padsim started from the prefix, with settings of their own.
export XDG_CONFIG_HOME="$T/config"
mkdir -p "$XDG_CONFIG_HOME/Orvane/TAVIK200_J"
LINK="$T/padsim-tty"
printf '[Ports]\nCom1=%s\n' "$LINK" >"$XDG_CONFIG_HOME/Orvane/TAVIK200_J/TAVIK.ini"
unset TAVIK_PATH TAVIK_PLUGIN_DIR DISPLAY || true
for prog in "$T/hello_pc" "$T/example/hello_pins"; do
  rm -f "$T/state"
  "$P/bin/padsim" --link "$LINK" --state "$T/state" --quiet </dev/null &
  SIM=$!
  i=0; while [ ! -e "$LINK" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done
  "$prog" --port 0 --seconds 3 "$P/share/tavik/samples/sample.bmp" >"$T/run.log" 2>&1 &
  APP=$!
  # The checkerboard corner while the program is entered: row 4 starts #...#.#.#. (the frame, then the squares)
  i=0; while ! grep -q '^#\.\.\.#\.#\.#\.' "$T/state" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done
  grep -q '^#\.\.\.#\.#\.#\.' "$T/state" || { cat "$T/run.log"; cat "$T/state"; fail "$prog: pins not raised"; }
  wait "$APP" || { cat "$T/run.log"; fail "$prog failed"; }
  grep -q 'read .*sample.bmp' "$T/run.log" || fail "$prog did not read the picture through the image library"
  kill "$SIM" 2>/dev/null || true
  wait "$SIM" 2>/dev/null || true
  SIM=""
  # The controller ends once the last client has left.
  i=0; while pgrep -f "$LIBDIR/tavik/TAVIK" >/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done
done
echo "install_test: layout, pkg-config and CMake builds, runs on padsim: all good"
