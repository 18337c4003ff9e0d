// Pixel tests of the monitor picture: sizes, grid colours, numbers and dots.
#include "drivers/core/monitor_picture.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace tavik::drv;
using namespace tavik::drv::monitor;

int whiteIn(const MonitorPicture& p, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) n += p.pixel(x, y) == kWhite;
    return n;
}

// The centre pixel of dot cell (x, y).
uint32_t cellCentre(const MonitorPicture& p, int x, int y) {
    const int c = p.cellSize();
    return p.pixel(kDotAreaLeft + x * c + c / 2, kDotAreaTop + y * c + c / 2);
}

TEST(MonitorPicture, SizesFollowCellSizeAndMatrix) {
    MonitorPicture p;
    ASSERT_TRUE(p.rebuild(kMiddleCell, 64, 48));
    EXPECT_EQ(p.width(), 670);
    EXPECT_EQ(p.height(), 505);
    EXPECT_EQ(p.pixels().size(), 670u * 505u);
    ASSERT_TRUE(p.rebuild(kSmallCell, 64, 48));
    EXPECT_EQ(Size(p.width(), p.height()), Size(350, 265));
    ASSERT_TRUE(p.rebuild(kLargeCell, 64, 48));
    EXPECT_EQ(Size(p.width(), p.height()), Size(990, 745));
    EXPECT_EQ(clientSize(kLargeCell, 32, 20), Size(510, 325));
}

TEST(MonitorPicture, RefusesSizesItCannotDraw) {
    MonitorPicture p;
    EXPECT_FALSE(p.rebuild(7, 64, 48));
    EXPECT_TRUE(p.pixels().empty());
    EXPECT_FALSE(p.rebuild(kMiddleCell, 101, 100));  // more dots than a slot holds
    EXPECT_FALSE(p.rebuild(kMiddleCell, -1, 48));
    EXPECT_FALSE(p.rebuild(kSmallCell, 10001, 0));
    EXPECT_TRUE(p.pixels().empty());
    p.compose(std::vector<uint8_t>(100, 1));  // no picture: nothing drawn, no fault
    EXPECT_TRUE(p.rebuild(kMiddleCell, 0, 0));  // a device without dots: numbers only
}

TEST(MonitorPicture, GridLinesRedWithGreenEveryTenth) {
    MonitorPicture p;
    ASSERT_TRUE(p.rebuild(kMiddleCell, 64, 48));
    // Vertical lines, between two horizontal lines (y = 20).
    EXPECT_EQ(p.pixel(20, 20), kGreen);   // i = 0
    EXPECT_EQ(p.pixel(30, 20), kRed);     // i = 1
    EXPECT_EQ(p.pixel(110, 20), kRed);    // i = 9
    EXPECT_EQ(p.pixel(120, 20), kGreen);  // i = 10
    EXPECT_EQ(p.pixel(620, 20), kGreen);  // i = 60
    EXPECT_EQ(p.pixel(660, 20), kRed);    // i = 64, the last line
    // Horizontal lines (x = 25).
    EXPECT_EQ(p.pixel(25, 15), kGreen);
    EXPECT_EQ(p.pixel(25, 25), kRed);
    EXPECT_EQ(p.pixel(25, 115), kGreen);
    EXPECT_EQ(p.pixel(25, 495), kRed);  // j = 48, the last line
    // At a crossing the horizontal line, drawn last, keeps its colour.
    EXPECT_EQ(p.pixel(20, 495), kRed);
    EXPECT_EQ(p.pixel(30, 115), kGreen);
    EXPECT_EQ(p.pixel(120, 25), kRed);
    // Lines end where the matrix ends; the cells and the margins are black.
    EXPECT_EQ(p.pixel(660, 495), kRed);
    EXPECT_EQ(p.pixel(661, 20), kBlack);
    EXPECT_EQ(p.pixel(25, 496), kBlack);
    EXPECT_EQ(p.pixel(20, 500), kBlack);
    EXPECT_EQ(p.pixel(25, 20), kBlack);
    EXPECT_EQ(p.pixel(669, 504), kBlack);
    int lines = 0;
    for (int x = 0; x < p.width(); ++x) lines += p.pixel(x, 20) != kBlack;
    EXPECT_EQ(lines, 65);
}

