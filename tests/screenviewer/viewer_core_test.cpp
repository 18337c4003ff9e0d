// The viewer core against a fake desktop: foreground tracking switches the
// record and brings back its view, focus-sync places the view on the hook's
// caret, hostile section values stay harmless, vanishing windows and a
// screen size change, the view frame; plus the device rows, braille cells and
// the hook's focus records; the refresh pass against commands on another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <vector>
#include <map>
#include <memory>
#include <thread>

#include "outside/lumohook/focus_records.h"
#include "screenviewer/braille_cells.h"
#include "screenviewer/cursor_shape.h"
#include "screenviewer/sections.h"
#include "screenviewer/viewer.h"
#include "tests/screenviewer/fake_desk.h"

using namespace lumo;

namespace {

class ViewerCore : public ::testing::Test {
protected:
    void SetUp() override {
        share_ = std::make_unique<ViewerShare>();
        initialiseShare(*share_);
        hook_ = std::make_unique<HookData>();
        world_.windows[100] = {{0, 0, 800, 600}, {0, 20, 800, 580}, 4100};
        world_.windows[200] = {{50, 60, 400, 300}, {52, 90, 396, 268}, 4200};
        viewer_ = std::make_unique<Viewer>(*share_, hook_.get(), configForCode(3, "QX-64X48"),
                                           std::make_unique<FakeDesk>(world_), std::make_unique<FakeDesk>(world_),
                                           DeviceSink{});
        ASSERT_TRUE(viewer_->usable());
        ASSERT_TRUE(viewer_->createThreads({}));  // waiting to be resumed: never run here
    }
    ViewRecord& cur() { return viewer_->current(); }

