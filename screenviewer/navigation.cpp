// The navigation rules over view records: record choice, fitting to a window's
// size, pan, jump, centre, contain, zoom, overview and focus placing. All
// arithmetic is 64-bit and every result is clamped back into int32.
#include "screenviewer/navigation.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace lumo {

namespace {

constexpr int32_t kMaxCell = 1 << 16;

int32_t clamp32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}
int32_t nonNegative(int64_t v) { return clamp32(std::max<int64_t>(v, 0)); }
int64_t ceilDiv(int64_t a, int64_t b) { return b <= 0 ? 0 : (a + b - 1) / b; }

// One axis of the rectangle that navigation moves: the view, or in overview
// the ViewScope rectangle.
struct Axis {
    int32_t& pos;
    int32_t cell;  // sane
    int64_t count;
    int64_t size;
};

Axis axisX(ViewRecord& r, Pins p) {
    if (r.overview) return {r.scopeX, saneCell(r.scopeCellWidth), p.columns, r.imageWidth};
    return {r.baseX, saneCell(r.cellWidth), p.columns, r.imageWidth};
}
Axis axisY(ViewRecord& r, Pins p) {
    if (r.overview) return {r.scopeY, saneCell(r.scopeCellHeight), p.rows, r.imageHeight};
    return {r.baseY, saneCell(r.cellHeight), p.rows, r.imageHeight};
}

void pullBack(Axis a) {
    if (int64_t(a.pos) + a.count * a.cell > a.size) a.pos = lastAlignedStart(a.size, a.count, a.cell);
}

void pan(Axis a, int64_t d) {
    if (d > 0 && int64_t(a.pos) + a.count * a.cell + d > a.size) a.pos = lastAlignedStart(a.size, a.count, a.cell);
    else a.pos = nonNegative(int64_t(a.pos) + d);
}

// The one-axis part of a keypad jump: 0 start, 1 keep, 2 end, 3 centre.
void jumpAxis(Axis a, int where, std::optional<std::pair<int64_t, int64_t>> span) {
    const int64_t c = a.cell;
    int64_t v = a.pos;
    if (span) {
        const auto [lo, hi] = *span;
        if (where == 0) v = c * (lo / c);
        else if (where == 2) v = c * ((hi + (1 - a.count) * c - 1) / c);
        else if (where == 3) v = c * ((hi + lo - a.count * c) / 2 / c);
    } else {
        if (where == 0) v = 0;
        else if (where == 2) v = lastAlignedStart(a.size, a.count, c);
        else if (where == 3) v = c * ((c + (a.size - a.count * c) / 2 - 1) / c);
    }
    a.pos = nonNegative(v);
}

void centreAxis(Axis a, int64_t x) {
    int64_t b = x - a.count * a.cell / 2;
    if (b + a.count * a.cell > a.size) b = a.size - a.count * a.cell;
    b = std::max<int64_t>(b, 0);
    a.pos = nonNegative(a.cell * (b / a.cell));
}

void containAxis(Axis a, int64_t x) {
    x = std::clamp<int64_t>(x, 0, std::max<int64_t>(a.size - 1, 0));
    const int64_t c = a.cell;
    if (x < a.pos) a.pos = nonNegative(c * (x / c));
    else if (x >= a.pos + a.count * c) a.pos = nonNegative(c * ((x + (1 - a.count) * c) / c));
}

bool scopeTarget(const ViewRecord& r) { return r.overview && r.viewScope; }

Axis centreAxisX(ViewRecord& r, Pins p) {
    if (scopeTarget(r)) return {r.scopeX, saneCell(r.scopeCellWidth), p.columns, r.imageWidth};
    return {r.baseX, saneCell(r.cellWidth), p.columns, r.imageWidth};
}
Axis centreAxisY(ViewRecord& r, Pins p) {
    if (scopeTarget(r)) return {r.scopeY, saneCell(r.scopeCellHeight), p.rows, r.imageHeight};
    return {r.baseY, saneCell(r.cellHeight), p.rows, r.imageHeight};
}

