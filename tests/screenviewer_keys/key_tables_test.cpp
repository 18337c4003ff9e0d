// Key tables: which actions a key event gives under the filters, the lock,
// the pages, emulation and the model.
#include <gtest/gtest.h>

#include "key_test_support.h"
#include "screenviewer/keys/key_decode.h"

using namespace tavik::lumo;
using namespace tavik::lumo::test;
using tavik::viewer::CondOp;
using tavik::viewer::Walk;

TEST(KeyTables, ShiftUpReachesTheConditionTableAndShiftDownMakesItFast) {
    KeyContext c = imageContext();
    ActionList a = decodeKey(4, kKeyUp, 0, c);
    ASSERT_EQ(kinds(a), std::vector{KeyAct::PanBy});
    EXPECT_EQ(a[0].y, -16);
    EXPECT_TRUE(a[0].longStep);

    a = decodeKey(4, kKeyUp, kShiftUp, c);
    ASSERT_EQ(kinds(a), std::vector{KeyAct::Condition});
    EXPECT_EQ(a[0].cond.op, CondOp::ThresholdUp);
    EXPECT_EQ(a[0].cond.walk, Walk::Plain);

    c.infoPage = kPageHistogram;
    a = decodeKey(4, kKeyUp, kShiftDown, c);  // 0x8001
    ASSERT_EQ(kinds(a), std::vector{KeyAct::Condition});
    EXPECT_EQ(a[0].cond.walk, Walk::Jump);

    // ShiftUp with ShiftDown is not the condition table on the image page.
    c.infoPage = kPageImage;
    EXPECT_TRUE(decodeKey(4, kKeyUp, kShiftUp | kShiftDown, c).empty());
    // On the histogram page a code table C lacks goes to table N: 0x200F is the reset.
    c.infoPage = kPageHistogram;
    a = decodeKey(4, 0x0F, kShiftCenter, c);
    EXPECT_NE(find(a, KeyAct::LeaveOverview), nullptr);
    EXPECT_NE(find(a, KeyAct::SetLock), nullptr);
}

TEST(KeyTables, KeysWhoseFilterIsOffDoNothingAndDoNotFallThrough) {
    KeyContext c = imageContext();
    c.infoPage = kPageHistogram;
    c.filters.manualThreshold = false;
    c.filters.thresholdRange = false;
    c.filters.colorMask = false;
    c.filters.conditionMemory = false;
    c.filters.mouseEmulation = false;
    c.filters.operationLock = false;
    c.conditionFilled = {true, true, true, true};
    // Up would pan in table N; filtered off in C it must do nothing at all.
    EXPECT_TRUE(decodeKey(4, kKeyUp, 0, c).empty());
    EXPECT_TRUE(decodeKey(4, kKeyUp | kKeyRight, 0, c).empty());   // UpperUp
    EXPECT_TRUE(decodeKey(4, 0x08, kShiftDown, c).empty());         // red filter
    EXPECT_TRUE(decodeKey(4, 0x05, kShiftDown | kShiftCenter, c).empty());  // store Condition1
    EXPECT_TRUE(decodeKey(4, 0x05, kShiftCenter, c).empty());       // recall Condition1
    EXPECT_TRUE(decodeKey(4, 0x0E, kShiftCenter, c).empty());       // lock chord
    c.infoPage = kPageImage;
    EXPECT_TRUE(decodeKey(4, kKeyRight | kKeyLeft, 0, c).empty());  // StartEmulation
    EXPECT_TRUE(decodeKey(1, 1, 6, c).empty());                     // F6 1 StartEmulation
    // Unfiltered entries still act: Up+Down is AutoOn through command 280.
    c.fAutoThreshfold = false;
    EXPECT_EQ(commands(decodeKey(4, kKeyUp | kKeyDown, kShiftUp, c)), std::vector{280});

    c.filters = FunctionFilters{};
    c.filters.colorMask = true;
    c.filters.conditionMemory = true;
    c.infoPage = kPageHistogram;
    ActionList a = decodeKey(4, 0x08, kShiftDown, c);
    ASSERT_EQ(kinds(a), std::vector{KeyAct::Condition});
    EXPECT_EQ(a[0].cond.op, CondOp::SetColour);
    EXPECT_EQ(a[0].cond.value, BIN_RED);
    a = decodeKey(4, 0x09, kShiftDown | kShiftCenter, c);  // store into Condition4, chime B
    ASSERT_EQ(kinds(a), (std::vector{KeyAct::ConditionStore, KeyAct::PlayTone}));
    EXPECT_EQ(a[0].value, 3);
    EXPECT_EQ(a[1].tone, Tone::ChimeB);
}