    FakeWorld world_;
    std::unique_ptr<ViewerShare> share_;
    std::unique_ptr<HookData> hook_;
    std::unique_ptr<Viewer> viewer_;
};

TEST_F(ViewerCore, SwitchingTheWindowInFrontSwitchesTheRecordAndBringsBackItsView) {
    EXPECT_EQ(share_->pinColumns, 64);
    EXPECT_EQ(share_->textCells, 32);
    EXPECT_EQ(share_->maxCellPixels, 32);
    EXPECT_EQ(share_->records[share_->desktopRecord].imageWidth, 1920);
    viewer_->setScanningMode(ScanningMode::ApplicationWindow);
    world_.active = 100;
    viewer_->trackForeground();
    EXPECT_EQ(cur().keyWindow, 100u);
    EXPECT_EQ(cur().threadId, 4100);
    EXPECT_EQ(cur().imageWidth, 800);
    EXPECT_EQ(share_->targetWindow, 100u);
    viewer_->pan(10, 4);
    EXPECT_EQ(cur().baseX, 10);
    EXPECT_EQ(cur().baseY, 4);
    ASSERT_TRUE(viewer_->zoomOut(ZoomAnchor::TopLeft));
    EXPECT_EQ(cur().cellWidth, 2);

    world_.active = 200;
    viewer_->trackForeground();
    EXPECT_EQ(cur().keyWindow, 200u);
    EXPECT_EQ(cur().baseX, 0);
    EXPECT_EQ(cur().cellWidth, 1);

    world_.active = 100;
    viewer_->trackForeground();
    EXPECT_EQ(cur().keyWindow, 100u);
    EXPECT_EQ(cur().baseX, 10);
    EXPECT_EQ(cur().cellWidth, 2);

    // A window in front that names no window (it closed) keeps the last one.
    world_.active = 999;
    viewer_->trackForeground();
    EXPECT_EQ(cur().keyWindow, 100u);
    // Full screen ignores the window in front.
    viewer_->fullScreen();
    world_.active = 200;
    viewer_->trackForeground();
    EXPECT_EQ(cur().keyWindow, 0u);
}

TEST_F(ViewerCore, FocusSyncPutsTheCaretInTheMiddleColumnAndClearsTheChangedFlag) {
    viewer_->setScanningMode(ScanningMode::FocusSync);
    world_.active = 100;
    HookThreadRecord& h = hook_->threads[5];
    h.inUse = 1;
    h.threadId = 4100;
    h.window = 100;
    h.kind = 1;
    h.caretX = 500;
    h.caretY = 100;
    h.changed = 1;
    viewer_->trackForeground();
    EXPECT_EQ(cur().baseX, 468);  // 500 - 64 / 2
    EXPECT_EQ(cur().baseY, 120);  // client top 20 + 100
    EXPECT_EQ(h.changed, 0);
    // Nothing changed: the view stays where the keys put it.
    viewer_->pan(-8, 0);
    viewer_->trackForeground();
    EXPECT_EQ(cur().baseX, 460);
    // The keys jump inside the focus window's client area in focus-sync mode.
    viewer_->jumpTo(7);
    EXPECT_EQ(cur().baseX, 0);
    EXPECT_EQ(cur().baseY, 20);
}

TEST_F(ViewerCore, ARecordStartedAnewForAnotherWindowForgetsTheFocusClientArea) {
    viewer_->setScanningMode(ScanningMode::FocusSync);
    world_.active = 100;
    HookThreadRecord& h = hook_->threads[5];
    h.inUse = 1;
    h.threadId = 4100;
    h.window = 100;
    h.kind = 1;
    h.changed = 1;
    viewer_->trackForeground();
    ASSERT_TRUE(viewer_->clientRectKnown());  // window 100's client area starts at y 20
    const int first = viewer_->currentIndex();
    for (WindowId w = 1000; w < 1400; ++w) {
        world_.windows[w] = {{0, 0, 640, 480}, {0, 0, 640, 480}, 0};
        world_.active = w;
        viewer_->trackForeground();
        if (viewer_->currentIndex() == first) break;
    }
    ASSERT_EQ(viewer_->currentIndex(), first);
    EXPECT_FALSE(viewer_->clientRectKnown());
    viewer_->jumpTo(7);  // top left of the new window, not of the former one's client area
    EXPECT_EQ(cur().baseX, 0);
    EXPECT_EQ(cur().baseY, 0);
}

TEST_F(ViewerCore, SyncTogglesPublishAndAPlaceRequestWithoutAFocusEnds) {
    viewer_->setScanningMode(ScanningMode::ApplicationWindow);
    world_.active = 100;
    viewer_->trackForeground();
    viewer_->takeHandOver();
    viewer_->toggleFocusSync();
    EXPECT_TRUE(viewer_->takeHandOver());  // the text line's mode letters follow at once
    viewer_->toggleMouseSync();
    EXPECT_TRUE(viewer_->takeHandOver());
    viewer_->trackForeground();  // no focus known for the window's thread: nothing to place on
    viewer_->pan(30, 40);
    // A focus record that did not change since must not move the view the keys placed.
    HookThreadRecord& h = hook_->threads[2];
    h.inUse = 1;
    h.threadId = 4100;
    h.window = 100;
    h.kind = 1;
    h.caretX = 500;
    h.caretY = 100;
    h.changed = 0;
    viewer_->trackForeground();
    EXPECT_EQ(cur().baseX, 30);
    EXPECT_EQ(cur().baseY, 40);
}

TEST_F(ViewerCore, HostileSectionValuesNeverIndexOutsideTheRecords) {
    viewer_->setScanningMode(ScanningMode::FocusSync);
    world_.active = 100;
    viewer_->trackForeground();
    share_->currentRecord = 9999;
    EXPECT_EQ(&cur(), &share_->records[share_->desktopRecord]);
    share_->currentRecord = -1;
    share_->desktopRecord = 70000;
    EXPECT_EQ(viewer_->currentIndex(), 0);
    viewer_->pan(3, 3);  // on record 0: no crash

    // A hook record naming no window, with wild coordinates.
    world_.active = 200;
    viewer_->trackForeground();
    HookThreadRecord& h = hook_->threads[63];
    h.inUse = 1;
    h.threadId = 4200;
    h.window = 0xdeadbeef;
    h.kind = 1;
    h.caretX = INT_MIN;
    h.caretY = INT_MAX;
    h.changed = 1;
    viewer_->trackForeground();
    EXPECT_EQ(cur().baseX, 2);  // the capture window's client origin, relative to it
    EXPECT_EQ(cur().baseY, 30);
    // Cell sizes 0 and huge written by another process.
    cur().cellWidth = 0;
    cur().cellHeight = INT_MAX;
    viewer_->pan(1, 1);
    viewer_->zoomIn(ZoomAnchor::Centre);
    viewer_->toggleOverview();
    viewer_->toggleOverview();
    EXPECT_GE(cur().baseX, 0);
}

TEST_F(ViewerCore, AScreenSizeChangePullsTheWholeScreenViewBack) {
    viewer_->fullScreen();
    viewer_->jumpTo(9);  // right end of 1920
    EXPECT_EQ(cur().baseX, 1920 - 64);
    world_.screen = {0, 0, 1280, 1024};
    viewer_->trackForeground();
    EXPECT_EQ(cur().imageWidth, 1280);
    EXPECT_EQ(cur().baseX, 1280 - 64);
}

TEST_F(ViewerCore, TheFrameSurroundsTheViewOnTheScreenAndHidesForTheRecordFlag) {
    viewer_->setFrameEnabled(true);
    viewer_->setScanningMode(ScanningMode::ApplicationWindow);
    world_.active = 200;
    viewer_->trackForeground();
    ASSERT_FALSE(world_.frames.empty());
    EXPECT_EQ(world_.frames.back(), (Rect{50, 60, 64, 48}));
    const std::size_t shown = world_.frames.size();
    viewer_->pan(0, 0);  // same rectangle: not shown again
    EXPECT_EQ(world_.frames.size(), shown);
    viewer_->pan(2, 0);
    EXPECT_EQ(world_.frames.back(), (Rect{52, 60, 64, 48}));
    cur().flags = kRecordHideFrame;
    viewer_->pan(2, 0);
    EXPECT_EQ(world_.hides, 1);
    EXPECT_EQ(share_->frameRect[2], 0);
}

TEST(DeviceRows, TheLargeRowGivesSixtyFourByFortyEightAndAThirtyTwoCellLine) {
    EXPECT_EQ(deviceRows(false).size(), 3u);
    EXPECT_EQ(deviceRows(true).size(), 4u);
    const DeviceConfig big = configForCode(3, "QX-64X48");
    EXPECT_EQ(big.pins.columns, 64);
    EXPECT_EQ(big.pins.rows, 48);
    EXPECT_EQ(big.textCells, 32);
    EXPECT_EQ(big.maxCellPixels, 32);
    for (int code : {0, 1, 2, 4}) {
        const DeviceConfig c = configForCode(code, "x");
        EXPECT_EQ(c.pins.columns, 48);
        EXPECT_EQ(c.pins.rows, 32);
        EXPECT_EQ(c.textCells, 0);
        EXPECT_EQ(c.modelCode, code == 0 ? 1 : code);  // the note-taker's row keeps its model
    }
    EXPECT_EQ(preselectedPort(64), 0);
    EXPECT_EQ(preselectedPort(7), 7);
    EXPECT_EQ(preselectedRow(3, 3), 0);
    EXPECT_EQ(preselectedRow(-1, 3), 0);
}

TEST(BrailleCells, NumbersLettersAndTheDeviceDotOrder) {
    std::array<uint8_t, 8> cells{};
    EXPECT_EQ(renderNumber(cells, 0, 0), 2u);
    EXPECT_EQ(cells[0], 0x47);
    EXPECT_EQ(cells[1], 0x23);
    cells.fill(0);
    EXPECT_EQ(renderNumber(cells, 1, -120), 6u);
    EXPECT_EQ((std::array<uint8_t, 6>{cells[1], cells[2], cells[3], cells[4], cells[5], cells[6]}),
              (std::array<uint8_t, 6>{0x42, 0x47, 0x10, 0x30, 0x23, 0}));
    EXPECT_EQ(renderNumber(cells, 6, 123456), 8u);  // never past the end
    TextLine line;
    line.fill(kEmptyCell);
    line[32] = 0;
    line[0] = letterCell('d');  // dots 1 4 5
    line[1] = 0x7F;             // every dot and bit 0x08
    line[3] = 0;
    line[4] = letterCell('a');
    const auto dev = toDeviceOrder(line);
    EXPECT_EQ(dev[0], 0x80 | 0x08 | 0x04);
    EXPECT_EQ(dev[1], 0xEF);
    EXPECT_EQ(dev[2], 0);  // empty
    EXPECT_EQ(dev[4], 0);  // after the end
}

TEST(HookRecords, OneRecordPerProcessWithTheCaretInClientPixels) {
    auto hook = std::make_unique<HookData>();
    lumohook::FocusEvent e{4100, 100, true, 600, 140, 500, 100};
    EXPECT_EQ(lumohook::recordEvent(*hook, e), 0);
    EXPECT_EQ(hook->threads[0].kind, 1);
    EXPECT_EQ(hook->threads[0].caretX, 500);
    EXPECT_EQ(hook->threads[0].hookOwned, 1);
    lumohook::FocusEvent other{4200, 0, false, 10, 20, std::nullopt, std::nullopt};
    EXPECT_EQ(lumohook::recordEvent(*hook, other), 1);
    EXPECT_EQ(hook->threads[1].screenGiven, 1);
    EXPECT_EQ(hook->threads[1].kind, 0);
    hook->threads[0].changed = 0;
    e.clientX = 7;
    EXPECT_EQ(lumohook::recordEvent(*hook, e), 0);
    EXPECT_EQ(hook->threads[0].caretX, 7);
    EXPECT_EQ(hook->threads[0].changed, 1);
}

}  // namespace

