// Window ids and toplevel matching of the Wayland back end.
#include "platform/desktop/wayland/window_ids.h"

#include <algorithm>
#include <cctype>

namespace tavik::desktop::wayland {

WindowId atspiWindowId(std::string_view busName, std::string_view objectPath) {
    uint64_t h = 0xcbf29ce484222325ull;
    auto mix = [&h](unsigned char c) {
        h ^= c;
        h *= 0x100000001b3ull;
    };
    for (char c : busName) mix(static_cast<unsigned char>(c));
    mix(0);
    for (char c : objectPath) mix(static_cast<unsigned char>(c));
    h &= ~kToplevelIdBit;
    return h == 0 ? 1 : h;
}

namespace {
bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}
}  // namespace

std::optional<WindowId> matchToplevel(std::string_view title, std::string_view appId,
                                      std::span<const WindowCandidate> windows) {
    std::optional<WindowId> byTitle;
    if (!title.empty()) {
        for (const WindowCandidate& w : windows) {
            if (w.name != title) continue;
            if (w.active) return w.id;
            if (!byTitle) byTitle = w.id;
        }
    }
    if (byTitle) return byTitle;
    if (appId.empty()) return std::nullopt;
    for (const WindowCandidate& w : windows)
        if (w.active && equalNoCase(w.appName, appId)) return w.id;
    return std::nullopt;
}

}  // namespace tavik::desktop::wayland
