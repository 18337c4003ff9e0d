// The view frame's ring picture: which pixels are ring and which stay clear, and the sizes
// that are refused.
#include <gtest/gtest.h>

#include <vector>

#include "platform/desktop/wayland/ring_image.h"

using namespace tavik::desktop::wayland;

TEST(WaylandRingImage, RingIsExactlyThicknessWideOnEverySide) {
    const int w = 7, h = 6, t = 2;
    std::vector<uint32_t> px(w * h, 0x12345678u);
    ASSERT_TRUE(drawRing(px, w, h, t));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool ring = x < t || y < t || x >= w - t || y >= h - t;
            EXPECT_EQ(px[y * w + x], ring ? kRingColour : kRingClear) << x << "," << y;
        }
}

TEST(WaylandRingImage, RefusesRingsWithNothingInsideAndShortBuffers) {
    std::vector<uint32_t> px(100, 0xABCDEFu);
    EXPECT_FALSE(drawRing(px, 4, 10, 2));   // two rings fill the width
    EXPECT_FALSE(drawRing(px, 10, 10, 0));
    EXPECT_FALSE(drawRing(px, 10, 11, 1));  // 110 pixels into 100
    EXPECT_FALSE(drawRing(px, -10, -10, 1));
    EXPECT_EQ(px[0], 0xABCDEFu);            // nothing written on refusal
    EXPECT_TRUE(drawRing(px, 5, 20, 2));
    EXPECT_FALSE(ringFits(16385, 100, 2));
    EXPECT_TRUE(ringFits(16384, 16384, 2));
}
