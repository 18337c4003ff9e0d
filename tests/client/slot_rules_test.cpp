// Slot contents and display selection: the banded plane layout, the display
// request rule, suspension and the hand-over of the default slot.
#include "client/slot_writes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

using namespace tavik;
using namespace tavik::client;

namespace {

std::unique_ptr<PortDataMap> freshMap() {
    auto m = std::make_unique<PortDataMap>();
    clearPortMap(*m);
    return m;
}

}  // namespace

TEST(GraphicPlanes, BandedBitLayoutOn64x48) {
    const GraphicSize size{64, 48};
    std::vector<uint8_t> plane(64 * 6, 0);  // 384 bytes
    plane[0] = 0x01;        // row 0, column 0
    plane[64] = 0x80;       // row 15, column 0
    plane[5 * 64 + 63] = 0x80;  // row 47, column 63
    plane[2] = 0x04;        // row 2, column 2
    auto m = freshMap();
    ClientSlot& s = m->slots[0];
    writePlanes(s, size, plane.data(), nullptr, 7);
    int raised = 0;
    for (int i = 0; i < 64 * 48; ++i) raised += s.graphic[i] != 0;
    EXPECT_EQ(raised, 4);
    EXPECT_EQ(s.graphic[0], 1);
    EXPECT_EQ(s.graphic[15 * 64 + 0], 1);
    EXPECT_EQ(s.graphic[47 * 64 + 63], 1);
    EXPECT_EQ(s.graphic[2 * 64 + 2], 1);
    EXPECT_EQ(s.graphicFormat, 0);
    EXPECT_EQ(s.graphicChanged, 1);
}

TEST(GraphicPlanes, PlaneOneAloneClearsSecondPlanePlaneTwoAloneKeepsFirst) {
    const GraphicSize size{32, 24};
    std::vector<uint8_t> ones(32 * 3, 0xFF), zeros(32 * 3, 0);
    auto m = freshMap();
    ClientSlot& s = m->slots[3];
    s.planeLevel = 10;
    writePlanes(s, size, ones.data(), ones.data(), 5);
    EXPECT_EQ(s.graphic[0], 3);
    EXPECT_EQ(s.planeLevel, 5);

    writePlanes(s, size, ones.data(), nullptr, 9);  // level belongs to plane 2
    EXPECT_EQ(s.graphic[0], 1);
    EXPECT_EQ(s.graphic[23 * 32 + 31], 1);
    EXPECT_EQ(s.planeLevel, 5);

    writePlanes(s, size, nullptr, ones.data(), 4);
    EXPECT_EQ(s.graphic[0], 3);
    writePlanes(s, size, nullptr, zeros.data(), 4);
    EXPECT_EQ(s.graphic[0], 1);  // plane 1 kept
    writePlanes(s, size, zeros.data(), nullptr, 4);
    EXPECT_EQ(s.graphic[0], 0);
    // Dots beyond the device's size are never touched.
    EXPECT_EQ(s.graphic[32 * 24], 0);
}

TEST(GraphicPlanes, SizesThatDoNotFitTheSlotAreRefused) {
    auto m = freshMap();
    m->graphicWidth = 101;
    m->graphicHeight = 100;
    EXPECT_FALSE(graphicSize(*m));
    m->graphicWidth = 100;
    EXPECT_TRUE(graphicSize(*m));
    m->graphicWidth = -4;
    EXPECT_FALSE(graphicSize(*m));
    m->graphicWidth = 0x10000;
    m->graphicHeight = 0x10000;  // product overflows 32 bits
    EXPECT_FALSE(graphicSize(*m));
    m->textCells = 500;
    EXPECT_EQ(textSize(*m), 128);
    m->textCells = -1;
    EXPECT_EQ(textSize(*m), 0);
}

