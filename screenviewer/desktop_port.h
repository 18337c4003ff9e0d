// What the viewer asks of the desktop: the window in front, window and client
// rectangles, a window's process, the screen size, the view frame and damage.
// The real one sits on the suite's desktop layer (desktop_port_x11.cpp); the
// core's tests give a fake. Every call answers at once; "no display" comes
// back as nullopt / false and never ends the program.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "screenviewer/navigation.h"

namespace lumo {

class DesktopPort {
public:
    virtual ~DesktopPort() = default;
    // The window in front; nullopt without a display, 0 when none is set.
    virtual std::optional<WindowId> activeWindow() = 0;
    virtual bool windowExists(WindowId window) = 0;
    // Outer rectangle (window 0: the screen) and client area, in screen pixels.
    virtual std::optional<Rect> windowRect(WindowId window) = 0;
    virtual std::optional<Rect> clientRect(WindowId window) = 0;
    // The process that owns the window (its GUI "thread" here); nullopt when unknown.
    virtual std::optional<int32_t> windowProcess(WindowId window) = 0;
    // Shows the 2-pixel red ring around `inner` (screen pixels), or hides it.
    virtual void showFrame(const Rect& inner) = 0;
    virtual void hideFrame() = 0;
    // True when pixels in `area` (screen) may have changed since the last ask;
    // nullopt when unknown (then the caller captures).
    virtual std::optional<bool> takeDamage(const Rect& area) = 0;
    // False once the display is gone (and not back).
    virtual bool connected() = 0;
};

// A desktop port on the suite's desktop layer; each call of the factory gives
// an object with a connection of its own (one per thread that must not wait
// for another). Without X11 in the build, a port that answers "no display".
std::unique_ptr<DesktopPort> makeDesktopPort();

}  // namespace lumo
