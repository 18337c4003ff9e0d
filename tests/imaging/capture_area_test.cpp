// Capture-area arithmetic without a display: fit modes and the margins a capture writes back.
#include <gtest/gtest.h>

#include "imaging/capture_area.h"

using lumo::fitArea;
using lumo::planCapture;

namespace {
CaptureArea area(int x, int y, int cx, int cy) {
    CaptureArea a{};
    a.x = x;
    a.y = y;
    a.cx = cx;
    a.cy = cy;
    return a;
}
}  // namespace

TEST(CaptureArea, FitModesMoveOverhangingAreasBack) {
    CaptureArea a = area(90, 10, 20, 5);
    a.nFitX = 2;
    a.nFitY = 2;
    fitArea(a, 100, 50);
    EXPECT_EQ(a.x, 80);   // ends at the edge
    EXPECT_EQ(a.nFitX, 258);
    EXPECT_EQ(a.y, 10);   // fits: untouched
    EXPECT_EQ(a.nFitY, 2);

    a = area(90, 10, 20, 5);
    a.nFitX = 1;
    fitArea(a, 100, 50);
    EXPECT_EQ(a.x, 90);  // x itself is inside: left alone
    EXPECT_EQ(a.nFitX, 1);
    a.x = 100;
    fitArea(a, 100, 50);
    EXPECT_EQ(a.x, 80);
    EXPECT_EQ(a.nFitX, 257);

    a = area(120, 0, -1, 5);  // negative size: to the start
    a.nFitX = 1;
    fitArea(a, 100, 50);
    EXPECT_EQ(a.x, 0);
    a = area(10, 0, 300, 5);  // wider than the window: to the start
    a.nFitX = 2;
    fitArea(a, 100, 50);
    EXPECT_EQ(a.x, 0);
    EXPECT_EQ(a.nFitX, 258);
    a = area(500, 0, 300, 5);
    a.nFitX = 7;  // unknown mode: nothing
    fitArea(a, 100, 50);
    EXPECT_EQ(a.x, 500);
}

TEST(CaptureArea, MarginsAreCutToTheWindowAndWrittenBack) {
    CaptureArea a = area(10, 20, 30, 40);
    a.nMarginLeft = 15;  // more than x: lowered to 10
    a.nMarginRight = 5;
    a.nMarginTop = 4;
    a.nMarginBottom = 4;
    auto p = planCapture(a, 100, 200, 640, 480);
    ASSERT_TRUE(p);
    EXPECT_EQ(a.nMarginLeft, 10);
    EXPECT_EQ(p->left, 100);
    EXPECT_EQ(p->top, 216);
    EXPECT_EQ(p->width, 10 + 30 + 5);
    EXPECT_EQ(p->height, 48);

    a = area(600, 0, 100, -1);  // runs past the right edge; height to the bottom
    a.nMarginLeft = 8;
    a.nMarginRight = 8;
    p = planCapture(a, 0, 0, 640, 480);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->width, 48);  // the available width: 640 - 600 + 8
    EXPECT_EQ(a.cx, 40);
    EXPECT_EQ(a.cy, 480);
    EXPECT_EQ(p->height, 480);

    a = area(640, 0, 10, 10);
    EXPECT_FALSE(planCapture(a, 0, 0, 640, 480));
    a = area(0, 480, 10, 10);
    EXPECT_FALSE(planCapture(a, 0, 0, 640, 480));
    a = area(0, 0, 0, 10);
    EXPECT_FALSE(planCapture(a, 0, 0, 640, 480));  // nothing to capture
}
