// The mouse on a Wayland session: the wlroots virtual pointer where the compositor offers it.
// The position is the one this object last set (Wayland tells no client where the pointer is).
#include "platform/desktop/wayland/wayland_pointer.h"

#include <atomic>
#include <cstdio>

#include "platform/desktop/wayland/virtual_pointer.h"
#include "platform/desktop/wayland/wl_connection.h"

namespace tavik::desktop::wayland {

struct WaylandPointer::State {
    WlLink link;
    uint64_t generation = 0;
    std::unique_ptr<VirtualPointer> pointer;
    std::optional<Point> last;

    VirtualPointer* get() {
        if (link.lost()) pointer.reset();
        WlConnection* c = link.get();
        if (!c) return nullptr;
        if (generation != link.generation()) {
            pointer = VirtualPointer::create(*c);
            generation = link.generation();
            if (!pointer) {
                static std::atomic<bool> said{false};
                if (!said.exchange(true))
                    std::fputs("This desktop offers no way to move the mouse for us (no RemoteDesktop portal, no "
                               "wlr-virtual-pointer): mouse moves and clicks do nothing.\n",
                               stderr);
            }
        }
        return pointer.get();
    }
};

WaylandPointer::WaylandPointer() : s_(std::make_unique<State>()) {}
WaylandPointer::~WaylandPointer() = default;

DesktopStatus WaylandPointer::move(Point to) {
    VirtualPointer* p = s_->get();
    if (!p) return DesktopStatus::NoDisplay;
    const DesktopStatus st = p->moveTo(to);
    if (st == DesktopStatus::Ok) s_->last = p->position();
    return st;
}

DesktopStatus WaylandPointer::press(int button, bool down) {
    VirtualPointer* p = s_->get();
    return p ? p->button(button, down) : DesktopStatus::NoDisplay;
}

std::optional<Point> WaylandPointer::position() { return s_->last; }

std::optional<CursorImage> WaylandPointer::cursor() { return std::nullopt; }

}  // namespace tavik::desktop::wayland
