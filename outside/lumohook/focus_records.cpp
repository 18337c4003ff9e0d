// Focus records: find or take the process's record and fill it; place an
// accessibility point on the screen and in its window.
#include "outside/lumohook/focus_records.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <optional>

namespace lumohook {

namespace {

int32_t clamp32(int64_t v) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// Sizes a pixel apart still name the same window (scaled toolkits round).
bool sameSize(const tavik::desktop::Rect& a, const tavik::desktop::Rect& b) {
    return std::llabs(int64_t{a.width} - b.width) <= 1 && std::llabs(int64_t{a.height} - b.height) <= 1;
}

// The largest border and title bar a toolkit's own decorations are taken to have.
constexpr int64_t kMaxBorder = 32, kMaxTitleBar = 96;

// A toolkit that draws its own decorations where the compositor draws none (Qt's title bar on
// GNOME Wayland) reports its window without them, while the compositor's rectangle holds them: a
// border of one width left, right and below, the title bar above. The origin of the toolkit's
// window inside `frame` when the sizes have that shape; nullopt otherwise.
std::optional<tavik::desktop::Point> insideOwnDecorations(const tavik::desktop::Rect& a,
                                                          const tavik::desktop::Rect& frame) {
    const int64_t dw = int64_t{frame.width} - a.width, dh = int64_t{frame.height} - a.height;
    if (dw < 0 || dh <= 0) return std::nullopt;
    const int64_t side = dw / 2, top = dh - side;  // an odd difference: the toolkit rounded
    if (side > kMaxBorder || top < side || top > kMaxTitleBar) return std::nullopt;
    return tavik::desktop::Point{clamp32(frame.left + side), clamp32(frame.top + top)};
}

}  // namespace

int recordEvent(lumo::HookData& hook, const FocusEvent& e) {
    int at = -1;
    for (int i = 0; i < lumo::kHookRecordCount && at < 0; ++i)
        if (hook.threads[i].inUse && hook.threads[i].threadId == e.process) at = i;
    for (int i = 0; i < lumo::kHookRecordCount && at < 0; ++i)
        if (!hook.threads[i].inUse) at = i;
    if (at < 0) at = 0;
    lumo::HookThreadRecord& r = hook.threads[at];
    r.threadId = e.process;
    r.hookOwned = 1;
    r.window = e.window;
    r.screenX = e.screenX;
    r.screenY = e.screenY;
    if (e.caret && e.window != 0 && e.clientX && e.clientY) {
        r.kind = 1;
        r.caretX = *e.clientX;
        r.caretY = *e.clientY;
        r.screenGiven = 0;
    } else {
        r.kind = 0;
        r.screenGiven = 1;
    }
    r.inUse = 1;
    r.changed = 1;
    return at;
}

PlacedPoint placePoint(int32_t x, int32_t y, const WindowFrames& frames) {
    PlacedPoint p{x, y, std::nullopt, std::nullopt};
    if (frames.accessible && frames.client) {
        const auto& a = *frames.accessible;
        const int64_t insideX = int64_t{x} - a.left, insideY = int64_t{y} - a.top;
        const tavik::desktop::Rect* same = nullptr;
        if (sameSize(a, *frames.client))
            same = &*frames.client;
        else if (frames.outer && sameSize(a, *frames.outer))
            same = &*frames.outer;
        if (same) {
            p.screenX = clamp32(same->left + insideX);
            p.screenY = clamp32(same->top + insideY);
        } else {
            auto origin = insideOwnDecorations(a, *frames.client);
            if (!origin && frames.outer) origin = insideOwnDecorations(a, *frames.outer);
            if (origin) {
                p.screenX = clamp32(origin->x + insideX);
                p.screenY = clamp32(origin->y + insideY);
            }
        }
    }
    if (frames.client) {
        p.clientX = clamp32(int64_t{p.screenX} - frames.client->left);
        p.clientY = clamp32(int64_t{p.screenY} - frames.client->top);
    }
    return p;
}

}  // namespace lumohook