TEST(TextWrites, AbsentRowsAreEmptyCellsAndOnlyTheCellCountIsWritten) {
    auto m = freshMap();
    ClientSlot& s = m->slots[0];
    std::memset(s.text, 0x55, sizeof s.text);
    std::memset(s.text2, 0x55, sizeof s.text2);
    const uint8_t text[4] = {1, 2, 3, 4};
    writeText(s, 4, text, nullptr);
    EXPECT_EQ(s.text[3], 4);
    EXPECT_EQ(s.text2[0], 0);
    EXPECT_EQ(s.text[4], 0x55);
    EXPECT_EQ(s.textChanged, 1);
}

TEST(DisplayRequest, FollowsForegroundThenDefaultAndLeavesOthersAlone) {
    auto m = freshMap();
    m->defaultSlot = 2;
    requestDisplay(*m, 5);
    EXPECT_EQ(m->displayRequest, -1);  // neither foreground nor default
    requestDisplay(*m, 2);
    EXPECT_EQ(m->displayRequest, 2);
    m->foregroundSlot = 5;
    m->displayRequest = -1;
    requestDisplay(*m, 2);
    EXPECT_EQ(m->displayRequest, -1);  // the default is not shown while another is in front
    requestDisplay(*m, 5);
    EXPECT_EQ(m->displayRequest, 5);
}

TEST(DisplayMode, DefaultSlotPassesToHighestOtherDefaultClientOrNone) {
    auto m = freshMap();
    startDisplayMode(*m, 1, 3);
    startDisplayMode(*m, 4, 3);
    startDisplayMode(*m, 9, 1);
    startDisplayMode(*m, 7, 3);
    EXPECT_EQ(m->defaultSlot, 7);
    EXPECT_EQ(m->displayClientCount, 4);
    EXPECT_EQ(m->slots[7].planeLevel, 10);
    EXPECT_EQ(m->slots[7].graphicFormat, 1);

    endDisplayMode(*m, 7);
    EXPECT_EQ(m->defaultSlot, 4);   // slot 9 has no default flag
    EXPECT_EQ(m->displayRequest, 4);
    EXPECT_EQ(m->slots[4].graphicChanged, 1);
    EXPECT_EQ(m->displayClientCount, 3);
    EXPECT_EQ(m->slots[7].displayFlags, 0);

    m->foregroundSlot = 9;
    m->displayRequest = -1;
    endDisplayMode(*m, 4);
    EXPECT_EQ(m->defaultSlot, 1);
    EXPECT_EQ(m->displayRequest, -1);  // a foreground slot is still shown

    endDisplayMode(*m, 9);  // the foreground slot gives way to the default
    EXPECT_EQ(m->foregroundSlot, -1);
    EXPECT_EQ(m->displayRequest, 1);

    endDisplayMode(*m, 1);
    EXPECT_EQ(m->defaultSlot, -1);
    EXPECT_EQ(m->displayClientCount, 0);
    endDisplayMode(*m, 1);  // not in display mode: the count stays
    EXPECT_EQ(m->displayClientCount, 0);
}

TEST(DisplayMode, SuspendedForegroundSlotGivesWayToDefault) {
    auto m = freshMap();
    startDisplayMode(*m, 0, 3);
    startDisplayMode(*m, 1, 1);
    m->foregroundSlot = 1;
    // The default slot takes over; the caller marks it to be sent in full
    // (or the pins would keep showing the suspended slot) once its own busy
    // flag is back: the rule itself takes no flag.
    m->slotBusy[1] = 1;
    EXPECT_EQ(suspendSlot(*m, 1, true), 0);
    EXPECT_EQ(m->slots[1].displayFlags, 1 | 8);
    EXPECT_EQ(m->foregroundSlot, -1);
    EXPECT_EQ(m->displayRequest, 0);
    EXPECT_EQ(m->slotBusy[1], 1);
    EXPECT_EQ(m->slotBusy[0], 0);
    m->slotBusy[1] = 0;
    m->displayRequest = -1;
    EXPECT_EQ(suspendSlot(*m, 1, false), -1);
    EXPECT_EQ(m->slots[1].displayFlags, 1);
    EXPECT_EQ(m->displayRequest, -1);  // resuming asks for nothing
}
