// The joystick poll rules with the examples users meet: a button sends on
// release, chords combine, shift buttons broadcast their changes, the stick
// repeats at full or half rate, and a vanished device leaves nothing held.
#include "controller/joystick/joystick_poll.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "common/ini_store.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace tavik::controller;

constexpr uint32_t button(int n) { return 1u << (n - 1); }  // buttons 1..10

struct Ticks {
    JoystickPoller poller;
    uint64_t now = 1000;
    JoystickOutput tick(uint32_t buttons, uint32_t x = 0x7FFF, uint32_t y = 0x7FFF, bool dialog = false) {
        now += 20;
        return poller.poll({x, y, buttons}, now, dialog);
    }
};

TEST(JoystickPoll, ButtonSendsOnRelease) {
    Ticks t;  // default actions: button 1 "Down"
    JoystickOutput o = t.tick(button(1));
    EXPECT_FALSE(o.keyEvent);
    EXPECT_FALSE(t.tick(button(1)).keyEvent);  // held: still waiting
    o = t.tick(0);
    ASSERT_TRUE(o.keyEvent);
    EXPECT_EQ(*o.keyEvent, packEvent(4, 0x02, 0, 0));
    EXPECT_FALSE(o.shiftBroadcast);
    EXPECT_FALSE(t.tick(0).keyEvent);  // exactly one event
}

TEST(JoystickPoll, ChordOfKeysIsOneEvent) {
    Ticks t;  // button 3 "Left", button 4 "Up"
    EXPECT_FALSE(t.tick(button(4)).keyEvent);
    EXPECT_FALSE(t.tick(button(4) | button(3)).keyEvent);
    EXPECT_FALSE(t.tick(button(3)).keyEvent);  // one released, one held
    JoystickOutput o = t.tick(0);
    ASSERT_TRUE(o.keyEvent);
    EXPECT_EQ(*o.keyEvent, packEvent(4, 0x09, 0, 0));
    EXPECT_FALSE(t.tick(0).keyEvent);
}

TEST(JoystickPoll, ShiftButtonBroadcastsChangesOnly) {
    Ticks t;
    t.poller.setActions({2, 4, 3, 1, 5, 6, 7, 8, 9, 0});  // button 9 "ShiftUp"
    const uint64_t pressedAt = t.now + 20;
    JoystickOutput o = t.tick(button(9));
    ASSERT_TRUE(o.shiftBroadcast);
    EXPECT_EQ(*o.shiftBroadcast & 0xFF, 0x40u);
    EXPECT_FALSE(o.keyEvent);
    for (int i = 0; i < 5; ++i) {
        o = t.tick(button(9));
        EXPECT_FALSE(o.shiftBroadcast);
        EXPECT_FALSE(o.keyEvent);
    }
    o = t.tick(0);
    ASSERT_TRUE(o.shiftBroadcast);
    EXPECT_EQ(*o.shiftBroadcast & 0xFF, 0u);
    // Bytes 1..2: the time since the bits became non-zero, in 10 ms units.
    EXPECT_EQ((*o.shiftBroadcast >> 8) & 0xFFFF, (t.now - pressedAt) / 10);
    EXPECT_FALSE(o.keyEvent);
    EXPECT_FALSE(t.tick(0).shiftBroadcast);
}

TEST(JoystickPoll, ShiftHeldWithKeyGoesIntoTheKeyEvent) {
    Ticks t;
    t.poller.setActions({2, 4, 3, 1, 5, 6, 7, 8, 11, 0});  // button 9 "ShiftDown" (0x80)
    t.tick(button(9));
    t.tick(button(9) | button(1));
    JoystickOutput o = t.tick(button(9));
    ASSERT_TRUE(o.keyEvent);
    EXPECT_EQ(*o.keyEvent, packEvent(4, 0x02, 0x80, 0));
    EXPECT_FALSE(o.shiftBroadcast);  // the shift bits did not change
    o = t.tick(0);
    EXPECT_FALSE(o.keyEvent);
    ASSERT_TRUE(o.shiftBroadcast);
    EXPECT_EQ(*o.shiftBroadcast & 0xFF, 0u);
}

TEST(JoystickPoll, ShiftBroadcastCarriesTheKeyCodeOfTheSameTick) {
    Ticks t;
    t.poller.setActions({2, 4, 3, 1, 5, 6, 7, 8, 10, 0});  // button 9 "ShiftCenter" (0x20)
    t.tick(button(1));
    // Shift pressed in the tick that releases the key: both go out.
    JoystickOutput o = t.tick(button(9));
    ASSERT_TRUE(o.shiftBroadcast);
    EXPECT_EQ(*o.shiftBroadcast & 0xFF, 0x20u);
    ASSERT_TRUE(o.keyEvent);
    EXPECT_EQ(*o.keyEvent, packEvent(4, 0x02, 0x20, 0));
    EXPECT_EQ(*o.shiftBroadcast >> 24, 4u);
}