TEST(KeyTables, TheLockLetsOnlyItsTwoChordsThrough) {
    KeyContext c = imageContext();
    c.filters.operationLock = true;
    // Locking plays the lock signal on a 48 x 32 display.
    ActionList a = decodeKey(4, 0x0E, kShiftCenter, c);
    ASSERT_EQ(kinds(a), (std::vector{KeyAct::SetLock, KeyAct::PlayTone}));
    EXPECT_EQ(a[0].value, 1);
    EXPECT_EQ(a[1].tone, Tone::LockSignal);

    c.locked = true;
    EXPECT_TRUE(decodeKey(4, kKeyUp, 0, c).empty());
    EXPECT_TRUE(decodeKey(4, 0x0C, kShiftCenter, c).empty());  // not Down+Right+Left
    EXPECT_TRUE(decodeKey(4, 0x0E, kShiftCenter | kShiftUp, c).empty());
    EXPECT_TRUE(decodeKey(5, kStickRight, 0, c).empty());
    EXPECT_TRUE(decodeKey(1, 2, 0, c).empty());
    EXPECT_TRUE(decodeKey(1, 9, 4, c).empty());  // the F4 reset needs the chord while locked
    EXPECT_TRUE(decodeKey(2, 5, 0, c).empty());
    EXPECT_TRUE(decodeNoteTakerKey(3, 1, 0, c).empty());

    a = decodeKey(4, 0x0E, kShiftCenter, c);  // unlock: no signal
    ASSERT_EQ(kinds(a), std::vector{KeyAct::SetLock});
    EXPECT_EQ(a[0].value, 0);
    a = decodeKey(4, 0x0F, kShiftCenter, c);  // the reset unlocks too
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a[0].act, KeyAct::SetLock);
    EXPECT_EQ(a[0].value, 0);

    // With the filter off the chord cannot lock; no tone on the 64 x 48 model.
    c.locked = false;
    c.filters.operationLock = false;
    EXPECT_TRUE(decodeKey(4, 0x0E, kShiftCenter, c).empty());
    c.filters.operationLock = true;
    c.modelCode = kModel64;
    EXPECT_EQ(kinds(decodeKey(4, 0x0E, kShiftCenter, c)), std::vector{KeyAct::SetLock});
}

TEST(KeyTables, ResetRestoresEveryModeItNames) {
    KeyContext c = imageContext();
    c.scanningMode = 2;
    c.mouseSync = true;
    c.mouseEmulation = true;
    c.fAutoThreshfold = false;
    ActionList a = decodeKey(1, 9, 4, c);
    EXPECT_EQ(commands(a), (std::vector{265, 257, 280, 270}));
    const KeyAction* zoom = find(a, KeyAct::ZoomTo);
    ASSERT_NE(zoom, nullptr);
    EXPECT_EQ(zoom->value, 1);
    EXPECT_EQ(zoom->anchor, ZoomAnchor::Mouse);
    EXPECT_NE(find(a, KeyAct::StopEmulation), nullptr);
    // Zoom at the mouse comes before emulation stops.
    EXPECT_LT(zoom - a.begin(), find(a, KeyAct::StopEmulation) - a.begin());
    // Nothing to switch off: only the unconditional steps and 270.
    c.scanningMode = 1;
    c.mouseSync = false;
    c.mouseEmulation = false;
    c.fAutoThreshfold = true;
    EXPECT_EQ(commands(decodeKey(1, 9, 4, c)), std::vector{270});
}

