// The note-taker plug-in end to end against the device model on a
// pseudo-terminal, and once against the padsim program: cell count from the
// identification, mode and end commands, the braille graphic in landscape and
// portrait, clearing, and its own key frames.
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "platform/atomic_word.h"
#include "tests/support/padsim.h"
#include "tests/drivers/plugin_harness.h"
#include "tests/drivers/port_rigs.h"

using namespace tavik;
using namespace tavik::test;

namespace {

int testPort(int offset) { return (::getpid() + offset) % 20; }

padsim::DeviceConfig noteTaker(int identCells) {
    padsim::DeviceConfig c;
    c.model = "Notaro virtual";
    c.setNoteTakerCells(identCells);
    return c;
}

struct Rig : SerialRig {
    Rig(int offset, int width, int height) : SerialRig(testPort(offset), "nt" + std::to_string(offset), width, height) {}
};

struct Dot {
    int x, y;
    uint8_t v;
};
std::vector<uint8_t> image(int w, int h, std::initializer_list<Dot> dots) {
    std::vector<uint8_t> img(static_cast<size_t>(w * h));
    for (const Dot& d : dots) img[static_cast<size_t>(d.y * w + d.x)] = d.v;
    return img;
}

// Payload of a braille graphic frame: plane 1 cells, then plane 2 cells.
struct Cell {
    int plane, cell;
    uint8_t bits;
};
std::vector<uint8_t> cells(int count, std::initializer_list<Cell> set) {
    std::vector<uint8_t> p(static_cast<size_t>(2 * count));
    for (const Cell& c : set) p[static_cast<size_t>((c.plane - 1) * count + c.cell)] |= c.bits;
    return p;
}

bool showsBraille(FakeDevice& device, const std::vector<uint8_t>& payload) {
    return device.waitFor([&](const padsim::DeviceModel& d) { return d.state().braille == payload; });
}

}  // namespace

// Runs first: the plug-in's cell count is 16 only until a device gives one.
TEST(Notdrv, CellCountComesFromIdentificationByteFiveWhenPlausible) {
    Rig rig(0, 4, 32);
    NotifyThread client;
    enterDisplaySlot(rig.m(), 0, ::getpid(), client.threadId(), true);
    PluginLib lib("Notdrv");
    ASSERT_TRUE(lib.loaded()) << dlerror();
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    {
        // Byte 5 = 60 is no cell count: the 16 of a fresh plug-in stay. A
        // portrait image fills the last 16 cells, here all of them.
        FakeDevice device(noteTaker(60), rig.link);
        ASSERT_EQ(lib.drvStart(), 1);
        ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));
        writeSlot(rig.m(), 0, {}, image(4, 32, {{0, 0, 1}}));
        EXPECT_TRUE(showsBraille(device, cells(16, {{1, 0, 0x10}})));
        lib.drvEnd();
    }
    {
        FakeDevice device(noteTaker(40), rig.link);
        rig.m().deviceIdentified = 0;
        rig.setSize(64, 4);
        ASSERT_EQ(lib.drvStart(), 1);
        ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));
        writeSlot(rig.m(), 0, {}, image(64, 4, {{0, 0, 1}}));
        EXPECT_TRUE(showsBraille(device, cells(40, {{1, 0, 0x80}})));
        lib.drvEnd();
    }
    {
        // Out of range again: the previous 40 stay.
        FakeDevice device(noteTaker(60), rig.link);
        rig.m().deviceIdentified = 0;
        ASSERT_EQ(lib.drvStart(), 1);
        ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));
        writeSlot(rig.m(), 0, {}, image(64, 4, {{1, 3, 2}}));
        EXPECT_TRUE(showsBraille(device, cells(40, {{2, 0, 0x01}})));
        lib.drvEnd();
    }
}