uint32_t nextStamp(ViewerShare& share) {
    if (++share.useCounter == 0) share.useCounter = 1;  // 0 marks a free record
    return share.useCounter;
}

// Saves the view as the ViewScope rectangle on entering overview.
void saveScope(ViewRecord& r, Pins p) {
    const int32_t cw = saneCell(r.cellWidth), ch = saneCell(r.cellHeight);
    r.scopeX = r.baseX;
    r.scopeY = r.baseY;
    r.scopeCellWidth = cw;
    r.scopeCellHeight = ch;
    if (int64_t(cw) * p.columns > r.imageWidth && int64_t(ch) * p.rows > r.imageHeight)
        r.scopeCellWidth = r.scopeCellHeight = 1;
}

}  // namespace

int32_t saneCell(int32_t c) { return std::clamp(c, 1, kMaxCell); }

int32_t lastAlignedStart(int64_t size, int64_t count, int64_t c) {
    c = std::clamp<int64_t>(c, 1, kMaxCell);
    return nonNegative(c * ((size + (1 - count) * c - 1) / c));
}

int selectViewRecord(ViewerShare& share, WindowId window, const WindowLookup& lookup, Pins pins, bool* fresh) {
    if (fresh) *fresh = false;
    storeWindowWord(share.lastForeground, window);
    for (int i = 0; i < kRecordCount; ++i) {
        ViewRecord& r = share.records[i];
        if (r.useStamp != 0 && r.keyWindow == window) {
            share.currentRecord = i;
            r.useStamp = nextStamp(share);
            storeWindowWord(share.targetWindow, r.captureWindow);
            const WindowFacts f = lookup(r.captureWindow);
            fitViewToWindow(r, f.width, f.height, pins);
            return i;
        }
    }
    storeWindowWord(share.targetWindow, window);
    const int current = share.currentRecord;  // may be anything: only compared
    int pick = -1;
    for (int i = 0; i < kRecordCount && pick < 0; ++i)
        if (share.records[i].useStamp == 0) pick = i;
    if (pick < 0) {
        for (int i = 0; i < kRecordCount; ++i)
            if (i != current && (pick < 0 || share.records[i].useStamp < share.records[pick].useStamp)) pick = i;
    }
    share.currentRecord = pick;
    initViewRecord(share, share.records[pick], window, lookup(window), pins);
    if (fresh) *fresh = true;
    return pick;
}

void initViewRecord(ViewerShare& share, ViewRecord& r, WindowId window, const WindowFacts& facts, Pins pins) {
    std::memset(&r, 0, sizeof r);
    r.keyWindow = r.captureWindow = window;
    r.threadId = facts.threadId;
    r.cellWidth = r.cellHeight = 1;
    fitViewToWindow(r, facts.width, facts.height, pins);
    r.condition.bThreshfold = r.condition.bThreshfoldMin = r.condition.bThreshfoldMax = 128;
    r.condition.fAutoThreshfold = 1;
    r.condition.bMode = BIN_LIGHT | BIN_DARK;
    r.useStamp = nextStamp(share);
}

void fitViewToWindow(ViewRecord& r, int32_t width, int32_t height, Pins pins) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == r.imageWidth && height == r.imageHeight) return;
    r.imageWidth = width;
    r.imageHeight = height;
    pullBack(axisX(r, pins));
    pullBack(axisY(r, pins));
}

void panX(ViewRecord& r, int n, Pins pins) { pan(axisX(r, pins), int64_t(n) * saneCell(r.cellWidth)); }
void panY(ViewRecord& r, int n, Pins pins) { pan(axisY(r, pins), int64_t(n) * saneCell(r.cellHeight)); }
void panScopeX(ViewRecord& r, int n, Pins pins) {
    if (r.overview) pan(axisX(r, pins), int64_t(n) * saneCell(r.scopeCellWidth));
}
void panScopeY(ViewRecord& r, int n, Pins pins) {
    if (r.overview) pan(axisY(r, pins), int64_t(n) * saneCell(r.scopeCellHeight));
}