TEST(KeyTables, ComparisonPresetsSendOnlyTheTogglesThatChangeABit) {
    KeyContext c = imageContext();
    c.bMode = BIN_LIGHT | BIN_DARK;
    EXPECT_EQ(commands(decodeKey(4, 0x03, kShiftCenter | kShiftDown, c)), (std::vector{277, 278, 279}));  // Equal only
    EXPECT_TRUE(commands(decodeKey(4, 0x03, kShiftCenter, c)).empty());  // already Light and Dark
    EXPECT_EQ(commands(decodeKey(1, 12, 6, c)), (std::vector{278, 279}));  // F6 12 Light and Equal
}

TEST(KeyTables, DiagonalStickDirectionsNeedEightDirections) {
    KeyContext c = imageContext();
    EXPECT_TRUE(decodeKey(5, kStickDown | kStickRight, 0, c).empty());
    ActionList a = decodeKey(5, kStickRight, 0, c);
    ASSERT_EQ(kinds(a), std::vector{KeyAct::PanBy});
    EXPECT_EQ(a[0].x, 1);
    EXPECT_FALSE(a[0].longStep);

    c.filters.eightDirections = true;
    a = decodeKey(5, kStickUp | kStickLeft, 0, c);
    ASSERT_EQ(kinds(a), std::vector{KeyAct::PanBy});
    EXPECT_EQ(a[0].x, -1);
    EXPECT_EQ(a[0].y, -1);

    c.mouseEmulation = true;
    a = decodeKey(5, kStickUp | kStickRight, kShiftDown, c);
    ASSERT_EQ(kinds(a), std::vector{KeyAct::MouseStep});
    EXPECT_EQ(a[0].value, 9);
    EXPECT_EQ(a[0].kind, MoveKind::OneCellScrolling);
    a = decodeKey(5, kStickDown | kStickLeft, 0, c);
    EXPECT_EQ(a[0].value, 1);
    EXPECT_EQ(a[0].kind, MoveKind::OneCell);
    EXPECT_TRUE(decodeKey(5, kStickRight, kShiftUp, c).empty());  // other shifts: no entry
}

TEST(KeyTables, ZoomKeysStopAtTheirLimits) {
    KeyContext c = imageContext();
    c.maxCellPixels = 64;
    c.cellWidth = c.cellHeight = 1;
    EXPECT_TRUE(decodeKey(4, kKeyDecrease, 0, c).empty());      // halving below 1
    EXPECT_TRUE(decodeKey(1, 5, 0, c).empty());                 // F0 5 in
    EXPECT_TRUE(decodeKey(4, 0x10, kShiftDown, c).empty());     // fine zoom -1
    ActionList a = decodeKey(4, kKeyIncrease, 0, c);
    ASSERT_EQ(kinds(a), std::vector{KeyAct::Zoom});
    EXPECT_EQ(a[0].value, 1);

    c.cellWidth = c.cellHeight = 64;
    EXPECT_TRUE(decodeKey(4, kKeyIncrease, 0, c).empty());      // doubling at maxCellPixels
    EXPECT_TRUE(decodeKey(1, 9, 1, c).empty());
    c.cellWidth = c.cellHeight = 63;
    EXPECT_TRUE(decodeKey(4, 0x80, kShiftDown, c).empty());     // +1 would reach 64
    c.cellWidth = c.cellHeight = 62;
    a = decodeKey(4, 0x80, kShiftDown, c);
    ASSERT_EQ(kinds(a), std::vector{KeyAct::FineZoom});
    EXPECT_EQ(a[0].value, 1);
    // In overview the ViewScope cell decides.
    c.overview = true;
    c.scopeCellWidth = 1;
    EXPECT_TRUE(decodeKey(4, kKeyDecrease, 0, c).empty());
    // Emulating in overview: ZoomAtMouse and fine zoom do nothing.
    c.mouseEmulation = true;
    EXPECT_TRUE(decodeKey(4, kKeyIncrease, 0, c).empty());
    EXPECT_TRUE(decodeKey(4, 0x10, kShiftDown, c).empty());
}

