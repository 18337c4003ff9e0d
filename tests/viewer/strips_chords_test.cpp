// Touch-strip reports and key chords from broadcast events.
#include <gtest/gtest.h>

#include "client/viewer/broadcast_chords.h"
#include "client/viewer/position_strips.h"

using namespace tavik::viewer;
using Bytes = std::vector<uint8_t>;

TEST(PositionStrips, ByteToDotMapping) {
    EXPECT_EQ(stripDot(1, 0), 47);
    EXPECT_EQ(stripDot(1, 127), 0);
    EXPECT_EQ(stripDot(2, 0), 59);
    EXPECT_EQ(stripDot(2, 127), 4);
    EXPECT_EQ(stripDot(3, 127), 47);
    EXPECT_EQ(stripDot(3, 0x80 | 127), 47);  // bit 7 is not part of the position
}

TEST(PositionStrips, StartComesFromTheRememberedByte) {
    StripMemory m;
    StripReport r = onPositionReport(m, 3, Bytes{10, 20});
    ASSERT_TRUE(r.valid);
    EXPECT_FALSE(r.horizontal);
    EXPECT_EQ(r.start, 3);
    EXPECT_EQ(r.end, 7);
    r = onPositionReport(m, 3, Bytes{30});  // continues from byte 20
    EXPECT_EQ(r.start, 7);
    EXPECT_EQ(r.end, 11);
    r = onPositionReport(m, 3, Bytes{0x80 | 40});  // bit 7: the finger left the strip
    EXPECT_EQ(r.start, 11);
    EXPECT_EQ(r.end, 15);
    r = onPositionReport(m, 3, Bytes{100});
    EXPECT_EQ(r.start, r.end);
    // Each code remembers its own byte; a jump of 10 dots or more is not a move.
    r = onPositionReport(m, 2, Bytes{0, 127});
    EXPECT_TRUE(r.horizontal);
    EXPECT_EQ(r.start, 59);
    EXPECT_EQ(r.end, 59);
    EXPECT_FALSE(onPositionReport(m, 4, Bytes{1}).valid);
    EXPECT_FALSE(onPositionReport(m, 1, Bytes{}).valid);
}

TEST(BroadcastChords, ConditionScreenStaysUntilTheSameChordAgain) {
    ChordMemory m;
    int screen = 0;
    EXPECT_TRUE(onBroadcast(m, 0x40, 0, 0, screen).handled);
    EXPECT_EQ(screen, -1);
    EXPECT_FALSE(onBroadcast(m, 0x40, 0, 0, screen).handled);  // repeated event
    onBroadcast(m, 0, 10, 0, screen);
    EXPECT_EQ(screen, -1);  // a short press keeps the screen
    onBroadcast(m, 0x40, 0, 0, screen);
    onBroadcast(m, 0, 10, 0, screen);
    EXPECT_EQ(screen, 0);  // the same chord again returns to the image
}

TEST(BroadcastChords, HeldChordsAndLongPresses) {
    ChordMemory m;
    int screen = 0;
    onBroadcast(m, 0x60, 0, 0, screen);  // pressed and held
    EXPECT_EQ(screen, -1);
    onBroadcast(m, 0, 10, 0, screen);
    EXPECT_EQ(screen, 0);
    onBroadcast(m, 0x80, 0, 0, screen);
    EXPECT_EQ(m.accumulated, 0x80);
    onBroadcast(m, 0xC0, 0, 0, screen);
    EXPECT_EQ(screen, 1);  // position screen
    onBroadcast(m, 0, 150, 0, screen);
    EXPECT_EQ(screen, 0);  // a long press returns at release
    onBroadcast(m, 0x80, 0, 0, screen);
    onBroadcast(m, 0, 150, 0, screen);  // 0x80 alone is no chord
    EXPECT_EQ(m.previousChord, 0);
    EXPECT_EQ(m.accumulated, 0);
}
