// Information pages, pin by pin: bars, marks, range and threshold columns,
// and the cells of the labels and numbers.
#include <gtest/gtest.h>

#include "page_test_support.h"
#include "screenviewer/pages/info_pages.h"

using namespace tavik::lumo;
using namespace tavik::lumo::test;

TEST(BrailleText, NumbersTextAndTheCellLimit) {
    CellString n;
    n.number(0);
    EXPECT_EQ(std::vector<uint8_t>(n.cells().begin(), n.cells().end()), (std::vector<uint8_t>{0x47, 0x23}));
    CellString neg;
    neg.number(-12);
    EXPECT_EQ(std::vector<uint8_t>(neg.cells().begin(), neg.cells().end()),
              (std::vector<uint8_t>{0x42, 0x47, 0x10, 0x30}));
    EXPECT_EQ(cellsOf("5a"), (std::vector<uint8_t>{0x47, 0x12, 0x06, 0x10}));  // letter sign after digits
    EXPECT_EQ(cellsOf("9%"), (std::vector<uint8_t>{0x47, 0x21, 0x06, 0x71}));
    EXPECT_EQ(cellsOf("a\tB c"), (std::vector<uint8_t>{0x10, 0x30, 0x80, 0x11}));
    EXPECT_EQ(toDeviceCell(0x47), 0x2E);
    EXPECT_EQ(toDeviceCell(0x80), 0x00);
    EXPECT_EQ(toDeviceCell(0x08), 0x01);

    // Cells stop before one that would reach past the last-but-one column.
    Panel p(32, 24);
    const uint8_t full[12] = {0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77};
    EXPECT_EQ(p.canvas.cells(0, 0, full), 30);
    EXPECT_TRUE(p.canvas.raised(28, 0));
    EXPECT_FALSE(p.canvas.raised(30, 0));
}

TEST(HistogramPage, BarsMarksAndNumbersPinByPin) {
    BinCondition c{};
    c.bMode = BIN_LIGHT | BIN_DARK | BIN_RANGE;
    c.bThreshfold = 128;
    c.bThreshfoldMin = 96;
    c.bThreshfoldMax = 160;
    c.adwHistogram[3] = 100;   // bar 0: the largest
    c.adwHistogram[2] = 60;    // smaller in the same bar: the bar takes the largest
    c.adwHistogram[250] = 50;  // bar 15: half
    c.adwHistogram[130] = 1;   // bar 8: ceil(20 / 100) = 1
    Panel p(32, 24);
    p.canvas.raise(31, 2);  // the page clears what was there
    drawHistogramPage(p.canvas, c, false);

    for (int y = 7; y < 24; ++y) {
        for (int x = 6; x < 32; ++x) {
            bool want = false;
            const int bar = 23 - y;
            if (y >= 8 && x >= 11) {
                const int len = bar == 0 ? 20 : bar == 15 ? 10 : bar == 8 ? 1 : 0;
                want = x <= 11 + len;
            }
            if (x == 8) want = y >= 13 && y <= 17;   // rows of upper 160 .. lower 96
            if (x == 9) want = y == 15;              // threshold 128
            if (x == 6 || x == 7) want = (y >= 8 && y <= 12) || (y >= 18 && y <= 23);  // Light and Dark, no Equal
            EXPECT_EQ(p.canvas.raised(x, y), want) << "pin " << x << "," << y;
        }
    }
    EXPECT_FALSE(p.canvas.raised(31, 2));
    EXPECT_EQ(cellsAt(p.canvas, 0, 0, 3), cellsOf("all"));
    std::vector<uint8_t> range = cellsOf("96");
    range.push_back(0x44);
    const auto upper = cellsOf("160");
    range.insert(range.end(), upper.begin(), upper.end());
    EXPECT_EQ(cellsAt(p.canvas, 0, 4, 8), range);
    EXPECT_EQ(cellAt(p.canvas, 0, 8), cellsOf("l")[0]);
    EXPECT_EQ(cellAt(p.canvas, 0, 21), cellsOf("d")[0]);
}