TEST(KeyTables, NumberedKeysFollowTheirTablesAndEmulation) {
    KeyContext c = imageContext();
    c.cellWidth = c.cellHeight = 4;
    ActionList a = decodeKey(1, 3, 0, c);  // F0 3: halve, right-bottom anchor
    ASSERT_EQ(kinds(a), std::vector{KeyAct::Zoom});
    EXPECT_EQ(a[0].anchor, ZoomAnchor::RightBottom);
    EXPECT_EQ(a[0].value, 0);
    EXPECT_EQ(decodeKey(1, 9, 1, c)[0].anchor, ZoomAnchor::Right);
    a = decodeKey(1, 4, 1, c);
    EXPECT_EQ(a[0].x, -24);
    EXPECT_TRUE(a[0].longStep);
    EXPECT_EQ(decodeKey(1, 7, 8, c)[0].act, KeyAct::Jump);
    EXPECT_EQ(commands(decodeKey(1, 10, 1, c)), std::vector{276});
    // Invert the comparison bits: m 0 only while Equal is on.
    c.bMode = BIN_LIGHT;
    EXPECT_TRUE(decodeKey(1, 11, 0, c).empty());
    EXPECT_EQ(decodeKey(1, 11, 1, c)[0].cond.op, CondOp::InvertComparison);
    EXPECT_EQ(kinds(decodeKey(1, 10, 8, c)), std::vector{KeyAct::ToggleLargeHistogram});

    c.mouseEmulation = true;
    c.mouseX = 33;
    c.mouseY = 44;
    a = decodeKey(0, 0, 0x05, c);  // left with the drag bit: press and hold
    ASSERT_EQ(kinds(a), std::vector{KeyAct::MouseHold});
    EXPECT_EQ(a[0].value, 1);
    EXPECT_EQ(a[0].x, 33);
    EXPECT_EQ(decodeKey(0, 0, 0x02, c)[0].act, KeyAct::MouseClick);
    EXPECT_EQ(decodeKey(1, 6, 0, c)[0].kind, MoveKind::OneCell);
    EXPECT_EQ(decodeKey(1, 6, 1, c)[0].kind, MoveKind::OneCellScrolling);
    EXPECT_EQ(decodeKey(1, 5, 1, c)[0].act, KeyAct::ZoomAtMouse);
    EXPECT_EQ(decodeKey(1, 3, 8, c)[0].act, KeyAct::MouseJump);
    EXPECT_EQ(commands(decodeKey(1, 10, 0, c)), std::vector{275});  // beyond 9: table F0
    // ViewScope on: the keys act on the view again.
    c.viewScope = true;
    EXPECT_EQ(decodeKey(1, 6, 0, c)[0].act, KeyAct::PanBy);
    EXPECT_TRUE(decodeKey(0, 0, 0x01, c).empty());
}

TEST(KeyTables, ModelDecidesWhatShiftDownArrowsDo) {
    KeyContext c = imageContext();
    ActionList a = decodeKey(4, kKeyRight, kShiftDown, c);
    ASSERT_EQ(kinds(a), std::vector{KeyAct::PanBy});
    EXPECT_EQ(a[0].x, 1);
    c.modelCode = kModel64;
    a = decodeKey(4, kKeyRight, kShiftDown, c);
    ASSERT_EQ(kinds(a), std::vector{KeyAct::Jump});
    EXPECT_EQ(a[0].value, 6);
    c.mouseEmulation = true;
    EXPECT_EQ(decodeKey(4, kKeyUp, kShiftDown, c)[0].act, KeyAct::MouseJump);
    c.modelCode = kModelUsb48;
    a = decodeKey(4, kKeyUp, kShiftDown, c);
    EXPECT_EQ(a[0].act, KeyAct::MouseStep);
    EXPECT_EQ(a[0].value, 8);
    EXPECT_EQ(a[0].kind, MoveKind::OneCell);
}