TEST(MonitorPicture, NumbersEveryTenDotsOnTheirLines) {
    MonitorPicture p;
    ASSERT_TRUE(p.rebuild(kMiddleCell, 64, 48));
    // Column label n is centred over line 10 n (box 20 wide above the grid).
    for (int n = 0; n <= 6; ++n) EXPECT_GT(whiteIn(p, 10 + n * 100, 0, 30 + n * 100, 15), 0) << n;
    EXPECT_EQ(whiteIn(p, 31, 0, 109, 15), 0);   // nothing between the labels
    EXPECT_EQ(whiteIn(p, 631, 0, 670, 15), 0);  // no label 70 for 64 dots
    // Row label n sits in a box 0..20 whose bottom is 22 + 100 n.
    for (int n = 0; n <= 4; ++n) EXPECT_GT(whiteIn(p, 0, 7 + n * 100, 20, 22 + n * 100), 0) << n;
    EXPECT_EQ(whiteIn(p, 0, 23, 20, 106), 0);
    EXPECT_EQ(whiteIn(p, 0, 423, 20, 505), 0);  // no label 50 for 48 rows
    // Two-digit labels are wider than the one-digit 0.
    EXPECT_GT(whiteIn(p, 110, 0, 130, 15), whiteIn(p, 10, 0, 30, 15));
    // Nothing white on the grid without dots.
    EXPECT_EQ(whiteIn(p, 20, 15, 661, 496), 0);
}

TEST(MonitorPicture, EveryNonZeroLevelIsARaisedDot) {
    MonitorPicture p;
    ASSERT_TRUE(p.rebuild(kMiddleCell, 64, 48));
    std::vector<uint8_t> dots(64 * 48, 0);
    dots[0] = 1;
    dots[5] = 2;
    dots[64 * 47 + 63] = 3;
    dots[64 * 10 + 10] = 0xFF;
    p.compose(dots);
    EXPECT_EQ(cellCentre(p, 0, 0), kWhite);
    EXPECT_EQ(cellCentre(p, 5, 0), kWhite);
    EXPECT_EQ(cellCentre(p, 63, 47), kWhite);
    EXPECT_EQ(cellCentre(p, 10, 10), kWhite);
    EXPECT_EQ(cellCentre(p, 1, 0), kBlack);
    EXPECT_EQ(cellCentre(p, 62, 47), kBlack);
    // Four dots of equal shape, nothing else white inside the grid.
    const int one = whiteIn(p, 20, 15, 31, 26);
    EXPECT_GT(one, 20);
    EXPECT_EQ(whiteIn(p, 20, 15, 661, 496), 4 * one);
    // The dot stays inside its cell's lines and leaves a black rim at 10 pixels.
    EXPECT_EQ(p.pixel(20, 20), kGreen);
    EXPECT_EQ(p.pixel(30, 20), kRed);
    EXPECT_EQ(p.pixel(25, 15), kGreen);
    EXPECT_EQ(p.pixel(25, 25), kRed);
    EXPECT_EQ(p.pixel(21, 16), kBlack);
    EXPECT_EQ(p.pixel(21, 20), kBlack);  // one pixel in from each side
    EXPECT_EQ(p.pixel(22, 20), kWhite);
    // Composing again replaces the dots.
    p.compose(std::vector<uint8_t>(64 * 48, 0));
    EXPECT_EQ(whiteIn(p, 20, 15, 661, 496), 0);
}

TEST(MonitorPicture, SmallDotsFillTheCell) {
    MonitorPicture p;
    ASSERT_TRUE(p.rebuild(kSmallCell, 64, 48));
    std::vector<uint8_t> dots(64 * 48, 0);
    dots[64 + 1] = 1;  // cell (1, 1): pixels 26..29 x 21..24
    p.compose(dots);
    EXPECT_EQ(p.pixel(26, 23), kWhite);  // touches the cell's left side
    EXPECT_EQ(p.pixel(28, 21), kWhite);  // and its top
    EXPECT_EQ(p.pixel(26, 21), kBlack);  // round corner
    EXPECT_EQ(p.pixel(25, 23), kRed);    // line 1 untouched
    EXPECT_EQ(p.pixel(30, 23), kRed);    // line 2 untouched
}

TEST(MonitorPicture, ShortDotDataLeavesTheRestEmpty) {
    MonitorPicture p;
    ASSERT_TRUE(p.rebuild(kLargeCell, 64, 48));
    p.compose(std::vector<uint8_t>(10, 1));
    EXPECT_EQ(cellCentre(p, 9, 0), kWhite);
    EXPECT_EQ(cellCentre(p, 10, 0), kBlack);
    EXPECT_EQ(cellCentre(p, 0, 1), kBlack);
}

TEST(MonitorPosition, ClampedOntoTheScreen) {
    EXPECT_EQ(clampPosition(5000, 700, 1920), 1220);  // flush with the right edge
    EXPECT_EQ(clampPosition(1220, 700, 1920), 1220);
    EXPECT_EQ(clampPosition(100, 700, 1920), 100);
    EXPECT_EQ(clampPosition(0, 700, 1920), 0);
    EXPECT_EQ(clampPosition(-40, 700, 1920), 0);
    EXPECT_EQ(clampPosition(300, 2500, 1920), 0);  // larger than the screen
    EXPECT_EQ(clampPosition(2147483647, 700, 1920), 1220);
}

}  // namespace
