// What every driver plug-in does alike, end to end against the device model on a pseudo-terminal
// (behind a serial port, or behind the FTDI double for the USB plug-in): life cycle and one
// identification, text and planes reaching the pins, keys, broadcasts and data blocks reaching
// their clients, and the device vanishing. One test a behaviour, run once per plug-in.
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/atomic_word.h"
#include "tests/drivers/plugin_harness.h"
#include "tests/drivers/port_rigs.h"

using namespace tavik;
using namespace tavik::test;

namespace {

struct PluginCase {
    const char* library;
    bool usb;
    const char* model;  // the device model's name, which the plug-in reports on connecting
    int index;          // keeps the cases' ports apart
};

void PrintTo(const PluginCase& c, std::ostream* os) { *os << c.library; }

padsim::DeviceConfig deviceFor(const PluginCase& c) {
    padsim::DeviceConfig config;
    config.model = c.model;
    if (std::string(c.library) == "Notdrv") config.setNoteTakerCells(40);
    return config;
}

class DriverPlugin : public ::testing::TestWithParam<PluginCase> {
protected:
    // The case's port for test number `test`: a serial port or a USB connection entry of its own.
    void openPort(int test) {
        const int offset = test * 3 + GetParam().index;
        if (GetParam().usb)
            usb_ = std::make_unique<UsbRig>(1 + (::getpid() + offset) % 15);
        else
            serial_ = std::make_unique<SerialRig>(40 + (::getpid() + offset) % 23, "tty" + std::to_string(offset));
    }
    PortDataMap& m() { return usb_ ? usb_->m() : serial_->m(); }
    int port() const { return usb_ ? usb_->port : serial_->port; }
    const std::string& link() const { return usb_ ? usb_->link : serial_->link; }
    // The name the status lines give the port: the device file, or the USB entry's description.
    std::string portName() const { return usb_ ? UsbRig::kDescription : serial_->link; }
    std::string releasedLine() const {
        return usb_ ? "Released the USB connection." : "Released the connection port (" + serial_->link + ").";
    }

private:
    std::unique_ptr<SerialRig> serial_;
    std::unique_ptr<UsbRig> usb_;
};

std::string caseName(const ::testing::TestParamInfo<PluginCase>& info) { return info.param.library; }

constexpr PluginCase kSerial{"Padrik", false, "PX-64 virtual", 0};
constexpr PluginCase kUsb{"Padrik_ft", true, "New PX-2 virtual", 1};
constexpr PluginCase kNoteTaker{"Notdrv", false, "Notaro virtual", 2};

TEST_P(DriverPlugin, StartsIdentifiesOnceReleasesAndReconnectsWithoutIdentifyingAgain) {
    openPort(0);
    PluginLib lib(GetParam().library);
    ASSERT_TRUE(lib.loaded()) << dlerror();
    EXPECT_EQ(lib.Version(), 66052);
    EXPECT_EQ(lib.drvEnd(), 0) << "never started: nothing happens";
    EXPECT_EQ(lib.drvStart(), 0) << "no map yet";
    ASSERT_EQ(lib.drvInit(port()), 1);
    EXPECT_EQ(m().driverVersion[0], 4);
    EXPECT_EQ(m().driverVersion[1], 2);
    EXPECT_EQ(m().driverVersion[2], 1);

    FakeDevice device(deviceFor(GetParam()), link());
    ASSERT_EQ(lib.drvStart(), 1);
    EXPECT_EQ(lib.drvIsConnected(), 1);
    EXPECT_EQ(lib.drvStart(), 0) << "already connected";
    ASSERT_TRUE(waitUntil([&] { return m().deviceIdentified == 1; }));
    EXPECT_EQ(m().status, kStatusConnected);
    EXPECT_TRUE(lib.waitLine(std::string("Connected device: ") + GetParam().model));
    EXPECT_EQ(m().deviceInfo[2], 0) << "not a multi-level device";

    EXPECT_EQ(lib.drvEnd(), 0);
    EXPECT_EQ(lib.drvIsConnected(), 0);
    EXPECT_EQ(m().status, kStatusNoConnection);
    EXPECT_TRUE(lib.waitLine(releasedLine()));
    device.inspect([&](const padsim::DeviceModel& d) { EXPECT_EQ(d.state().identifications, 1u); });

    // Reconnect: the map still says identified, so no second identification.
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return m().status == kStatusConnected; }));
    lib.drvEnd();
    device.inspect([&](const padsim::DeviceModel& d) { EXPECT_EQ(d.state().identifications, 1u); });
}

