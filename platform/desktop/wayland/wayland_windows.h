// Windows on a Wayland session: the window in front, its process and its rectangles. Calls are
// serialised by the owning Desktop; each answers nullopt/false at once when the session tells
// nothing about windows.
#pragma once

#include <memory>
#include <optional>

#include "platform/desktop/desktop.h"

namespace tavik::desktop::wayland {

class WaylandWindows {
public:
    WaylandWindows();
    ~WaylandWindows();
    WaylandWindows(const WaylandWindows&) = delete;
    WaylandWindows& operator=(const WaylandWindows&) = delete;

    std::optional<WindowId> activeWindow();
    std::optional<int32_t> windowProcess(WindowId window);
    bool windowExists(WindowId window);
    std::optional<WindowId> topLevelFrame(WindowId window);
    std::optional<Rect> windowRect(WindowId window);
    std::optional<Rect> clientRect(WindowId window);

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace tavik::desktop::wayland
