// Shift combinations, position strips, pen events, tone bytes, bookmarks and
// the threshold walks the condition keys start.
#include <gtest/gtest.h>

#include "client/viewer/condition_ops.h"
#include "screenviewer/keys/condition_keys.h"
#include "key_test_support.h"
#include "screenviewer/keys/bookmarks.h"
#include "screenviewer/keys/key_decode.h"
#include "screenviewer/keys/screen_image.h"
#include "screenviewer/keys/shift_chords.h"
#include "screenviewer/keys/strips_pen.h"
#include "screenviewer/keys/tones.h"

using namespace tavik::lumo;
using namespace tavik::lumo::test;

namespace {

// Feeds one broadcast and applies the page changes to the context.
void broadcast(ShiftState& st, KeyContext& c, int bits, int hold, int byte3 = 0) {
    for (const KeyAction& a : onShiftBroadcast(st, bits, hold, byte3, c)) {
        if (a.act == KeyAct::SetInfoPage) c.infoPage = a.value;
        if (a.act == KeyAct::SetCursorShape) c.cursorShape = a.value != 0;
    }
}

}  // namespace

TEST(ShiftChords, ShortShiftUpLatchesTheHistogramAndASecondOneReturns) {
    ShiftState st;
    KeyContext c = imageContext();
    broadcast(st, c, kShiftUp, 0);
    EXPECT_EQ(c.infoPage, kPageHistogram);
    broadcast(st, c, 0, 30);  // released after 0.3 s
    EXPECT_EQ(c.infoPage, kPageHistogram);
    EXPECT_EQ(st.latched, kShiftUp);
    broadcast(st, c, kShiftUp, 500);
    EXPECT_EQ(c.infoPage, kPageHistogram);
    broadcast(st, c, 0, 20);
    EXPECT_EQ(c.infoPage, kPageImage);
    EXPECT_EQ(st.latched, 0);
}

TEST(ShiftChords, LongShiftUpReturnsAtRelease) {
    ShiftState st;
    KeyContext c = imageContext();
    c.cursorShape = true;
    broadcast(st, c, kShiftUp, 0);
    EXPECT_EQ(c.infoPage, kPageHistogram);
    broadcast(st, c, kShiftUp, 0);  // repeated state: nothing
    broadcast(st, c, 0, 100);       // held exactly 1 s
    EXPECT_EQ(c.infoPage, kPageImage);
    EXPECT_FALSE(c.cursorShape);
    // The hold time is 16 bits: a value carrying byte 3 above it still counts as short.
    broadcast(st, c, kShiftUp, 0);
    broadcast(st, c, 0, (0x00 << 16) | 99);
    EXPECT_EQ(c.infoPage, kPageHistogram);
}

TEST(ShiftChords, PositionPageResetFlagAndShiftDownAlone) {
    ShiftState st;
    KeyContext c = imageContext();
    broadcast(st, c, kShiftUp, 0);
    broadcast(st, c, kShiftUp | kShiftDown, 5);
    EXPECT_EQ(c.infoPage, kPagePosition);
    broadcast(st, c, 0, 10);
    EXPECT_EQ(c.infoPage, kPagePosition);  // latched

    // ShiftUp with ShiftCenter on the histogram page marks the reset at release.
    ShiftState s2;
    KeyContext c2 = imageContext();
    broadcast(s2, c2, kShiftUp, 0);
    broadcast(s2, c2, kShiftUp | kShiftCenter, 5);
    EXPECT_TRUE(s2.resetOnRelease);
    broadcast(s2, c2, 0, 5);
    EXPECT_EQ(c2.infoPage, kPageImage);

    // ShiftDown alone never changes the page and is simply cleared.
    ShiftState s3;
    KeyContext c3 = imageContext();
    c3.infoPage = kPageHistogram;
    ActionList a = onShiftBroadcast(s3, kShiftDown, 0, 0, c3);
    EXPECT_EQ(kinds(a), std::vector{KeyAct::Publish});
    EXPECT_EQ(s3.held, kShiftDown);
    a = onShiftBroadcast(s3, 0, 300, 0, c3);
    EXPECT_EQ(kinds(a), std::vector{KeyAct::Publish});
    EXPECT_EQ(s3.held, 0);
    // A key event in the same poll (byte 3) ends a latch.
    ShiftState s4;
    KeyContext c4 = imageContext();
    broadcast(s4, c4, kShiftUp, 0);
    broadcast(s4, c4, 0, 10, 0x04);
    EXPECT_EQ(c4.infoPage, kPageImage);
    // Ignored while locked.
    c4.locked = true;
    EXPECT_TRUE(onShiftBroadcast(s4, kShiftUp, 0, 0, c4).empty());
}