// The tactile plug-ins: text cells and two planes of pins.
using TactilePlugin = DriverPlugin;

TEST_P(TactilePlugin, TextAndBothPlanesReachThePinsExactlyAndLeavingDisplayModeClearsThem) {
    openPort(1);
    NotifyThread client;
    enterDisplaySlot(m(), 0, ::getpid(), client.threadId(), true);
    PluginLib lib(GetParam().library);
    FakeDevice device(deviceFor(GetParam()), link());
    ASSERT_EQ(lib.drvInit(port()), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return m().deviceIdentified == 1; }));

    std::vector<uint8_t> text(32);
    for (int i = 0; i < 32; ++i) text[static_cast<size_t>(i)] = static_cast<uint8_t>(0x80 | i);
    // Five levels: 1 raises the first plane only, 2, 3 and 4 the second only.
    const auto dots = dotPattern(64, 48, 1, 5);
    writeSlot(m(), 0, text, dots, 0, 7);
    ASSERT_TRUE(device.waitFor([&](const padsim::DeviceModel& d) {
        return d.state().text == text && d.state().plane2Level == 7;
    }));
    device.inspect([&](const padsim::DeviceModel& d) {
        for (size_t i = 0; i < dots.size(); ++i) {
            ASSERT_EQ(d.state().plane1[i], dots[i] == 1 ? 1 : 0) << "dot " << i;
            ASSERT_EQ(d.state().plane2[i], dots[i] >= 2 ? 1 : 0) << "dot " << i;
        }
    });
    EXPECT_EQ(device.framesWith(0xA2), 0) << "not a multi-level device";

    // Leaving display mode with no slot requested clears the device: zero text, and both planes
    // down at the default level.
    platform::storeWord(m().displayRequest, -1);
    ASSERT_TRUE(device.waitFor([&](const padsim::DeviceModel& d) {
        return d.state().text == std::vector<uint8_t>(32, 0) && d.state().plane2Level == 10;
    }));
    ASSERT_TRUE(device.waitFor([&](const padsim::DeviceModel& d) {
        return d.state().plane1 == std::vector<uint8_t>(64 * 48, 0) &&
               d.state().plane2 == std::vector<uint8_t>(64 * 48, 0);
    }));
    lib.drvEnd();
}

