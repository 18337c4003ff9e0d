// The pointer's picture as a pre-scanned DIB for the cursor-shape view.
#include "screenviewer/cursor_shape.h"

#include <algorithm>
#include <memory>

namespace lumo {

namespace {

struct BitmapDeleter {
    void operator()(LumoBitmap* b) const { lumoDeleteBitmap(b); }
};

// One channel of a premultiplied pixel; a channel above its alpha (a source
// that did not premultiply) is held to it, so a transparent pixel is black.
uint32_t overBlack(uint32_t argb, int shift) { return std::min((argb >> shift) & 0xFF, argb >> 24) << shift; }

}  // namespace

bool scanCursorPicture(const CursorPicture& cursor, BinCondition& cond, ScanContext& ctx) {
    ctx = ScanContext{};
    const int32_t w = cursor.width, h = cursor.height;
    if (w <= 0 || h <= 0 || w > kMaxCursorSide || h > kMaxCursorSide) return false;
    const size_t count = size_t(w) * size_t(h);
    if (cursor.argb.size() != count) return false;
    std::unique_ptr<LumoBitmap, BitmapDeleter> bmp(lumoCreateBitmap(w, h));
    if (!bmp) return false;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t p = cursor.argb[i];
        bmp->lpPixels[i] = overBlack(p, 16) | overBlack(p, 8) | overBlack(p, 0);
    }
    ctx.dib.hBitmap = bmp.get();
    const bool opened = lumoOpenDib(&ctx.dib) != 0;
    ctx.dib.hBitmap = nullptr;
    if (!opened) {
        lumoCloseDib(&ctx.dib);
        return false;
    }
    ctx.lpCondition = &cond;
    ctx.nOriginX = ctx.nHistLeft = 0;
    ctx.nOriginY = ctx.nHistTop = 0;
    ctx.nLimitX = ctx.nHistRight = -1;
    ctx.nLimitY = ctx.nHistBottom = -1;
    ctx.nCellWidth = ctx.nCellHeight = 1;
    ctx.nLineThickness = 2;
    ctx.nHLineLength = 30;
    ctx.nVLineLength = 20;
    ctx.nDepthLimit = 10;
    const bool scanned = lumoPreScan(&ctx) != 0;
    lumoFindDot(&ctx, 0xFFFFFF);
    return scanned;
}

}  // namespace lumo