TEST(PositionStrips, JumpsOfTenOrMoreAreIgnoredAndReleaseForgetsThePosition) {
    StripState st;
    KeyContext c = imageContext();
    EXPECT_EQ(stripPosition(1, 0), 47);
    EXPECT_EQ(stripPosition(1, 0xFF), 0);  // bit 7 does not count
    EXPECT_EQ(stripPosition(2, 0), 59);
    EXPECT_EQ(stripPosition(3, 127), 47);

    const uint8_t first[] = {40, 48};  // code 3 rows 15 -> 18
    ActionList a = onStripData(st, 3, first, c);
    ASSERT_EQ(kinds(a), std::vector{KeyAct::PanBy});
    EXPECT_EQ(a[0].y, -3);  // reversed outside overview
    const uint8_t jump[] = {80};  // row 30 from 18: ignored
    EXPECT_TRUE(onStripData(st, 3, jump, c).empty());
    const uint8_t release[] = {50 | 0x80};  // from row 30 (the ignored byte) to 18: ignored, then forgotten
    EXPECT_TRUE(onStripData(st, 3, release, c).empty());
    const uint8_t fresh[] = {100};  // no previous: the first byte is the start
    EXPECT_TRUE(onStripData(st, 3, fresh, c).empty());

    c.overview = true;
    const uint8_t column[] = {64, 60};  // code 2 columns 31 -> 33
    a = onStripData(st, 2, column, c);
    EXPECT_EQ(a[0].x, 2);
    c.mouseEmulation = true;
    const uint8_t more[] = {58};
    a = onStripData(st, 2, more, c);
    ASSERT_EQ(kinds(a), std::vector{KeyAct::MouseToViewPin});
    EXPECT_EQ(a[0].value, 1);
    EXPECT_EQ(a[0].x, stripPosition(2, 58));

    EXPECT_TRUE(onStripData(st, 4, more, c).empty());
    EXPECT_TRUE(onStripData(st, 1, {}, c).empty());
    c.locked = true;
    EXPECT_TRUE(onStripData(st, 2, more, c).empty());
}

TEST(PenEvents, CoordinatesAreClampedAndMappedThroughTheView) {
    KeyContext c = imageContext();
    c.baseX = 100;
    c.baseY = 50;
    c.cellWidth = c.cellHeight = 2;
    ActionList a = onPen(1, 0x85, 100, 3, c);  // bit 7: column 0; row beyond the grid: 31
    ASSERT_EQ(kinds(a), (std::vector{KeyAct::PenDrag, KeyAct::MouseRelease, KeyAct::MouseMove, KeyAct::MouseHold}));
    EXPECT_EQ(a[2].x, 100);
    EXPECT_EQ(a[2].y, 50 + 31 * 2);
    EXPECT_EQ(a[3].value, 3);
    a = onPen(2, 47, -3, 0, c);
    EXPECT_EQ(kinds(a), std::vector{KeyAct::Publish});  // no drag: only a new pass
    c.penDrag = true;
    a = onPen(2, 47, -3, 0, c);
    EXPECT_EQ(a[0].x, 100 + 47 * 2);
    EXPECT_EQ(a[0].y, 50);
    a = onPen(3, 1, 1, 0, c);
    EXPECT_EQ(kinds(a), (std::vector{KeyAct::MouseRelease, KeyAct::SaveMousePosition, KeyAct::PenDrag}));
    c.mouseEmulation = true;
    EXPECT_EQ(onPen(3, 1, 1, 0, c).size(), 2u);
    EXPECT_EQ(onPen(5, 1, 1, 6, c)[0].value, 2);  // click with the right button only
    EXPECT_TRUE(onPen(9, 1, 1, 1, c).empty());
}

