// Braille of the status cells: number and letter signs, the device's dot
// order, kana labels and the composed status line.
#include <gtest/gtest.h>

#include "client/viewer/braille_cells.h"
#include "client/viewer/status_line.h"

using namespace tavik::viewer;
using Cells = std::vector<uint8_t>;

TEST(Braille, NumbersLettersAndPercent) {
    EXPECT_EQ(toBrailleCells("X12"), (Cells{0x55, kNumberSign, 0x10, 0x30}));
    EXPECT_EQ(toBrailleCells("5%"), (Cells{kNumberSign, 0x12, 0x06, 0x71}));
    EXPECT_EQ(toBrailleCells("3a"), (Cells{kNumberSign, 0x11, kLetterSign, 0x10}));
    EXPECT_EQ(toBrailleCells("1 - 20"), (Cells{kNumberSign, 0x10, kBlankCell, 0x44, kBlankCell, kNumberSign, 0x30,
                                               0x23}));  // "0" is j (dots 2, 4, 5)
    EXPECT_EQ(toBrailleCells("a\tB\n"), (Cells{0x10, 0x30}));  // case-insensitive, controls dropped
    EXPECT_EQ(asciiCell('/'), dots("34"));
    EXPECT_EQ(asciiCell('{'), asciiCell('['));
}

TEST(Braille, DeviceDotOrder) {
    EXPECT_EQ(deviceCell(dots("1")), 0x80);
    EXPECT_EQ(deviceCell(dots("2")), 0x40);
    EXPECT_EQ(deviceCell(dots("3")), 0x20);
    EXPECT_EQ(deviceCell(dots("4")), 0x08);
    EXPECT_EQ(deviceCell(dots("5")), 0x04);
    EXPECT_EQ(deviceCell(dots("6")), 0x02);
    EXPECT_EQ(deviceCell(kNumberSign), 0x2E);
    EXPECT_EQ(deviceCell(kBlankCell), 0x00);
    EXPECT_EQ(deviceCell(0x08), 0x01);  // dots 7 and 8 of an internal byte
    EXPECT_EQ(deviceCell(0x81), 0x18);
}

TEST(Braille, KanaLabelsCarryTheirVoicedPrefix) {
    EXPECT_EQ(kanaCells("ga zo u"), (Cells{0x02, 0x14, 0x02, 0x27, 0x11}));
    EXPECT_EQ(kanaCells("pa n"), (Cells{0x04, dots("136"), dots("356")}));
    EXPECT_EQ(kanaCells("qq a"), (Cells{0x10}));
}

TEST(StatusLine, ModeLettersAndPages) {
    StatusSnapshot s;
    s.imageWidth = 640;
    s.imageHeight = 480;
    s.overview = true;
    s.pointer = true;
    StatusLine line = buildStatusLine(s);
    EXPECT_EQ(line.mirror.substr(0, 3), "BHM");
    EXPECT_EQ(line.cells[0], asciiCell('b'));
    EXPECT_EQ(line.cells[1], asciiCell('h'));
    EXPECT_EQ(line.cells[2], asciiCell('m'));
    EXPECT_EQ(line.mirror.substr(kStatusValueCell, 16), "Bitmap  640  480");
    const Cells value = toBrailleCells("Bitmap  640  480");
    EXPECT_TRUE(std::equal(value.begin(), value.end(), line.cells.begin() + kStatusValueCell));

    // Condition page: the comparison letters sit on the cells that toggle them (13, 14, 15).
    s.page = 4;
    s.mode = 0x01 | 0x04;
    s.autoThreshold = true;
    s.threshold = 128;
    line = buildStatusLine(s);
    EXPECT_EQ(statusPageText(s), "L D *128/255");
    EXPECT_EQ(line.cells[12], asciiCell('L'));
    EXPECT_EQ(line.cells[13], kBlankCell);
    EXPECT_EQ(line.cells[14], asciiCell('D'));
    EXPECT_EQ(line.cells[16], asciiCell('*'));

    // Position pages: layouts widen the x or the y part; a pointer shows single values.
    s.page = 2;
    s.firstX = 384;
    s.lastX = 639;
    s.firstY = 0;
    s.lastY = 191;
    s.division = 4;
    EXPECT_EQ(statusPageText(s), "X384   Y0     D4  ");
    s.layout = 1;
    EXPECT_EQ(statusPageText(s), "X384 - 639  Y0  ");
    s.layout = 2;
    EXPECT_EQ(statusPageText(s), "X384   Y0 - 191    ");
    s.page = 3;
    EXPECT_EQ(statusPageText(s), "X60%   Y0 - 39%    ");
    s.single = true;
    EXPECT_EQ(statusPageText(s), "X60%   Y0%         ");
}
