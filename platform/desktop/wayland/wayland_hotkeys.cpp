// Hot keys on a Wayland session: on GNOME the suite's extension's key bindings, else the
// GlobalShortcuts portal where the desktop has it; else one line telling how to bind the
// program's --show command in the desktop's own settings.
#include "platform/desktop/wayland/wayland_hotkeys.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "platform/desktop/gnome/extension_facts.h"
#include "platform/desktop/gnome/extension_keys.h"
#include "platform/desktop/portals/global_shortcuts.h"
#include "platform/desktop/wayland/hotkey_text.h"

namespace tavik::desktop::wayland {

struct WaylandHotKeys::State {
    bool tried = false;
    bool triedExtension = false;
    std::unique_ptr<gnome::ExtensionKeys> extension;
    std::unique_ptr<PortalShortcuts> portal;
    std::set<int32_t> advised;  // keys whose advice line was printed
};

WaylandHotKeys::WaylandHotKeys(std::function<void(const DesktopEvent&)> push)
    : s_(std::make_unique<State>()), push_(std::move(push)) {}
WaylandHotKeys::~WaylandHotKeys() = default;

DesktopStatus WaylandHotKeys::add(int32_t id, uint32_t keysym, uint32_t modifiers) {
    if (const auto name = gnome::extensionKeyName(keysym, modifiers)) {
        if (!s_->triedExtension) {
            s_->triedExtension = true;
            s_->extension = gnome::ExtensionKeys::open([push = push_](int32_t key) {
                DesktopEvent e;
                e.kind = DesktopEvent::Kind::HotKey;
                e.hotKeyId = key;
                push(e);
            });
        }
        if (s_->extension) {
            const auto accel = s_->extension->bind(id, *name);
            const std::string said = !accel ? "the one set in the extension (default <Super><Alt>v)"
                                     : accel->empty() ? "not set"
                                                      : *accel;
            if (s_->advised.insert(id).second)
                std::fprintf(stderr,
                             "%s: on GNOME the hot key is %s, bound by the suite's GNOME Shell extension; change it "
                             "with: gsettings --schemadir ~/.local/share/gnome-shell/extensions/%s/schemas set "
                             "org.tavik.window-facts %.*s-key \"['<Super><Alt>d']\" (or the extension's folder under "
                             "/usr/share)\n",
                             program_invocation_short_name, said.c_str(), gnome::kExtensionUuid, int(name->size()),
                             name->data());
            // A key the extension did not name in time is still bound there.
            return accel && accel->empty() ? DesktopStatus::Failed : DesktopStatus::Ok;
        }
    }
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
    if (s_->extension) s_->extension->unbind(id);
    if (s_->portal) s_->portal->erase(id);
}

}  // namespace tavik::desktop::wayland
