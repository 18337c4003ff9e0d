// Fuzz target for the window-facts reports that arrive from KWin: any text is read; what comes
// out keeps the reader's promises (bounded counts and lengths, no negative sizes, an active
// window only when listed, titles and app ids cut at character boundaries).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/desktop/kde/kwin_report.h"

namespace kde = tavik::desktop::kde;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto r = kde::parseKWinReport(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!r) return 0;
    if (r->windows.size() > kde::kMaxReportWindows) std::abort();
    bool activeListed = r->active == 0;
    for (const kde::KWinWindow& w : r->windows) {
        if (w.frame.width < 0 || w.frame.height < 0 || w.client.width < 0 || w.client.height < 0 || w.pid < 0)
            std::abort();
        if (w.title.size() > kde::kMaxTitleBytes || w.appId.size() > kde::kMaxAppIdBytes) std::abort();
        if ((w.id & kde::kKWinIdBits) != kde::kKWinIdBits) std::abort();
        if (w.id == r->active) activeListed = true;
    }
    if (!activeListed) std::abort();
    return 0;
}
