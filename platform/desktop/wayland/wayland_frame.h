// The view frame on a Wayland session (the red ring around the part of the screen on the pins).
// Calls are serialised by the owning Desktop; "no display" when the compositor offers no overlay.
#pragma once

#include <memory>

#include "platform/desktop/desktop.h"

namespace tavik::desktop::wayland {

class WaylandFrame {
public:
    WaylandFrame();
    ~WaylandFrame();
    WaylandFrame(const WaylandFrame&) = delete;
    WaylandFrame& operator=(const WaylandFrame&) = delete;

    DesktopStatus show(Rect outer, int32_t thickness);
    void hide();
    WindowId window();

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace tavik::desktop::wayland