TEST(KeyTables, InfoPagesTakeTheirOwnKeys) {
    KeyContext c = imageContext();
    c.infoPage = kPageStep;
    ActionList a = decodeKey(4, kKeyUp, 0, c);
    ASSERT_EQ(kinds(a), std::vector{KeyAct::SetSteps});
    EXPECT_EQ(a[0].x, 1);
    a = decodeKey(4, kKeyDown, kShiftUp | kShiftDown, c);  // ShiftUp held: both shifts dropped
    EXPECT_EQ(a[0].x, 48);
    EXPECT_EQ(a[0].y, 32);
    a = decodeKey(4, 0, kShiftCenter, c);
    EXPECT_EQ(a[0].x, 24);
    EXPECT_EQ(decodeKey(4, kKeyRight, 0, c)[0].value, 1);  // 3 -> 1
    EXPECT_EQ(decodeKey(4, kKeyLeft, 0, c)[0].value, 2);   // 3 -> 2
    c.infoPage = kPagePosition;
    EXPECT_EQ(decodeKey(4, kKeyRight, 0, c)[0].value, 2);
    EXPECT_EQ(decodeKey(4, kKeyLeft, 0, c)[0].value, 3);
    EXPECT_EQ(decodeKey(4, kKeyUp, 0, c)[0].act, KeyAct::PanBy);  // Up only counts on the step page

    // Stick on the step page changes the steps within 1..pins.
    c.infoPage = kPageStep;
    c.stepY = 32;
    EXPECT_TRUE(decodeKey(5, kStickDown, 0, c).empty());
    c.stepX = 1;
    EXPECT_TRUE(decodeKey(5, kStickLeft, 0, c).empty());
    a = decodeKey(5, kStickRight, 0, c);
    EXPECT_EQ(a[0].x, 2);
    EXPECT_EQ(a[0].y, 32);
}

TEST(KeyTables, BookmarksActOnlyWhenUsed) {
    KeyContext c = imageContext();
    EXPECT_TRUE(decodeKey(4, 0x07, kShiftCenter, c).empty());
    EXPECT_TRUE(decodeKey(4, 0x05, kShiftCenter | kShiftDown, c).empty());
    ActionList a = decodeKey(4, 0x0B, kShiftCenter, c);
    ASSERT_EQ(kinds(a), (std::vector{KeyAct::PlayTone, KeyAct::BookmarkStore}));
    c.bookmarkUsed = {true, true, false};
    a = decodeKey(4, 0x05, kShiftCenter | kShiftDown, c);
    ASSERT_EQ(kinds(a), (std::vector{KeyAct::BookmarkStore, KeyAct::BookmarkRecall, KeyAct::PlayTone}));
    EXPECT_EQ(a[0].value, 0);
    EXPECT_EQ(a[1].value, 1);
    EXPECT_EQ(kinds(decodeKey(1, 3, 4, c)), std::vector{KeyAct::BookmarkRecall});  // F4 3: no chime
    c.modelCode = kModel64;
    EXPECT_EQ(kinds(decodeKey(4, 0x07, kShiftCenter, c)), std::vector{KeyAct::BookmarkRecall});
}