TEST(HistogramPage, EmptyHistogramAutomaticThresholdAndColourLabel) {
    BinCondition c{};
    c.bMode = BIN_EQUAL | BIN_BLUE;
    c.fAutoThreshfold = 1;
    c.bThreshfold = c.bThreshfoldMin = c.bThreshfoldMax = 255;
    Panel p(48, 32);
    drawHistogramPage(p.canvas, c, false);
    for (int i = 0; i < 16; ++i) {
        EXPECT_TRUE(p.canvas.raised(11, 23 - i));
        EXPECT_FALSE(p.canvas.raised(12, 23 - i));
    }
    EXPECT_TRUE(p.canvas.raised(8, 8));
    EXPECT_FALSE(p.canvas.raised(8, 9));
    EXPECT_TRUE(p.canvas.raised(9, 8));
    EXPECT_TRUE(p.canvas.raised(6, 8));  // Equal: the range's single row
    EXPECT_FALSE(p.canvas.raised(6, 9));
    std::vector<uint8_t> t{0x14};
    const auto n = cellsOf("255");
    t.insert(t.end(), n.begin(), n.end());
    EXPECT_EQ(cellsAt(p.canvas, 0, 4, 5), t);
    EXPECT_EQ(cellsAt(p.canvas, 0, 0, 4), cellsOf("blue"));
    // Nothing below row 23 on a taller panel.
    for (int x = 0; x < 48; ++x) EXPECT_FALSE(p.canvas.raised(x, 24));
}

TEST(LargeHistogram, ThirtyTwoBarsOnTheSixtyFourByFortyEightPanel) {
    BinCondition c{};
    c.bMode = BIN_LIGHT | BIN_EQUAL;
    c.bThreshfold = 100;  // t = 47 - 12 = 35
    c.adwHistogram[0] = 10;    // bar 0
    c.adwHistogram[7] = 40;    // bar 0 takes 40: the largest
    c.adwHistogram[255] = 30;  // bar 31: ceil(30 x 40 / 40) = 30
    c.adwHistogram[100] = 3;   // bar 12: 3
    Panel p(64, 48);
    drawLargeHistogram(p.canvas, c, false);
    for (int y = 16; y < 48; ++y) {
        for (int x = 12; x < 64; ++x) {
            const int bar = 47 - y;
            bool want = false;
            if (x >= 17) {
                const int len = bar == 0 ? 40 : bar == 31 ? 30 : bar == 12 ? 3 : 0;
                want = x <= 17 + len;
            }
            if (x == 14 || x == 15) want = y == 35;
            if (x == 12 || x == 13) want = y <= 35;  // Light above t, Equal on t, no Dark
            EXPECT_EQ(p.canvas.raised(x, y), want) << "pin " << x << "," << y;
        }
    }
    const auto n = cellsOf("100");
    EXPECT_EQ(cellsAt(p.canvas, 0, 8, 4), n);
    EXPECT_EQ(cellAt(p.canvas, 0, 16), cellsOf("l")[0]);
    EXPECT_EQ(cellAt(p.canvas, 0, 45), cellsOf("d")[0]);
}

