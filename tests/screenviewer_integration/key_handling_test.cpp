// The key handler against the viewer core on a fake desktop: device events
// change the shared record, the emulated mouse, the dialog commands and the
// tones as the tables ask; the lock lets only its chords through; bookmarks
// bring a view back; the drawing hooks follow the pages; and the view
// condition file of a saved screen image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "screenviewer/key_handling.h"
#include "screenviewer/keys/tones.h"
#include "screenviewer/save_screen_image.h"
#include "screenviewer/sections.h"
#include "tests/screenviewer/fake_desk.h"

using namespace lumo;

namespace {

struct Recorded {
    std::vector<std::array<int32_t, 4>> moves;  // window low bits, x, y, 0
    std::vector<std::array<int32_t, 4>> drags;  // x, y, buttons
    std::vector<std::array<int32_t, 3>> clicks;
    std::vector<int> commands;
    std::vector<std::pair<int, std::vector<uint8_t>>> direct;  // parameter, bytes
    std::vector<bool> saves;
    std::vector<WindowId> stateAsked;
};

class KeyHandling : public ::testing::Test {
protected:
    void make(int code, const char* model) {
        keys_.reset();  // before the viewer it hooks into
        viewer_.reset();
        share_ = std::make_unique<ViewerShare>();
        initialiseShare(*share_);
        world_.windows[100] = {{0, 0, 800, 600}, {0, 20, 800, 580}, 4100};
        world_.active = 100;
        viewer_ = std::make_unique<Viewer>(*share_, nullptr, configForCode(code, model),
                                           std::make_unique<FakeDesk>(world_), std::make_unique<FakeDesk>(world_),
                                           DeviceSink{});
        ASSERT_TRUE(viewer_->usable());
        viewer_->setScanningMode(ScanningMode::ApplicationWindow);
        viewer_->trackForeground();
        ASSERT_EQ(viewer_->current().keyWindow, 100u);
        InputPorts p;
        p.mouseMove = [this](WindowId w, int32_t x, int32_t y) { rec_.moves.push_back({int32_t(w), x, y, 0}); };
        p.mouseDrag = [this](WindowId, int32_t x, int32_t y, int b) { rec_.drags.push_back({x, y, b, 0}); };
        p.mouseClick = [this](WindowId, int32_t x, int32_t y, int b) { rec_.clicks.push_back({x, y, b}); };
        p.dialogCommand = [this](int id) {
            rec_.commands.push_back(id);
            if (id >= 275 && id <= 280) keys_->conditionCommand(id);
        };
        p.directCommand = [this](int c, int param, std::span<const uint8_t> d) {
            if (c == tavik::lumo::kToneCommand) rec_.direct.push_back({param, {d.begin(), d.end()}});
        };
        p.saveScreenImage = [this](bool whole) { rec_.saves.push_back(whole); };
        p.mouseState = [this](WindowId w) -> std::optional<tavik::lumo::PointerReading> {
            rec_.stateAsked.push_back(w);
            if (!pointer_) return std::nullopt;
            auto r = *pointer_;
            pointer_->moved = false;  // a move is reported once
            return r;
        };
        keys_ = std::make_unique<KeyHandler>(*viewer_, std::move(p), false);
    }
    void SetUp() override { make(1, "Pinora PX-2"); }  // 48 x 32, tones allowed
    ViewRecord& cur() { return viewer_->current(); }

    void TearDown() override {
        keys_.reset();
        viewer_.reset();
    }

