#include "platform/desktop/wayland/facts_source.h"

#include "platform/desktop/gnome/extension_facts.h"
#ifdef TAVIK_WITH_KDE_FACTS
#include "platform/desktop/kde/kwin_window_facts.h"
#endif
#include "platform/desktop/wlroots/sway_facts.h"

namespace tavik::desktop::wayland {

std::unique_ptr<WindowFacts> openWindowFacts() {
    if (auto f = SwayFacts::open()) return f;
    if (auto f = gnome::ExtensionFacts::open()) return f;
#ifdef TAVIK_WITH_KDE_FACTS
    if (auto f = kde::KWinWindowFacts::open()) return f;
#endif
    return nullptr;
}

}  // namespace tavik::desktop::wayland