TEST(Tones, SequencesBecomeDirectCommandBytes) {
    ToneCommand cmd;
    ASSERT_TRUE(toneCommand(toneSequence(Tone::ChimeA), cmd));
    EXPECT_EQ(cmd.command, 230);
    EXPECT_EQ(cmd.parameter, 4);
    ASSERT_EQ(cmd.size, 24u);
    const uint8_t first[] = {0x01, 0x4A, 0x00, 0x10, 0x00, 0x00};  // 330 Hz, 16
    EXPECT_TRUE(std::equal(std::begin(first), std::end(first), cmd.data.begin()));
    ASSERT_TRUE(toneCommand(toneSequence(Tone::LockSignal), cmd));
    EXPECT_EQ(cmd.parameter, 6);
    EXPECT_EQ(cmd.data[6 + 4], 1);  // the second entry's flag
    EXPECT_EQ(cmd.data[6 + 3], 66);
    std::vector<ToneEntry> tooLong(33, ToneEntry{440, 10, 0});
    EXPECT_FALSE(toneCommand(tooLong, cmd));
    EXPECT_EQ(cmd.size, 0u);
    EXPECT_FALSE(toneCommand({}, cmd));
}

TEST(Bookmarks, StoreAndRecallViewAndCondition) {
    uint8_t used = 0;
    BookmarkView view{};
    ConditionSlot slot;
    BinCondition cond{};
    cond.bMode = BIN_EQUAL;
    cond.bThreshfold = cond.bThreshfoldMin = cond.bThreshfoldMax = 90;
    ViewRect rect{40, 80, 4, 4};
    ViewRect out;
    BinCondition back{};
    EXPECT_FALSE(recallBookmark(used, view, slot, 64, out, back));
    storeBookmark(used, view, slot, rect, cond);
    EXPECT_EQ(used, 1);
    ASSERT_TRUE(recallBookmark(used, view, slot, 64, out, back));
    EXPECT_EQ(out, rect);
    EXPECT_EQ(back.bThreshfold, 90);
    EXPECT_EQ(back.bMode, BIN_EQUAL);
    view.cellWidth = 0;  // damaged by another process
    out = {};
    EXPECT_FALSE(recallBookmark(used, view, slot, 64, out, back));
    EXPECT_EQ(out, ViewRect{});
}

TEST(ConditionKeys, ThresholdUpAt255CollapsesTheRangeOnlyWhenThereIsOne) {
    KeyContext c = imageContext();
    c.infoPage = kPageHistogram;
    ActionList a = decodeKey(4, kKeyUp, 0, c);
    ASSERT_EQ(kinds(a), std::vector{KeyAct::Condition});

    BinCondition cond{};
    cond.bMode = BIN_EQUAL | BIN_RANGE;
    cond.fAutoThreshfold = 1;
    cond.bThreshfold = 240;
    cond.bThreshfoldMin = 200;
    cond.bThreshfoldMax = 255;
    cond.adwHistogram[10] = 5;
    cond.adwHistogram[230] = 7;
    EXPECT_EQ(applyKeyCondition(cond, a[0].cond), tavik::viewer::Outcome::Refresh);
    EXPECT_EQ(cond.bThreshfold, 255);
    EXPECT_EQ(cond.bThreshfoldMin, 255);
    EXPECT_EQ(cond.bThreshfoldMax, 255);
    EXPECT_FALSE(cond.bMode & BIN_RANGE);
    EXPECT_EQ(cond.fAutoThreshfold, 0);
    // Lower and upper both 255: nothing happens.
    const BinCondition before = cond;
    EXPECT_EQ(applyKeyCondition(cond, a[0].cond), tavik::viewer::Outcome::NoChange);
    EXPECT_EQ(cond.bThreshfoldMin, before.bThreshfoldMin);
    // From 100 the next present level up is 230.
    cond.bThreshfold = cond.bThreshfoldMin = cond.bThreshfoldMax = 100;
    applyKeyCondition(cond, a[0].cond);
    EXPECT_EQ(cond.bThreshfold, 230);
}

