// The viewer behind a recording display: what reaches the pins and the
// status cells after each operation, the pointer's mouse reports, memories
// and chimes, and that unchanged planes are not sent again.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "client/viewer/braille_cells.h"
#include "client/viewer/viewer.h"
#include "tests/viewer/viewer_fixture.h"

using namespace tavik::viewer;

using namespace viewer_fixture;

TEST_F(ViewerCore, OpenShowsTheImageAndStatusCells) {
    Viewer& v = open();
    EXPECT_EQ(v.maxDivision(), 10);
    EXPECT_EQ(rec_.imageWidth, 640);
    EXPECT_EQ(rec_.refreshed, 1);
    ASSERT_EQ(sink_.plane1Writes, 1);
    EXPECT_TRUE(sink_.pin(sink_.plane1, 10, 5));
    EXPECT_FALSE(sink_.pin(sink_.plane1, 20, 5));  // grey 40 is not lighter than 100
    EXPECT_EQ(sink_.raised(sink_.plane1), 1);
    EXPECT_EQ(sink_.lastLevel, 10);
    // The status cells are the line in the display's dot order.
    ASSERT_EQ(sink_.text.size(), size_t(T));
    const auto cells = toBrailleCells("Bitmap  640  480");
    EXPECT_EQ(sink_.text[0], deviceCell(asciiCell('b')));
    for (size_t i = 0; i < cells.size(); ++i) EXPECT_EQ(sink_.text[kStatusValueCell + i], deviceCell(cells[i]));
}

TEST_F(ViewerCore, UnknownModelsAndUnopenableImagesFail) {
    EXPECT_EQ(Viewer::open(rec_, PortInfo{"PX-64", W, H, T}, sink_, {}, false), nullptr);
    rec_.hSourceBitmap = nullptr;
    EXPECT_EQ(Viewer::open(rec_, PortInfo{"Pinora PX-1", W, H, T}, sink_, {}, false), nullptr);
    rec_.hSourceBitmap = bitmap_;
    EXPECT_EQ(Viewer::open(rec_, PortInfo{"Pinora PX-1", 200, 200, T}, sink_, {}, false), nullptr);
    EXPECT_EQ(sink_.plane1Writes, 0);
}

TEST_F(ViewerCore, UnchangedPlanesAreNotSentAgain) {
    Viewer& v = open();
    const int p1 = sink_.plane1Writes, p2 = sink_.plane2Writes, t = sink_.textWrites;
    v.setViewPosition(30, 20);  // already in view
    v.refreshView();
    EXPECT_EQ(sink_.plane1Writes, p1);
    EXPECT_EQ(sink_.plane2Writes, p2);
    EXPECT_EQ(sink_.textWrites, t);
    v.moveViewPosition(1, 0, false);  // the lit pixel moves one pin left
    EXPECT_EQ(sink_.plane1Writes, p1 + 1);
    EXPECT_EQ(sink_.plane2Writes, p2 + 1);  // plane 2 follows every plane 1
    EXPECT_TRUE(sink_.pin(sink_.plane1, 9, 5));
}

TEST_F(ViewerCore, DivisionIsClampedAndOverviewRestoresTheView) {
    Viewer& v = open();
    v.changeDivision(20);
    EXPECT_EQ(rec_.cellWidth, 10);
    EXPECT_EQ(rec_.cellHeight, 10);
    v.changeDivision(0);
    EXPECT_EQ(rec_.cellWidth, 1);
    v.changeDivision(4);
    v.setViewPosition(639, 479);
    v.moveViewPosition(1, 0, false);
    EXPECT_EQ(rec_.viewLeft, 640 - 4 * W);
    const View before = v.mainView();
    v.startOverview(false);
    EXPECT_EQ(rec_.overviewMode, 1);
    EXPECT_EQ(rec_.overviewFrame, 0);
    EXPECT_EQ(rec_.cellWidth, 10);
    EXPECT_EQ(rec_.viewLeft, 0);
    EXPECT_EQ(sink_.raised(sink_.plane2), 0);  // no frame
    // Arrows move the detail view while the whole image stays on the pins.
    v.moveViewPosition(-1, 0, false);
    EXPECT_EQ(rec_.detailLeft, before.left - 10);
    v.moveViewPosition(1, 0, false);
    v.endOverview();
    EXPECT_EQ(v.mainView(), before);
    EXPECT_EQ(rec_.overviewMode, 0);
}

