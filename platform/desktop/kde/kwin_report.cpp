// Reading the window-facts script's reports and preparing the script for one receiver.
#include "platform/desktop/kde/kwin_report.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace tavik::desktop::kde {

namespace {

constexpr std::string_view kHeader = "tavik-window-facts 1";
constexpr size_t kFields = 14;  // id pid stacking fx fy fw fh cx cy cw ch minimized appId caption

// The next field of `line` up to a tab (the rest of the line when `last`).
std::string_view take(std::string_view& line, bool last = false) {
    if (last) {
        std::string_view all = line;
        line = {};
        return all;
    }
    const size_t tab = line.find('\t');
    std::string_view f = line.substr(0, tab);
    line = tab == std::string_view::npos ? std::string_view{} : line.substr(tab + 1);
    return f;
}

std::optional<int32_t> number(std::string_view f) {
    int64_t v = 0;
    const auto [end, ec] = std::from_chars(f.data(), f.data() + f.size(), v);
    if (ec != std::errc{} || end != f.data() + f.size() || f.empty()) return std::nullopt;
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return std::nullopt;
    return static_cast<int32_t>(v);
}

bool plainUuid(std::string_view s) {
    return !s.empty() && s.size() <= 64 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

// `s` cut to at most `n` bytes without splitting a UTF-8 sequence.
std::string cutUtf8(std::string_view s, size_t n) {
    if (s.size() <= n) return std::string(s);
    size_t end = n;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    return std::string(s.substr(0, end));
}

std::optional<KWinWindow> readWindow(std::string_view line) {
    if (static_cast<size_t>(std::count(line.begin(), line.end(), '\t')) < kFields - 1) return std::nullopt;
    KWinWindow w;
    const std::string_view uuid = take(line);
    if (!plainUuid(uuid)) return std::nullopt;
    w.id = kwinWindowId(uuid);
    int32_t v[10] = {};
    for (int32_t& x : v) {
        const auto n = number(take(line));
        if (!n) return std::nullopt;
        x = *n;
    }
    w.pid = std::max(v[0], 0);
    w.stacking = v[1];
    w.frame = {v[2], v[3], std::max(v[4], 0), std::max(v[5], 0)};
    w.client = {v[6], v[7], std::max(v[8], 0), std::max(v[9], 0)};
    const std::string_view minimized = take(line);
    if (minimized != "0" && minimized != "1") return std::nullopt;
    w.minimized = minimized == "1";
    w.appId = cutUtf8(take(line), kMaxAppIdBytes);
    w.title = cutUtf8(take(line, true), kMaxTitleBytes);
    return w;
}

bool allOf(std::string_view s, bool (*ok)(char)) { return !s.empty() && std::all_of(s.begin(), s.end(), ok); }

}  // namespace

WindowId kwinWindowId(std::string_view uuid) {
    uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : uuid) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    return h | kKWinIdBits;
}

std::optional<KWinReport> parseKWinReport(std::string_view text) {
    if (text.size() > kMaxReportBytes) return std::nullopt;
    const size_t eol = text.find('\n');
    std::string_view head = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    if (take(head) != kHeader) return std::nullopt;
    const std::string_view activeUuid = head;
    KWinReport r;
    while (!text.empty() && r.windows.size() < kMaxReportWindows) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (auto w = readWindow(line)) r.windows.push_back(std::move(*w));
    }
    if (plainUuid(activeUuid)) {
        const WindowId id = kwinWindowId(activeUuid);
        if (std::any_of(r.windows.begin(), r.windows.end(), [&](const KWinWindow& w) { return w.id == id; }))
            r.active = id;
    }
    return r;
}

std::optional<std::string> kwinScriptFor(std::string_view scriptTemplate, std::string_view busName,
                                         std::string_view objectPath) {
    const bool nameOk = busName.size() <= 255 && allOf(busName, [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
               c == '-' || c == '.' || c == ':';
    });
    const bool pathOk = objectPath.size() <= 255 && !objectPath.empty() && objectPath.front() == '/' && allOf(objectPath, [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '/';
    });
    if (!nameOk || !pathOk) return std::nullopt;
    std::string out(scriptTemplate);
    const auto replaceAll = [&out](std::string_view from, std::string_view to) {
        for (size_t at = out.find(from); at != std::string::npos; at = out.find(from, at + to.size()))
            out.replace(at, from.size(), to);
    };
    replaceAll("__TAVIK_SERVICE__", busName);
    replaceAll("__TAVIK_PATH__", objectPath);
    return out;
}

}  // namespace tavik::desktop::kde
