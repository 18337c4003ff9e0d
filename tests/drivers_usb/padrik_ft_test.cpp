// The USB plug-in end to end: the FTDI double lists a device whose "USB link"
// is a pseudo-terminal with the virtual display's device model on the other
// side. Connection entries, the fixed line settings, one-call frames,
// uncompressed planes, events and release.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "common/connection_record.h"
#include "platform/atomic_word.h"
#include "tests/drivers/plugin_harness.h"

using namespace tavik;
using namespace tavik::test;

namespace {

const char* const kDescription = "New PX-2 USB driver";

// One settings folder and one FTDI device list for the whole program: a
// loaded plug-in resolves its settings paths once, when it is attached.
struct Shared {
    TempSettings settings;
    std::string list = settings.folder() + "/ftdi.list";
    std::optional<ConnectionInfo> info = ConnectionInfo::open();
    Shared() { ::setenv("TAVIK_FTDI_DOUBLE", list.c_str(), 1); }
};
Shared& shared() {
    static Shared s;
    return s;
}

// Entries 1..15 by process, so parallel test programs rarely meet; entry 0
// only for the one test that needs port 64.
int testEntry(int offset) { return 1 + (::getpid() + offset) % 15; }

std::vector<std::string> logLines() {
    std::ifstream in(shared().list + ".log");
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}
bool logged(const std::string& line) {
    for (auto& l : logLines())
        if (l == line) return true;
    return false;
}

padsim::DeviceConfig tactile() {
    padsim::DeviceConfig c;
    c.model = "New PX-2 virtual";
    return c;
}

std::vector<uint8_t> pattern(int w, int h, int salt) {
    std::vector<uint8_t> dots(static_cast<size_t>(w * h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) dots[static_cast<size_t>(y * w + x)] = static_cast<uint8_t>((x * 5 + y * 3 + salt) % 4);
    return dots;
}

// A USB connection: its entry in the connection info map, the double's list
// line and the port map as the first client fills it (at 115200 bit/s, which
// the USB plug-in must not use). The entry is given back at the end.
struct UsbRig {
    int entry;
    int port;
    std::string serial;
    std::string link;
    ConnectionInfoEntry saved{};
    std::optional<PortMap> map;

    explicit UsbRig(int entryIndex, bool listed = true) : entry(entryIndex), port(kFirstUsbPort + entryIndex) {
        serial = "TVK" + std::to_string(::getpid()) + "E" + std::to_string(entry);
        link = shared().settings.folder() + "/usb" + std::to_string(entry);
        ConnectionInfoEntry& e = shared().info->map().entries[entry];
        saved = e;
        setFieldString(e.serialNumber, serial);
        setFieldString(e.description, kDescription);
        platform::storeWord(e.inUse, 1);
        rememberConnectionSerial(serial);  // as the user's own selection does
        if (listed) std::ofstream(shared().list, std::ios::app) << serial << "|" << kDescription << "|" << link << "\n";
        map = PortMap::open(port);
        fillDeviceFields(map->map());
    }
    ~UsbRig() { shared().info->map().entries[entry] = saved; }
    PortDataMap& m() { return map->map(); }
};

}  // namespace

TEST(PadrikFt, OpensBySerialAtFixedSpeedIdentifiesAndReleases) {
    UsbRig rig(testEntry(0));
    ASSERT_EQ(rig.m().baudRate, 115200);
    PluginLib lib("Padrik_ft");
    ASSERT_TRUE(lib.loaded()) << dlerror();
    EXPECT_EQ(lib.Version(), 66052);
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    FakeDevice device(tactile(), rig.link);
    ASSERT_EQ(lib.drvStart(), 1);
    EXPECT_EQ(lib.drvIsConnected(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));
    EXPECT_EQ(rig.m().status, kStatusConnected);
    EXPECT_TRUE(lib.waitLine("Connected device: New PX-2 virtual"));

    // The device was set up as the model needs, whatever the map's speed.
    EXPECT_TRUE(logged("open-serial " + rig.serial));
    EXPECT_TRUE(logged("queues 4096 4096"));
    EXPECT_TRUE(logged("timeouts 0 0 15000 0 15000"));
    EXPECT_TRUE(logged("dtr 1"));
    EXPECT_TRUE(logged("purge rx tx"));
    EXPECT_TRUE(logged("line 921600 8 N 1 none"));
    EXPECT_TRUE(logged("latency 1"));
    for (auto& l : logLines()) EXPECT_EQ(l.rfind("line 115200", 0), std::string::npos) << l;

    EXPECT_EQ(lib.drvEnd(), 0);
    EXPECT_EQ(lib.drvIsConnected(), 0);
    EXPECT_EQ(rig.m().status, kStatusNoConnection);
    EXPECT_TRUE(lib.waitLine("Released the USB connection."));
    EXPECT_TRUE(logged("dtr 0"));
    EXPECT_TRUE(logged("close"));

    // Reconnect: no second identification.
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().status == kStatusConnected; }));
    lib.drvEnd();
    device.inspect([&](const padsim::DeviceModel& d) { EXPECT_EQ(d.state().identifications, 1u); });
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
    platform::storeWord(shared().info->map().entries[rig.entry].inUse, 0);
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