TEST(ScreenImage, DocumentsFolderFileNameAndViewerArguments) {
    EXPECT_EQ(documentsFolder("# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n", "/home/u"), "/home/u/Dokumente");
    EXPECT_EQ(documentsFolder("XDG_DOCUMENTS_DIR = \"/data/docs\"\r\n", "/home/u"), "/data/docs");
    EXPECT_EQ(documentsFolder("XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n", "/home/u"), "/home/u/Documents");
    EXPECT_EQ(documentsFolder("XDG_DOCUMENTS_DIR=\"$HOME/Docs\"", ""), "");
    EXPECT_EQ(windowImagePath("/home/u/Documents", false), "/home/u/Documents/WindowImage.bmp");
    EXPECT_EQ(windowImagePath("", false), "WindowImage.bmp");
    EXPECT_EQ(windowImagePath("/d/", true), "/d/" + std::string(kWindowImageNameJapanese));
    EXPECT_EQ(bitoraCommandLine("/d/WindowImage.bmp", 0, "Pinora PX-2"),
              "\"/d/WindowImage.bmp\" /Com1 \"/Hardware=Pinora PX-2\"");
    EXPECT_EQ(bitoraArguments("x.bmp", 64, "QX-64X48")[1], "/Com65");
}

TEST(ConditionKeys, CommonestLevelNeedsAHistogram) {
    BinCondition cond{};
    cond.bMode = BIN_LIGHT | BIN_DARK;
    cond.bThreshfold = cond.bThreshfoldMin = cond.bThreshfoldMax = 128;
    cond.fAutoThreshfold = 1;
    EXPECT_EQ(thresholdToCommonest(cond), tavik::viewer::Outcome::NoChange);
    EXPECT_EQ(cond.bThreshfold, 128);
    EXPECT_EQ(cond.fAutoThreshfold, 1);
    cond.adwHistogram[40] = 3;
    cond.adwHistogram[90] = 9;
    EXPECT_NE(thresholdToCommonest(cond), tavik::viewer::Outcome::NoChange);
    EXPECT_EQ(cond.bThreshfold, 90);
    EXPECT_EQ(cond.bMode & (BIN_LIGHT | BIN_EQUAL | BIN_DARK), BIN_EQUAL);
}

TEST(ConditionKeys, MovingABoundPullsTheThresholdIntoTheRangeAndLeavesTheOtherBound) {
    using tavik::viewer::ConditionOp;
    using tavik::viewer::CondOp;
    BinCondition cond{};
    cond.bMode = BIN_EQUAL | BIN_RANGE;
    cond.bThreshfoldMin = 40;
    cond.bThreshfold = 150;
    cond.bThreshfoldMax = 200;
    cond.adwHistogram[60] = 1;
    cond.adwHistogram[120] = 1;
    cond.adwHistogram[170] = 1;
    // UpperDown: 200 -> 170, then 170 -> 120 passes the threshold, which comes down with it.
    applyKeyCondition(cond, ConditionOp{CondOp::UpperDown});
    EXPECT_EQ(cond.bThreshfoldMax, 170);
    EXPECT_EQ(cond.bThreshfold, 150);
    applyKeyCondition(cond, ConditionOp{CondOp::UpperDown});
    EXPECT_EQ(cond.bThreshfoldMax, 120);
    EXPECT_EQ(cond.bThreshfold, 120);
    EXPECT_EQ(cond.bThreshfoldMin, 40);
    // LowerUp: 40 -> 60, then none below the upper 120: the lower meets it and lifts nothing more.
    cond.bThreshfold = 50;
    applyKeyCondition(cond, ConditionOp{CondOp::LowerUp});
    EXPECT_EQ(cond.bThreshfoldMin, 60);
    EXPECT_EQ(cond.bThreshfold, 60);
    EXPECT_TRUE(cond.bMode & BIN_RANGE);
    applyKeyCondition(cond, ConditionOp{CondOp::LowerUp});
    EXPECT_EQ(cond.bThreshfoldMin, 120);
    EXPECT_EQ(cond.bThreshfold, 120);
    EXPECT_EQ(cond.bThreshfoldMax, 120);
    EXPECT_FALSE(cond.bMode & BIN_RANGE);
    // The bitmap viewer's rule is unchanged: its threshold stays where it was.
    BinCondition bitmap{};
    bitmap.bThreshfoldMin = 40;
    bitmap.bThreshfold = 150;
    bitmap.bThreshfoldMax = 200;
    bitmap.adwHistogram[120] = 1;
    tavik::viewer::applyConditionOp(bitmap, ConditionOp{CondOp::UpperDown});
    EXPECT_EQ(bitmap.bThreshfoldMax, 120);
    EXPECT_EQ(bitmap.bThreshfold, 150);
}
