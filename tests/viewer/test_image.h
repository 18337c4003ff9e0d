// The test image of the viewer's end-to-end tests, shared by the application
// that shows it and the test that predicts the pins from it.
#pragma once

#include <cstdint>

#include "imaging/lumoutil.h"

namespace viewer_test {

constexpr int kWidth = 640, kHeight = 480;
constexpr int kThreshold = 100;

// Grey level of pixel (x, y): a vertical white line at x = 100, a white block at
// (300..309, 200..209), a grey (150) block at (40..49, 30..39), a grey (200)
// block at (70..79, 60..69), black elsewhere. Grey 200 tells the pre-scanned
// pixel rule from the raw-colour one: read raw, its pre-scanned bytes give 133.
inline int greyAt(int x, int y) {
    if (x == 100) return 255;
    if (x >= 300 && x < 310 && y >= 200 && y < 210) return 255;
    if (x >= 40 && x < 50 && y >= 30 && y < 40) return 150;
    if (x >= 70 && x < 80 && y >= 60 && y < 70) return 200;
    return 0;
}

inline LumoHBITMAP makeTestBitmap() {
    LumoHBITMAP b = lumoCreateBitmap(kWidth, kHeight);
    if (!b) return nullptr;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) b->lpPixels[y * kWidth + x] = static_cast<uint32_t>(greyAt(x, y) * 0x010101);
    return b;
}

// Whether pin (column, row) of a view at (left, top) with division d is raised under
// "Light" with `threshold`: one matching pixel in its cell is enough.
inline bool pinRaised(int left, int top, int d, int column, int row, int threshold) {
    for (int y = top + row * d; y < top + (row + 1) * d && y < kHeight; ++y)
        for (int x = left + column * d; x < left + (column + 1) * d && x < kWidth; ++x)
            if (greyAt(x, y) > threshold) return true;
    return false;
}

}  // namespace viewer_test
