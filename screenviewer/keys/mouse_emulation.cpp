// Mouse emulation arithmetic and the marker (see mouse_emulation.h).
#include "screenviewer/keys/mouse_emulation.h"

#include <algorithm>

namespace tavik::lumo {

namespace {

int32_t fit(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }
int32_t safeCell(int32_t c) { return c < 1 ? 1 : c; }

// One axis of a pan: base, count, cell, size.
int32_t panAxis(int32_t base, int32_t count, int32_t cell, int32_t size, int32_t d) {
    if (d > 0) {
        if (static_cast<int64_t>(base) + static_cast<int64_t>(count) * cell + d > size)
            return lastAlignedStart(size, count, cell);
        return fit(static_cast<int64_t>(base) + d);
    }
    return std::max<int32_t>(0, fit(static_cast<int64_t>(base) + d));
}

int32_t containAxis(int32_t base, int32_t count, int32_t cell, int32_t x) {
    if (x < base) return cell * (x / cell);
    if (static_cast<int64_t>(x) >= static_cast<int64_t>(base) + static_cast<int64_t>(count) * cell)
        return std::max<int32_t>(0, fit(cell * ((static_cast<int64_t>(x) + (1 - static_cast<int64_t>(count)) * cell) / cell)));
    return base;
}

int32_t centreAxis(int32_t count, int32_t cell, int32_t size, int32_t x) {
    const int64_t span = static_cast<int64_t>(count) * cell;
    int64_t b = x - span / 2;
    if (b + span > size) b = size - span;
    if (b < 0) b = 0;
    return fit(cell * (b / cell));
}

// Zoom of one axis by the anchor rule; `end` / `mid` / `point` variants.
int32_t notBelow0(int64_t v) { return v < 0 ? 0 : fit(v); }

using MarkerMap = std::array<uint8_t, kMarkerSize * kMarkerSize>;

constexpr bool inPattern(int i, int j, bool alternative) {
    const int c = kMarkerSize / 2;
    if (alternative) return i == c && j == c;
    return (j == c && i >= 1 && i <= kMarkerSize - 2) || (i == c && j >= 1 && j <= kMarkerSize - 2);
}

constexpr MarkerMap makeMarker(bool mask, bool alternative) {
    MarkerMap m{};
    for (int j = 0; j < kMarkerSize; ++j)
        for (int i = 0; i < kMarkerSize; ++i)
            m[static_cast<size_t>(j * kMarkerSize + i)] = inPattern(i, j, alternative) != mask ? 1 : 0;
    return m;
}

constexpr MarkerMap kMask = makeMarker(true, false), kAltMask = makeMarker(true, true);
constexpr MarkerMap kPattern = makeMarker(false, false), kAltPattern = makeMarker(false, true);

}  // namespace

std::span<const uint8_t> markerMask(bool alternative) { return alternative ? kAltMask : kMask; }
std::span<const uint8_t> markerPattern(bool alternative) { return alternative ? kAltPattern : kPattern; }

int32_t lastAlignedStart(int32_t size, int32_t count, int32_t cell) {
    cell = safeCell(cell);
    const int64_t v = cell * ((static_cast<int64_t>(size) + (1 - static_cast<int64_t>(count)) * cell - 1) / cell);
    return notBelow0(v);
}

void panPixels(ViewRect& v, const ViewGrid& g, int32_t dx, int32_t dy) {
    if (dx) v.baseX = panAxis(v.baseX, g.pinColumns, safeCell(v.cellWidth), g.imageWidth, dx);
    if (dy) v.baseY = panAxis(v.baseY, g.pinRows, safeCell(v.cellHeight), g.imageHeight, dy);
}

void containPoint(ViewRect& v, const ViewGrid& g, MousePoint& p) {
    p.x = std::clamp(p.x, 0, std::max(0, g.imageWidth - 1));
    p.y = std::clamp(p.y, 0, std::max(0, g.imageHeight - 1));
    v.baseX = containAxis(v.baseX, g.pinColumns, safeCell(v.cellWidth), p.x);
    v.baseY = containAxis(v.baseY, g.pinRows, safeCell(v.cellHeight), p.y);
}

void centreOnPoint(ViewRect& v, const ViewGrid& g, MousePoint p) {
    v.baseX = centreAxis(g.pinColumns, safeCell(v.cellWidth), g.imageWidth, p.x);
    v.baseY = centreAxis(g.pinRows, safeCell(v.cellHeight), g.imageHeight, p.y);
}

bool pointInView(const ViewRect& v, const ViewGrid& g, MousePoint p) {
    return p.x >= v.baseX && p.y >= v.baseY &&
           p.x < static_cast<int64_t>(v.baseX) + static_cast<int64_t>(g.pinColumns) * v.cellWidth &&
           p.y < static_cast<int64_t>(v.baseY) + static_cast<int64_t>(g.pinRows) * v.cellHeight;
}

bool zoomRefused(const ViewGrid& g, int32_t a, bool overview) {
    if (a < 1) return true;
    const int64_t across = static_cast<int64_t>(a) * g.pinColumns, down = static_cast<int64_t>(a) * g.pinRows;
    if (overview) return across > g.imageWidth && down > g.imageHeight;
    return across >= 2LL * g.imageWidth && down >= 2LL * g.imageHeight;
}

bool zoomView(ViewRect& v, const ViewGrid& g, int32_t a, ZoomAnchor anchor, MousePoint p, bool overview) {
    if (zoomRefused(g, a, overview)) return false;
    const int64_t A = a;
    const int32_t oldW = safeCell(v.cellWidth), oldH = safeCell(v.cellHeight);
    const auto endOf = [](int32_t base, int32_t count, int32_t cell, int32_t size) {
        return std::min<int64_t>(static_cast<int64_t>(base) + static_cast<int64_t>(count) * cell, size - 1);
    };
    const auto toEnd = [&](int64_t e, int32_t count) { return notBelow0(A * ((e + (1 - count) * A - 1) / A)); };
    const auto toMid = [&](int32_t base, int32_t count, int32_t cell, int32_t size) {
        const int64_t m = std::min<int64_t>(static_cast<int64_t>(base) + static_cast<int64_t>(count) * cell / 2, size - 1);
        return notBelow0(A * ((A + m - count * A / 2 - 1) / A));
    };
    ViewRect n = v;
    n.cellWidth = n.cellHeight = a;
    switch (anchor) {
    case ZoomAnchor::TopLeft:
        break;
    case ZoomAnchor::Right:
        n.baseX = toEnd(endOf(v.baseX, g.pinColumns, oldW, g.imageWidth), g.pinColumns);
        break;
    case ZoomAnchor::Bottom:
        n.baseY = toEnd(endOf(v.baseY, g.pinRows, oldH, g.imageHeight), g.pinRows);
        break;
    case ZoomAnchor::RightBottom:
        n.baseX = toEnd(endOf(v.baseX, g.pinColumns, oldW, g.imageWidth), g.pinColumns);
        n.baseY = toEnd(endOf(v.baseY, g.pinRows, oldH, g.imageHeight), g.pinRows);
        break;
    case ZoomAnchor::Centre:
        n.baseX = toMid(v.baseX, g.pinColumns, oldW, g.imageWidth);
        n.baseY = toMid(v.baseY, g.pinRows, oldH, g.imageHeight);
        break;
    case ZoomAnchor::Mouse: {
        if (!pointInView(v, g, p)) {
            n.baseX = toMid(v.baseX, g.pinColumns, oldW, g.imageWidth);
            n.baseY = toMid(v.baseY, g.pinRows, oldH, g.imageHeight);
            break;
        }
        const int64_t i = (static_cast<int64_t>(p.x) - v.baseX) / oldW;
        const int64_t j = (static_cast<int64_t>(p.y) - v.baseY) / oldH;
        n.baseX = notBelow0(A * ((p.x + (1 - i) * A - 1) / A));
        n.baseY = notBelow0(A * ((p.y - A * (j - 1) - 1) / A));
        break;
    }
    }
    v = n;
    return true;
}

void mouseStep(ViewRect& v, const ViewGrid& g, MousePoint& p, int k, MoveKind kind, int32_t stepX, int32_t stepY) {
    if (k < 1 || k > 9) return;
    const int col = (k - 1) % 3, row = (k - 1) / 3;
    const int dirX = col - 1, dirY = 1 - row;  // row 0 (keys 1..3) is the bottom
    const int32_t cw = safeCell(v.cellWidth), ch = safeCell(v.cellHeight);
    const int64_t sx = kind == MoveKind::LongScrolling ? static_cast<int64_t>(std::max(1, stepX)) * cw : cw;
    const int64_t sy = kind == MoveKind::LongScrolling ? static_cast<int64_t>(std::max(1, stepY)) * ch : ch;
    p.x = fit(std::clamp<int64_t>(p.x + dirX * sx, 0, std::max(0, g.imageWidth - 1)));
    p.y = fit(std::clamp<int64_t>(p.y + dirY * sy, 0, std::max(0, g.imageHeight - 1)));
    if (kind != MoveKind::OneCell) panPixels(v, g, fit(dirX * sx), fit(dirY * sy));
    p.x = cw * (p.x / cw);
    p.y = ch * (p.y / ch);
    containPoint(v, g, p);
}

void mouseJump(ViewRect& v, const ViewGrid& g, MousePoint& p, int k) {
    if (k < 1 || k > 9) return;
    const int col = (k - 1) % 3, row = (k - 1) / 3;
    const int32_t lastX = std::max(0, g.imageWidth - 1), lastY = std::max(0, g.imageHeight - 1);
    if (k == 5) {
        p = {g.imageWidth / 2, g.imageHeight / 2};
    } else {
        if (col == 0) p.x = 0;
        if (col == 2) p.x = lastX;
        if (row == 0) p.y = lastY;
        if (row == 2) p.y = 0;
    }
    p.x = std::clamp(p.x, 0, lastX);
    p.y = std::clamp(p.y, 0, lastY);
    centreOnPoint(v, g, p);
}

bool zoomAtMouse(ViewRect& v, const ViewGrid& g, MousePoint p, bool zoomOut, int32_t maxCellPixels, bool overview) {
    if (overview) return false;
    const int32_t cell = safeCell(v.cellWidth);
    if (zoomOut ? cell >= maxCellPixels : cell < 2) return false;
    const int32_t a = zoomOut ? cell * 2 : cell / 2;
    return zoomView(v, g, a, ZoomAnchor::Mouse, p, false);
}

void mouseToViewPin(ViewRect& v, const ViewGrid& g, MousePoint& p, int axis, int32_t pin) {
    if (axis == 1) p.x = fit(static_cast<int64_t>(v.baseX) + static_cast<int64_t>(std::max(0, pin)) * safeCell(v.cellWidth));
    else p.y = fit(static_cast<int64_t>(v.baseY) + static_cast<int64_t>(std::max(0, pin)) * safeCell(v.cellHeight));
    containPoint(v, g, p);
}

MouseOps startEmulation(Emulation& e, const SavedMouse& saved, bool penDrag, int buttons, const ViewRect& v,
                        const ViewGrid& g) {
    MouseOps ops;
    if (penDrag) return ops;
    if (!e.on && (buttons & 3) && saved.valid) {
        ops.push({MouseOp::Kind::Move, saved.at, 0});
        ops.push({MouseOp::Kind::Press, saved.at, buttons & 3});
    }
    const int64_t cx = static_cast<int64_t>(v.baseX) + static_cast<int64_t>(g.pinColumns) * safeCell(v.cellWidth) / 2;
    const int64_t cy = static_cast<int64_t>(v.baseY) + static_cast<int64_t>(g.pinRows) * safeCell(v.cellHeight) / 2;
    e.mouse = {fit(cx), fit(cy)};
    ops.push({MouseOp::Kind::Move, e.mouse, 0});
    e.on = true;
    e.known = true;
    return ops;
}

MouseOps stopEmulation(Emulation& e, SavedMouse& saved) {
    MouseOps ops;
    if (e.on) {
        ops.push({MouseOp::Kind::Release, e.mouse, 0});
        saved = {true, e.mouse};
    }
    e.on = false;
    e.known = false;
    return ops;
}

void drawMarker(PinCanvas& main, PinCanvas& second, const ViewRect& shown, MousePoint p, bool alternative) {
    const int64_t cx64 = (static_cast<int64_t>(p.x) - shown.baseX) / safeCell(shown.cellWidth);
    const int64_t cy64 = (static_cast<int64_t>(p.y) - shown.baseY) / safeCell(shown.cellHeight);
    if (p.x < shown.baseX || p.y < shown.baseY || cx64 >= main.width() + 6 || cy64 >= main.height() + 6) return;
    const int cx = static_cast<int>(cx64), cy = static_cast<int>(cy64);
    for (int j = -6; j <= 6; ++j) {
        for (int i = -6; i <= 6; ++i) {
            const bool pattern = alternative ? (i == 0 && j == 0)
                                             : ((j == 0 && i >= -5 && i <= 5) || (i == 0 && j >= -5 && j <= 5));
            // The mask lowers exactly the pattern's pins and the OR raises
            // them: the pattern ends raised, every other pin keeps its value.
            if (pattern) {
                main.raise(cx + i, cy + j);
                second.raise(cx + i, cy + j);
            }
        }
    }
}

PointerFollow followPointer(const PointerReading& r, bool emulating, bool penDrag, bool mouseSync, MousePoint mouse) {
    PointerFollow f;
    if (!emulating && !penDrag && !mouseSync) return f;
    f.takePosition = r.inside;
    f.publish = r.inside && r.at != mouse;
    if (!r.moved) return f;
    if (mouseSync && r.inside) f.view = emulating ? FollowView::Contain : FollowView::CentreOn;
    f.publish = true;
    return f;
}

}  // namespace tavik::lumo