TEST(KeyTables, TextLineKeysPageAndSelect) {
    KeyContext c = imageContext();
    c.textLinePage = 5;
    ActionList a = decodeKey(2, 6, 0, c);
    EXPECT_EQ(a[0].act, KeyAct::SetTextLinePage);
    EXPECT_EQ(a[0].value, 0);
    EXPECT_EQ(decodeKey(2, 10, 0, c)[0].value, 4);
    EXPECT_EQ(commands(decodeKey(2, 27, 0, c)), std::vector{270});
    EXPECT_EQ(commands(decodeKey(2, 19, 0, c)), std::vector{269});
    EXPECT_TRUE(decodeKey(2, 45, 0, c).empty());

    c.textLinePage = 2;
    EXPECT_EQ(decodeKey(2, 15, 0, c)[0].value, 1);  // sub-selector 1
    c.subSelector = 1;
    a = decodeKey(2, 7, 0, c);  // paging keys only reset the sub-selector
    ASSERT_EQ(kinds(a), std::vector{KeyAct::SetSubSelector});
    EXPECT_EQ(a[0].value, 0);
    EXPECT_EQ(decodeKey(2, 13, 0, c)[0].value, 0);  // its own half resets it
    EXPECT_EQ(decodeKey(2, 20, 0, c)[0].value, 2);
    c.textLinePage = 4;
    EXPECT_EQ(commands(decodeKey(2, 17, 0, c)), std::vector{280});
    EXPECT_TRUE(decodeKey(2, 16, 0, c).empty());
    c.textLinePage = 0;
    c.scanningMode = 0;
    EXPECT_EQ(commands(decodeKey(2, 30, 0, c)), std::vector{257});
    c.textLinePage = 1;
    c.mouseEmulation = true;
    EXPECT_EQ(kinds(decodeKey(2, 22, 0, c)), std::vector{KeyAct::StopEmulation});
    EXPECT_EQ(kinds(decodeKey(2, 23, 0, c)), std::vector{KeyAct::ToggleOverview});
}

TEST(KeyTables, NoteTakerKeys) {
    KeyContext c = imageContext();
    c.modelCode = kModelNoteTaker;
    ActionList a = decodeNoteTakerKey(3, 1, 0, c);
    ASSERT_EQ(kinds(a), std::vector{KeyAct::PanBy});
    EXPECT_EQ(a[0].x, 1);
    EXPECT_EQ(decodeNoteTakerKey(3, 8, 0, c)[0].y, 1);
    a = decodeNoteTakerKey(3, 10, 0, c);
    ASSERT_EQ(kinds(a), std::vector{KeyAct::Jump});
    EXPECT_EQ(a[0].value, 4);
    EXPECT_EQ(decodeNoteTakerKey(3, 6, 0, c)[0].value, 8);
    EXPECT_TRUE(decodeNoteTakerKey(3, 3, 0, c).empty());
    EXPECT_TRUE(decodeNoteTakerKey(1, 1, 0, c).empty());
    a = decodeNoteTakerKey(0, 0, 2, c);
    EXPECT_EQ(a[0].y, 16);
    EXPECT_TRUE(a[0].longStep);
    c.cellWidth = 2;
    a = decodeNoteTakerKey(0, 0, 64, c);
    ASSERT_EQ(kinds(a), std::vector{KeyAct::Zoom});
    EXPECT_EQ(a[0].value, 0);

    c.mouseEmulation = true;
    a = decodeNoteTakerKey(3, 2, 0, c);
    EXPECT_EQ(a[0].act, KeyAct::MouseStep);
    EXPECT_EQ(a[0].value, 4);
    a = decodeNoteTakerKey(3, 9, 0, c);
    EXPECT_EQ(a[0].act, KeyAct::MouseJump);
    EXPECT_EQ(a[0].value, 2);
    a = decodeNoteTakerKey(0, 0, 1, c);
    EXPECT_EQ(a[0].kind, MoveKind::LongScrolling);
    EXPECT_EQ(a[0].value, 8);
    EXPECT_EQ(decodeNoteTakerKey(0, 0, 128, c)[0].act, KeyAct::ZoomAtMouse);
    c.recordExcluded = true;
    EXPECT_TRUE(decodeNoteTakerKey(3, 1, 0, c).empty());
}

TEST(KeyTables, BytesOutOfRangeAndExcludedRecordsGiveNothing) {
    KeyContext c = imageContext();
    EXPECT_TRUE(decodeKey(4, 256, 0, c).empty());
    EXPECT_TRUE(decodeKey(-1, 1, 0, c).empty());
    EXPECT_TRUE(decodeKey(1, 1, 0x100, c).empty());
    c.recordExcluded = true;
    EXPECT_TRUE(decodeKey(4, kKeyUp, 0, c).empty());
}