void jump(ViewRecord& r, int key, Pins pins, const std::optional<Rect>& client) {
    if (key < 1 || key > 9) return;
    const int col = (key - 1) % 3, row = (key - 1) / 3;
    // Columns: 0 left edge, 1 keep, 2 right end. Rows: 0 bottom end, 1 keep, 2 top.
    int whereX = col == 0 ? 0 : col == 2 ? 2 : 1;
    int whereY = row == 0 ? 2 : row == 2 ? 0 : 1;
    if (key == 5) whereX = whereY = 3;
    std::optional<std::pair<int64_t, int64_t>> spanX, spanY;
    if (client) {
        spanX = std::pair<int64_t, int64_t>{client->x, int64_t(client->x) + client->width};
        spanY = std::pair<int64_t, int64_t>{client->y, int64_t(client->y) + client->height};
    }
    jumpAxis(axisX(r, pins), whereX, spanX);
    jumpAxis(axisY(r, pins), whereY, spanY);
}

void centreOn(ViewRecord& r, int32_t x, int32_t y, Pins pins) {
    centreAxis(centreAxisX(r, pins), x);
    centreAxis(centreAxisY(r, pins), y);
}

void contain(ViewRecord& r, int32_t x, int32_t y, Pins pins) {
    containAxis(centreAxisX(r, pins), x);
    containAxis(centreAxisY(r, pins), y);
}

bool zoom(ViewRecord& r, int32_t a, ZoomAnchor anchor, Pins pins, int32_t px, int32_t py) {
    if (a < 1 || a > kMaxCell) return false;
    const int64_t w = r.imageWidth, h = r.imageHeight;
    if (!r.overview) {
        if (int64_t(a) * pins.columns >= 2 * w && int64_t(a) * pins.rows >= 2 * h) return false;
    } else if (int64_t(a) * pins.columns > w && int64_t(a) * pins.rows > h) {
        return false;
    }
    Axis ax = axisX(r, pins), ay = axisY(r, pins);
    const int64_t oldX = ax.pos, oldY = ay.pos, oldCX = ax.cell, oldCY = ay.cell;
    if (r.overview) r.scopeCellWidth = r.scopeCellHeight = a;
    else r.cellWidth = r.cellHeight = a;

    auto farEnd = [](int64_t base, int64_t count, int64_t cell, int64_t size) {
        return std::min(base + count * cell, size - 1);
    };
    auto endBase = [a](int64_t e, int64_t count) { return nonNegative(a * ((e + (1 - count) * a - 1) / a)); };
    auto centreBase = [a](int64_t m, int64_t count) { return nonNegative(a * ((a + m - count * a / 2 - 1) / a)); };
    auto pointBase = [a](int64_t p, int64_t base, int64_t cell) {
        const int64_t i = (p - base) / cell;
        return nonNegative(a * ((p + (1 - i) * a - 1) / a));
    };
    switch (anchor) {
    case ZoomAnchor::TopLeft: break;
    case ZoomAnchor::Right: ax.pos = endBase(farEnd(oldX, ax.count, oldCX, w), ax.count); break;
    case ZoomAnchor::Bottom: ay.pos = endBase(farEnd(oldY, ay.count, oldCY, h), ay.count); break;
    case ZoomAnchor::RightBottom:
        ax.pos = endBase(farEnd(oldX, ax.count, oldCX, w), ax.count);
        ay.pos = endBase(farEnd(oldY, ay.count, oldCY, h), ay.count);
        break;
    case ZoomAnchor::Centre:
        ax.pos = centreBase(std::min(oldX + ax.count * oldCX / 2, w - 1), ax.count);
        ay.pos = centreBase(std::min(oldY + ay.count * oldCY / 2, h - 1), ay.count);
        break;
    case ZoomAnchor::Point:
        ax.pos = pointBase(px, oldX, oldCX);
        ay.pos = pointBase(py, oldY, oldCY);
        break;
    }
    return true;
}

