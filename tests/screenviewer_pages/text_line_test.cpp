// The device text line: mode field, pages and sub-selectors cell by cell, the
// device dot order and the change check.
#include <gtest/gtest.h>

#include "page_test_support.h"
#include "screenviewer/pages/page_labels.h"
#include "screenviewer/pages/text_line.h"

using namespace tavik::lumo;
using namespace tavik::lumo::test;

namespace {

std::vector<uint8_t> cellsFrom(const TextLine& line, size_t at, size_t count) {
    return {line.cells.begin() + static_cast<long>(at), line.cells.begin() + static_cast<long>(at + count)};
}

// `text` at `at`, padded with empty cells to `width`.
std::vector<uint8_t> field(const std::string& text, size_t width) {
    auto cells = cellsOf(text);
    cells.resize(width, 0x80);
    return cells;
}

TextLineInput sample() {
    TextLineInput in;
    in.scanningMode = 1;
    in.imageWidth = 1920;
    in.imageHeight = 1080;
    in.left = 100;
    in.top = 40;
    in.right = 100 + 64 * 4;
    in.bottom = 40 + 48 * 4;
    in.cellSize = 4;
    return in;
}

}  // namespace

TEST(TextLine, ModeFieldAndSizePage) {
    TextLineInput in = sample();
    in.overview = true;
    in.clientFit = true;
    in.mouseSync = true;
    TextLine line;
    buildTextLine(in, false, line);
    EXPECT_EQ(cellsFrom(line, 0, 4), (std::vector<uint8_t>{cellsOf("w")[0], cellsOf("c")[0], 0x80, cellsOf("s")[0]}));
    EXPECT_EQ(cellsFrom(line, 4, 8), field("size", 8));
    EXPECT_EQ(cellsFrom(line, 12, 20), cellsOf("Window  1920  1080"));
    EXPECT_EQ(line.cells[32], 0);
    in.desktop = true;
    buildTextLine(in, false, line);
    EXPECT_EQ(cellsFrom(line, 12, 20), cellsOf("Desktop 1920  1080"));
}

TEST(TextLine, PositionPageAndItsSubSelectors) {
    TextLineInput in = sample();
    in.page = 2;
    TextLine line;
    buildTextLine(in, false, line);
    EXPECT_EQ(cellsFrom(line, 12, 7), field("X100", 7));
    EXPECT_EQ(cellsFrom(line, 19, 7), field("Y40", 7));
    EXPECT_EQ(cellsFrom(line, 26, 6), field("D4", 6));
    in.subSelector = 1;
    buildTextLine(in, false, line);
    EXPECT_EQ(cellsFrom(line, 12, 14), field("X100 - 355", 14));
    EXPECT_EQ(cellsFrom(line, 26, 6), field("D4", 6));
    in.subSelector = 2;
    in.bottom = 2000;  // past the image: the end is the last row
    buildTextLine(in, false, line);
    EXPECT_EQ(cellsFrom(line, 12, 7), field("X100", 7));
    EXPECT_EQ(cellsFrom(line, 19, 13), field("Y40 - 1079", 13));
    in.subSelector = 0;
    in.emulation = true;
    in.mouseX = 7;
    in.mouseY = 9;
    buildTextLine(in, false, line);
    EXPECT_EQ(line.cells[2], cellsOf("m")[0]);
    EXPECT_EQ(cellsFrom(line, 12, 7), field("X7", 7));
}

TEST(TextLine, PercentPageCapsTheEndAt100) {
    TextLineInput in = sample();
    in.page = 3;
    in.subSelector = 1;
    in.left = 1800;
    in.right = 1800 + 64 * 4;  // past 1920
    TextLine line;
    buildTextLine(in, false, line);
    EXPECT_EQ(cellsFrom(line, 12, 14), field("X93 - 100%", 14));
    in.subSelector = 0;
    in.emulation = true;
    in.mouseX = 960;
    in.mouseY = 1079;
    buildTextLine(in, false, line);
    EXPECT_EQ(cellsFrom(line, 12, 7), field("X50%", 7));
    EXPECT_EQ(cellsFrom(line, 19, 13), field("Y99%", 13));  // only the mouse, no D field
}

TEST(TextLine, ConditionAndRefreshPages) {
    TextLineInput in = sample();
    in.page = 4;
    in.bMode = BIN_LIGHT | BIN_DARK;
    in.fAutoThreshfold = true;
    in.threshold = 128;
    TextLine line;
    buildTextLine(in, false, line);
    EXPECT_EQ(cellsFrom(line, 12, 20), field("L D *128/255", 20));

    in.page = 5;
    in.refresh = 1;
    buildTextLine(in, false, line);
    EXPECT_EQ(cellsFrom(line, 12, 6), field("none", 6));
    auto chosen = field("0.1", 8);
    chosen[0] = 0x41;
    EXPECT_EQ(cellsFrom(line, 18, 8), chosen);
    EXPECT_EQ(cellsFrom(line, 26, 6), field("0.2", 6));
    in.refresh = 3;  // 0.5 s has no mark
    buildTextLine(in, false, line);
    EXPECT_EQ(cellsFrom(line, 18, 8), field("0.1", 8));
    EXPECT_EQ(cellsFrom(line, 12, 6), field("none", 6));
}

TEST(TextLine, DeviceBytesAreSentOnlyWhenChanged) {
    TextLineInput in = sample();
    TextLine line;
    buildTextLine(in, false, line);
    std::array<uint8_t, kTextLineCells> bytes{};
    ASSERT_EQ(toDeviceLine(line, bytes), 32u);
    EXPECT_EQ(bytes[0], 0x40 | 0x04 | 0x02 | 0x08);  // "w": dots 2, 4, 5, 6
    EXPECT_EQ(bytes[1], 0x00);                       // empty cell

    TextLineSender sender;
    EXPECT_EQ(sender.update(line, false).size(), 32u);
    EXPECT_TRUE(sender.update(line, false).empty());
    EXPECT_EQ(sender.update(line, true).size(), 32u);
    in.imageWidth = 1921;
    buildTextLine(in, false, line);
    const auto changed = sender.update(line, false);
    ASSERT_EQ(changed.size(), 32u);
    EXPECT_TRUE(sender.update(line, false).empty());
}

TEST(TextLine, JapaneseLabelsKeepTheLayout) {
    TextLineInput in = sample();
    for (int page = 0; page < 6; ++page) {
        in.page = page;
        TextLine en, ja;
        buildTextLine(in, false, en);
        buildTextLine(in, true, ja);
        EXPECT_EQ(cellsFrom(en, 0, 4), cellsFrom(ja, 0, 4));
        EXPECT_NE(cellsFrom(en, 4, 8), cellsFrom(ja, 4, 8)) << "page " << page;
        EXPECT_LE(label(static_cast<Label>(static_cast<int>(Label::LineSize) + page), true).size(), 8u);
    }
}
