// Every port at once: 64 serial and 16 USB controllers (the real TAVIK
// program with the real plug-ins), each on its own pseudo-terminal device,
// each serving its own client: the client's text reaches its device and its
// device's key reaches the client. Then every client leaves and every
// controller ends.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/connection_record.h"
#include "platform/atomic_word.h"
#include "tests/drivers/plugin_harness.h"

extern char** environ;

using namespace tavik;
using namespace tavik::test;

namespace {

constexpr int kPorts = kLastPortIndex + 1;
constexpr int kBoundMs = 60000;  // for things that must happen; only a hang reaches it

// What is left of one bound shared by every port of a phase: a fault that
// hits every port fails the test once instead of running into the test's
// time-out, which would leave eighty controllers behind.
class PhaseBound {
public:
    PhaseBound() : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundMs)) {}
    std::chrono::milliseconds left() const {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now());
        return left.count() > 0 ? left : std::chrono::milliseconds(0);
    }

private:
    std::chrono::steady_clock::time_point end_;
};

struct Port {
    int index;
    std::optional<PortMap> map;
    std::unique_ptr<FakeDevice> device;
    std::unique_ptr<NotifyThread> client;
    pid_t controller = -1;
    std::vector<uint8_t> text;
};

padsim::DeviceConfig tactile() {
    padsim::DeviceConfig c;
    c.model = "PX-64 virtual";
    return c;
}

}  // namespace

TEST(ManyPorts, EightyControllersEachServeTheirOwnClient) {
    TempSettings settings;
    const char* bin = std::getenv("TAVIK_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    ::setenv("TAVIK_PLUGIN_DIR", bin, 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("TAVIK_FOREGROUND_PID_FILE");
    const std::string list = settings.folder() + "/ftdi.list";
    ::setenv("TAVIK_FTDI_DOUBLE", list.c_str(), 1);
    auto info = ConnectionInfo::open();
    ASSERT_TRUE(info);

    std::vector<Port> ports(kPorts);
    for (int p = 0; p < kPorts; ++p) {
        Port& port = ports[static_cast<size_t>(p)];
        port.index = p;
        const std::string link = settings.folder() + "/dev" + std::to_string(p);
        const bool usb = p >= kFirstUsbPort;
        if (usb) {
            const std::string serial = "MANY" + std::to_string(p);
            ConnectionInfoEntry& e = info->map().entries[p - kFirstUsbPort];
            setFieldString(e.serialNumber, serial);
            setFieldString(e.description, "New PX-2 USB driver");
            platform::storeWord(e.inUse, 1);
            // The plug-in opens only a device the user's own selection recorded.
            ASSERT_TRUE(rememberConnectionSerial(serial));
            std::ofstream(list, std::ios::app) << serial << "|New PX-2 USB driver|" << link << "\n";
        } else {
            settings.mapPort(p, link);
        }
        port.map = PortMap::open(p);
        ASSERT_TRUE(port.map);
        fillDeviceFields(port.map->map());
        setFieldString(port.map->map().driverFile, usb ? "Padrik_ft.dll" : "Padrik.dll");
        port.device = std::make_unique<FakeDevice>(tactile(), link);
        port.client = std::make_unique<NotifyThread>();
        enterDisplaySlot(port.map->map(), 0, ::getpid(), port.client->threadId(), true);
        port.text.assign(32, static_cast<uint8_t>(p + 1));
    }
    for (Port& port : ports) {
        std::string path = std::string(bin) + "/TAVIK";
        std::string remote = " /Remote ", portArg = "/Port:" + std::to_string(port.index) + " ";
        char* argv[] = {path.data(), remote.data(), portArg.data(), nullptr};
        ASSERT_EQ(::posix_spawn(&port.controller, path.c_str(), nullptr, nullptr, argv, environ), 0);
    }

    // Every controller announces itself and its device is identified.
    const PhaseBound announced;
    for (Port& port : ports) {
        PortDataMap& m = port.map->map();
        EXPECT_TRUE(waitUntil([&] {
            return platform::loadWord(m.controllerThreadId) != 0 && platform::loadWord(m.status) == kStatusConnected &&
                   platform::loadWord(m.deviceIdentified) == 1;
        }, announced.left())) << "port " << port.index;
    }
    // Each client's text reaches its own device.
    for (Port& port : ports) writeSlot(port.map->map(), 0, port.text, {});
    const PhaseBound written;
    for (Port& port : ports)
        EXPECT_TRUE(port.device->waitFor([&](const padsim::DeviceModel& d) { return d.state().text == port.text; },
                                         static_cast<int>(written.left().count())))
            << "port " << port.index;
    // Each device's key reaches its own client.
    for (Port& port : ports) {
        const uint8_t key[] = {4, static_cast<uint8_t>(port.index), 0, 0};
        port.device->send(padsim::DeviceModel::frame(0xE1, 0, key));
    }
    const PhaseBound keyed;
    for (Port& port : ports) {
        if (!port.client->waitEvents(1, static_cast<int>(keyed.left().count()))) {
            ADD_FAILURE() << "no key reached the client of port " << port.index;
            continue;  // the controllers are still ended below
        }
        const auto e = port.client->events().front();
        EXPECT_EQ(e.code, kNotifyKey);
        EXPECT_EQ(e.lParam & 0xFFFFFFFF, 4 | (port.index << 8)) << "port " << port.index;
    }

    // Every client leaves: every controller ends on its own.
    for (Port& port : ports) platform::addWord(port.map->map().entryCount, -1);
    const PhaseBound ending;
    for (Port& port : ports) {
        int status = -1;
        const bool ended = waitUntil([&] { return ::waitpid(port.controller, &status, WNOHANG) == port.controller; },
                                     ending.left());
        if (!ended) {
            ::kill(port.controller, SIGKILL);
            ::waitpid(port.controller, nullptr, 0);
        }
        EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 1) << "port " << port.index;
        EXPECT_EQ(platform::loadWord(port.map->map().controllerThreadId), 0);
    }
}