    FakeWorld world_;
    std::unique_ptr<ViewerShare> share_;
    std::unique_ptr<Viewer> viewer_;
    std::unique_ptr<KeyHandler> keys_;
    Recorded rec_;
    std::optional<tavik::lumo::PointerReading> pointer_;  // the real pointer as gdGetMouseState gives it
};

TEST_F(KeyHandling, ArrowsPanByTheLongStepAndTheLockLetsOnlyItsChordsThrough) {
    keys_->onKey(4, 0x04, 0);  // Right: stepX = 24 pins
    keys_->onKey(4, 0x02, 0);  // Down: stepY = 16 pins
    EXPECT_EQ(cur().baseX, 24);
    EXPECT_EQ(cur().baseY, 16);

    // The lock chord without the OperationLock filter does nothing.
    keys_->onKey(4, 0x0E, 0x20);
    EXPECT_FALSE(keys_->locked());
    EXPECT_TRUE(rec_.direct.empty());
    auto f = keys_->filters();
    f.operationLock = true;
    keys_->setFilters(f);
    keys_->onKey(4, 0x0E, 0x20);
    ASSERT_TRUE(keys_->locked());
    // The lock signal: five tones and the closing entry, six bytes each.
    ASSERT_EQ(rec_.direct.size(), 1u);
    EXPECT_EQ(rec_.direct[0].first, 6);
    EXPECT_EQ(rec_.direct[0].second.size(), 36u);
    EXPECT_EQ(rec_.direct[0].second[0], 660 >> 8);
    EXPECT_EQ(rec_.direct[0].second[1], 660 & 0xFF);

    keys_->onKey(4, 0x04, 0);   // pan: ignored
    keys_->onKey(1, 5, 0);      // numbered key: ignored
    keys_->onKey(5, 0x02, 0);   // stick: ignored
    keys_->onBroadcast(0x40, 0, 0);  // ShiftUp: ignored
    keys_->onData(2, std::vector<uint8_t>{10, 12});
    EXPECT_EQ(cur().baseX, 24);
    EXPECT_EQ(cur().cellWidth, 1);
    EXPECT_EQ(keys_->infoPage(), 0);
    keys_->onKey(4, 0x0E, 0x20);  // unlock: no tone
    EXPECT_FALSE(keys_->locked());
    EXPECT_EQ(rec_.direct.size(), 1u);
    keys_->onKey(4, 0x04, 0);
    EXPECT_EQ(cur().baseX, 48);

    // The reset chord (all four arrows with ShiftCenter) unlocks as well.
    keys_->onKey(4, 0x0E, 0x20);
    ASSERT_TRUE(keys_->locked());
    keys_->onKey(4, 0x0F, 0x20);
    EXPECT_FALSE(keys_->locked());
}

TEST_F(KeyHandling, MouseEmulationMovesThePointerStopsAtTheImageEdgeAndClicksAtTheMouse) {
    keys_->onKey(4, 0x0C, 0);  // Right+Left: start at the centre of the view
    ASSERT_TRUE(keys_->emulating());
    ASSERT_FALSE(rec_.moves.empty());
    EXPECT_EQ(rec_.moves.back()[0], 100);  // relative to the target window
    const auto start = keys_->mouse();
    EXPECT_EQ(rec_.moves.back()[1], start.x);
    EXPECT_GT(start.x, 0);
    EXPECT_LT(start.x, 48);

    // End jumps the mouse to the right edge; one more step right keeps it on the last column.
    keys_->onKey(4, 0x40, 0);
    EXPECT_EQ(keys_->mouse().x, 799);
    keys_->onKey(5, 0x02, 0);  // stick right: one cell
    EXPECT_EQ(keys_->mouse().x, 799);
    EXPECT_EQ(rec_.moves.back()[1], 799);
    // The view holds the mouse.
    EXPECT_LE(cur().baseX, 799);
    EXPECT_GT(cur().baseX + 48, 799);

    // Left click at the mouse (ShiftCenter with Left).
    keys_->onKey(4, 0x08, 0x20);
    ASSERT_EQ(rec_.clicks.size(), 1u);
    EXPECT_EQ(rec_.clicks[0][0], 799);
    EXPECT_EQ(rec_.clicks[0][2], 1);

    // Stop releases every button at the mouse.
    keys_->onKey(4, 0x0C, 0x80);
    EXPECT_FALSE(keys_->emulating());
    ASSERT_FALSE(rec_.drags.empty());
    EXPECT_EQ(rec_.drags.back()[2], 0);

    // A new window in front while emulating: the mouse goes to the centre of its view.
    keys_->onKey(4, 0x0C, 0);
    ASSERT_TRUE(keys_->emulating());
    world_.windows[200] = {{50, 60, 400, 300}, {52, 90, 396, 268}, 4200};
    world_.active = 200;
    const size_t before = rec_.moves.size();
    viewer_->trackForeground();
    ASSERT_EQ(cur().keyWindow, 200u);
    ASSERT_GT(rec_.moves.size(), before);
    EXPECT_EQ(rec_.moves.back()[0], 200);
    EXPECT_EQ(rec_.moves.back()[1], 24);  // 48 x 32 pins at one pixel per pin from (0, 0)
    EXPECT_EQ(rec_.moves.back()[2], 16);
    keys_->onKey(4, 0x0C, 0x80);

    // With the filter off the emulation does not start.
    auto f = keys_->filters();
    f.mouseEmulation = false;
    keys_->setFilters(f);
    keys_->onKey(4, 0x0C, 0);
    EXPECT_FALSE(keys_->emulating());
}

TEST_F(KeyHandling, ComparisonPresetsGoThroughTheDialogAndBookmarksReturnTheView) {
    // Light only from Light and Dark: only the Dark bit changes (command 279).
    keys_->onKey(4, 0x01, 0x20);
    ASSERT_EQ(rec_.commands, std::vector<int>{279});
    EXPECT_EQ(cur().condition.bMode & (BIN_LIGHT | BIN_EQUAL | BIN_DARK), BIN_LIGHT);
    EXPECT_EQ(cur().condition.fAutoThreshfold, 0);

    // Store bookmark 0 (with chime B), move and zoom, return (chime A).
    keys_->onKey(4, 0x04, 0);
    keys_->onKey(4, 0x0B, 0x20);
    const int32_t bx = cur().baseX;
    keys_->onKey(4, 0x02, 0);
    keys_->onKey(4, 0x80, 0);  // Increase: zoom out
    ASSERT_NE(cur().cellWidth, 1);
    keys_->onKey(4, 0x07, 0x20);
    EXPECT_EQ(cur().baseX, bx);
    EXPECT_EQ(cur().baseY, 0);
    EXPECT_EQ(cur().cellWidth, 1);
    EXPECT_EQ(rec_.direct.size(), 2u);

    // Up+Right+Left saves the whole window image, the same with ShiftCenter the current view.
    keys_->onKey(4, 0x0D, 0);
    keys_->onKey(4, 0x0D, 0x20);
    EXPECT_EQ(rec_.saves, (std::vector<bool>{true, false}));
}

TEST_F(KeyHandling, ShiftUpShowsTheHistogramPageAndTextLineKeysPage) {
    make(3, "QX-64X48");
    DotPanel* panel = lumoNewPanel(64, 48);
    ASSERT_NE(panel, nullptr);
    EXPECT_FALSE(keys_->drawInfoPage(cur(), *panel));  // the image page
    keys_->onBroadcast(0x40, 0, 0);
    EXPECT_EQ(keys_->infoPage(), -1);
    EXPECT_TRUE(keys_->drawInfoPage(cur(), *panel));
    keys_->onBroadcast(0, 200, 0);  // held 2 s: back to the image at release
    EXPECT_EQ(keys_->infoPage(), 0);
    // Numbered key 10 with modifier 8: the large histogram replaces every page.
    keys_->onKey(1, 10, 8);
    EXPECT_TRUE(keys_->drawInfoPage(cur(), *panel));
    lumoFreePanel(panel);

    TextLine line{};
    keys_->buildTextLine(cur(), line);
    const TextLine first = line;
    keys_->onKey(2, 5, 0);  // next text line page
    EXPECT_EQ(keys_->textLinePage(), 1);
    keys_->buildTextLine(cur(), line);
    EXPECT_NE(line, first);
    EXPECT_EQ(line[0], first[0]);  // the mode field stays
}

TEST_F(KeyHandling, TextLinePositionPagesShowTheViewScopeRectangleInEveryOverview) {
    keys_->onKey(4, 0x04, 0);  // view at (24, 0), one pixel per pin
    viewer_->toggleOverview();  // the whole window at a larger cell; the ViewScope rectangle stays at 24
    ASSERT_TRUE(cur().overview);
    ASSERT_NE(cur().baseX, cur().scopeX);
    ASSERT_NE(cur().cellWidth, cur().scopeCellWidth);
    keys_->onKey(2, 5, 0);
    keys_->onKey(2, 5, 0);
    ASSERT_EQ(keys_->textLinePage(), 2);
    for (int page : {2, 3}) {
        TextLine framed{}, plain{};
        keys_->buildTextLine(cur(), framed);  // ViewScope on
        viewer_->toggleViewScope();
        ASSERT_FALSE(cur().viewScope);
        keys_->buildTextLine(cur(), plain);
        viewer_->toggleViewScope();
        // Only the mode letter (cell 1) tells the two apart.
        EXPECT_NE(plain[1], framed[1]);
        EXPECT_TRUE(std::equal(plain.begin() + 12, plain.end(), framed.begin() + 12)) << "page " << page;
        keys_->onKey(2, 5, 0);
    }
}

TEST_F(KeyHandling, ARecordStartedAnewForAnotherWindowForgetsTheSavedMousePosition) {
    keys_->onKey(4, 0x0C, 0);     // emulation on
    keys_->onKey(4, 0x40, 0);     // the mouse to the right edge, x 799
    keys_->onKey(4, 0x0C, 0x80);  // off: the position is saved for this record
    const int first = viewer_->currentIndex();
    // Same window: a start with the left button presses at the saved point first.
    rec_ = {};
    keys_->onKey(4, 0x08, 0xA0);
    ASSERT_FALSE(rec_.drags.empty());
    EXPECT_EQ(rec_.drags.front()[0], 799);
    EXPECT_EQ(rec_.drags.front()[2], 1);
    keys_->onKey(4, 0x0C, 0x80);
    // New windows in front until this record is taken for one of them.
    for (WindowId w = 1000; w < 1400; ++w) {
        world_.windows[w] = {{0, 0, 640, 480}, {0, 0, 640, 480}, int32_t(w)};
        world_.active = w;
        viewer_->trackForeground();
        if (viewer_->currentIndex() == first) break;
    }
    ASSERT_EQ(viewer_->currentIndex(), first);
    ASSERT_NE(cur().keyWindow, 100u);
    rec_ = {};
    keys_->onKey(4, 0x08, 0xA0);
    ASSERT_TRUE(keys_->emulating());
    for (const auto& d : rec_.drags) EXPECT_EQ(d[2], 0) << "a press at the former window's point " << d[0];
}

TEST_F(KeyHandling, StripsPanOrPlaceTheMouseAndThePenDragsTheRealMouse) {
    keys_->onKey(4, 0x04, 0);  // view at (24, 0)
    ASSERT_EQ(cur().baseX, 24);
    // Column strip: 30 then 10 move the column from ((7112 - 1680) >> 7) + 4 = 46 to 55: the view pans back 9.
    keys_->onData(2, std::vector<uint8_t>{30});
    keys_->onData(2, std::vector<uint8_t>{10});
    EXPECT_EQ(cur().baseX, 15);
    // A jump of 10 or more is ignored; a released strip (bit 7) starts again.
    keys_->onData(2, std::vector<uint8_t>{100});
    EXPECT_EQ(cur().baseX, 15);

    // Pen down at pin (5, 3) presses the left button at that screen point; up releases it.
    keys_->onPen(1, 5, 3, 1);
    ASSERT_FALSE(rec_.moves.empty());
    EXPECT_EQ(rec_.moves.back()[1], 15 + 5);
    EXPECT_EQ(rec_.moves.back()[2], 3);
    ASSERT_FALSE(rec_.drags.empty());
    EXPECT_EQ(rec_.drags.back()[2], 1);
    // Moving with the pen: the mouse follows; a coordinate beyond the grid counts as the last pin,
    // one with bit 7 set as 0.
    keys_->onPen(2, 100, 0x85, 1);
    EXPECT_EQ(rec_.moves.back()[1], 15 + 47);
    EXPECT_EQ(rec_.moves.back()[2], 0);
    keys_->onPen(3, 6, 4, 0);
    EXPECT_EQ(rec_.drags.back()[2], 0);
    EXPECT_EQ(rec_.drags.back()[0], 15 + 6);
}

int raised(const DotPanel& p) {
    int n = 0;
    for (int32_t i = 0; i < p.nSize; ++i) n += __builtin_popcount(p.lpData[i]);
    return n;
}

TEST_F(KeyHandling, TheMarkerIsTheCrossOrWithShiftDownHeldTheCentrePinAlone) {
    DotPanel* main = lumoNewPanel(48, 32);
    DotPanel* layer = lumoNewPanel(48, 32);
    ASSERT_TRUE(main && layer);
    keys_->drawOverlays(cur(), *main, *layer);
    EXPECT_EQ(raised(*main) + raised(*layer), 0);  // no emulation: no marker
    keys_->onKey(4, 0x0C, 0);
    keys_->drawOverlays(cur(), *main, *layer);
    EXPECT_EQ(raised(*main), 21);
    EXPECT_EQ(raised(*layer), 21);
    std::memset(main->lpData, 0, size_t(main->nSize));
    std::memset(layer->lpData, 0, size_t(layer->nSize));
    keys_->onBroadcast(0x80, 0, 0);  // ShiftDown held
    keys_->drawOverlays(cur(), *main, *layer);
    EXPECT_EQ(raised(*main), 1);
    EXPECT_EQ(raised(*layer), 1);
    const auto m = keys_->mouse();
    EXPECT_TRUE(layer->lpData[(m.y / 8) * layer->nStride + m.x] & (1 << (m.y % 8)));
    lumoFreePanel(main);
    lumoFreePanel(layer);
}

// The watch thread's look at the real pointer: the emulated mouse and its
// marker follow a hand on the mouse; mouse-sync centres the view on the
// pointer without emulation and keeps it in view with emulation.
TEST_F(KeyHandling, TheRealPointerMovesTheEmulatedMouseAndMouseSyncMovesTheView) {
    // Nothing is watched while emulation, pen drag and mouse-sync are off.
    pointer_ = tavik::lumo::PointerReading{true, true, {300, 200}};
    EXPECT_FALSE(keys_->followRealMouse());
    EXPECT_TRUE(rec_.stateAsked.empty());
    EXPECT_EQ(cur().baseX, 0);

    keys_->onKey(4, 0x0C, 0);  // emulation on: the mouse at the centre of the view (24, 16)
    ASSERT_EQ(keys_->mouse(), (tavik::lumo::MousePoint{24, 16}));
    pointer_ = tavik::lumo::PointerReading{true, true, {30, 20}};
    EXPECT_TRUE(keys_->followRealMouse());
    ASSERT_FALSE(rec_.stateAsked.empty());
    EXPECT_EQ(rec_.stateAsked.back(), 100u);  // relative to the target window
    EXPECT_EQ(keys_->mouse(), (tavik::lumo::MousePoint{30, 20}));
    EXPECT_EQ(cur().baseX, 0);  // mouse-sync off: the view stays
    // The marker is drawn at the new position: its centre pin on the second layer.
    DotPanel* main = lumoNewPanel(48, 32);
    DotPanel* layer = lumoNewPanel(48, 32);
    ASSERT_TRUE(main && layer);
    keys_->drawOverlays(cur(), *main, *layer);
    EXPECT_TRUE(layer->lpData[(20 / 8) * layer->nStride + 30] & (1 << (20 % 8)));
    EXPECT_FALSE(layer->lpData[(16 / 8) * layer->nStride + 24] & (1 << (16 % 8)));
    lumoFreePanel(main);
    lumoFreePanel(layer);

    // Outside the window: the emulated mouse keeps its position.
    pointer_ = tavik::lumo::PointerReading{true, false, {0, 0}};
    keys_->followRealMouse();
    EXPECT_EQ(keys_->mouse(), (tavik::lumo::MousePoint{30, 20}));

    // Mouse-sync with emulation: the view moves just enough to hold the pointer.
    viewer_->toggleMouseSync();
    pointer_ = tavik::lumo::PointerReading{true, true, {500, 40}};
    keys_->followRealMouse();
    EXPECT_EQ(keys_->mouse(), (tavik::lumo::MousePoint{500, 40}));
    EXPECT_EQ(cur().baseX, 500 - 47);  // the pointer in the last column
    EXPECT_EQ(cur().baseY, 40 - 31);
    // A reading without a move leaves the view alone.
    cur().baseX = 0;
    keys_->followRealMouse();
    EXPECT_EQ(cur().baseX, 0);

    // Mouse-sync without emulation: the view is centred on the pointer.
    keys_->onKey(4, 0x0C, 0x80);
    ASSERT_FALSE(keys_->emulating());
    pointer_ = tavik::lumo::PointerReading{true, true, {400, 300}};
    EXPECT_TRUE(keys_->followRealMouse());
    EXPECT_EQ(cur().baseX, 400 - 24);
    EXPECT_EQ(cur().baseY, 300 - 16);
    // Near the far corner the centred view is pulled back to the window's end.
    pointer_ = tavik::lumo::PointerReading{true, true, {790, 595}};
    keys_->followRealMouse();
    EXPECT_EQ(cur().baseX, 800 - 48);
    EXPECT_EQ(cur().baseY, 600 - 32);
    viewer_->toggleMouseSync();
    EXPECT_FALSE(keys_->followRealMouse());
}

TEST(ScreenImageConditions, TheWholeWindowVariantDropsTheViewAndTheStoredConditions) {
    ViewRecord r{};
    r.baseX = 40;
    r.baseY = 24;
    r.cellWidth = r.cellHeight = 3;
    r.condition.bMode = BIN_LIGHT | BIN_EQUAL;
    r.condition.fAutoThreshfold = 1;
    r.condition.bThreshfold = 90;
    r.condition.bThreshfoldMin = 80;
    r.condition.bThreshfoldMax = 100;
    std::array<tavik::lumo::ConditionSlot, 4> slots{};
    slots[1] = {1, 0, 70, 60, 75, 0, BIN_DARK};
    const auto view = viewConditionsFor(r, false, slots);
    EXPECT_EQ(view.nBaseX, 40);
    EXPECT_EQ(view.nDivY, 3);
    EXPECT_EQ(view.fAutoThreshfold, 1);
    EXPECT_EQ(view.stored[1].flag, 1);
    EXPECT_EQ(view.stored[1].bThreshfoldMax, 75);
    const std::string viewText = conditionFileText(r, false, slots);
    EXPECT_NE(viewText.find("nBaseX=40\r\n"), std::string::npos);
    EXPECT_NE(viewText.find("Condition2.bThreshfoldMax=75\r\n"), std::string::npos);

    const auto whole = viewConditionsFor(r, true, slots);
    EXPECT_EQ(whole.nBaseX, 0);
    EXPECT_EQ(whole.nDivX, 1);
    EXPECT_EQ(whole.fOverview, 0);
    EXPECT_EQ(whole.fAutoThreshfold, 0);  // the threshold lines are written
    EXPECT_EQ(whole.bThreshfoldMin, 80);
    EXPECT_EQ(whole.stored[1].flag, 0);
    const std::string wholeText = conditionFileText(r, true, slots);
    EXPECT_NE(wholeText.find("bThreshfold=90\r\n"), std::string::npos);
    EXPECT_EQ(wholeText.find("Condition"), std::string::npos);
}

}  // namespace
