// Windows on a Wayland session: the compositor's toplevel list, its window facts and AT-SPI
// windows (see window_tracker.h). Without facts, window and client rectangles are the same: the
// accessibility extents (a Wayland client that draws its own decorations reports them so).
#include "platform/desktop/wayland/wayland_windows.h"

#include <atomic>
#include <cstdio>

#include "platform/desktop/wayland/window_tracker.h"
#include "platform/desktop/wayland/wl_connection.h"

namespace tavik::desktop::wayland {

struct WaylandWindows::State {
    WlLink link;
    uint64_t generation = 0;
    std::unique_ptr<WindowTracker> tracker;

    WindowTracker* get() {
        if (link.lost()) tracker.reset();
        WlConnection* c = link.get();
        // Without a compositor connection AT-SPI alone still tells the active window.
        if (!tracker || (c && generation != link.generation())) {
            tracker.reset();
            tracker = std::make_unique<WindowTracker>(c);
            generation = link.generation();
            if (!tracker->hasAccessibility() && !tracker->hasToplevelList() && !tracker->hasWindowFacts()) {
                static std::atomic<bool> said{false};
                if (!said.exchange(true))
                    std::fputs("Neither the accessibility bus (at-spi2-core) nor the compositor tells which window "
                               "is in front: the whole screen is shown.\n",
                               stderr);
            }
        }
        return tracker.get();
    }
};

WaylandWindows::WaylandWindows() : s_(std::make_unique<State>()) {}
WaylandWindows::~WaylandWindows() = default;

std::optional<WindowId> WaylandWindows::activeWindow() { return s_->get()->activeWindow(); }
std::optional<int32_t> WaylandWindows::windowProcess(WindowId window) { return s_->get()->windowProcess(window); }
bool WaylandWindows::windowExists(WindowId window) { return s_->get()->windowExists(window); }
std::optional<WindowId> WaylandWindows::topLevelFrame(WindowId window) {
    return windowExists(window) ? std::optional<WindowId>(window) : std::nullopt;
}
std::optional<Rect> WaylandWindows::windowRect(WindowId window) { return s_->get()->windowRect(window); }
std::optional<Rect> WaylandWindows::clientRect(WindowId window) { return s_->get()->clientRect(window); }

}  // namespace tavik::desktop::wayland
