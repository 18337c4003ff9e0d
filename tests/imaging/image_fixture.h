// Test helpers for the image library: in-memory images opened as scan contexts (bottom-up or
// top-down storage) and a pixel accessor in image order.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/dib_block.h"
#include "imaging/lumoutil.h"

namespace lumotest {

inline uint32_t rgb(int r, int g, int b) { return (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b); }

struct Pixels {
    int w = 0, h = 0;
    std::vector<uint32_t> px;  // 0x00RRGGBB, top-down
    Pixels(int width, int height, uint32_t fill = 0) : w(width), h(height), px(size_t(width) * height, fill) {}
    uint32_t& at(int x, int y) { return px[size_t(y) * w + x]; }
    void fillRect(int x0, int y0, int cw, int ch, uint32_t c) {
        for (int y = y0; y < y0 + ch; ++y)
            for (int x = x0; x < x0 + cw; ++x) at(x, y) = c;
    }
};

// A ScanContext over a private 24-bit DIB made from the pixels; closed on destruction.
class Opened {
public:
    explicit Opened(const Pixels& p, bool topDown = false) {
        const size_t stride = size_t(lumo::rowStride(24, p.w));
        LumoDibBlock* block = lumo::allocBlock(40 + stride * p.h);
        LumoBitmapInfoHeader h{};
        h.biSize = 40;
        h.biWidth = p.w;
        h.biHeight = topDown ? -p.h : p.h;
        h.biPlanes = 1;
        h.biBitCount = 24;
        h.biSizeImage = uint32_t(stride * p.h);
        std::memcpy(block->data.get(), &h, 40);
        uint8_t* bits = block->data.get() + 40;
        for (int y = 0; y < p.h; ++y) {
            uint8_t* row = bits + size_t(topDown ? y : p.h - 1 - y) * stride;
            for (int x = 0; x < p.w; ++x) {
                const uint32_t c = p.px[size_t(y) * p.w + x];
                row[3 * x] = uint8_t(c);
                row[3 * x + 1] = uint8_t(c >> 8);
                row[3 * x + 2] = uint8_t(c >> 16);
            }
        }
        std::memset(&ctx, 0, sizeof ctx);
        ctx.dib.hDib = block;
        ok = lumoLockDib(&ctx.dib) == 1;
        ctx.lpCondition = &cond;
        ctx.nLimitX = ctx.nLimitY = ctx.nHistRight = ctx.nHistBottom = -1;
        ctx.nCellWidth = ctx.nCellHeight = 1;
        ctx.nLineThickness = 2;
        ctx.nHLineLength = 30;
        ctx.nVLineLength = 20;
        ctx.nDepthLimit = 10;
    }
    ~Opened() { lumoCloseDib(&ctx.dib); }
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;

    // The three stored bytes of image pixel (x, y).
    uint8_t* pixel(int x, int y) {
        const int row = ctx.dib.lpbi->biHeight < 0 ? y : ctx.dib.nHeight - 1 - y;
        return ctx.dib.lpBits + size_t(row) * ctx.dib.nStride + 3 * size_t(x);
    }

    ScanContext ctx{};
    BinCondition cond{};
    bool ok = false;
};

}  // namespace lumotest
