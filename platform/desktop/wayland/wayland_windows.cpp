// Windows on a Wayland session. Not done yet: no window is known.
#include "platform/desktop/wayland/wayland_windows.h"

namespace tavik::desktop::wayland {

struct WaylandWindows::State {};

WaylandWindows::WaylandWindows() = default;
WaylandWindows::~WaylandWindows() = default;

std::optional<WindowId> WaylandWindows::activeWindow() { return std::nullopt; }
std::optional<int32_t> WaylandWindows::windowProcess(WindowId) { return std::nullopt; }
bool WaylandWindows::windowExists(WindowId) { return false; }
std::optional<WindowId> WaylandWindows::topLevelFrame(WindowId) { return std::nullopt; }
std::optional<Rect> WaylandWindows::windowRect(WindowId) { return std::nullopt; }
std::optional<Rect> WaylandWindows::clientRect(WindowId) { return std::nullopt; }

}  // namespace tavik::desktop::wayland
