// Mouse emulation arithmetic: steps at the image's edges, jumps, zoom at the
// mouse and its limits, strip positions and the marker on the panels.
#include <gtest/gtest.h>

#include <array>

#include "screenviewer/keys/mouse_emulation.h"

using namespace tavik::lumo;

namespace {

ViewGrid grid(int w, int h, int cols = 48, int rows = 32) { return ViewGrid{cols, rows, w, h}; }

}  // namespace

TEST(MouseStep, RightEdgeKeepsTheMouseOnTheLastPixelColumn) {
    const ViewGrid g = grid(100, 80);
    ViewRect v{52, 0, 1, 1};  // the view ends at the image's right edge
    MousePoint p{99, 10};
    mouseStep(v, g, p, 6, MoveKind::OneCellScrolling, 24, 16);
    EXPECT_EQ(p.x, 99);
    EXPECT_EQ(v.baseX, 52);
    mouseStep(v, g, p, 6, MoveKind::LongScrolling, 24, 16);
    EXPECT_EQ(p.x, 99);
    EXPECT_EQ(v.baseX, 52);
    // With 3-pixel cells the mouse stays on the last cell's start and inside the view.
    ViewRect v3{0, 0, 3, 3};
    MousePoint q{95, 0};
    mouseStep(v3, g, q, 6, MoveKind::OneCell, 24, 16);
    EXPECT_EQ(q.x, 96);  // 98 clamped to 99, aligned down to the cell
    mouseStep(v3, g, q, 6, MoveKind::OneCell, 24, 16);
    EXPECT_EQ(q.x, 99);
    EXPECT_EQ(v3.baseX, lastAlignedStart(100, 48, 3));
    EXPECT_LT(q.x, v3.baseX + 48 * 3);
}

TEST(MouseStep, LeftAndUpStopAtZeroAndTheViewFollows) {
    const ViewGrid g = grid(1000, 800);
    ViewRect v{200, 100, 2, 2};
    MousePoint p{202, 101};
    mouseStep(v, g, p, 7, MoveKind::OneCell, 24, 16);  // up-left one cell
    EXPECT_EQ(p, (MousePoint{200, 98}));  // aligned to 2-pixel cells
    EXPECT_EQ(v.baseX, 200);
    EXPECT_EQ(v.baseY, 98);  // the view moved just enough
    // A long scrolling step moves view and mouse by 24 cells.
    mouseStep(v, g, p, 4, MoveKind::LongScrolling, 24, 16);
    EXPECT_EQ(p.x, 152);
    EXPECT_EQ(v.baseX, 152);
    // Far beyond the left edge: both stop at 0.
    ViewRect w{0, 0, 2, 2};
    MousePoint q{3, 3};
    mouseStep(w, g, q, 4, MoveKind::LongScrolling, 24, 16);
    EXPECT_EQ(q.x, 0);
    EXPECT_EQ(w.baseX, 0);
}

TEST(MouseJump, KeypadPositionsAndTheCentredView) {
    const ViewGrid g = grid(1000, 800);
    ViewRect v{0, 0, 1, 1};
    MousePoint p{500, 400};
    mouseJump(v, g, p, 3);  // bottom right
    EXPECT_EQ(p, (MousePoint{999, 799}));
    EXPECT_EQ(v.baseX, 1000 - 48);
    EXPECT_EQ(v.baseY, 800 - 32);
    mouseJump(v, g, p, 8);  // top, x unchanged
    EXPECT_EQ(p, (MousePoint{999, 0}));
    EXPECT_EQ(v.baseY, 0);
    mouseJump(v, g, p, 5);
    EXPECT_EQ(p, (MousePoint{500, 400}));
    EXPECT_EQ(v.baseX, 500 - 24);
    EXPECT_EQ(v.baseY, 400 - 16);
}

