// The mouse on a Wayland session. Not done yet: every call answers "no display".
#include "platform/desktop/wayland/wayland_pointer.h"

namespace tavik::desktop::wayland {

struct WaylandPointer::State {};

WaylandPointer::WaylandPointer() = default;
WaylandPointer::~WaylandPointer() = default;

DesktopStatus WaylandPointer::move(Point) { return DesktopStatus::NoDisplay; }
DesktopStatus WaylandPointer::press(int, bool) { return DesktopStatus::NoDisplay; }
std::optional<Point> WaylandPointer::position() { return std::nullopt; }
std::optional<CursorImage> WaylandPointer::cursor() { return std::nullopt; }

}  // namespace tavik::desktop::wayland
