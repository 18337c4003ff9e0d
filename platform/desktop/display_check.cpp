// One connection attempt to the named X display, closed at once.
#include "platform/desktop/display_check.h"

#include <cstdlib>

#ifdef TAVIK_DISPLAY_CHECK_X11
#include <X11/Xlib.h>
#endif

namespace tavik::desktop {

namespace {

bool envSet(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

}  // namespace

bool guiDisplayReachable() {
    if (envSet("QT_QPA_PLATFORM") || envSet("WAYLAND_DISPLAY")) return true;
    if (!envSet("DISPLAY")) return false;
#ifdef TAVIK_DISPLAY_CHECK_X11
    Display* d = XOpenDisplay(nullptr);
    if (!d) return false;
    XCloseDisplay(d);
    return true;
#else
    return false;
#endif
}

}  // namespace tavik::desktop