TEST_F(ViewerCore, OverviewFrameStandsInTheSecondPlane) {
    Viewer& v = open();
    v.changeDivision(2);  // detail view 128 x 96 pixels at (0, 0)
    v.startOverview(true);
    // Frame: columns 0..12 and rows 0..9 of the overview (division 10).
    EXPECT_TRUE(sink_.pin(sink_.plane2, 0, 0));
    EXPECT_TRUE(sink_.pin(sink_.plane2, 12, 0));
    EXPECT_TRUE(sink_.pin(sink_.plane2, 12, 9));
    EXPECT_TRUE(sink_.pin(sink_.plane2, 0, 9));
    EXPECT_FALSE(sink_.pin(sink_.plane2, 13, 0));
    EXPECT_FALSE(sink_.pin(sink_.plane2, 5, 5));
    EXPECT_TRUE(sink_.pin(sink_.plane1, 40, 30));  // the pixel at (400, 300) outside the frame
    EXPECT_EQ(sink_.text[1], deviceCell(asciiCell('v')));
}

TEST_F(ViewerCore, PointerKeysReportMouseMessages) {
    OperationFilter off;
    off.mouseEmulation = false;
    Viewer& blocked = open("Pinora PX-2", off);
    EXPECT_EQ(blocked.displayKey(4, 0x0C, 0x00), 1);
    EXPECT_EQ(rec_.pointerMode, 0);
    EXPECT_TRUE(gReports.empty());

    Viewer& v = open();
    EXPECT_EQ(v.displayKey(4, 0x0C, 0x00), 1);
    ASSERT_EQ(gReports.size(), 1u);
    EXPECT_EQ(gReports[0].message, kMsgMove);
    EXPECT_EQ(gReports[0].x, 32);
    EXPECT_EQ(gReports[0].y, 24);
    EXPECT_TRUE(sink_.pin(sink_.plane2, 32, 24));  // the cross of the marker
    EXPECT_TRUE(sink_.pin(sink_.plane2, 27, 24));
    EXPECT_FALSE(sink_.pin(sink_.plane2, 33, 25));

    gReports.clear();
    v.displayKey(4, 0x08, 0xA0);  // drag with the left button
    v.displayKey(4, 0x08, 0x20);  // left click while the drag holds it
    ASSERT_EQ(gReports.size(), 2u);
    EXPECT_EQ(gReports[0].message, kMsgLeftDown);
    EXPECT_EQ(gReports[0].buttons, 1);
    EXPECT_EQ(gReports[1].message, kMsgLeftUp);
    EXPECT_EQ(gReports[1].buttons, 0);

    gReports.clear();
    v.displayKey(1, 6, 0);  // keypad 6: one dot right
    ASSERT_EQ(gReports.size(), 1u);
    EXPECT_EQ(gReports[0].x, 33);
    v.displayKey(1, 3, 8);  // big step down-right: the view follows
    EXPECT_EQ(rec_.pointerX, 33 + 32);
    EXPECT_EQ(rec_.pointerY, 24 + 24);
    EXPECT_TRUE(inView(v.mainView(), v.geometry(), rec_.pointerX, rec_.pointerY));
    v.displayKey(4, 0x20, 0x00);  // jump to the left edge
    EXPECT_EQ(rec_.pointerX, 0);
    EXPECT_EQ(rec_.viewLeft, 0);

    gReports.clear();
    v.displayKey(0, 0, 6);  // right drag, then pointer off releases it
    v.displayKey(4, 0x0C, 0x80);
    ASSERT_EQ(gReports.size(), 2u);
    EXPECT_EQ(gReports[1].message, kMsgRightUp);
    EXPECT_EQ(rec_.pointerMode, 0);
}

TEST_F(ViewerCore, ThresholdKeysOnTheConditionScreen) {
    Viewer& v = open();
    EXPECT_EQ(v.displayKey(4, 0x01, 0x00), 1);  // image screen: scroll up by a step
    EXPECT_EQ(rec_.condition.bThreshfold, 100);
    conditionScreen(v);
    EXPECT_EQ(sink_.raised(sink_.plane2), 0);
    EXPECT_EQ(v.displayKey(4, 0x10, 0x00), 1);  // threshold down: the next occurring level is 40
    EXPECT_EQ(rec_.condition.bThreshfold, 40);
    v.broadcast(0, 0, 0);
    v.broadcast(0x40, 0, 0);
    v.broadcast(0, 0, 0);  // the same chord again: back to the image
    EXPECT_EQ(v.statusScreen(), 0);
    EXPECT_FALSE(sink_.pin(sink_.plane1, 20, 5));  // 40 is not lighter than 40
    EXPECT_TRUE(sink_.pin(sink_.plane1, 10, 5));
    v.displayKey(4, 0x02, 0x20);  // "Dark" only: every black pixel raises its pin
    EXPECT_EQ(rec_.condition.bMode & 0x07, BIN_DARK);
    EXPECT_TRUE(sink_.pin(sink_.plane1, 0, 0));
    EXPECT_FALSE(sink_.pin(sink_.plane1, 20, 5));
}

