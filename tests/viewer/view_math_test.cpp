// View arithmetic of the viewer: moves stop at the image's edges, positioning
// scrolls the least distance, zooms keep their anchor and refuse views far
// larger than the image.
#include <gtest/gtest.h>

#include "client/viewer/view_math.h"

using namespace tavik::viewer;

namespace {
const Geometry k640{640, 480, 64, 48};
}

TEST(ViewMath, FitDivisionCoversTheImage) {
    EXPECT_EQ(fitDivision(k640), 10);
    EXPECT_EQ(fitDivision({641, 10, 64, 48}), 11);
    EXPECT_EQ(fitDivision({10, 10, 64, 48}), 1);
}

TEST(ViewMath, MovesStopWithTheBorderOnTheLastPixel) {
    View v{0, 0, 4, 4};
    moveDots(v, k640, 1, 0);
    EXPECT_EQ(v.left, 4);
    v.left = 380;
    moveDots(v, k640, 1, 0);
    EXPECT_EQ(v.left, 384);  // 384 + 4 * 64 = 640
    moveDots(v, k640, 1, 0);
    EXPECT_EQ(v.left, 384);
    moveDots(v, k640, -200, -3);
    EXPECT_EQ(v.left, 0);
    EXPECT_EQ(v.top, 0);
    // A view wider than the image never goes below 0.
    View wide{0, 0, 20, 20};
    moveHorizontal(wide, k640, 5);
    EXPECT_EQ(wide.left, 0);
}

TEST(ViewMath, BringIntoViewScrollsTheLeastDistance) {
    View v{100, 100, 2, 2};
    const View before = v;
    bringIntoView(v, k640, 150, 120);  // already inside
    EXPECT_EQ(v, before);
    bringIntoView(v, k640, 300, 50);
    EXPECT_EQ(v.left, 300 - 128 + 1);
    EXPECT_EQ(v.top, 50);
    bringIntoView(v, k640, 5000, -7);  // clamped to the image
    EXPECT_EQ(v.left, 639 - 128 + 1);
    EXPECT_EQ(v.top, 0);
}

TEST(ViewMath, ZoomAboutCentreAndRefusal) {
    View v{0, 0, 1, 1};
    ASSERT_TRUE(zoomCentre(v, k640, 4, false));
    EXPECT_EQ(v.divX, 4);
    EXPECT_EQ(v.divY, 4);
    EXPECT_EQ(v.left, 0);  // centre (32, 24) minus half of 256 is below 0
    // Division 20 would show an area at least twice the image both ways.
    EXPECT_TRUE(zoomRefused(k640, 20, false));
    EXPECT_FALSE(zoomRefused(k640, 19, false));
    const View kept = v;
    EXPECT_FALSE(zoomCentre(v, k640, 20, false));
    EXPECT_EQ(v, kept);
    // The detail view of the overview is refused once it is larger than the image.
    EXPECT_TRUE(zoomRefused(k640, 11, true));
    EXPECT_FALSE(zoomRefused(k640, 10, true));
}

TEST(ViewMath, ZoomAboutPointKeepsItOnItsDot) {
    View v{100, 60, 2, 2};
    const int px = 131, py = 87;  // dot (15, 13)
    ASSERT_TRUE(zoomAbout(v, k640, 4, px, py, false));
    EXPECT_EQ((px - v.left) / v.divX, 15);
    EXPECT_EQ((py - v.top) / v.divY, 13);
}

TEST(ViewMath, CornerZoomKeepsItsCorner) {
    View v{256, 192, 4, 4};  // right 512, bottom 384
    ASSERT_TRUE(zoomCorner(v, k640, 2, Corner::BottomRight, false));
    EXPECT_EQ(v.left + 2 * 64, 512);
    EXPECT_EQ(v.top + 2 * 48, 384);
    View w{10, 10, 1, 1};
    ASSERT_TRUE(zoomCorner(w, k640, 8, Corner::BottomRight, false));
    EXPECT_EQ(w.left, 0);  // recomputed edges are clamped to 0
    EXPECT_EQ(w.top, 0);
    View t{40, 30, 4, 4};
    ASSERT_TRUE(zoomCorner(t, k640, 2, Corner::TopLeft, false));
    EXPECT_EQ(t.left, 40);
    EXPECT_EQ(t.top, 30);
}

TEST(ViewMath, JumpViewUsesTheKeypadLayout) {
    View v{100, 100, 2, 2};
    jumpView(v, k640, 9);  // top right
    EXPECT_EQ(v.left, 640 - 128);
    EXPECT_EQ(v.top, 0);
    jumpView(v, k640, 1);  // bottom left
    EXPECT_EQ(v.left, 0);
    EXPECT_EQ(v.top, 480 - 96);
    jumpView(v, k640, 8);  // top edge, column kept
    EXPECT_EQ(v.left, 0);
    EXPECT_EQ(v.top, 0);
    jumpView(v, k640, 5);
    EXPECT_EQ(v.left, (640 - 128) / 2);
    EXPECT_EQ(v.top, (480 - 96) / 2);
}