TEST(Notdrv, ModeCommandThenBrailleGraphicsOnA46CellDeviceClippedToItsCells) {
    Rig rig(1, 92, 4);
    NotifyThread client;
    enterDisplaySlot(rig.m(), 0, ::getpid(), client.threadId(), true);
    PluginLib lib("Notdrv");
    FakeDevice device(noteTaker(46), rig.link);
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));
    EXPECT_TRUE(lib.waitLine("Connected device: Notaro virtual"));
    ASSERT_TRUE(device.waitFor([](const padsim::DeviceModel& d) { return d.state().noteTakerModeSet; }));
    EXPECT_EQ(device.lastFrame(0x20), (std::vector<uint8_t>{0x02, 0x00}));

    // Landscape, 92 dots wide: two columns per cell, rows 0..3 only.
    std::vector<uint8_t> text(32, 0x15);
    writeSlot(rig.m(), 0, text, image(92, 4, {{0, 0, 1}, {1, 0, 1}, {4, 2, 3}, {91, 3, 2}}));
    EXPECT_TRUE(showsBraille(device, cells(46, {{1, 0, 0x88}, {2, 2, 0x20}, {2, 45, 0x01}})));
    device.inspect([&](const padsim::DeviceModel& d) { EXPECT_EQ(d.state().text, text); });

    // Wider than the cells: the dots beyond cell 45 are dropped.
    rig.setSize(100, 4);
    writeSlot(rig.m(), 0, {}, image(100, 4, {{2, 1, 1}, {95, 0, 1}, {99, 3, 2}}));
    EXPECT_TRUE(showsBraille(device, cells(46, {{1, 1, 0x40}})));

    // Portrait: columns 0..3 turned into the last 16 cells, rows past 31
    // dropped.
    rig.setSize(4, 40);
    writeSlot(rig.m(), 0, {}, image(4, 40, {{0, 0, 1}, {2, 5, 1}, {3, 31, 2}, {0, 39, 1}}));
    EXPECT_TRUE(showsBraille(device, cells(46, {{1, 30, 0x10}, {1, 32, 0x04}, {2, 45, 0x08}})));
    EXPECT_EQ(device.framesWith(0x93), 0);
    EXPECT_EQ(device.framesWith(0x92), 0);
    lib.drvEnd();
}

TEST(Notdrv, ClearsWithEmptyCellsNeverSendsMultiLevelAndEndsTheMode) {
    Rig rig(2, 64, 4);
    NotifyThread client;
    enterDisplaySlot(rig.m(), 0, ::getpid(), client.threadId(), true);
    PluginLib lib("Notdrv");
    auto config = noteTaker(20);
    config.setMultiLevel(true);  // the flag means nothing to this plug-in
    FakeDevice device(config, rig.link);
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));
    writeSlot(rig.m(), 0, std::vector<uint8_t>(32, 7), image(64, 4, {{0, 0, 1}, {10, 1, 2}}), 1);
    EXPECT_TRUE(showsBraille(device, cells(20, {{1, 0, 0x80}, {2, 5, 0x40}})));
    EXPECT_EQ(device.framesWith(0xA2), 0);

    platform::storeWord(rig.m().displayRequest, -1);
    EXPECT_TRUE(showsBraille(device, std::vector<uint8_t>(40, 0)));
    device.inspect([&](const padsim::DeviceModel& d) {
        EXPECT_EQ(d.state().text, std::vector<uint8_t>(32, 0));
        EXPECT_FALSE(d.state().noteTakerEnded);
    });

    writeSlot(rig.m(), 0, {}, image(64, 4, {{3, 3, 1}}));
    EXPECT_TRUE(showsBraille(device, cells(20, {{1, 1, 0x01}})));
    lib.drvEnd();
    // At the end: cleared, then the end command.
    device.inspect([&](const padsim::DeviceModel& d) {
        EXPECT_EQ(d.state().braille, std::vector<uint8_t>(40, 0));
        EXPECT_TRUE(d.state().noteTakerEnded);
    });
    EXPECT_TRUE(device.lastFrame(0x28).empty());
    EXPECT_EQ(device.framesWith(0xA2), 0);

    // Connected again (the user's Connect): the device, told to leave its
    // display mode at the end, is put back into it without a new
    // identification.
    ASSERT_EQ(device.framesWith(0x20), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    EXPECT_TRUE(waitUntil([&] { return device.framesWith(0x20) == 2; }));
    device.inspect([&](const padsim::DeviceModel& d) { EXPECT_EQ(d.state().identifications, 1u); });
    lib.drvEnd();
}

