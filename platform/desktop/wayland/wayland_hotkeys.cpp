// Hot keys on a Wayland session: the GlobalShortcuts portal where the desktop has it; else one
// line telling how to bind the program's --show command in the desktop's own settings.
#include "platform/desktop/wayland/wayland_hotkeys.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "platform/desktop/wayland/hotkey_text.h"
#include "platform/desktop/portals/global_shortcuts.h"

namespace tavik::desktop::wayland {

struct WaylandHotKeys::State {
    bool tried = false;
    std::unique_ptr<PortalShortcuts> portal;
    std::set<int32_t> advised;  // keys whose advice line was printed
};

WaylandHotKeys::WaylandHotKeys(std::function<void(const DesktopEvent&)> push)
    : s_(std::make_unique<State>()), push_(std::move(push)) {}
WaylandHotKeys::~WaylandHotKeys() = default;

DesktopStatus WaylandHotKeys::add(int32_t id, uint32_t keysym, uint32_t modifiers) {
    const auto trigger = portalTrigger(keysym, modifiers);
    if (!trigger) return DesktopStatus::Failed;
    if (!s_->tried) {
        s_->tried = true;
        // The callback keeps its own copy of `push_` (it may run while this object goes away).
        s_->portal = PortalShortcuts::open([push = push_](int32_t key) {
            DesktopEvent e;
            e.kind = DesktopEvent::Kind::HotKey;
            e.hotKeyId = key;
            push(e);
        });
    }
    if (s_->portal) {
        const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
        s_->portal->set(id, *trigger, std::string(program_invocation_short_name) + ": " + readableKey(keysym, modifiers),
                        takenKeyAdvice(program_invocation_short_name, keysym, modifiers, desktop ? desktop : ""),
                        qtKeyCode(keysym, modifiers).value_or(0));
        return DesktopStatus::Ok;
    }
    if (s_->advised.insert(id).second)
        std::fprintf(stderr, "%s\n", bindAdvice(program_invocation_short_name, keysym, modifiers).c_str());
    return DesktopStatus::Failed;
}

void WaylandHotKeys::remove(int32_t id) {
    if (s_->portal) s_->portal->erase(id);
}

}  // namespace tavik::desktop::wayland
