// A desktop-like picture for the image library's tests and benchmark: a light background ruled
// by 1-pixel grid lines every 64 columns and 48 rows, lines of dark text (glyphs of 1- and
// 2-pixel strokes), a few window-like colour blocks (title bars, buttons, a photo-like gradient)
// and light text on the dark blocks. Deterministic: the same size gives the same pixels.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace lumotest {

// Pixels 0x00RRGGBB, row 0 at the top, width x height.
inline std::vector<uint32_t> desktopPicture(int width, int height) {
    std::vector<uint32_t> px(size_t(width) * size_t(height), 0xF0F0F0);
    auto put = [&](int x, int y, uint32_t c) {
        if (x >= 0 && y >= 0 && x < width && y < height) px[size_t(y) * size_t(width) + size_t(x)] = c;
    };
    auto fill = [&](int x0, int y0, int w, int h, uint32_t c) {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) put(x, y, c);
    };
    uint32_t seed = 0x2545F491u;
    auto next = [&] {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        return seed;
    };
    // A glyph in a 7 x 11 box: a few strokes chosen at random (stems, bars, diagonals, dots).
    auto glyph = [&](int x0, int y0, uint32_t c) {
        const uint32_t shape = next();
        const int stem = 1 + int(shape & 1);  // bold or regular
        if (shape & 2) fill(x0, y0 + 2, stem, 9, c);                 // left stem
        if (shape & 4) fill(x0 + 5, y0 + 2, stem, 9, c);             // right stem
        if (shape & 8) fill(x0, y0 + 2, 7, 1, c);                    // top bar
        if (shape & 16) fill(x0, y0 + 6, 6, stem, c);                // middle bar
        if (shape & 32) fill(x0, y0 + 10, 7, 1, c);                  // bottom bar
        if (shape & 64) fill(x0 + 3, y0, stem, 11, c);               // ascender
        if (shape & 128)
            for (int k = 0; k < 9; ++k) put(x0 + k * 6 / 9, y0 + 2 + k, c);  // diagonal
        if (!(shape & 0xFE)) fill(x0 + 2, y0 + 8, 2, 2, c);          // a dot when nothing else
    };
    auto textLine = [&](int x0, int x1, int y0, uint32_t c) {
        for (int x = x0; x + 7 <= x1;) {
            if (next() % 7 == 0) {
                x += 5;  // a space
                continue;
            }
            glyph(x, y0, c);
            x += 9;
        }
    };

    // The grid first, so that text and blocks lie over it as windows lie over a ruled desktop.
    for (int y = 0; y < height; y += 48) fill(0, y, width, 1, 0x202020);
    for (int x = 0; x < width; x += 64) fill(x, 0, 1, height, 0x202020);

    // Text: lines 16 pixels apart in bands across the picture.
    for (int y = 20; y + 12 < height; y += 16)
        if ((y / 16) % 5 != 4) textLine(8 + (y * 7) % 40, width * 3 / 5, y, 0x101010);

    // Window-like blocks: title bars with light text, a button row, a frame, a gradient.
    const int bx = width * 3 / 5 + 20, bw = width - bx - 20;
    if (bw > 40 && height > 300) {
        fill(bx, 40, bw, 28, 0x1E5AC8);  // title bar, blue
        textLine(bx + 10, bx + bw / 2, 48, 0xFFFFFF);
        fill(bx, 68, bw, 200, 0xFFFFFF);  // client area
        fill(bx, 68, 1, 200, 0x808080);
        fill(bx + bw - 1, 68, 1, 200, 0x808080);
        fill(bx, 267, bw, 1, 0x808080);
        for (int y = 80; y + 12 < 220; y += 16) textLine(bx + 12, bx + bw - 12, y, 0x000000);
        for (int k = 0; k < 3; ++k) {  // buttons
            fill(bx + 20 + k * 90, 230, 80, 26, k == 0 ? 0x2E8B57 : 0xC0C0C0);
            textLine(bx + 30 + k * 90, bx + 90 + k * 90, 237, k == 0 ? 0xFFFFFF : 0x000000);
        }
        fill(bx, 320, bw, 160, 0xC83232);  // a red panel with light text
        for (int y = 330; y + 12 < 470; y += 16) textLine(bx + 10, bx + bw - 10, y, 0xFFE0E0);
        for (int y = 520; y < std::min(height - 20, 800); ++y)  // a photo-like gradient
            for (int x = bx; x < bx + bw; ++x)
                put(x, y, uint32_t(((x - bx) * 255 / bw) << 16 | ((y - 520) * 255 / 280) << 8 | ((x + y) & 255)));
    }
    // A task bar along the bottom with its buttons.
    if (height > 100) {
        fill(0, height - 40, width, 40, 0x303038);
        for (int x = 10; x + 150 < width; x += 170) {
            fill(x, height - 34, 150, 28, 0x505060);
            textLine(x + 8, x + 140, height - 28, 0xE8E8E8);
        }
    }
    return px;
}

}  // namespace lumotest