TEST_P(TactilePlugin, KeysBroadcastsAndDataBlocksReachTheirClients) {
    openPort(2);
    NotifyThread def, other;
    enterDisplaySlot(m(), 0, 100011, def.threadId(), true);
    enterDisplaySlot(m(), 3, 100012, other.threadId(), false);
    PluginLib lib(GetParam().library);
    FakeDevice device(deviceFor(GetParam()), link());
    ASSERT_EQ(lib.drvInit(port()), 1);
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return m().deviceIdentified == 1; }));

    const uint8_t key[] = {4, 1, 0x20, 9};
    device.send(padsim::DeviceModel::frame(0xE1, 0, key));
    ASSERT_TRUE(def.waitEvents(1));
    EXPECT_EQ(def.events()[0].code, kNotifyKey);
    EXPECT_EQ(def.events()[0].lParam & 0xFFFFFFFF, 0x09200104);
    EXPECT_TRUE(other.events().empty()) << "keys go to the foreground, else default slot only";
    // The device expects no answer to a key frame; a short key payload pads with zeros.
    const uint8_t shortKey[] = {7};
    device.send(padsim::DeviceModel::frame(0xE1, 0, shortKey));
    ASSERT_TRUE(def.waitEvents(2));
    EXPECT_EQ(def.events()[1].lParam & 0xFFFFFFFF, 7);

    const uint8_t shift[] = {8, 0, 3, 2};
    device.send(padsim::DeviceModel::broadcastFrame(shift));
    ASSERT_TRUE(def.waitEvents(3));
    ASSERT_TRUE(other.waitEvents(1));
    EXPECT_EQ(other.events()[0].code, kNotifyBroadcast);
    EXPECT_EQ(other.events()[0].lParam & 0xFFFFFFFF, 0x02030008);

    const uint8_t data[] = {10, 20, 30, 40, 50};
    device.send(padsim::DeviceModel::dataBlockFrame(0x35, data));
    ASSERT_TRUE(def.waitEvents(4));
    const auto block = def.events()[3];
    EXPECT_EQ(block.code, kNotifyDataBlock);
    EXPECT_EQ(block.data, (std::vector<uint8_t>{0x35, 10, 20, 30, 40, 50}));
    // A later key still arrives: the receive thread went on after the answer.
    device.send(padsim::DeviceModel::frame(0xE1, 0, key));
    ASSERT_TRUE(def.waitEvents(5));

    // A device frame that wants an answer gets it.
    device.send(padsim::DeviceModel::frame(0x21, 0, {}));
    EXPECT_TRUE(waitUntil([&] { return device.junk() == std::vector<uint8_t>{0, 0}; }));
    lib.drvEnd();
}

TEST_P(TactilePlugin, DeviceVanishingMidFrameCrashesNothingAndRestartWorks) {
    openPort(3);
    NotifyThread client;
    enterDisplaySlot(m(), 0, ::getpid(), client.threadId(), true);
    PluginLib lib(GetParam().library);
    ASSERT_EQ(lib.drvInit(port()), 1);
    {
        FakeDevice device(deviceFor(GetParam()), link());
        ASSERT_EQ(lib.drvStart(), 1);
        ASSERT_TRUE(waitUntil([&] { return m().deviceIdentified == 1; }));
        // Half a key frame, then the device is gone.
        device.send({0xFF, 0xFF, 0xE1, 0x00, 0x04, 0x00, 0x01});
        writeSlot(m(), 0, std::vector<uint8_t>(32, 5), dotPattern(64, 48, 3, 5));
        device.stop();
        writeSlot(m(), 0, std::vector<uint8_t>(32, 6), dotPattern(64, 48, 4, 5));
        // The loss is told once, in the status window.
        EXPECT_TRUE(lib.waitLine("Lost the connection to the device (" + portName() + ")."));
        EXPECT_EQ(lib.drvEnd(), 0);
    }
    FakeDevice again(deviceFor(GetParam()), link());
    ASSERT_EQ(lib.drvStart(), 1);
    ASSERT_TRUE(waitUntil([&] { return m().status == kStatusConnected; }));
    writeSlot(m(), 0, std::vector<uint8_t>(32, 7), dotPattern(64, 48, 5, 5));
    EXPECT_TRUE(again.waitFor([&](const padsim::DeviceModel& d) { return d.state().text == std::vector<uint8_t>(32, 7); }));
    lib.drvEnd();
}

#ifdef TAVIK_TEST_USB_PLUGIN
INSTANTIATE_TEST_SUITE_P(Each, DriverPlugin, ::testing::Values(kSerial, kUsb, kNoteTaker), caseName);
INSTANTIATE_TEST_SUITE_P(Each, TactilePlugin, ::testing::Values(kSerial, kUsb), caseName);
#else
INSTANTIATE_TEST_SUITE_P(Each, DriverPlugin, ::testing::Values(kSerial, kNoteTaker), caseName);
INSTANTIATE_TEST_SUITE_P(Each, TactilePlugin, ::testing::Values(kSerial), caseName);
#endif

}  // namespace
