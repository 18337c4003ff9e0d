// The synthetic pointer through the wlroots virtual-pointer protocol (sway and other wlroots
// compositors): absolute motion over the whole output layout, button presses.
#pragma once

#include <memory>
#include <optional>

#include "platform/desktop/desktop.h"
#include "platform/desktop/wayland/wl_connection.h"

struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;

namespace tavik::desktop::wayland {

class VirtualPointer {
public:
    // nullptr when the compositor does not offer the protocol. `conn` outlives this object.
    static std::unique_ptr<VirtualPointer> create(WlConnection& conn);
    ~VirtualPointer();
    VirtualPointer(const VirtualPointer&) = delete;
    VirtualPointer& operator=(const VirtualPointer&) = delete;

    // Each waits (at most ~1 s) until the compositor has handled the request, so the event is
    // on its way to the client under the pointer when the call returns. NoDisplay when the
    // connection is lost or the compositor did not answer; Failed for a bad button or when no
    // output has a size.
    DesktopStatus moveTo(Point to);
    DesktopStatus button(int button, bool down);
    // Where the last moveTo put the pointer (clamped to the layout); nullopt before the first.
    std::optional<Point> position() const { return position_; }

private:
    explicit VirtualPointer(WlConnection& conn) : conn_(conn) {}
    DesktopStatus settle();
    WlConnection& conn_;
    zwlr_virtual_pointer_manager_v1* manager_ = nullptr;
    zwlr_virtual_pointer_v1* pointer_ = nullptr;
    std::optional<Point> position_;
};

}  // namespace tavik::desktop::wayland