TEST_F(ViewerCore, MemoriesRestoreTheConditionAndChimeOnThePX2) {
    OperationFilter filters;
    filters.conditionMemory = true;
    Viewer& v = open("Pinora PX-2", filters);
    conditionScreen(v);
    rec_.condition.bMode = BIN_DARK | BIN_RANGE;
    rec_.condition.bThreshfoldMin = 30;
    rec_.condition.bThreshfoldMax = 150;
    EXPECT_EQ(v.displayKey(4, 0x06, 0xA0), 1);  // save memory 2
    ASSERT_EQ(sink_.chimes.size(), 1u);
    EXPECT_EQ(sink_.chimes[0], (std::vector<uint8_t>{0x02, 0x94, 0x00, 0x21, 0, 0, 0x01, 0xB8, 0x00, 0x16, 0, 0,
                                                     0x01, 0x4A, 0x00, 0x10, 0, 0, 0, 0, 0, 0, 0, 0}));
    v.displayKey(4, 0x03, 0x00);  // automatic threshold
    EXPECT_EQ(rec_.condition.fAutoThreshfold, 1);
    EXPECT_EQ(v.displayKey(4, 0x06, 0x20), 1);  // restore memory 2
    EXPECT_EQ(rec_.condition.fAutoThreshfold, 0);
    EXPECT_EQ(rec_.condition.bThreshfoldMin, 30);
    EXPECT_EQ(rec_.condition.bThreshfoldMax, 150);
    EXPECT_EQ(rec_.condition.bMode & 0xFF, BIN_DARK | BIN_RANGE);
    ASSERT_EQ(sink_.chimes.size(), 2u);
    EXPECT_EQ(sink_.chimes[1][1], 0x4A);  // table A starts with 330
    // No chimes on other models.
    Viewer& px1 = open("Pinora PX-1", filters);
    conditionScreen(px1);
    px1.displayKey(4, 0x06, 0xA0);
    EXPECT_EQ(sink_.chimes.size(), 2u);
}

TEST_F(ViewerCore, SavedViewAndReset) {
    Viewer& v = open();
    v.changeDivision(4);
    v.setViewPosition(300, 200);
    const View saved = v.mainView();
    v.displayKey(1, 3, 6);  // save view
    v.changeDivision(1);
    v.displayKey(1, 3, 4);  // restore view
    EXPECT_EQ(v.mainView(), saved);
    v.changeDivision(4);
    v.displayKey(1, 1, 6);  // pointer on
    ASSERT_EQ(rec_.pointerMode, 1);
    v.displayKey(1, 9, 4);     // reset: division 1, pointer off, automatic threshold
    EXPECT_EQ(rec_.cellWidth, 1);
    EXPECT_EQ(rec_.pointerMode, 0);
    EXPECT_EQ(rec_.condition.fAutoThreshfold, 1);
}

TEST_F(ViewerCore, StatusCellKeysTurnPagesAndToggleModes) {
    Viewer& v = open();
    v.displayKey(2, 5, 0);  // next page
    EXPECT_EQ(v.statusPage(), 1);
    v.displayKey(2, 15, 0);  // page 1: the pointer switch
    EXPECT_EQ(rec_.pointerMode, 1);
    v.displayKey(2, 25, 0);  // the overview switch
    EXPECT_EQ(rec_.overviewMode, 1);
    v.displayKey(2, 3, 0);
    EXPECT_EQ(rec_.pointerMode, 0);
    v.displayKey(2, 10, 0);
    v.displayKey(2, 10, 0);
    EXPECT_EQ(v.statusPage(), 4);
    v.displayKey(2, 13, 0);  // toggles Light off
    EXPECT_EQ(rec_.condition.bMode & 0x07, 0);
    EXPECT_EQ(v.statusLine().mirror.substr(kStatusValueCell, 12), "     100/255");
    v.displayKey(2, 9, 0);
    EXPECT_EQ(v.statusPage(), 3);
    v.displayKey(2, 14, 0);  // x part: layout 1
    EXPECT_EQ(v.statusLayout(), 1);
    v.displayKey(2, 6, 0);  // the page keys first return to layout 0
    EXPECT_EQ(v.statusLayout(), 0);
    EXPECT_EQ(v.statusPage(), 3);
}

TEST_F(ViewerCore, StripReportsScrollTheViewOrMoveThePointer) {
    Viewer& v = open();
    v.changeDivision(2);
    v.setViewPosition(300, 200);
    const int left = rec_.viewLeft;
    const uint8_t slide[] = {64, 60};  // column 31 to 33 on the horizontal strip
    EXPECT_EQ(v.dataBlock(2, slide), 1);
    EXPECT_EQ(rec_.viewLeft, left + (stripDot(2, 64) - stripDot(2, 60)) * 2);
    EXPECT_EQ(v.dataBlock(7, slide), 0);
    v.displayKey(4, 0x0C, 0);  // pointer on
    const uint8_t touch[] = {0x80 | 100};
    v.dataBlock(1, touch);
    EXPECT_EQ(rec_.pointerY, stripDot(1, 100) * 2 + rec_.viewTop);
}