TEST(Zoom, LimitsOutsideAndInsideOverview) {
    const ViewGrid g = grid(100, 64);
    // Outside overview: refused only when both directions reach twice the image.
    EXPECT_FALSE(zoomRefused(g, 4, false));  // 192 >= 200? no
    EXPECT_TRUE(zoomRefused(g, 5, false));   // 240 >= 200 and 160 >= 128
    EXPECT_FALSE(zoomRefused(grid(100, 400), 5, false));
    // In overview the ViewScope rectangle may not exceed the image in both.
    EXPECT_FALSE(zoomRefused(g, 2, true));   // 96 <= 100
    EXPECT_TRUE(zoomRefused(g, 3, true));    // 144 > 100 and 96 > 64
    EXPECT_TRUE(zoomRefused(g, 0, false));

    ViewRect v{0, 0, 4, 4};
    EXPECT_FALSE(zoomView(v, g, 8, ZoomAnchor::Centre, {}, false));
    EXPECT_EQ(v.cellWidth, 4);
    // ZoomAtMouse: no halving below 1, no doubling at maxCellPixels, nothing in overview.
    ViewRect one{0, 0, 1, 1};
    EXPECT_FALSE(zoomAtMouse(one, grid(5000, 5000), {10, 10}, false, 64, false));
    ViewRect max{0, 0, 64, 64};
    EXPECT_FALSE(zoomAtMouse(max, grid(5000, 5000), {10, 10}, true, 64, false));
    ViewRect two{0, 0, 2, 2};
    EXPECT_FALSE(zoomAtMouse(two, grid(5000, 5000), {10, 10}, false, 64, true));
    EXPECT_TRUE(zoomAtMouse(two, grid(5000, 5000), {10, 10}, false, 64, false));
    EXPECT_EQ(two.cellWidth, 1);
}

TEST(Zoom, AnchorsKeepTheirPartOfTheView) {
    const ViewGrid g = grid(1000, 800);
    // Centre: old centre 200 + 48 * 4 / 2 = 296 stays the centre with cells of 2.
    ViewRect v{200, 160, 4, 4};
    ASSERT_TRUE(zoomView(v, g, 2, ZoomAnchor::Centre, {}, false));
    EXPECT_EQ(v.baseX, 2 * ((2 + 296 - 48 - 1) / 2));
    EXPECT_EQ(v.baseX + 24 * 2, 296);
    // Right: the view's right end stays.
    ViewRect r{200, 160, 4, 4};
    ASSERT_TRUE(zoomView(r, g, 2, ZoomAnchor::Right, {}, false));
    EXPECT_EQ(r.baseX + 48 * 2, 200 + 48 * 4);
    EXPECT_EQ(r.baseY, 160);
    // Mouse: the pin column under the point stays under it.
    ViewRect m{0, 0, 4, 4};
    ASSERT_TRUE(zoomView(m, g, 8, ZoomAnchor::Mouse, {100, 60}, false));
    EXPECT_EQ(m.baseX, 0);  // column 25 under x 100 would need a base below 0
    EXPECT_EQ(m.cellHeight, 8);
    ViewRect m2{400, 320, 2, 2};
    ASSERT_TRUE(zoomView(m2, g, 4, ZoomAnchor::Mouse, {441, 331}, false));
    EXPECT_EQ(m2.baseX, 4 * ((441 + (1 - 20) * 4 - 1) / 4));  // column 20 under x 441
    EXPECT_EQ((441 - m2.baseX) / 4, 19);
}

TEST(MouseToViewPin, StripPositionsAreClampedToTheImage) {
    const ViewGrid g = grid(60, 40, 48, 32);
    ViewRect v{12, 8, 1, 1};
    MousePoint p{20, 20};
    mouseToViewPin(v, g, p, 1, 47);  // 12 + 47 = 59
    EXPECT_EQ(p.x, 59);
    mouseToViewPin(v, g, p, 0, 47);  // 8 + 47 = 55 -> 39, the view holds it
    EXPECT_EQ(p.y, 39);
    EXPECT_LE(v.baseY, 39);
    EXPECT_GT(v.baseY + 32, 39);
}

TEST(Marker, CrossOnBothPanelsAndTheAlternativeCentre) {
    constexpr int W = 32, H = 24;
    std::array<uint8_t, W * 3> mainBytes{}, secondBytes{};
    mainBytes.fill(0x00);
    PinCanvas main(mainBytes, W, H, W), second(secondBytes, W, H, W);
    main.raise(10, 10);  // a raised image pin off the cross stays
    const ViewRect shown{100, 200, 2, 2};
    drawMarker(main, second, shown, {100 + 2 * 12 + 1, 200 + 2 * 8}, false);  // pin (12, 8)
    int raised = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) raised += main.raised(x, y);
    EXPECT_EQ(raised, 21 + 1);
    for (int i = -5; i <= 5; ++i) {
        EXPECT_TRUE(main.raised(12 + i, 8));
        EXPECT_TRUE(main.raised(12, 8 + i));
        EXPECT_TRUE(second.raised(12 + i, 8));
    }
    EXPECT_FALSE(main.raised(18, 8));  // the ends are excluded
    EXPECT_FALSE(main.raised(12, 14));
    EXPECT_TRUE(main.raised(10, 10));
    EXPECT_FALSE(second.raised(10, 10));

    std::array<uint8_t, W * 3> alt{}, altSecond{};
    PinCanvas a(alt, W, H, W), b(altSecond, W, H, W);
    drawMarker(a, b, shown, {100, 200}, true);  // pin (0, 0): clipped at the corner
    EXPECT_TRUE(a.raised(0, 0));
    EXPECT_FALSE(a.raised(1, 0));
    EXPECT_TRUE(b.raised(0, 0));
    // A mouse left of the view draws nothing.
    std::array<uint8_t, W * 3> none{};
    PinCanvas n(none, W, H, W);
    drawMarker(n, n, shown, {90, 210}, false);
    for (uint8_t byte : none) EXPECT_EQ(byte, 0);
}

