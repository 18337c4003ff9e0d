// Matching an accessibility or toplevel window to one of the compositor's windows.
#include "platform/desktop/window_facts.h"

namespace tavik::desktop {

const WindowFact* windowOfProcess(std::span<const WindowFact> windows, int32_t pid, std::string_view title) {
    if (pid <= 0) return nullptr;
    const WindowFact* only = nullptr;
    int count = 0;
    for (const WindowFact& w : windows) {
        if (w.pid != pid) continue;
        if (!title.empty() && w.title == title) return &w;
        only = &w;
        ++count;
    }
    return count == 1 ? only : nullptr;
}

const WindowFact* windowOfApp(std::span<const WindowFact> windows, std::string_view appId, std::string_view title) {
    if (appId.empty()) return nullptr;
    const WindowFact* only = nullptr;
    int count = 0;
    for (const WindowFact& w : windows) {
        if (w.appId != appId) continue;
        if (w.title == title) return &w;
        only = &w;
        ++count;
    }
    return count == 1 ? only : nullptr;
}

const WindowFact* focusedWindow(std::span<const WindowFact> windows) {
    for (const WindowFact& w : windows)
        if (w.focused) return &w;
    return nullptr;
}

}  // namespace tavik::desktop