namespace {

TEST_F(ViewerCore, TheRefreshChoiceSetsHowOftenTheTimerHandsTheViewOver) {
    // The start countdown: the fifth tick starts the threads and hands the view over.
    int started = 0;
    for (int i = 0; i < 4; ++i) viewer_->onTimerTick([&] { ++started; });
    EXPECT_EQ(started, 0);
    viewer_->onTimerTick([&] { ++started; });
    EXPECT_EQ(started, 1);
    viewer_->stopThreads();  // the passes are taken here, not by the refresh thread
    EXPECT_TRUE(viewer_->takeHandOver());

    auto ticksToHandOver = [&](int choice) {
        viewer_->setRefreshChoice(choice);
        for (int tick = 1; tick <= 12; ++tick) {
            viewer_->onTimerTick({});
            if (viewer_->takeHandOver()) return tick;
        }
        return 0;
    };
    EXPECT_EQ(ticksToHandOver(0), 0);  // "None": only keys, focus or mouse
    EXPECT_EQ(ticksToHandOver(1), 1);
    EXPECT_EQ(ticksToHandOver(2), 2);
    EXPECT_EQ(ticksToHandOver(3), 5);
    EXPECT_EQ(started, 1);
    // A command hands over at once, whatever the choice.
    viewer_->setRefreshChoice(0);
    viewer_->pan(1, 0);
    EXPECT_TRUE(viewer_->takeHandOver());
}

TEST_F(ViewerCore, TheWholeScreenTakesTheWindowsViewAndConditionAtTheWindowsPlace) {
    viewer_->setScanningMode(ScanningMode::ApplicationWindow);
    world_.active = 200;
    viewer_->trackForeground();
    viewer_->pan(10, 4);
    ASSERT_TRUE(viewer_->zoomOut(ZoomAnchor::TopLeft));
    cur().condition.bThreshfold = 77;
    viewer_->wholeScreenFromWindow();
    EXPECT_EQ(viewer_->scanningMode(), ScanningMode::FullScreen);
    EXPECT_EQ(cur().keyWindow, 0u);
    EXPECT_EQ(viewer_->currentIndex(), share_->desktopRecord);
    EXPECT_EQ(cur().baseX, 60);  // 10 + the window's left 50
    EXPECT_EQ(cur().baseY, 64);  // 4 + its top 60
    EXPECT_EQ(cur().cellWidth, 2);
    EXPECT_EQ(cur().condition.bThreshfold, 77);
    EXPECT_EQ(cur().overview, 0);
    // From the whole screen there is nothing to take.
    viewer_->pan(1, 0);
    viewer_->wholeScreenFromWindow();
    EXPECT_EQ(cur().baseX, 62);  // one pin of two pixels
}

TEST_F(ViewerCore, ACaptureWindowThatClosedFallsBackToTheLastForegroundWindow) {
    viewer_->setScanningMode(ScanningMode::ApplicationWindow);
    world_.active = 100;
    viewer_->trackForeground();
    viewer_->publishView();
    ASSERT_TRUE(viewer_->takeHandOver());
    // Another process pointed the record at a window that is gone.
    cur().captureWindow = 300;
    share_->targetWindow = 300;
    viewer_->refreshView(false);
    EXPECT_EQ(share_->targetWindow, 100u);
    EXPECT_EQ(cur().captureWindow, 100u);
    // When the last foreground window is gone as well, the pass stops and changes nothing.
    world_.windows.erase(100);
    share_->targetWindow = 100;
    viewer_->refreshView(false);
    EXPECT_EQ(share_->targetWindow, 100u);
    EXPECT_EQ(viewer_->stats().captures.load(), 0u);
}

}  // namespace

