// The USB plug-in end to end: the FTDI double lists a device whose "USB link"
// is a pseudo-terminal with the virtual display's device model on the other
// side. What only the USB link does: connection entries, the fixed line
// settings, one-call frames, uncompressed planes. What every plug-in does
// alike is in tests/drivers/plugins_test.cpp.
#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

#include "platform/atomic_word.h"
#include "tests/drivers/plugin_harness.h"
#include "tests/drivers/port_rigs.h"

using namespace tavik;
using namespace tavik::test;

namespace {

const char* const kDescription = UsbRig::kDescription;

// Entries 1..15 by process, so parallel test programs rarely meet; entry 0
// only for the one test that needs port 64.
int testEntry(int offset) { return 1 + (::getpid() + offset) % 15; }

bool logged(const std::string& line) { return FtdiDouble::get().logged(line); }

padsim::DeviceConfig tactile() {
    padsim::DeviceConfig c;
    c.model = "New PX-2 virtual";
    return c;
}

}  // namespace

// Start, identification and release as every plug-in does them are in
// plugins_test.cpp; here what the USB link adds to them.
TEST(PadrikFt, OpensBySerialWithTheModelsLineSettingsAndClosesOnRelease) {
    UsbRig rig(testEntry(0));
    ASSERT_EQ(rig.m().baudRate, 115200);
    PluginLib lib("Padrik_ft");
    ASSERT_TRUE(lib.loaded()) << dlerror();
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    FakeDevice device(tactile(), rig.link);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));

    // The device was set up as the model needs, whatever the map's speed.
    EXPECT_TRUE(logged("open-serial " + rig.serial));
    EXPECT_TRUE(logged("queues 4096 4096"));
    EXPECT_TRUE(logged("timeouts 0 0 15000 0 15000"));
    EXPECT_TRUE(logged("dtr 1"));
    EXPECT_TRUE(logged("purge rx tx"));
    EXPECT_TRUE(logged("line 921600 8 N 1 none"));
    EXPECT_TRUE(logged("latency 1"));
    for (auto& l : FtdiDouble::get().log()) EXPECT_EQ(l.rfind("line 115200", 0), std::string::npos) << l;

    EXPECT_EQ(lib.drvEnd(), 0);
    EXPECT_TRUE(lib.waitLine("Released the USB connection."));
    EXPECT_TRUE(logged("dtr 0"));
    EXPECT_TRUE(logged("close"));
}

TEST(PadrikFt, RefusesSerialPortsAndMissingEntriesSilentlyReportsOpenFailures) {
    PluginLib lib("Padrik_ft");
    ASSERT_TRUE(lib.loaded());
    // Port 63 is a serial port.
    {
        auto serialMap = PortMap::open(kFirstUsbPort - 1);
        ASSERT_TRUE(serialMap);
        ASSERT_EQ(lib.drvInit(kFirstUsbPort - 1), 1);
        EXPECT_EQ(lib.drvStart(), 0);
        EXPECT_EQ(serialMap->map().status, kStatusNoConnection);
    }
    // An entry not in use: refused without a line or a status change.
    UsbRig rig(testEntry(1));
    platform::storeWord(FtdiDouble::get().info->map().entries[rig.entry].inUse, 0);
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    EXPECT_EQ(lib.drvStart(), 0);
    EXPECT_EQ(rig.m().status, kStatusNoConnection);
    EXPECT_TRUE(lib.lines().empty());

    // In use, but no such device: status 4 and the line with the description.
    UsbRig absent(testEntry(2), false);
    ASSERT_EQ(lib.drvInit(absent.port), 1);
    EXPECT_EQ(lib.drvStart(), 0);
    EXPECT_EQ(absent.m().status, kStatusPortOpenFailed);
    EXPECT_TRUE(lib.waitLine("Couldn't connect to " + std::string(kDescription) + "."));
    EXPECT_EQ(lib.drvIsConnected(), 0);
}

TEST(PadrikFt, Port64UsesConnectionEntryZero) {
    UsbRig rig(0);
    ASSERT_EQ(rig.port, 64);
    PluginLib lib("Padrik_ft");
    FakeDevice device(tactile(), rig.link);
    ASSERT_EQ(lib.drvInit(64), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));
    EXPECT_TRUE(logged("open-serial " + rig.serial));
    lib.drvEnd();
}

TEST(PadrikFt, FramesLeaveInOneWriteEachPlanesUncompressedAndTheClearCoded) {
    UsbRig rig(testEntry(3));
    NotifyThread client;
    enterDisplaySlot(rig.m(), 0, ::getpid(), client.threadId(), true);
    PluginLib lib("Padrik_ft");
    FakeDevice device(tactile(), rig.link);
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));

    std::vector<uint8_t> text(32);
    for (int i = 0; i < 32; ++i) text[static_cast<size_t>(i)] = static_cast<uint8_t>(0x40 + i);
    const auto dots = dotPattern(64, 48, 2, 4);
    writeSlot(rig.m(), 0, text, dots, 0, 9);
    ASSERT_TRUE(device.waitFor([&](const padsim::DeviceModel& d) {
        return d.state().text == text && d.state().plane2Level == 9;
    }));
    // (That the pins match the dots exactly is tested for every plug-in in plugins_test.cpp.)
    EXPECT_EQ(device.framesWith(0x93), 0) << "planes go uncompressed on USB";
    EXPECT_EQ(device.framesWith(0x92) % 2, 0) << "planes go in pairs";
    EXPECT_EQ(device.lastFrame(0x92).size(), 384u);
    // Header and payload leave in one write: 6 + 32 text, 6 + 384 per plane.
    EXPECT_TRUE(logged("write 38"));
    EXPECT_TRUE(logged("write 390"));
    EXPECT_TRUE(logged("write 6")) << "the identification request has no payload";
    EXPECT_TRUE(device.junk().empty());

    // No slot to show: the display is cleared as on the serial link: zero
    // text, then the two coded 0x93 planes of an all-zero image (each 3 runs
    // of 128 zero bytes), never raw 0x92 planes.
    const int rawPlanes = device.framesWith(0x92);
    platform::storeWord(rig.m().displayRequest, -1);
    ASSERT_TRUE(device.waitFor([&](const padsim::DeviceModel& d) {
        return d.state().text == std::vector<uint8_t>(32, 0) && d.state().plane2Level == 10;
    }));
    ASSERT_TRUE(waitUntil([&] { return device.framesWith(0x93) == 2; }));
    EXPECT_EQ(device.lastFrame(0x93), (std::vector<uint8_t>{0xFF, 0, 0xFF, 0, 0xFF, 0}));
    EXPECT_EQ(device.framesWith(0x92), rawPlanes);
    EXPECT_TRUE(logged("write 12")) << "a coded plane leaves with its header in one write";
    device.inspect([&](const padsim::DeviceModel& d) {
        EXPECT_EQ(d.state().plane1, std::vector<uint8_t>(64 * 48, 0));
        EXPECT_EQ(d.state().plane2, std::vector<uint8_t>(64 * 48, 0));
    });
    lib.drvEnd();
}

