// The mouse on a Wayland session: the RemoteDesktop portal where the desktop offers it (GNOME,
// KDE; its permission kept with a restore token), else the wlroots virtual pointer. The position
// is the one this object last set (Wayland tells no client where the pointer is).
#include "platform/desktop/wayland/wayland_pointer.h"

#include <atomic>
#include <cstdio>

#include "platform/desktop/portals/remote_pointer.h"
#include "platform/desktop/portals/restore_token.h"
#include "platform/desktop/wlroots/virtual_pointer.h"
#include "platform/desktop/wayland/wl_connection.h"

namespace tavik::desktop::wayland {

namespace {
// The pointer permission's token file, beside the screen cast's.
std::string pointerTokenPath() {
    std::string path = restoreTokenPath();
    const auto slash = path.rfind('/');
    return path.empty() || slash == std::string::npos ? std::string{} : path.substr(0, slash + 1) + "RemoteDesktop.token";
}
}  // namespace

struct WaylandPointer::State {
    WlLink link;
    uint64_t generation = 0;
    std::unique_ptr<VirtualPointer> pointer;
    std::optional<Point> last;
    bool triedPortal = false;
    std::unique_ptr<PortalPointer> portal;

    // The portal's pointer, asked for once per object (the user may have to consent).
    PortalPointer* getPortal() {
        if (!triedPortal) {
            triedPortal = true;
            const std::string path = pointerTokenPath();
            portal = PortalPointer::open(path.empty() ? std::string{} : loadRestoreToken(path));
            if (portal && !path.empty() && !portal->restoreToken().empty())
                saveRestoreToken(path, portal->restoreToken());
        }
        return portal.get();
    }

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
    if (PortalPointer* portal = s_->getPortal()) {
        WlConnection* c = s_->link.get();
        const DesktopStatus st = portal->moveTo(to, c ? c->layout() : Rect{});
        if (st == DesktopStatus::Ok) s_->last = portal->position();
        return st;
    }
    VirtualPointer* p = s_->get();
    if (!p) return DesktopStatus::NoDisplay;
    const DesktopStatus st = p->moveTo(to);
    if (st == DesktopStatus::Ok) s_->last = p->position();
    return st;
}

DesktopStatus WaylandPointer::press(int button, bool down) {
    if (PortalPointer* portal = s_->getPortal()) return portal->button(button, down);
    VirtualPointer* p = s_->get();
    return p ? p->button(button, down) : DesktopStatus::NoDisplay;
}

std::optional<Point> WaylandPointer::position() { return s_->last; }

std::optional<CursorImage> WaylandPointer::cursor() { return std::nullopt; }

}  // namespace tavik::desktop::wayland
