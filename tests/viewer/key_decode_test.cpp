// Key tables: which operation a key event triggers depends on the screen, the
// model, the pointer and the filter switches.
#include <gtest/gtest.h>

#include "client/viewer/key_decode.h"

using namespace tavik::viewer;

namespace {

KeyState imageScreen(int model = kPinoraPX1) {
    KeyState s;
    s.modelIndex = model;
    return s;
}

}  // namespace

TEST(KeyDecode, CommandCodeMeansThresholdOnTheConditionScreenOnly) {
    KeyState s = imageScreen();
    Action a = decodeDisplayKey(4, 0x01, 0x00, s);
    EXPECT_EQ(a.act, Act::ScrollSteps);
    EXPECT_EQ(a.dy, -1);
    s.statusScreen = -1;
    a = decodeDisplayKey(4, 0x01, 0x00, s);
    ASSERT_EQ(a.act, Act::Condition);
    EXPECT_EQ(a.cond.op, CondOp::ThresholdUp);
    EXPECT_EQ(a.cond.walk, Walk::Plain);
    a = decodeDisplayKey(4, 0x01, 0xC0, s);  // bit 0x40 is masked off: code 0x8001
    ASSERT_EQ(a.act, Act::Condition);
    EXPECT_EQ(a.cond.walk, Walk::Jump);
    // Modifier 0x40 alone reaches the condition table from the image screen too.
    s.statusScreen = 0;
    a = decodeDisplayKey(4, 0x01, 0x40, s);
    ASSERT_EQ(a.act, Act::Condition);
    EXPECT_EQ(a.cond.op, CondOp::ThresholdUp);
    EXPECT_EQ(decodeDisplayKey(4, 0x01, 0xC0, s).act, Act::Unhandled);  // 0xC001 is no command
    // A code the condition table lacks falls through to the command table.
    s.statusScreen = -1;
    EXPECT_EQ(decodeDisplayKey(4, 0x0F, 0x20, s).act, Act::Reset);
}

TEST(KeyDecode, OneDotCodesDependOnTheModel) {
    Action px1 = decodeDisplayKey(4, 0x01, 0x80, imageScreen(kPinoraPX1));
    EXPECT_EQ(px1.act, Act::JumpView);
    EXPECT_EQ(px1.digit, 8);  // the top edge
    Action px2 = decodeDisplayKey(4, 0x01, 0x80, imageScreen(kPinoraPX2));
    EXPECT_EQ(px2.act, Act::ScrollDots);
    EXPECT_EQ(px2.dy, -1);
    EXPECT_EQ(decodeDisplayKey(4, 0x04, 0x80, imageScreen(kPinoraNewPX2)).act, Act::ScrollDots);
    KeyState pointer = imageScreen(kPinoraPX2);
    pointer.pointerMode = true;
    Action moved = decodeDisplayKey(4, 0x01, 0x80, pointer);
    EXPECT_EQ(moved.act, Act::MovePointer);
    EXPECT_EQ(moved.digit, 8);
    EXPECT_FALSE(moved.big);
}

TEST(KeyDecode, SwitchedOffGroupsAreConsumedWithoutEffect) {
    KeyState s = imageScreen();
    s.filters.mouseEmulation = false;
    EXPECT_EQ(decodeDisplayKey(4, 0x0C, 0x00, s).act, Act::Consumed);
    EXPECT_EQ(decodeDisplayKey(1, 1, 6, s).act, Act::Consumed);
    s.filters.mouseEmulation = true;
    EXPECT_EQ(decodeDisplayKey(4, 0x0C, 0x00, s).act, Act::PointerOn);
    s.statusScreen = -1;
    // Colour filters and saving memories are off by default; restoring needs manual thresholds.
    EXPECT_EQ(decodeDisplayKey(4, 0x08, 0x80, s).act, Act::Consumed);
    EXPECT_EQ(decodeDisplayKey(4, 0x06, 0xA0, s).act, Act::Consumed);
    s.filters.colorMask = s.filters.conditionMemory = true;
    Action red = decodeDisplayKey(4, 0x08, 0x80, s);
    EXPECT_EQ(red.cond.op, CondOp::SetColour);
    EXPECT_EQ(red.cond.value, 0x10);
    Action save = decodeDisplayKey(4, 0x06, 0xA0, s);
    EXPECT_EQ(save.act, Act::SaveMemory);
    EXPECT_EQ(save.value, 2);
    Action restore = decodeDisplayKey(4, 0x06, 0x20, s);
    EXPECT_EQ(restore.act, Act::RestoreMemory);
    EXPECT_EQ(restore.value, 2);
    s.filters.manualThreshold = false;
    EXPECT_EQ(decodeDisplayKey(4, 0x06, 0x20, s).act, Act::Consumed);
    EXPECT_EQ(decodeDisplayKey(4, 0x01, 0x00, s).act, Act::Consumed);
    EXPECT_EQ(decodeDisplayKey(4, 0x03, 0x00, s).act, Act::Condition);  // automatic needs no switch
}

