// Hot keys on a Wayland session. Not done yet: no key can be taken.
#include "platform/desktop/wayland/wayland_hotkeys.h"

namespace tavik::desktop::wayland {

struct WaylandHotKeys::State {};

WaylandHotKeys::WaylandHotKeys(std::function<void(const DesktopEvent&)> push) : push_(std::move(push)) {}
WaylandHotKeys::~WaylandHotKeys() = default;

DesktopStatus WaylandHotKeys::add(int32_t, uint32_t, uint32_t) { return DesktopStatus::NoDisplay; }
void WaylandHotKeys::remove(int32_t) {}

}  // namespace tavik::desktop::wayland
