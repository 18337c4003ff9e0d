// The viewer's navigation rules with exact values: windows that grow and
// shrink, record choice and reuse, pan, jump, centre, contain, every zoom
// anchor and its limits, overview, and placing the view on a caret.
#include <gtest/gtest.h>

#include <climits>
#include <memory>

#include "screenviewer/navigation.h"

using namespace lumo;

namespace {

constexpr Pins kPins{32, 24};

ViewRecord recordOf(int32_t w, int32_t h, int32_t cell, int32_t bx, int32_t by) {
    ViewRecord r{};
    r.imageWidth = w;
    r.imageHeight = h;
    r.cellWidth = r.cellHeight = cell;
    r.baseX = bx;
    r.baseY = by;
    return r;
}

TEST(ViewFit, AViewAtTheRightEndKeepsItsBaseWhenTheWindowGrowsAndIsPulledBackWhenItShrinks) {
    ViewRecord r = recordOf(100, 50, 2, 0, 0);
    r.baseX = lastAlignedStart(100, 32, 2);
    ASSERT_EQ(r.baseX, 36);  // 36 + 32 x 2 = 100
    fitViewToWindow(r, 200, 50, kPins);
    EXPECT_EQ(r.baseX, 36);
    EXPECT_EQ(r.imageWidth, 200);
    fitViewToWindow(r, 80, 50, kPins);
    EXPECT_EQ(r.baseX, 16);  // last aligned start: 16 + 64 = 80
    fitViewToWindow(r, 50, 50, kPins);
    EXPECT_EQ(r.baseX, 0);  // smaller than the view: not below 0
    EXPECT_EQ(r.baseY, 0);
    // Same size: nothing moves, even a base beyond the end.
    r.baseX = 40;
    fitViewToWindow(r, 50, 50, kPins);
    EXPECT_EQ(r.baseX, 40);
    // In overview the ViewScope rectangle is the one pulled back.
    ViewRecord o = recordOf(1000, 800, 34, 0, 0);
    o.overview = 1;
    o.scopeX = 872;
    o.scopeCellWidth = o.scopeCellHeight = 4;
    fitViewToWindow(o, 900, 800, kPins);
    EXPECT_EQ(o.scopeX, 772);
    EXPECT_EQ(o.baseX, 0);
}

TEST(RecordChoice, TheWindowsKeepTheirViewsAndThe257thReusesTheLeastRecentlyUsedRecord) {
    auto share = std::make_unique<ViewerShare>();
    auto lookup = [](WindowId w) { return WindowFacts{int32_t(100 + w), 300, int32_t(w) + 7}; };
    for (WindowId w = 1; w <= 256; ++w) EXPECT_EQ(selectViewRecord(*share, w, lookup, kPins), int(w - 1));
    EXPECT_EQ(share->currentRecord, 255);
    EXPECT_EQ(share->targetWindow, 256u);
    EXPECT_EQ(share->records[2].imageWidth, 103);
    EXPECT_EQ(share->records[2].threadId, 10);
    EXPECT_EQ(share->records[2].condition.bMode, BIN_LIGHT | BIN_DARK);
    EXPECT_EQ(share->records[2].condition.bThreshfoldMax, 128);
    share->records[2].baseX = 40;
    share->records[2].cellWidth = share->records[2].cellHeight = 2;

    // Window 1 comes back: its record, with a fresh stamp.
    EXPECT_EQ(selectViewRecord(*share, 1, lookup, kPins), 0);
    EXPECT_EQ(share->records[0].useStamp, 257u);
    // The 257th window takes record 1 (window 2, the oldest stamp).
    EXPECT_EQ(selectViewRecord(*share, 257, lookup, kPins), 1);
    EXPECT_EQ(share->records[1].keyWindow, 257u);
    EXPECT_EQ(share->lastForeground, 257u);
    // Window 3 still has its view.
    EXPECT_EQ(selectViewRecord(*share, 3, lookup, kPins), 2);
    EXPECT_EQ(share->records[2].baseX, 40);
    EXPECT_EQ(share->records[2].cellWidth, 2);
    // When the current record is the oldest (stamps written by another process), another one is reused.
    share->records[2].useStamp = 1;
    EXPECT_EQ(selectViewRecord(*share, 999, lookup, kPins), 3);
    // A hostile current index is only compared, never used to index.
    share->currentRecord = -5;
    EXPECT_GE(selectViewRecord(*share, 1000, lookup, kPins), 0);
}

TEST(Pan, StopsAtTheLastAlignedStartAndAtZeroAndMovesTheViewScopeInOverview) {
    ViewRecord r = recordOf(100, 50, 2, 0, 0);
    panX(r, 16, kPins);
    EXPECT_EQ(r.baseX, 32);
    panX(r, 16, kPins);
    EXPECT_EQ(r.baseX, 36);
    panX(r, -40, kPins);
    EXPECT_EQ(r.baseX, 0);
    panScopeX(r, 3, kPins);  // outside overview nothing
    EXPECT_EQ(r.baseX, 0);

    ViewRecord o = recordOf(1000, 800, 4, 100, 80);
    enterOverview(o, true, kPins);
    ASSERT_EQ(o.cellWidth, 34);  // max(ceil(1000 / 32), ceil(800 / 24))
    panX(o, 2, kPins);           // by two overview pins
    EXPECT_EQ(o.scopeX, 168);
    panScopeX(o, 3, kPins);  // by three scope cells
    EXPECT_EQ(o.scopeX, 180);
    panY(o, 100, kPins);
    EXPECT_EQ(o.scopeY, 704);
    EXPECT_EQ(o.baseX, 0);
}

TEST(Jump, KeypadKeysReachTheEdgesAndTheCentreOfTheImageOrOfTheFocusClientArea) {
    ViewRecord r = recordOf(1000, 800, 4, 100, 80);
    jump(r, 1, kPins, std::nullopt);
    EXPECT_EQ(r.baseX, 0);
    EXPECT_EQ(r.baseY, 704);
    jump(r, 9, kPins, std::nullopt);
    EXPECT_EQ(r.baseX, 872);
    EXPECT_EQ(r.baseY, 0);
    jump(r, 5, kPins, std::nullopt);
    EXPECT_EQ(r.baseX, 436);
    EXPECT_EQ(r.baseY, 352);
    jump(r, 8, kPins, std::nullopt);
    EXPECT_EQ(r.baseX, 436);
    EXPECT_EQ(r.baseY, 0);
    jump(r, 0, kPins, std::nullopt);
    jump(r, 10, kPins, std::nullopt);
    EXPECT_EQ(r.baseX, 436);

    const Rect client{200, 100, 300, 200};
    jump(r, 7, kPins, client);
    EXPECT_EQ(r.baseX, 200);
    EXPECT_EQ(r.baseY, 100);
    jump(r, 3, kPins, client);
    EXPECT_EQ(r.baseX, 372);
    EXPECT_EQ(r.baseY, 204);
    jump(r, 5, kPins, client);
    EXPECT_EQ(r.baseX, 284);
    EXPECT_EQ(r.baseY, 152);
}

TEST(CentreAndContain, KeepThePointInTheViewAndTheViewInTheImage) {
    ViewRecord r = recordOf(1000, 800, 4, 100, 80);
    centreOn(r, 500, 400, kPins);
    EXPECT_EQ(r.baseX, 436);
    EXPECT_EQ(r.baseY, 352);
    centreOn(r, 990, 790, kPins);
    EXPECT_EQ(r.baseX, 872);
    EXPECT_EQ(r.baseY, 704);

    r.baseX = 100;
    r.baseY = 80;
    contain(r, 50, 90, kPins);
    EXPECT_EQ(r.baseX, 48);
    EXPECT_EQ(r.baseY, 80);
    contain(r, 300, 500, kPins);
    EXPECT_EQ(r.baseX, 176);
    EXPECT_EQ(r.baseY, 408);
    contain(r, -50, INT_MAX, kPins);  // clamped into the image
    EXPECT_EQ(r.baseX, 0);
    EXPECT_EQ(r.baseY, 704);
}

TEST(Zoom, EveryAnchorKeepsItsPartOfTheView) {
    const ViewRecord start = recordOf(1000, 800, 4, 100, 80);
    ViewRecord r = start;
    ASSERT_TRUE(zoom(r, 2, ZoomAnchor::TopLeft, kPins));
    EXPECT_EQ(r.cellWidth, 2);
    EXPECT_EQ(r.cellHeight, 2);
    EXPECT_EQ(r.baseX, 100);
    EXPECT_EQ(r.baseY, 80);

    r = start;
    ASSERT_TRUE(zoom(r, 2, ZoomAnchor::Right, kPins));
    EXPECT_EQ(r.baseX, 164);  // the right edge 228 stays
    EXPECT_EQ(r.baseY, 80);

    r = start;
    ASSERT_TRUE(zoom(r, 2, ZoomAnchor::Bottom, kPins));
    EXPECT_EQ(r.baseX, 100);
    EXPECT_EQ(r.baseY, 128);  // the bottom edge 176 stays

    r = start;
    ASSERT_TRUE(zoom(r, 2, ZoomAnchor::RightBottom, kPins));
    EXPECT_EQ(r.baseX, 164);
    EXPECT_EQ(r.baseY, 128);

    r = start;
    ASSERT_TRUE(zoom(r, 8, ZoomAnchor::Centre, kPins));
    EXPECT_EQ(r.baseX, 40);  // centre 164 -> view 40..296
    EXPECT_EQ(r.baseY, 32);  // centre 128 -> view 32..224

    r = start;
    ASSERT_TRUE(zoom(r, 2, ZoomAnchor::Point, kPins, 150, 100));
    EXPECT_EQ(r.baseX, 126);  // pin column 12 stays under x 150
    EXPECT_EQ(r.baseY, 90);   // pin row 5 stays under y 100
    EXPECT_EQ((150 - r.baseX) / 2, 12);
    EXPECT_EQ((100 - r.baseY) / 2, 5);

    // Far end clamped to the image: right anchor at the image's right edge.
    r = recordOf(100, 60, 2, 36, 0);
    ASSERT_TRUE(zoom(r, 1, ZoomAnchor::Right, kPins));
    EXPECT_EQ(r.baseX, 67);  // e clamped to 99: 99 + (1 - 32) - 1
}

TEST(Zoom, RefusesViewsTwiceTheImageOrOnePixelBelowOneAndZoomsTheViewScopeInOverview) {
    ViewRecord r = recordOf(100, 60, 2, 0, 0);
    EXPECT_FALSE(zoom(r, 0, ZoomAnchor::TopLeft, kPins));
    EXPECT_FALSE(zoom(r, -4, ZoomAnchor::Centre, kPins));
    EXPECT_TRUE(zoom(r, 4, ZoomAnchor::TopLeft, kPins));   // 128 x 96 < 200 x 120
    EXPECT_FALSE(zoom(r, 8, ZoomAnchor::TopLeft, kPins));  // 256 x 192: twice in both
    EXPECT_EQ(r.cellWidth, 4);
    // Twice in one direction only is allowed.
    ViewRecord tall = recordOf(100, 600, 4, 0, 0);
    EXPECT_TRUE(zoom(tall, 8, ZoomAnchor::TopLeft, kPins));

    ViewRecord o = recordOf(100, 60, 2, 0, 0);
    enterOverview(o, true, kPins);
    EXPECT_EQ(o.cellWidth, 4);  // max(ceil(100 / 32), ceil(60 / 24))
    EXPECT_EQ(o.scopeCellWidth, 2);
    EXPECT_FALSE(zoom(o, 4, ZoomAnchor::TopLeft, kPins));  // 128 > 100 and 96 > 60
    EXPECT_TRUE(zoom(o, 3, ZoomAnchor::TopLeft, kPins));
    EXPECT_EQ(o.scopeCellWidth, 3);
    EXPECT_EQ(o.cellWidth, 4);
}

TEST(Overview, ASmallWindowGetsOnePixelPerPinAndLeavingRestoresTheDetailView) {
    ViewRecord r = recordOf(20, 10, 4, 8, 4);
    enterOverview(r, false, kPins);
    EXPECT_EQ(r.overview, 1);
    EXPECT_EQ(r.cellWidth, 1);
    EXPECT_EQ(r.scopeCellWidth, 1);  // the old view covered the whole window
    EXPECT_EQ(r.scopeX, 8);
    EXPECT_EQ(r.baseX, 0);
    EXPECT_EQ(r.viewScope, 0);
    enterOverview(r, true, kPins);  // again: base back to 0, ViewScope follows
    EXPECT_EQ(r.viewScope, 1);
    leaveOverview(r);
    EXPECT_EQ(r.overview, 0);
    EXPECT_EQ(r.baseX, 8);
    EXPECT_EQ(r.baseY, 4);
    EXPECT_EQ(r.cellWidth, 1);

    ViewRecord c = recordOf(1000, 800, 4, 100, 80);
    fitClientOverview(c, Rect{20, 30, 400, 100}, kPins);
    EXPECT_EQ(c.cellWidth, 13);  // max(ceil(400 / 32), ceil(100 / 24))
    EXPECT_EQ(c.baseX, 20);
    EXPECT_EQ(c.baseY, 30);
    EXPECT_EQ(c.areaWidth, 400);
    EXPECT_EQ(c.clientFit, 1);
    EXPECT_EQ(viewRectangle(c, kPins), (Rect{100, 80, 128, 96}));  // the detail view
    leaveOverview(c);
    EXPECT_EQ(c.areaWidth, 0);
    EXPECT_EQ(c.cellWidth, 4);
    EXPECT_EQ(c.baseX, 100);
}

TEST(FocusPlacing, TheCaretLandsInTheMiddleColumnAndWildPointsLeaveTheViewInside) {
    const Rect capture{10, 20, 1000, 800};
    const Rect captureClient{10, 40, 1000, 780};
    const Rect field{110, 240, 800, 30};
    ViewRecord r = recordOf(1000, 800, 2, 0, 0);
    FocusPoint caret{true, 500, 5};
    ASSERT_TRUE(placeOnFocus(r, capture, field, captureClient, caret, kPins));
    EXPECT_EQ(r.baseX, 568);
    EXPECT_EQ(r.baseY, 224);
    EXPECT_EQ((110 + 500 - capture.x - r.baseX) / 2, 16);  // middle of 32 columns

    caret.caretX = 10;  // near the field's left edge: not left of the field
    ASSERT_TRUE(placeOnFocus(r, capture, field, captureClient, caret, kPins));
    EXPECT_EQ(r.baseX, 100);

    FocusPoint outside{false, 0, 0, true, 2000, 50};
    EXPECT_FALSE(placeOnFocus(r, capture, field, captureClient, outside, kPins));
    EXPECT_EQ(r.baseX, 100);

    FocusPoint wild{true, INT_MIN, INT_MAX};
    EXPECT_FALSE(placeOnFocus(r, capture, field, captureClient, wild, kPins));
    wild.caretY = INT_MIN;  // above the window: onto its top edge
    ASSERT_TRUE(placeOnFocus(r, capture, field, captureClient, wild, kPins));
    EXPECT_EQ(r.baseX, 100);
    EXPECT_EQ(r.baseY, 0);

    // No focus window: the capture window's client origin.
    ASSERT_TRUE(placeOnFocus(r, capture, std::nullopt, captureClient, FocusPoint{}, kPins));
    EXPECT_EQ(r.baseX, 0);
    EXPECT_EQ(r.baseY, 20);

    // In overview the ViewScope origin moves, in scope cells.
    ViewRecord o = recordOf(1000, 800, 4, 0, 0);
    enterOverview(o, true, kPins);
    o.scopeCellWidth = o.scopeCellHeight = 3;
    ASSERT_TRUE(placeOnFocus(o, capture, field, captureClient, FocusPoint{false, 0, 0, true, 111, 77}, kPins));
    EXPECT_EQ(o.scopeX, 99);
    EXPECT_EQ(o.scopeY, 57);
    EXPECT_EQ(o.baseX, 0);
}

TEST(HostileRecords, CellSizesZeroOrHugeNeverDivideByZeroOrOverflow) {
    ViewRecord r = recordOf(1000, 800, 0, INT_MAX, INT_MIN);
    panX(r, 5, kPins);
    panY(r, -5, kPins);
    jump(r, 5, kPins, std::nullopt);
    centreOn(r, 10, 10, kPins);
    EXPECT_GE(r.baseX, 0);
    EXPECT_GE(r.baseY, 0);
    r.cellWidth = r.cellHeight = INT_MAX;
    EXPECT_FALSE(zoom(r, INT_MAX, ZoomAnchor::Centre, kPins));
    enterOverview(r, true, kPins);
    EXPECT_GE(r.scopeCellWidth, 1);
    const Rect v = viewRectangle(r, kPins);
    EXPECT_GT(v.width, 0);
    r.imageWidth = -5;
    fitViewToWindow(r, -1, -1, kPins);
    EXPECT_EQ(r.imageWidth, 0);
}

}  // namespace