namespace {

// A 20 x 12 pointer picture: transparent, a white 6 x 4 block at (3, 2), a
// grey 2 x 2 block at (12, 7), and a row of transparent pixels whose colour
// bits are set (a source that did not premultiply) that must stay black.
CursorPicture testCursor(uint64_t serial) {
    CursorPicture c{20, 12, serial, std::vector<uint32_t>(20 * 12, 0)};
    auto at = [&](int x, int y) -> uint32_t& { return c.argb[size_t(y * 20 + x)]; };
    for (int y = 2; y < 6; ++y)
        for (int x = 3; x < 9; ++x) at(x, y) = 0xFFFFFFFF;
    for (int y = 7; y < 9; ++y)
        for (int x = 12; x < 14; ++x) at(x, y) = 0xFF808080;
    for (int x = 0; x < 20; ++x) at(x, 10) = 0x00FFFFFF;
    return c;
}

bool pin(const uint8_t* plane, int columns, int x, int y) { return plane[(y / 8) * columns + x] & (1 << (y % 8)); }

// The pins of testCursor at one pixel per pin from the panel's top-left corner.
void expectCursorPins(const uint8_t* plane, int columns, int rows) {
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x) {
            const bool white = x >= 3 && x < 9 && y >= 2 && y < 6;
            const bool grey = x >= 12 && x < 14 && y >= 7 && y < 9;
            ASSERT_EQ(pin(plane, columns, x, y), white || grey) << x << "," << y;
        }
}

}  // namespace

