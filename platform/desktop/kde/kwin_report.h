// What the window-facts script inside KWin reports (window_facts.js): the text of one report read
// into windows, the window ids this layer gives KWin's windows, and the script made ready for one
// receiving process. Pure, so tests drive it without KWin or a bus.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/desktop/desktop.h"

namespace tavik::desktop::kde {

// Ids of KWin's windows: an FNV-1a hash of KWin's window uuid with bits 63 and 62 set (so they
// differ from accessibility ids, bit 63 clear, and from toplevel-list ids, small sequence numbers
// under bit 63). The same in every process of the suite while the window lives.
constexpr WindowId kKWinIdBits = (WindowId{1} << 63) | (WindowId{1} << 62);
WindowId kwinWindowId(std::string_view uuid);

struct KWinWindow {
    WindowId id = 0;
    int32_t pid = 0;        // 0 when KWin does not know it
    int32_t stacking = 0;   // higher is nearer the top
    Rect frame;             // with the decoration, layout pixels
    Rect client;            // the window's own area
    bool minimized = false;
    std::string appId;      // the Wayland app id (desktop file name), else the window class
    std::string title;
};

struct KWinReport {
    WindowId active = 0;              // 0: none of the listed windows is active
    std::vector<KWinWindow> windows;  // bottom of the stack first
};

constexpr size_t kMaxReportBytes = 1 << 20;
constexpr size_t kMaxReportWindows = 512;
constexpr size_t kMaxTitleBytes = 1024;
constexpr size_t kMaxAppIdBytes = 256;

// Reads one report. nullopt when the text is larger than kMaxReportBytes or its first line is not
// the version-1 header. A window line with a missing or out-of-range field is left out; widths
// and heights below 0 count as 0; titles and app ids are cut to kMaxTitleBytes and kMaxAppIdBytes
// (at a UTF-8 character boundary); windows past kMaxReportWindows are left out. `active` is kept only when it names a
// listed window.
std::optional<KWinReport> parseKWinReport(std::string_view text);

// The script text with the receiving process's bus name and object path in place. nullopt when
// either contains a character a bus name or path may not have (nothing from outside reaches the
// script's string literals).
std::optional<std::string> kwinScriptFor(std::string_view scriptTemplate, std::string_view busName,
                                         std::string_view objectPath);

}  // namespace tavik::desktop::kde
