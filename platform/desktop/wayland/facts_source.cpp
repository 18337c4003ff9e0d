#include "platform/desktop/wayland/facts_source.h"

#include "platform/desktop/gnome/extension_facts.h"
#include "platform/desktop/wlroots/sway_facts.h"

namespace tavik::desktop::wayland {

std::unique_ptr<WindowFacts> openWindowFacts() {
    if (auto f = SwayFacts::open()) return f;
    if (auto f = gnome::ExtensionFacts::open()) return f;
    return nullptr;
}

}  // namespace tavik::desktop::wayland