TEST(Notdrv, KeysComeAsF0FramesAndTactileEventsAreIgnored) {
    Rig rig(3, 64, 4);
    NotifyThread def, other;
    enterDisplaySlot(rig.m(), 0, 100031, def.threadId(), true);
    enterDisplaySlot(rig.m(), 4, 100032, other.threadId(), false);
    PluginLib lib("Notdrv");
    FakeDevice device(noteTaker(32), rig.link);
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));

    const uint8_t four[] = {1, 2, 3, 4};
    device.send(padsim::DeviceModel::frame(0xE1, 0, four));
    device.send(padsim::DeviceModel::broadcastFrame(four));
    device.send(padsim::DeviceModel::dataBlockFrame(0x10, four));
    const uint8_t key[] = {0x31, 0x00, 0x02, 0x00};
    device.send(padsim::DeviceModel::noteTakerKeyFrame(key));
    ASSERT_TRUE(def.waitEvents(1));
    // The device model on the other side sends frames in order, so anything
    // from the tactile events would have come first.
    auto events = def.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].code, kNotifyKey);
    EXPECT_EQ(events[0].lParam & 0xFFFFFFFF, 0x00020031);
    EXPECT_TRUE(other.events().empty());

    // The bare answers are those of the tactile display.
    device.send(padsim::DeviceModel::frame(0x11, 0, {}));
    EXPECT_TRUE(waitUntil([&] { return device.junk() == std::vector<uint8_t>{0}; }));
    lib.drvEnd();
}

TEST(Notdrv, AgainstThePadsimProgramWithFortyCells) {
    const std::string folder = programSettings().folder() + "/padsim";
    std::filesystem::create_directories(folder);
    Padsim padsim(folder, {"--notetaker-cells", "40", "--model", "Notaro"});
    ASSERT_TRUE(padsim.started());
    const int port = testPort(4);
    programSettings().mapPort(port, padsim.link());
    auto map = PortMap::open(port);
    ASSERT_TRUE(map);
    PortDataMap& m = map->map();
    fillDeviceFields(m, 80, 4, 32);
    NotifyThread client;
    enterDisplaySlot(m, 0, ::getpid(), client.threadId(), true);

    PluginLib lib("Notdrv");
    ASSERT_EQ(lib.drvInit(port), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return m.deviceIdentified == 1; }));
    EXPECT_TRUE(lib.waitLine("Connected device: Notaro"));
    EXPECT_TRUE(padsim.waitState("notetaker_mode", "1"));

    writeSlot(m, 0, {}, image(80, 4, {{0, 0, 1}, {79, 3, 2}}));
    std::string plane1 = "80" + std::string(78, '0');
    std::string plane2 = std::string(78, '0') + "01";
    EXPECT_TRUE(padsim.waitState("braille1", plane1));
    EXPECT_TRUE(padsim.waitState("braille2", plane2));

    ASSERT_TRUE(padsim.command("key 5 1 0 0"));
    ASSERT_TRUE(client.waitEvents(1));
    EXPECT_EQ(client.events()[0].code, kNotifyKey);
    EXPECT_EQ(client.events()[0].lParam & 0xFFFF, 0x0105);
    lib.drvEnd();
    EXPECT_TRUE(padsim.waitState("notetaker_ended", "1"));
}

// A controller restarted while the port map lives on (deviceIdentified 1)
// does not ask the device again: the cell count and the display mode come
// from the stored identification. A fresh copy of the plug-in starts at 16
// cells, as a restarted controller's does.
TEST(Notdrv, ARestartedControllerTakesCellsAndModeFromTheStoredIdentification) {
    Rig rig(5, 64, 4);
    NotifyThread client;
    enterDisplaySlot(rig.m(), 0, ::getpid(), client.threadId(), true);
    rig.m().deviceIdentified = 1;
    rig.m().deviceInfo[5] = 40;
    PluginLib lib(freshCopy("Notdrv", "NotdrvRestart"));
    FakeDevice device(noteTaker(40), rig.link);
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(device.waitFor([](const padsim::DeviceModel& d) { return d.state().noteTakerModeSet; }));
    EXPECT_EQ(device.lastFrame(0x20), (std::vector<uint8_t>{0x02, 0x00}));
    writeSlot(rig.m(), 0, {}, image(64, 4, {{0, 0, 1}, {63, 3, 2}}));
    EXPECT_TRUE(showsBraille(device, cells(40, {{1, 0, 0x80}, {2, 31, 0x01}})));
    device.inspect([&](const padsim::DeviceModel& d) { EXPECT_EQ(d.state().identifications, 0u); });
    lib.drvEnd();
}
