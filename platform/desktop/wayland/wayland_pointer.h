// The mouse on a Wayland session: synthetic moves and clicks, the pointer's position and shape.
// Calls are serialised by the owning Desktop (one at a time); each answers "no display" at once
// when the session offers no way to do it.
#pragma once

#include <memory>
#include <optional>

#include "platform/desktop/desktop.h"

namespace tavik::desktop::wayland {

class WaylandPointer {
public:
    WaylandPointer();
    ~WaylandPointer();
    WaylandPointer(const WaylandPointer&) = delete;
    WaylandPointer& operator=(const WaylandPointer&) = delete;

    DesktopStatus move(Point to);
    // `button`: 1 left, 2 middle, 3 right.
    DesktopStatus press(int button, bool down);
    std::optional<Point> position();
    std::optional<CursorImage> cursor();

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace tavik::desktop::wayland
