// View rectangle and scaling of the bitmap viewer's window.
#include <gtest/gtest.h>

#include "bitmapviewer/view_geometry.h"

using namespace bitora;

TEST(ViewGeometry, RectangleIsClampedToTheImage) {
    EXPECT_EQ(viewRect(0, 0, 1, 1, 64, 48, 320, 240), (Rect{0, 0, 64, 48}));
    EXPECT_EQ(viewRect(300, 200, 2, 2, 64, 48, 320, 240), (Rect{300, 200, 320, 240}));
    EXPECT_EQ(viewRect(0, 0, 5, 5, 64, 48, 320, 240), (Rect{0, 0, 320, 240}));
    EXPECT_EQ(viewRect(-4, 999, 0, 1, 64, 48, 320, 240), (Rect{0, 240, 64, 240}));
}

TEST(ViewGeometry, ScalingBothWaysAndTheFittedSize) {
    EXPECT_EQ(imageToClient(160, 640, 320), 320);
    EXPECT_EQ(clientToImage(320, 640, 320), 160);
    EXPECT_EQ(imageToClient(5, 0, 320), 0);
    EXPECT_EQ(clientToImage(5, 100, 0), 0);
    // Large images shrink to the screen, small ones keep their size.
    const Size big = fittedClientSize(4000, 2000, 1000, 1000);
    EXPECT_EQ(big.width, 1000);
    EXPECT_EQ(big.height, 500);
    const Size small = fittedClientSize(320, 240, 1000, 1000);
    EXPECT_EQ(small.width, 320);
    EXPECT_EQ(small.height, 240);
}