TEST(PadrikFt, TextAndUncompressedPlanesInOneWriteEachThenClear) {
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
    const auto dots = pattern(64, 48, 2);
    writeSlot(rig.m(), 0, text, dots, 0, 9);
    ASSERT_TRUE(device.waitFor([&](const padsim::DeviceModel& d) {
        return d.state().text == text && d.state().plane2Level == 9;
    }));
    device.inspect([&](const padsim::DeviceModel& d) {
        for (size_t i = 0; i < dots.size(); ++i) {
            ASSERT_EQ(d.state().plane1[i], dots[i] == 1 ? 1 : 0) << "dot " << i;
            ASSERT_EQ(d.state().plane2[i], dots[i] >= 2 ? 1 : 0) << "dot " << i;
        }
    });
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

TEST(PadrikFt, KeysBroadcastsAndDataBlocksArrive) {
    UsbRig rig(testEntry(4));
    NotifyThread def, other;
    enterDisplaySlot(rig.m(), 0, 100021, def.threadId(), true);
    enterDisplaySlot(rig.m(), 5, 100022, other.threadId(), false);
    PluginLib lib("Padrik_ft");
    FakeDevice device(tactile(), rig.link);
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));

    const uint8_t key[] = {2, 7, 0x10, 1};
    device.send(padsim::DeviceModel::frame(0xE1, 0, key));
    ASSERT_TRUE(def.waitEvents(1));
    EXPECT_EQ(def.events()[0].code, kNotifyKey);
    EXPECT_EQ(def.events()[0].lParam & 0xFFFFFFFF, 0x01100702);

    const uint8_t shift[] = {8, 0, 3, 2};
    device.send(padsim::DeviceModel::broadcastFrame(shift));
    ASSERT_TRUE(other.waitEvents(1));
    EXPECT_EQ(other.events()[0].code, kNotifyBroadcast);
    EXPECT_EQ(other.events()[0].lParam & 0xFFFFFFFF, 0x02030008);

    const uint8_t data[] = {1, 2, 3};
    device.send(padsim::DeviceModel::dataBlockFrame(0x21, data));
    ASSERT_TRUE(def.waitEvents(3));
    EXPECT_EQ(def.events()[2].code, kNotifyDataBlock);
    EXPECT_EQ(def.events()[2].data, (std::vector<uint8_t>{0x21, 1, 2, 3}));

    // A device frame that wants an answer gets it on the USB link too.
    device.send(padsim::DeviceModel::frame(0x21, 0, {}));
    EXPECT_TRUE(waitUntil([&] { return device.junk() == std::vector<uint8_t>{0, 0}; }));
    lib.drvEnd();
}

TEST(PadrikFt, DeviceVanishingCrashesNothingAndRestartWorks) {
    UsbRig rig(testEntry(5));
    NotifyThread client;
    enterDisplaySlot(rig.m(), 0, ::getpid(), client.threadId(), true);
    PluginLib lib("Padrik_ft");
    ASSERT_EQ(lib.drvInit(rig.port), 1);
    {
        FakeDevice device(tactile(), rig.link);
        ASSERT_EQ(lib.drvStart(), 1);
        ASSERT_TRUE(waitUntil([&] { return rig.m().deviceIdentified == 1; }));
        device.send({0xFF, 0xFF, 0xE1, 0x00, 0x04});
        device.stop();
        writeSlot(rig.m(), 0, std::vector<uint8_t>(32, 3), pattern(64, 48, 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(lib.drvEnd(), 0);
    }
    FakeDevice again(tactile(), rig.link);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return rig.m().status == kStatusConnected; }));
    writeSlot(rig.m(), 0, std::vector<uint8_t>(32, 4), {});
    EXPECT_TRUE(again.waitFor([&](const padsim::DeviceModel& d) { return d.state().text == std::vector<uint8_t>(32, 4); }));
    lib.drvEnd();
}