TEST(JoystickPoll, StickFullRateAndHalfRate) {
    Ticks t;
    for (int i = 0; i < 4; ++i) {
        JoystickOutput o = t.tick(0, 65535, 0x7FFF);
        ASSERT_TRUE(o.keyEvent) << i;
        EXPECT_EQ(*o.keyEvent, packEvent(5, 0x02, 0, 0));
    }
    t.tick(0);  // back to the centre
    int sent = 0;
    for (int i = 0; i < 6; ++i) sent += t.tick(0, 45000, 0x7FFF).keyEvent.has_value();
    EXPECT_EQ(sent, 3);
    // Up-left corner: both bits; left and up edges inclusive.
    JoystickOutput o = t.tick(0, 0x5FFF, 0);
    ASSERT_TRUE(o.keyEvent);
    EXPECT_EQ(*o.keyEvent, packEvent(5, 0x18, 0, 0));
    EXPECT_FALSE(t.tick(0, 0x6000, 40957).keyEvent);  // inside the centre band
}

TEST(JoystickPoll, KeyButtonWithStickSendsNothing) {
    Ticks t;
    EXPECT_FALSE(t.tick(button(2), 65535, 0x7FFF).keyEvent);
    EXPECT_FALSE(t.tick(button(2), 65535, 0x7FFF).keyEvent);
    // A shift button with the stick rides on the direction event.
    t.poller.setActions({2, 4, 3, 1, 5, 6, 7, 8, 12, 0});
    JoystickOutput o = t.tick(button(9), 65535, 0x7FFF);
    ASSERT_TRUE(o.keyEvent);
    EXPECT_EQ(*o.keyEvent, packEvent(5, 0x02, 0x10, 0));
}

TEST(JoystickPoll, DialogTakesTheFocusInstead) {
    Ticks t;
    JoystickOutput o = t.tick(button(3) | button(7), 0x7FFF, 0x7FFF, true);
    EXPECT_EQ(o.dialogFocus, 3);
    EXPECT_FALSE(o.keyEvent);
    o = t.tick(0, 65535, 0x7FFF, true);
    EXPECT_EQ(o.dialogFocus, 0);
    EXPECT_FALSE(o.keyEvent);
}

TEST(JoystickPoll, BadSamplesAndVanishingDevice) {
    Ticks t;
    t.poller.setActions({2, 4, 3, 1, 5, 6, 7, 8, 9, 99});  // 99: no action
    // Bits above the tenth button and axes beyond 16 bits are cut off.
    JoystickOutput o = t.tick(0xFFFFFC00u, 0xFFFFFFFFu, 0x7FFF);
    ASSERT_TRUE(o.keyEvent);
    EXPECT_EQ(*o.keyEvent, packEvent(5, 0x02, 0, 0));
    t.tick(button(10));  // unassigned: nothing
    EXPECT_FALSE(t.tick(0).keyEvent);

    t.tick(button(9) | button(1));
    o = t.poller.deviceLost(t.now);
    EXPECT_FALSE(o.keyEvent);  // a half-made chord is dropped
    ASSERT_TRUE(o.shiftBroadcast);
    EXPECT_EQ(*o.shiftBroadcast & 0xFF, 0u);
    EXPECT_EQ(t.poller.shiftBits(), 0);
    // Back again with nothing pressed: nothing is left over.
    EXPECT_FALSE(t.tick(0).keyEvent);
    EXPECT_FALSE(t.tick(0).shiftBroadcast);
    EXPECT_FALSE(t.poller.deviceLost(t.now).shiftBroadcast);
}

TEST(JoystickSettingsStore, DefaultsRangesAndRoundTrip) {
    const tavik::test::TempDir folder("joystick");
    const std::filesystem::path dir = folder.path();
    const std::string ini = (dir / "TAVIK.ini").string();
    JoystickSettings s = readJoystickSettings(ini);
    EXPECT_TRUE(s.use);
    EXPECT_EQ(s.speed, 2);
    EXPECT_EQ(s.actions, (std::array<int, 10>{2, 4, 3, 1, 5, 6, 7, 8, 0, 0}));
    EXPECT_EQ(joystickIntervalMs(s.speed), 20);
    EXPECT_EQ(joystickIntervalMs(7), 60);
    EXPECT_EQ(joystickIntervalMs(8), 20);
    tavik::profileWriteString("Joystick", "Speed", "12", ini);
    tavik::profileWriteString("Joystick", "JoystickButton4", "13", ini);
    tavik::profileWriteString("Joystick", "Channel", "-1", ini);
    s = readJoystickSettings(ini);
    EXPECT_EQ(s.speed, 2);
    EXPECT_EQ(s.actions[3], 1);
    EXPECT_EQ(s.channel, 0);
    s.use = false;
    s.channel = 2;
    s.speed = 7;
    s.actions[9] = 12;
    writeJoystickSettings(s, ini);
    const JoystickSettings back = readJoystickSettings(ini);
    EXPECT_FALSE(back.use);
    EXPECT_EQ(back.channel, 2);
    EXPECT_EQ(back.speed, 7);
    EXPECT_EQ(back.actions, s.actions);
}

}  // namespace
