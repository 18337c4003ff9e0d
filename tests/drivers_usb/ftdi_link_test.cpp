// The FTDI double's device list and the ttyUSB lookup by USB serial number.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "drivers/usb/ftdi_link.h"
#include "drivers/usb/usb_serial_node.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using namespace tavik;
using tavik::drv::findUsbSerialNode;

namespace {

// A sysfs-like tree: class/tty/<name>/device -> devices/.../<usb dev>/<if>/<name>.
void addUsbTty(const std::string& root, const std::string& name, const std::string& usbDev, const std::string& serial) {
    const fs::path dev = fs::path(root) / "devices/pci0/usb1" / usbDev;
    const fs::path port = dev / (usbDev + ":1.0") / name;
    fs::create_directories(port);
    std::ofstream(dev / "idVendor") << "0403\n";
    std::ofstream(dev / "idProduct") << "6001\n";
    if (!serial.empty()) std::ofstream(dev / "serial") << serial << "\n";
    fs::create_directories(fs::path(root) / "class/tty" / name);
    fs::create_directory_symlink(port, fs::path(root) / "class/tty" / name / "device");
}

}  // namespace

TEST(UsbSerialNode, FindsTheNodeWhoseUsbDeviceHasTheSerial) {
    const tavik::test::TempDir t("ftdi");
    addUsbTty(t.path(), "ttyUSB0", "1-1", "AB12");
    addUsbTty(t.path(), "ttyUSB1", "1-2", "PX2SER");
    addUsbTty(t.path(), "ttyUSB2", "1-3", "");  // no serial number at all
    fs::create_directories(fs::path(t.path()) / "class/tty/ttyS0");  // not USB
    const std::string cls = t.path() + "/class/tty";
    EXPECT_EQ(findUsbSerialNode("PX2SER", cls, "/dev"), "/dev/ttyUSB1");
    EXPECT_EQ(findUsbSerialNode("AB12", cls, "/dev"), "/dev/ttyUSB0");
    EXPECT_EQ(findUsbSerialNode("PX2", cls, "/dev"), "") << "whole serial numbers only";
    EXPECT_EQ(findUsbSerialNode("", cls, "/dev"), "");
    EXPECT_EQ(findUsbSerialNode("AB12", t.path() + "/missing", "/dev"), "");
}

TEST(FtdiDouble, ListsDevicesFromItsFileAndRecordsWhatItIsAsked) {
    const tavik::test::TempDir t("ftdi");
    const std::string list = t.path() + "/list";
    std::ofstream(list) << "# serial|description|path\n"
                        << "S1|New PX-2 USB driver|" << t.path() << "/nowhere\n"
                        << "broken line\n"
                        << "\n"
                        << "S2|Other|/dev/null\n";
    auto link = ftdi::createPtyDoubleLink(list);
    int count = -1;
    ASSERT_EQ(link->deviceCount(count), ftdi::kOk);
    EXPECT_EQ(count, 2);
    std::string s, d;
    EXPECT_EQ(link->serialNumber(1, s), ftdi::kOk);
    EXPECT_EQ(s, "S2");
    EXPECT_EQ(link->description(0, d), ftdi::kOk);
    EXPECT_EQ(d, "New PX-2 USB driver");
    EXPECT_EQ(link->serialNumber(2, s), ftdi::kDeviceNotFound);
    EXPECT_EQ(link->description(-1, d), ftdi::kDeviceNotFound);

    // Calls on a device that is not open fail.
    ftdi::QueueStatus q;
    std::size_t n = 0;
    EXPECT_EQ(link->queueStatus(q), ftdi::kInvalidHandle);
    EXPECT_EQ(link->write(std::vector<uint8_t>{1}, n), ftdi::kInvalidHandle);
    EXPECT_EQ(link->close(), ftdi::kInvalidHandle);

    EXPECT_EQ(link->openBySerial("S9"), ftdi::kDeviceNotFound);
    EXPECT_EQ(link->openBySerial("S1"), ftdi::kDeviceNotOpened) << "its path does not exist";
    ASSERT_EQ(link->openByIndex(1), ftdi::kOk);
    EXPECT_EQ(link->openBySerial("S2"), ftdi::kDeviceNotOpened) << "one device per link";
    EXPECT_EQ(link->setLatencyTimer(0), ftdi::kInvalidParameter);
    ftdi::LineSettings bad;
    bad.dataBits = 5;
    EXPECT_EQ(link->setLineSettings(bad), ftdi::kInvalidParameter);
    EXPECT_EQ(link->close(), ftdi::kOk);

    std::ifstream in(list + ".log");
    std::string all((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(all.find("open-index S2\n"), std::string::npos) << all;
    EXPECT_NE(all.find("close\n"), std::string::npos) << all;
}
