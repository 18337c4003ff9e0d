// What the mouse calls need of the desktop: the screen size, the pointer, the
// rectangles of a window, and injecting one absolute pointer event. x11_desktop.cpp
// puts it on the suite's desktop layer; tests use a fake.
#pragma once

#include <cstdint>
#include <optional>

#include "client/mouse_events.h"

namespace tavik::client {

struct ScreenPoint {
    int32_t x;
    int32_t y;
};
struct ScreenRect {
    int32_t left;
    int32_t top;
    int32_t width;
    int32_t height;
};

class Desktop {
public:
    virtual ~Desktop() = default;
    // Size of the primary screen; nullopt without a display.
    virtual std::optional<ScreenRect> screen() = 0;
    // Pointer position on the screen; nullopt when it cannot be read.
    virtual std::optional<ScreenPoint> pointer() = 0;
    // The window's outer rectangle (with its frame) on the screen.
    virtual std::optional<ScreenRect> windowRect(unsigned long window) = 0;
    // The window's client area on the screen.
    virtual std::optional<ScreenRect> clientRect(unsigned long window) = 0;
    // Injects one event with the given flags at absolute (0..65535) coordinates:
    // a move to the point, then the button changes in the flags. False when
    // nothing could be sent.
    virtual bool send(uint32_t flags, AbsolutePoint at) = 0;
};

// The desktop of this process (connected at the first use, reconnected after a
// lost display; calls fail while there is none); nullptr when the library is
// built without X11.
Desktop* x11Desktop();

}  // namespace tavik::client