TEST(Emulation, StartWithButtonsDragsFromTheSavedPositionAndStopSavesIt) {
    const ViewGrid g = grid(1000, 800);
    const ViewRect v{100, 60, 2, 2};
    Emulation e;
    SavedMouse saved{true, {7, 9}};
    MouseOps ops = startEmulation(e, saved, false, 2, v, g);
    ASSERT_EQ(ops.count, 3u);
    EXPECT_EQ(ops.ops[0].kind, MouseOp::Kind::Move);
    EXPECT_EQ(ops.ops[0].at, (MousePoint{7, 9}));
    EXPECT_EQ(ops.ops[1].kind, MouseOp::Kind::Press);
    EXPECT_EQ(ops.ops[1].buttons, 2);
    EXPECT_EQ(ops.ops[2].at, (MousePoint{100 + 48, 60 + 32}));  // the view's centre
    EXPECT_TRUE(e.on && e.known);
    // Already on: only the move to the centre.
    EXPECT_EQ(startEmulation(e, saved, false, 2, v, g).count, 1u);
    e.mouse = {300, 200};
    ops = stopEmulation(e, saved);
    ASSERT_EQ(ops.count, 1u);
    EXPECT_EQ(ops.ops[0].kind, MouseOp::Kind::Release);
    EXPECT_EQ(saved.at, (MousePoint{300, 200}));
    EXPECT_FALSE(e.on || e.known);
    EXPECT_EQ(stopEmulation(e, saved).count, 0u);
    // A pen drag keeps emulation off.
    EXPECT_EQ(startEmulation(e, saved, true, 0, v, g).count, 0u);
    EXPECT_FALSE(e.on);
}

// What one look at the real pointer does, by mode.
TEST(FollowPointer, ModesDecideWhetherTheMouseAndTheViewFollow) {
    const PointerReading movedIn{true, true, {70, 40}};
    const MousePoint mouse{10, 10};
    // Nothing on: not even a position.
    auto f = followPointer(movedIn, false, false, false, mouse);
    EXPECT_FALSE(f.takePosition || f.publish || f.view != FollowView::Stay);
    // Emulation alone: the mouse follows, the view stays.
    f = followPointer(movedIn, true, false, false, mouse);
    EXPECT_TRUE(f.takePosition && f.publish);
    EXPECT_EQ(f.view, FollowView::Stay);
    // Mouse-sync keeps the view on the pointer: contained while emulating, centred otherwise (a pen drag too).
    EXPECT_EQ(followPointer(movedIn, true, false, true, mouse).view, FollowView::Contain);
    EXPECT_EQ(followPointer(movedIn, false, false, true, mouse).view, FollowView::CentreOn);
    EXPECT_EQ(followPointer(movedIn, false, true, true, mouse).view, FollowView::CentreOn);
    // Outside the window: no position, no view change, but the move is published.
    f = followPointer({true, false, {0, 0}}, true, false, true, mouse);
    EXPECT_FALSE(f.takePosition);
    EXPECT_EQ(f.view, FollowView::Stay);
    EXPECT_TRUE(f.publish);
    // No move seen here: the view stays; the mouse takes a position it left (another process saw the move).
    f = followPointer({false, true, {70, 40}}, true, false, true, mouse);
    EXPECT_TRUE(f.takePosition && f.publish);
    EXPECT_EQ(f.view, FollowView::Stay);
    f = followPointer({false, true, {10, 10}}, true, false, true, mouse);
    EXPECT_FALSE(f.publish);
}
