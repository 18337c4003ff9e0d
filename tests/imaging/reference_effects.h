// The effects as they stood before the row-streaming rewrite, kept unchanged as the reference
// the differential test compares the library with: Erase Grid Lines, Outline Mode, Character
// Mode, and a plain marker.
#pragma once

#include <algorithm>
#include <cstdint>

#include "imaging/scan.h"

namespace lumoref {

using lumo::Image;

// The marker: bit 0x02 where the qualify flag is set and the grey level meets comparison m.
inline void markImage(const Image& im, int m, int lo, int hi) {
    for (int32_t y = 0; y < im.height; ++y) {
        uint8_t* p = im.row(y);
        for (int32_t x = 0; x < im.width; ++x, p += 3) {
            const int g = p[1];
            bool meets = false;
            switch (m) {
            case 1: meets = g > hi; break;
            case 2: meets = g >= lo && g <= hi; break;
            case 3: meets = g >= lo; break;
            case 4: meets = g < lo; break;
            case 5: meets = g < lo || g > hi; break;
            default: meets = g <= hi; break;
            }
            if (p[0] != 0 && meets) p[0] |= 0x02;
        }
    }
}

inline bool marked(const uint8_t* p) { return (p[0] & 0x02) != 0; }

// ---- Erase Grid Lines -------------------------------------------------------------------------
inline void eraseGridLines(const Image& im, int32_t thickness, int32_t hLength, int32_t vLength) {
    const int32_t w = im.width, h = im.height;
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = im.row(y);
        for (int32_t x = 0; x < w;) {
            if (!marked(row + 3 * x)) {
                // Unmarked stretches (the background) are passed eight pixels at a time.
                while (x + 8 <= w) {
                    const uint8_t* q = row + 3 * x;
                    if ((q[0] | q[3] | q[6] | q[9] | q[12] | q[15] | q[18] | q[21]) & 0x02) break;
                    x += 8;
                }
                if (x < w && !marked(row + 3 * x)) ++x;
                continue;
            }
            const int32_t start = x;
            while (x < w && marked(row + 3 * x)) ++x;
            const int32_t len = x - start;
            const uint8_t cls = len <= thickness ? 1 : len < hLength ? 2 : 3;
            for (int32_t i = start; i < x; ++i) row[3 * i + 2] = cls;
        }
    }
    // Columns in blocks, walked row by row, so the image is read in storage order.
    constexpr int32_t kBlock = 64;
    uint8_t* top = im.top();
    const int64_t step = im.rowStep();
    for (int32_t bx = 0; bx < w; bx += kBlock) {
        const int32_t count = std::min(kBlock, w - bx);
        int32_t runStart[kBlock];
        std::fill_n(runStart, count, -1);
        for (int32_t y = 0; y <= h; ++y) {
            const uint8_t* row = y < h ? top + y * step : nullptr;
            for (int32_t i = 0; i < count; ++i) {
                const bool on = row && marked(row + 3 * (bx + i));
                if (on) {
                    if (runStart[i] < 0) runStart[i] = y;
                    continue;
                }
                if (runStart[i] < 0) continue;
                const int32_t len = y - runStart[i];
                uint8_t victim = 0;  // class of the pixels this run unmarks
                if (len <= thickness) victim = 3;
                else if (len >= vLength) victim = 1;
                if (victim) {
                    uint8_t* p = top + runStart[i] * step + 3 * (bx + i);
                    for (int32_t r = runStart[i]; r < y; ++r, p += step)
                        if (p[2] == victim) p[0] &= static_cast<uint8_t>(~0x02);
                }
                runStart[i] = -1;
            }
        }
    }
}

// ---- Outline Mode -------------------------------------------------------------------------------
// Vertical flags come only from senders off the left and right columns, horizontal flags only
// from senders off the top and bottom rows (border pixels flag inward, corners not at all).
inline void outline(const Image& im) {
    const int32_t w = im.width, h = im.height;
    auto flagsOf = [&](int32_t y) {
        uint8_t* row = im.row(y);
        const uint8_t* up = y > 0 ? im.row(y - 1) : nullptr;
        const uint8_t* down = y + 1 < h ? im.row(y + 1) : nullptr;
        const bool horizontal = y >= 1 && y <= h - 2;
        if (horizontal && w >= 3) {
            // Inner rows: every neighbour may flag, except the vertical ones of the two edge columns.
            row[2] = static_cast<uint8_t>((row[3] & 2) << 2);
            for (int32_t x = 1; x < w - 1; ++x) {
                const uint8_t* c = row + 3 * x;
                row[3 * x + 2] = static_cast<uint8_t>(((up[3 * x] >> 1) & 1) | (down[3 * x] & 2) | ((c[-3] & 2) << 1) |
                                                      ((c[3] & 2) << 2));
            }
            row[3 * (w - 1) + 2] = static_cast<uint8_t>((row[3 * (w - 2)] & 2) << 1);
            return;
        }
        for (int32_t x = 0; x < w; ++x) {
            uint8_t f = 0;
            if (x >= 1 && x <= w - 2) {
                if (up && marked(up + 3 * x)) f |= 1;
                if (down && marked(down + 3 * x)) f |= 2;
            }
            if (horizontal) {
                if (x > 0 && marked(row + 3 * (x - 1))) f |= 4;
                if (x + 1 < w && marked(row + 3 * (x + 1))) f |= 8;
            }
            row[3 * x + 2] = f;
        }
    };
    auto unmarkInner = [&](int32_t y) {
        if (y < 1 || y > h - 2) return;
        uint8_t* row = im.row(y);
        for (int32_t x = 1; x < w - 1; ++x)
            if (row[3 * x + 2] == 15) row[3 * x] &= static_cast<uint8_t>(~0x02);
    };
    // Row y's flags read the marks of rows y-1..y+1, so row y-1 is unmarked only after them.
    for (int32_t y = 0; y < h; ++y) {
        flagsOf(y);
        if (y >= 1) unmarkInner(y - 1);
    }
}