TEST(KeyDecode, PointerButtonsFollowTheModifier) {
    KeyState s = imageScreen();
    EXPECT_EQ(decodeDisplayKey(0, 0, 1, s).act, Act::Unhandled);  // no pointer
    EXPECT_EQ(decodeDisplayKey(4, 0x08, 0x20, s).act, Act::Consumed);
    s.pointerMode = true;
    Action click = decodeDisplayKey(0, 0, 1, s);
    EXPECT_EQ(click.act, Act::PointerClick);
    EXPECT_EQ(click.buttons, 1);
    Action drag = decodeDisplayKey(0, 0, 6, s);
    EXPECT_EQ(drag.act, Act::PointerDrag);
    EXPECT_EQ(drag.buttons, 2);
    EXPECT_EQ(decodeDisplayKey(4, 0x08, 0xA0, s).act, Act::PointerDrag);
    // Keypad digits move the pointer, big with modifier 8; 5 zooms.
    Action big = decodeDisplayKey(1, 3, 8, s);
    EXPECT_EQ(big.act, Act::MovePointer);
    EXPECT_TRUE(big.big);
    EXPECT_EQ(decodeDisplayKey(1, 5, 1, s).act, Act::ZoomOut);
    EXPECT_EQ(decodeDisplayKey(1, 10, 8, s).act, Act::HistogramSwitch);
    // With the overview frame drawn the keypad scrolls the detail view again.
    s.overview = s.overviewFrame = true;
    EXPECT_EQ(decodeDisplayKey(1, 6, 0, s).act, Act::ScrollDots);
    EXPECT_EQ(decodeDisplayKey(4, 0x08, 0x20, s).act, Act::Consumed);
}

TEST(KeyDecode, KeypadAndStatusScreenKeys) {
    KeyState s = imageScreen();
    Action corner = decodeDisplayKey(1, 9, 0, s);
    EXPECT_EQ(corner.act, Act::ZoomCornerIn);
    EXPECT_EQ(corner.corner, Corner::TopRight);
    EXPECT_EQ(decodeDisplayKey(1, 1, 1, s).corner, Corner::BottomLeft);
    EXPECT_EQ(decodeDisplayKey(1, 8, 1, s).act, Act::ScrollSteps);
    EXPECT_EQ(decodeDisplayKey(1, 13, 1, s).act, Act::OverviewFrameToggle);
    EXPECT_EQ(decodeDisplayKey(1, 1, 4, s).act, Act::PointerOff);
    EXPECT_EQ(decodeDisplayKey(1, 4, 2, s).act, Act::Unhandled);
    EXPECT_EQ(decodeDisplayKey(2, 17, 0, s).act, Act::StatusCell);
    // Scroll-step screen: keys 1 and 2 set the steps, 4 and 8 change screens.
    s.statusScreen = 3;
    EXPECT_EQ(decodeDisplayKey(4, 1, 0, s).act, Act::StepsOne);
    EXPECT_EQ(decodeDisplayKey(4, 0, 0x20, s).act, Act::StepsHalf);
    EXPECT_EQ(decodeDisplayKey(4, 8, 0, s).act, Act::PreviousScreen);
    EXPECT_EQ(decodeDisplayKey(5, 16, 0, s).act, Act::StepXDown);
    s.statusScreen = 1;
    EXPECT_EQ(decodeDisplayKey(4, 1, 0, s).act, Act::Consumed);  // no scrolling under a status screen
    EXPECT_EQ(decodeDisplayKey(4, 4, 0, s).act, Act::NextScreen);
    EXPECT_EQ(decodeDisplayKey(4, 0x10, 0, s).act, Act::ZoomIn);
    s.statusScreen = 0;
    Action right = decodeDisplayKey(5, 2, 0x80, s);
    EXPECT_EQ(right.act, Act::ScrollDots);
    EXPECT_EQ(right.dx, 1);
}

TEST(KeyDecode, NoteTakerKeys) {
    KeyState s = imageScreen(kNotaro);
    Action right = decodeNoteTakerKey(3, 1, 0, s);
    EXPECT_EQ(right.act, Act::ScrollDots);
    EXPECT_EQ(right.dx, 1);
    EXPECT_EQ(decodeNoteTakerKey(3, 9, 0, s).digit, 2);
    EXPECT_EQ(decodeNoteTakerKey(0, 0, 64, s).act, Act::ZoomIn);
    EXPECT_EQ(decodeNoteTakerKey(0, 0, 3, s).act, Act::Unhandled);
    EXPECT_EQ(decodeNoteTakerKey(1, 1, 0, s).act, Act::Unhandled);
    s.pointerMode = true;
    EXPECT_EQ(decodeNoteTakerKey(3, 5, 0, s).act, Act::JumpPointer);
}
