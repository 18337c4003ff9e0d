// The pure arithmetic of the Wayland pointer: button codes, the layout box of several outputs,
// and screen points as absolute positions over that box.
#include <gtest/gtest.h>

#include <vector>

#include "platform/desktop/wayland/pointer_motion.h"
#include "platform/desktop/wayland/wl_connection.h"

using namespace tavik::desktop;
using namespace tavik::desktop::wayland;

TEST(WaylandPointerMotion, ButtonsMapToTheKernelCodesAndRightIsNotMiddle) {
    EXPECT_EQ(linuxButton(1), 0x110u);
    EXPECT_EQ(linuxButton(2), 0x112u);  // middle
    EXPECT_EQ(linuxButton(3), 0x111u);  // right
    EXPECT_FALSE(linuxButton(0));
    EXPECT_FALSE(linuxButton(4));
    EXPECT_FALSE(linuxButton(-1));
}

TEST(WaylandPointerMotion, LayoutBoxCoversOffsetAndScaledOutputs) {
    std::vector<OutputInfo> outs(3);
    outs[0].x = 0, outs[0].y = 100, outs[0].width = 1920, outs[0].height = 1080;
    outs[1].x = 1920, outs[1].y = 0, outs[1].width = 2560, outs[1].height = 1440, outs[1].scale = 2;  // 1280x720
    outs[2].x = -5000, outs[2].y = -5000;  // no mode yet: ignored
    EXPECT_EQ(layoutBox(outs), (Rect{0, 0, 3200, 1180}));
    EXPECT_EQ(layoutBox({}), Rect{});
    outs.resize(1);
    outs[0].x = -1024;
    EXPECT_EQ(layoutBox(outs), (Rect{-1024, 100, 1920, 1080}));
}

TEST(WaylandPointerMotion, AbsolutePositionIsRelativeToTheBoxAndClamped) {
    const Rect box{-1024, 100, 3000, 1000};
    EXPECT_EQ(absoluteMotion({0, 600}, box), (AbsoluteMotion{1024, 500, 3000, 1000}));
    EXPECT_EQ(absoluteMotion({-1024, 100}, box), (AbsoluteMotion{0, 0, 3000, 1000}));
    // Beyond the box: the nearest pixel inside, never the extent itself (that lies past the edge).
    EXPECT_EQ(absoluteMotion({5000, 5000}, box), (AbsoluteMotion{2999, 999, 3000, 1000}));
    EXPECT_EQ(absoluteMotion({-2147483647 - 1, -2147483647 - 1}, box), (AbsoluteMotion{0, 0, 3000, 1000}));
    EXPECT_FALSE(absoluteMotion({1, 1}, Rect{0, 0, 0, 768}));
}
