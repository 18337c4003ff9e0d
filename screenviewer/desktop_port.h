// What the viewer asks of the desktop: the window in front, window and client
// rectangles, a window's process, the screen size, the view frame and damage.
// The real one sits on the suite's desktop layer (desktop_port_x11.cpp); the
// core's tests give a fake. Every call answers at once; "no display" comes
// back as nullopt / false and never ends the program.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "screenviewer/navigation.h"

namespace lumo {

// The mouse pointer's picture: premultiplied ARGB (0xAARRGGBB), row by row.
struct CursorPicture {
    int32_t width = 0;
    int32_t height = 0;
    uint64_t serial = 0;  // changes whenever the shape changes
    std::vector<uint32_t> argb;
};

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
    // Forgets the damage gathered so far without asking the server (a capture
    // follows); what is still on its way counts for the next question.
    virtual void forgetDamage() {}
    // False once the display is gone (and not back).
    virtual bool connected() = 0;
    // The pointer's current picture; nullopt when unknown (no display, no
    // cursor extension). One round trip.
    virtual std::optional<CursorPicture> cursorPicture() { return std::nullopt; }
    // Runs `changed` (on a thread of the port's own; it must not call the
    // port and must not block) each time the window in front may have
    // changed; an empty function stops the reports and returns only when no
    // call of the previous one runs. Unlike the other calls it may run beside
    // them on another thread. Ports that cannot report never call it (the
    // caller then looks on its own at intervals).
    virtual void watchForeground(std::function<void()> changed) { (void)changed; }
};

// A desktop port on the suite's desktop layer; each call of the factory gives
// an object with a connection of its own (one per thread that must not wait
// for another). Without X11 in the build, a port that answers "no display".
std::unique_ptr<DesktopPort> makeDesktopPort();

}  // namespace lumo
