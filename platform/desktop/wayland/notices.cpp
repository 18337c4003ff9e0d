// The lines saying which piece of a Wayland session is missing for screen capture.
#include "platform/desktop/wayland/notices.h"

#include <atomic>
#include <cstdio>

namespace tavik::desktop::wayland {

const char* missingText(Missing what) {
    switch (what) {
    case Missing::SessionBus:
        return "Wayland screen capture: no D-Bus session bus (install the package dbus-user-session, or start the "
               "session with dbus-run-session); the pins stay black";
    case Missing::Portal:
        return "Wayland screen capture: no desktop portal service on the session bus (install the package "
               "xdg-desktop-portal); the pins stay black";
    case Missing::ScreenCast:
        return "Wayland screen capture: the desktop portal offers no screen cast for this desktop (install "
               "xdg-desktop-portal-wlr for sway and other wlroots desktops, xdg-desktop-portal-gnome for GNOME, "
               "xdg-desktop-portal-kde for KDE); the pins stay black";
    case Missing::PipeWire:
        return "Wayland screen capture: the PipeWire service is not running (install the packages pipewire and "
               "wireplumber, then log in again); the pins stay black";
    case Missing::PortalSilent:
        return "Wayland screen capture: the desktop portal does not answer; trying again later";
    case Missing::Refused:
        return "Wayland screen capture was not allowed; asking again in 30 seconds";
    }
    return "Wayland screen capture: unavailable";
}

void noteMissing(Missing what) {
    // Once per process and piece: the one piece of state this needs is the set already said.
    static std::atomic<unsigned> said{0};
    const unsigned bit = 1u << static_cast<unsigned>(what);
    if (said.fetch_or(bit) & bit) return;
    std::fprintf(stderr, "%s\n", missingText(what));
}

}  // namespace tavik::desktop::wayland
