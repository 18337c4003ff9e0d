// Hot keys on a Wayland session. `push` hands a pressed key's event to the owning DesktopEvents
// (it may be called from any thread and never blocks for long). Calls are serialised by the owner.
#pragma once

#include <functional>
#include <memory>

#include "platform/desktop/desktop.h"

namespace tavik::desktop::wayland {

class WaylandHotKeys {
public:
    explicit WaylandHotKeys(std::function<void(const DesktopEvent&)> push);
    ~WaylandHotKeys();
    WaylandHotKeys(const WaylandHotKeys&) = delete;
    WaylandHotKeys& operator=(const WaylandHotKeys&) = delete;

    DesktopStatus add(int32_t id, uint32_t keysym, uint32_t modifiers);
    void remove(int32_t id);

private:
    struct State;
    std::unique_ptr<State> s_;
    std::function<void(const DesktopEvent&)> push_;
};

}  // namespace tavik::desktop::wayland
