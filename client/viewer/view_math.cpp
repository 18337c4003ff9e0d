// View arithmetic of the bitmap viewer (see view_math.h).
#include "client/viewer/view_math.h"

#include <algorithm>

namespace tavik::viewer {

int32_t ceilDiv(int32_t a, int32_t b) { return b <= 0 ? 0 : (a + b - 1) / b; }

int32_t fitDivision(const Geometry& g) {
    return std::max({ceilDiv(g.imageWidth, g.W), ceilDiv(g.imageHeight, g.H), int32_t{1}});
}

namespace {

void moveAxis(int32_t& pos, int32_t span, int32_t imageSize, int32_t d) {
    if (d > 0) {
        if (int64_t{pos} + span + d > imageSize)
            pos = std::max(0, imageSize - span);
        else
            pos += d;
    } else if (d < 0) {
        pos = static_cast<int32_t>(std::max<int64_t>(0, int64_t{pos} + d));
    }
}

void intoAxis(int32_t& pos, int32_t span, int32_t x) {
    if (x < pos) pos = x;
    else if (x >= pos + span) pos = x - span + 1;
}

}  // namespace

void moveHorizontal(View& v, const Geometry& g, int32_t d) { moveAxis(v.left, v.divX * g.W, g.imageWidth, d); }
void moveVertical(View& v, const Geometry& g, int32_t d) { moveAxis(v.top, v.divY * g.H, g.imageHeight, d); }

void moveDots(View& v, const Geometry& g, int32_t dx, int32_t dy) {
    moveHorizontal(v, g, dx * v.divX);
    moveVertical(v, g, dy * v.divY);
}

void bringIntoView(View& v, const Geometry& g, int32_t x, int32_t y) {
    x = std::clamp(x, 0, std::max(0, g.imageWidth - 1));
    y = std::clamp(y, 0, std::max(0, g.imageHeight - 1));
    intoAxis(v.left, v.divX * g.W, x);
    intoAxis(v.top, v.divY * g.H, y);
}

bool inView(const View& v, const Geometry& g, int32_t x, int32_t y) {
    return x >= v.left && x < v.left + v.divX * g.W && y >= v.top && y < v.top + v.divY * g.H;
}

bool zoomRefused(const Geometry& g, int32_t d, bool detail) {
    const int64_t w = int64_t{d} * g.W, h = int64_t{d} * g.H;
    if (detail) return w > g.imageWidth && h > g.imageHeight;
    return w >= 2 * int64_t{g.imageWidth} && h >= 2 * int64_t{g.imageHeight};
}

bool zoomCentre(View& v, const Geometry& g, int32_t d, bool detail) {
    if (d < 1 || zoomRefused(g, d, detail)) return false;
    const int32_t cx = std::min(v.left + g.W * v.divX / 2, g.imageWidth - 1);
    const int32_t cy = std::min(v.top + g.H * v.divY / 2, g.imageHeight - 1);
    v.divX = v.divY = d;
    v.left = std::max(0, cx - d * g.W / 2);
    v.top = std::max(0, cy - d * g.H / 2);
    return true;
}

bool zoomAbout(View& v, const Geometry& g, int32_t d, int32_t px, int32_t py, bool detail) {
    if (d < 1 || zoomRefused(g, d, detail)) return false;
    const int32_t c = (px - v.left) / v.divX;
    const int32_t r = (py - v.top) / v.divY;
    v.divX = v.divY = d;
    v.left = std::max(0, px - d * c);
    v.top = std::max(0, py - d * r);
    return true;
}

bool zoomCorner(View& v, const Geometry& g, int32_t d, Corner corner, bool detail) {
    if (d < 1 || zoomRefused(g, d, detail)) return false;
    const int32_t right = v.left + v.divX * g.W;
    const int32_t bottom = v.top + v.divY * g.H;
    v.divX = v.divY = d;
    if (corner == Corner::TopRight || corner == Corner::BottomRight) v.left = std::max(0, right - d * g.W);
    if (corner == Corner::BottomLeft || corner == Corner::BottomRight) v.top = std::max(0, bottom - d * g.H);
    return true;
}

void jumpView(View& v, const Geometry& g, int32_t digit) {
    if (digit < 1 || digit > 9) return;
    const int32_t spanX = v.divX * g.W, spanY = v.divY * g.H;
    if (digit == 5) {
        v.left = std::max(0, (g.imageWidth - spanX) / 2);
        v.top = std::max(0, (g.imageHeight - spanY) / 2);
        return;
    }
    const int32_t column = (digit - 1) % 3, row = (digit - 1) / 3;
    if (column == 0) v.left = 0;
    if (column == 2) v.left = std::max(0, g.imageWidth - spanX);
    if (row == 0) v.top = std::max(0, g.imageHeight - spanY);
    if (row == 2) v.top = 0;
}

void centreOn(View& v, const Geometry& g, int32_t x, int32_t y) {
    const int32_t spanX = v.divX * g.W, spanY = v.divY * g.H;
    v.left = std::clamp(x - spanX / 2, 0, std::max(0, g.imageWidth - spanX));
    v.top = std::clamp(y - spanY / 2, 0, std::max(0, g.imageHeight - spanY));
}

}  // namespace tavik::viewer
