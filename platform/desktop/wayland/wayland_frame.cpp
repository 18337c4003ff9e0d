// The view frame on a Wayland session. Not done yet: there is no frame.
#include "platform/desktop/wayland/wayland_frame.h"

namespace tavik::desktop::wayland {

struct WaylandFrame::State {};

WaylandFrame::WaylandFrame() = default;
WaylandFrame::~WaylandFrame() = default;

DesktopStatus WaylandFrame::show(Rect, int32_t) { return DesktopStatus::NoDisplay; }
void WaylandFrame::hide() {}
WindowId WaylandFrame::window() { return 0; }

}  // namespace tavik::desktop::wayland