void enterOverview(ViewRecord& r, bool viewScope, Pins pins) {
    r.clientFit = 0;
    r.areaWidth = r.areaHeight = 0;
    if (r.overview) {
        r.baseX = r.baseY = 0;
    } else {
        saveScope(r, pins);
        r.overview = 1;
        r.baseX = r.baseY = 0;
        const int64_t c = std::max(ceilDiv(r.imageWidth, pins.columns), ceilDiv(r.imageHeight, pins.rows));
        r.cellWidth = r.cellHeight = saneCell(clamp32(c));
    }
    r.viewScope = viewScope ? 1 : 0;
}

void fitClientOverview(ViewRecord& r, const Rect& area, Pins pins) {
    r.clientFit = 1;
    const int64_t c = std::max(ceilDiv(area.width, pins.columns), ceilDiv(area.height, pins.rows));
    if (!r.overview) {
        saveScope(r, pins);
        r.overview = 1;
    }
    r.cellWidth = r.cellHeight = saneCell(clamp32(c));
    r.baseX = area.x;
    r.baseY = area.y;
    r.areaWidth = std::max(area.width, 0);
    r.areaHeight = std::max(area.height, 0);
    r.viewScope = 0;
}

void leaveOverview(ViewRecord& r) {
    r.overview = r.viewScope = r.clientFit = 0;
    r.areaWidth = r.areaHeight = 0;
    r.baseX = std::max(r.scopeX, 0);
    r.baseY = std::max(r.scopeY, 0);
    r.cellWidth = saneCell(r.scopeCellWidth);
    r.cellHeight = saneCell(r.scopeCellHeight);
}

bool placeOnFocus(ViewRecord& r, const Rect& capture, const std::optional<Rect>& focusClient,
                  const Rect& captureClient, const FocusPoint& point, Pins pins) {
    Axis ax = axisX(r, pins), ay = axisY(r, pins);
    int64_t sx, sy;
    if (focusClient) {
        if (point.caret) {
            sx = focusClient->x + std::max<int64_t>(int64_t(point.caretX) - ax.count * ax.cell / 2, 0);
            sy = int64_t(focusClient->y) + point.caretY;
        } else if (point.screenGiven) {
            sx = point.screenX;
            sy = point.screenY;
        } else {
            sx = focusClient->x;
            sy = focusClient->y;
        }
    } else {
        sx = captureClient.x;
        sy = captureClient.y;
    }
    sx = std::max<int64_t>(sx, capture.x);
    sy = std::max<int64_t>(sy, capture.y);
    if (sx >= int64_t(capture.x) + capture.width || sy >= int64_t(capture.y) + capture.height) return false;
    ax.pos = nonNegative(ax.cell * ((sx - capture.x) / ax.cell));
    ay.pos = nonNegative(ay.cell * ((sy - capture.y) / ay.cell));
    return true;
}

void copyToWholeScreen(const ViewRecord& window, ViewRecord& screen, int32_t windowX, int32_t windowY) {
    screen.baseX = nonNegative(int64_t(window.baseX) + windowX);
    screen.baseY = nonNegative(int64_t(window.baseY) + windowY);
    screen.cellWidth = saneCell(window.cellWidth);
    screen.cellHeight = saneCell(window.cellHeight);
    screen.condition = window.condition;
    screen.overview = screen.viewScope = screen.clientFit = 0;
    screen.areaWidth = screen.areaHeight = 0;
}

Rect viewRectangle(const ViewRecord& r, Pins pins) {
    if (r.overview)
        return {r.scopeX, r.scopeY, clamp32(int64_t(saneCell(r.scopeCellWidth)) * pins.columns),
                clamp32(int64_t(saneCell(r.scopeCellHeight)) * pins.rows)};
    return {r.baseX, r.baseY, clamp32(int64_t(saneCell(r.cellWidth)) * pins.columns),
            clamp32(int64_t(saneCell(r.cellHeight)) * pins.rows)};
}

}  // namespace lumo
