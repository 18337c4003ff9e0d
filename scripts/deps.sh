#!/bin/sh
# Installs the Debian packages the build and the tests need (run as root or
# with sudo available). Safe to run again. One package a line. `file` is what
# cpack's dependency scan of the Debian package needs.
set -e
PKGS="
build-essential
cmake
ninja-build
pkg-config
libgtest-dev
libgmock-dev
libbenchmark-dev
libx11-dev
libxtst-dev
libxfixes-dev
libxdamage-dev
libxrandr-dev
libxext-dev
xvfb
x11-utils
qt6-base-dev
qt6-image-formats-plugins
libqt6svg6
udev
file
procps
poppler-utils
libftdi1-dev
libevdev-dev
libatspi2.0-dev
at-spi2-core
dbus-daemon
dbus-bin
libglib2.0-dev
libpipewire-0.3-dev
pipewire
pipewire-bin
wireplumber
sway
xdg-desktop-portal
xdg-desktop-portal-wlr
kwin-wayland
xdg-desktop-portal-kde
plasma-wayland-protocols
libkf5service-bin
qt6-wayland
zlib1g-dev
libwayland-dev
libwayland-bin
wayland-protocols
grim
libglib2.0-bin
gnome-shell
dconf-gsettings-backend
dconf-service
liblouis-dev
python3-brlapi
python3-louis
liblouis-bin
orca
python3-gi
gir1.2-gtk-3.0
xcompmgr
"
missing=""
for p in $PKGS; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y $missing