TEST(CursorShape, ThePictureLiesOnePixelPerPinFromTheTopLeftCornerOverBlack) {
    BinCondition cond{};
    cond.bMode = BIN_LIGHT | BIN_DARK;
    cond.fAutoThreshfold = 1;
    cond.bThreshfold = cond.bThreshfoldMin = cond.bThreshfoldMax = 128;
    ScanContext ctx{};
    ASSERT_TRUE(scanCursorPicture(testCursor(1), cond, ctx));
    ASSERT_NE(ctx.dib.hDib, nullptr);
    EXPECT_EQ(cond.dwPixelCount, 240u);
    EXPECT_EQ(cond.adwHistogram[0], 212u);  // the transparent pixels, the junk row among them
    EXPECT_EQ(cond.adwHistogram[255], 24u);
    DotPanel* panel = lumoNewPanel(48, 32);
    ASSERT_NE(panel, nullptr);
    std::memset(panel->lpData, 0xFF, size_t(panel->nSize));
    lumoSetPanel(&ctx, panel);
    expectCursorPins(panel->lpData, panel->nStride, 32);
    lumoFreePanel(panel);
    lumoCloseDib(&ctx.dib);

    // Pictures that cannot be right open nothing.
    CursorPicture bad = testCursor(1);
    bad.argb.pop_back();
    EXPECT_FALSE(scanCursorPicture(bad, cond, ctx));
    EXPECT_EQ(ctx.dib.hDib, nullptr);
    bad = testCursor(1);
    bad.width = 0;
    EXPECT_FALSE(scanCursorPicture(bad, cond, ctx));
    EXPECT_EQ(ctx.dib.hDib, nullptr);
    bad = CursorPicture{kMaxCursorSide + 1, 1, 1, std::vector<uint32_t>(size_t(kMaxCursorSide) + 1, 0xFFFFFFFF)};
    EXPECT_FALSE(scanCursorPicture(bad, cond, ctx));
    EXPECT_EQ(ctx.dib.hDib, nullptr);
}