// ---- Character Mode -------------------------------------------------------------------------------
inline void horizontalDepth(const Image& im, int limit) {
    const int32_t w = im.width;
    for (int32_t y = 0; y < im.height; ++y) {
        uint8_t* row = im.row(y);
        for (int32_t x = 0; x < w;) {
            if (!marked(row + 3 * x)) {
                row[3 * x + 2] = 0;
                ++x;
                continue;
            }
            const int32_t start = x;
            while (x < w && marked(row + 3 * x)) ++x;
            int32_t left = start, right = x - 1;
            int d = 1;
            while (left < right) {
                row[3 * left + 2] = row[3 * right + 2] = static_cast<uint8_t>(d);
                if (d < limit) ++d;
                ++left;
                --right;
            }
            row[3 * right + 2] = static_cast<uint8_t>(d);
        }
    }
}

inline void verticalDepth(const Image& im) {
    const int32_t w = im.width, h = im.height;
    const int64_t step = im.rowStep();
    int L = 0;  // carried from segment to segment and from column to column
    for (int32_t x = 0; x < w; ++x) {
        uint8_t* col = im.top() + 3 * x;
        auto px = [&](int32_t y) { return col + y * step; };
        auto d = [&](int32_t y) -> int { return px(y)[2]; };
        auto setD = [&](int32_t y, int v) { px(y)[2] = static_cast<uint8_t>(v); };
        int32_t y = 0;
        while (y < h) {
            if (!marked(px(y))) {
                ++y;
                continue;
            }
            const int32_t S = y;
            int32_t e = S;
            while (e + 1 < h && d(e + 1) >= d(e)) ++e;
            int32_t E, N;
            int F = 0;
            if (e + 1 >= h) {
                E = h - 1;
                N = h;
            } else if (d(e + 1) == 0) {
                E = e;
                N = e + 1;
            } else {
                int32_t q = e + 1;  // descending: non-zero and not greater than the previous
                for (;;) {
                    if (q + 1 >= h) { E = q; N = h; break; }
                    if (d(q + 1) == 0) { E = q; N = q + 1; break; }
                    if (d(q + 1) > d(q)) { E = q - 1; N = q; F = d(q); break; }  // q is a valley
                    ++q;
                }
            }
            int32_t P = S, Q = E;
            int M = F;
            while (P <= Q) {
                if (L < M) {
                    if (L < d(P)) setD(P, ++L);
                    ++P;
                } else {
                    if (M < d(Q)) setD(Q, ++M);
                    --Q;
                }
            }
            y = N;
            if (P < N) {
                const int32_t U = Q;  // directly above P
                L = F;
                if (U < 0 || d(U) < d(P)) {
                    if (P < h - 1 && d(P + 1) < d(P)) px(P)[0] |= 0x04;
                } else if (U > 0 && P < h - 1 && d(U - 1) < d(U) && d(P + 1) < d(U)) {
                    px(U)[0] |= 0x04;
                    setD(U, d(U) + 1);
                }
            }
        }
    }
}

inline void horizontalMarks(const Image& im) {
    const int32_t w = im.width;
    for (int32_t y = 1; y < im.height - 1; ++y) {
        uint8_t* row = im.row(y);
        for (int32_t x = 1; x <= w - 2; ++x) {
            uint8_t* p = row + 3 * x;
            if (!marked(p)) continue;
            const int c = p[2];
            const int left = p[-1], right = p[5];
            if (left < c && (right < c || (x <= w - 3 && right == c && p[8] < c))) p[0] |= 0x04;
        }
    }
}

inline void characterMode(const Image& im, int32_t depthLimit) {
    // Depths live in one byte; the cap keeps every later increase inside it.
    const int limit = std::clamp(depthLimit, 1, 254);
    horizontalDepth(im, limit);
    verticalDepth(im);
    horizontalMarks(im);
}

}  // namespace lumoref
