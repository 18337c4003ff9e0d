// Virtual pointer of wlroots compositors: one device per object, motion as absolute positions
// over the layout box so the pointer lands on the exact pixel asked for.
#include "platform/desktop/wlroots/virtual_pointer.h"

#include <wayland-client.h>

#include <chrono>

#include "platform/desktop/wayland/pointer_motion.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace tavik::desktop::wayland {

namespace {

uint32_t timestamp() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

std::unique_ptr<VirtualPointer> VirtualPointer::create(WlConnection& conn) {
    auto* manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
        conn.bind(&zwlr_virtual_pointer_manager_v1_interface, 1));
    if (!manager) return nullptr;
    std::unique_ptr<VirtualPointer> p(new VirtualPointer(conn));
    p->manager_ = manager;
    p->pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, conn.seat());
    if (!p->pointer_ || !conn.roundtrip(3000)) return nullptr;
    return p;
}

VirtualPointer::~VirtualPointer() {
    if (pointer_) zwlr_virtual_pointer_v1_destroy(pointer_);
    if (manager_) zwlr_virtual_pointer_manager_v1_destroy(manager_);
    conn_.pump();
}

DesktopStatus VirtualPointer::settle() { return conn_.roundtrip(1000) ? DesktopStatus::Ok : DesktopStatus::NoDisplay; }

DesktopStatus VirtualPointer::moveTo(Point to) {
    if (conn_.lost()) return DesktopStatus::NoDisplay;
    const Rect layout = conn_.layout();
    const auto m = absoluteMotion(to, layout);
    if (!m) return DesktopStatus::Failed;
    zwlr_virtual_pointer_v1_motion_absolute(pointer_, timestamp(), m->x, m->y, m->xExtent, m->yExtent);
    zwlr_virtual_pointer_v1_frame(pointer_);
    position_ = Point{static_cast<int32_t>(layout.left + int64_t{m->x}), static_cast<int32_t>(layout.top + int64_t{m->y})};
    return settle();
}

DesktopStatus VirtualPointer::button(int button, bool down) {
    if (conn_.lost()) return DesktopStatus::NoDisplay;
    const auto code = linuxButton(button);
    if (!code) return DesktopStatus::Failed;
    zwlr_virtual_pointer_v1_button(pointer_, timestamp(), *code,
                                   down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
    zwlr_virtual_pointer_v1_frame(pointer_);
    return settle();
}

}  // namespace tavik::desktop::wayland