TEST_F(ViewerCore, TheCursorShapeViewSendsThePointerPictureAndSkipsAnUnchangedOne) {
    std::vector<uint8_t> plane;
    viewer_.reset();
    share_ = std::make_unique<ViewerShare>();
    initialiseShare(*share_);
    viewer_ = std::make_unique<Viewer>(*share_, hook_.get(), configForCode(3, "QX-64X48"),
                                       std::make_unique<FakeDesk>(world_), std::make_unique<FakeDesk>(world_),
                                       DeviceSink{[&](const uint8_t* p1, const uint8_t*, int) {
                                                      if (p1) plane.assign(p1, p1 + 64 * 6);
                                                      return 1;
                                                  },
                                                  nullptr});
    ASSERT_TRUE(viewer_->createThreads({}));
    const auto& st = viewer_->stats();
    auto pass = [&](bool periodic) {
        viewer_->publishView(periodic);
        ASSERT_TRUE(viewer_->takeHandOver());
        viewer_->refreshView(false);
    };
    world_.cursor = testCursor(7);
    viewer_->setCursorShapeView(true);
    pass(false);
    ASSERT_EQ(plane.size(), 64u * 6);
    expectCursorPins(plane.data(), 64, 48);
    // The pre-scan's results reach the record as in the screen view.
    EXPECT_EQ(cur().condition.adwHistogram[255], 24u);

    // The same picture on a periodic pass: nothing to capture; a new one is captured.
    const auto captures = st.captures.load();
    pass(true);
    EXPECT_EQ(st.captures.load(), captures);
    world_.cursor->serial = 8;
    for (int x = 3; x < 9; ++x) world_.cursor->argb[size_t(2 * 20 + x)] = 0;  // the block's top row goes
    pass(true);
    EXPECT_EQ(st.captures.load(), captures + 1);
    EXPECT_FALSE(pin(plane.data(), 64, 3, 2));
    EXPECT_TRUE(pin(plane.data(), 64, 3, 3));
    // No picture (no display, no extension): the pass shows nothing new.
    world_.cursor.reset();
    pass(false);
    EXPECT_EQ(st.captures.load(), captures + 1);
}

namespace {

// The refresh pass runs on its own thread while the keys change the record: every
// record it shows is one whole view as a command left it, and its automatic
// thresholds never overwrite a fixed threshold a key set after the hand-over.
TEST_F(ViewerCore, TheRefreshPassShowsOnlyWholeViewsWhileTheKeysChangeThem) {
    world_.cursor = testCursor(1);  // the cursor-shape view needs no X server
    viewer_->setCursorShapeView(true);
    std::atomic<int> torn{0}, shown{0};
    viewer_->buildTextLine = [&](const ViewRecord& r, TextLine&) {
        // Zooms change both cells and pans both bases: a view that is half written, or
        // written while it is read (the yield gives the keys time to), mixes them.
        const int32_t cellWidth = r.cellWidth, baseX = r.baseX;
        std::this_thread::yield();
        if (cellWidth != r.cellHeight || baseX != r.baseY) ++torn;
        ++shown;
    };
    std::atomic<bool> done{false};
    std::thread keys([&] {
        while (shown.load() < 100) {
            viewer_->zoomOut(ZoomAnchor::TopLeft);
            viewer_->pan(1, 1);
            viewer_->pan(-1, -1);
            viewer_->zoomIn(ZoomAnchor::TopLeft);
        }
        done = true;
    });
    for (;;) {
        const bool finished = done.load();
        if (viewer_->takeHandOver()) viewer_->refreshView(true);
        else if (finished) break;
        else std::this_thread::yield();
    }
    keys.join();
    EXPECT_GT(shown.load(), 0);
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(cur().cellWidth, 1);
    EXPECT_EQ(cur().baseX, 0);

    // A key fixes the threshold between the hand-over and the pass.
    cur().condition.fAutoThreshfold = 1;
    viewer_->publishView();
    ASSERT_TRUE(viewer_->takeHandOver());
    cur().condition.fAutoThreshfold = 0;
    cur().condition.bThreshfold = 77;
    cur().condition.adwHistogram[255] = 0;
    viewer_->refreshView(true);
    EXPECT_EQ(cur().condition.bThreshfold, 77);
    EXPECT_EQ(cur().condition.fAutoThreshfold, 0);
    EXPECT_EQ(cur().condition.adwHistogram[255], 24u);  // the pass's histogram still arrives
}

}  // namespace