TEST(PositionPage, ValuesMarksAndStatusColumns) {
    PositionPage page;
    page.x = 1024;
    page.y = 7;
    page.cellSize = 4;
    page.scanningMode = 2;
    page.overview = true;
    page.viewScope = true;
    page.emulation = true;
    page.mouseSync = true;
    page.effect = BIN_OUTLINE;
    Panel p(32, 24);
    drawPositionPage(p.canvas, page, false);
    EXPECT_EQ(cellsAt(p.canvas, 0, 0, 8), cellsOf("position"));
    auto row5 = cellsOf("x1024");
    row5.push_back(kValueMarkCell);
    EXPECT_EQ(cellsAt(p.canvas, 0, 5, 7), row5);
    EXPECT_EQ(cellsAt(p.canvas, 0, 15, 3), cellsOf("d4"));
    EXPECT_EQ(cellAt(p.canvas, 0, 20), cellsOf("f")[0]);
    EXPECT_EQ(cellAt(p.canvas, 8, 20), cellsOf("v")[0]);
    EXPECT_EQ(cellAt(p.canvas, 14, 20), cellsOf("m")[0]);
    EXPECT_EQ(cellAt(p.canvas, 20, 20), cellsOf("s")[0]);
    EXPECT_EQ(cellAt(p.canvas, 26, 20), cellsOf("o")[0]);
    EXPECT_EQ(cellAt(p.canvas, 3, 20), 0x80);

    page.viewValue = false;  // the mouse's position: no mark
    page.overview = page.emulation = page.mouseSync = false;
    page.effect = 0;
    drawPositionPage(p.canvas, page, false);
    EXPECT_EQ(cellAt(p.canvas, 18, 5), 0x80);
    EXPECT_EQ(cellAt(p.canvas, 8, 20), 0x80);
    EXPECT_EQ(cellAt(p.canvas, 26, 20), 0x80);
}

TEST(RangePixelStepPages, Layouts) {
    EXPECT_EQ(viewLastPixel(80, 48, 2, 150, 0), 149);   // clamped to the image
    EXPECT_EQ(viewLastPixel(0, 48, 2, 150, 0), 95);
    EXPECT_EQ(viewLastPixel(10, 48, 2, 1000, 30), 39);  // an explicit area size
    Panel p(32, 24);
    drawRangePage(p.canvas, 149, 95, 150, 96, false);
    auto row5 = std::vector<uint8_t>{kValueMarkCell};
    const auto x = cellsOf("x149");
    row5.insert(row5.end(), x.begin(), x.end());
    EXPECT_EQ(cellsAt(p.canvas, 0, 5, 6), row5);
    EXPECT_EQ(cellsAt(p.canvas, 0, 15, 5), cellsOf("w150"));
    EXPECT_EQ(cellsAt(p.canvas, 0, 20, 4), cellsOf("h96"));

    drawPixelPage(p.canvas, 255, 128, 0, false);
    EXPECT_EQ(cellsAt(p.canvas, 0, 0, 5), cellsOf("pixel"));
    EXPECT_EQ(cellsAt(p.canvas, 0, 5, 5), cellsOf("r255"));
    EXPECT_EQ(cellsAt(p.canvas, 0, 15, 3), cellsOf("b0"));
    EXPECT_EQ(cellsAt(p.canvas, 0, 20, 5), cellsOf("a127"));
    EXPECT_EQ(cellAt(p.canvas, 0, 24 - 3), 0x80);  // nothing left of the range page

    drawStepPage(p.canvas, 24, 1, false);
    EXPECT_EQ(cellsAt(p.canvas, 0, 5, 4), cellsOf("x24"));
    EXPECT_EQ(cellsAt(p.canvas, 0, 10, 3), cellsOf("y1"));
    EXPECT_EQ(cellAt(p.canvas, 0, 15), 0x80);
}

TEST(Pages, JapaneseLabelsDifferFromEnglish) {
    BinCondition c{};
    Panel en(32, 24), ja(32, 24);
    drawStepPage(en.canvas, 1, 1, false);
    drawStepPage(ja.canvas, 1, 1, true);
    EXPECT_NE(cellsAt(en.canvas, 0, 0, 4), cellsAt(ja.canvas, 0, 0, 4));
    EXPECT_EQ(cellsAt(en.canvas, 0, 5, 3), cellsAt(ja.canvas, 0, 5, 3));
    drawHistogramPage(ja.canvas, c, true);
    EXPECT_NE(cellAt(ja.canvas, 0, 8), 0x80);
    EXPECT_FALSE(ja.canvas.raised(6, 9));  // the two-cell label stays left of the marks
}
