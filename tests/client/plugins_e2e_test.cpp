// The same application, unchanged, on the USB plug-in (through the FTDI test
// double) and on the note-taker plug-in: start, display, graphic on the pins,
// a device key in the key callback, end.
#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/padsim.h"
#include "tests/support/processes.h"
#include "tests/support/suite_env.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "common/data_maps.h"
#include "platform/atomic_word.h"

using namespace tavik::test;

namespace {

std::string hexText(const std::string& s) { return hexOf(std::vector<unsigned char>(s.begin(), s.end())); }

class OtherPlugins : public ::testing::Test {
protected:
    void start(const std::string& plugin, const std::vector<std::string>& padsimArgs) {
        const std::string bin = binDir();
        for (const std::string& f : {std::string("TAVIK"), plugin + ".so", std::string("padsim")})
            if (!std::filesystem::exists(bin + "/" + f)) GTEST_SKIP() << f << " not built yet";
        tmp_.emplace("plugins-e2e");
        dir_ = tmp_->path();
        pad_ = std::make_unique<Padsim>(dir_, padsimArgs);
        env_ = suiteEnv(dir_, {"DISPLAY=", "TAVIK_FTDI_DOUBLE=" + dir_ + "/ftdi.list"});
        writeFile(dir_ + "/fg", "0\n");
    }
    void TearDown() override {
        app_.reset();
        if (!dir_.empty())
            waitUntil([&] { return controllerPids(binDir() + "/TAVIK", port_).empty(); });
        pad_.reset();
        if (info_) info_->map().entries[entry_] = saved_;
    }
    Child& app() {
        app_ = std::make_unique<Child>(CLIENT_APP_PATH, std::vector<std::string>{}, env_);
        return *app_;
    }

    std::optional<TempDir> tmp_;  // goes last: the processes above end first
    std::string dir_;
    int port_ = 0;
    int entry_ = 0;
    std::optional<tavik::ConnectionInfo> info_;
    tavik::ConnectionInfoEntry saved_{};
    std::unique_ptr<Padsim> pad_;
    std::vector<std::string> env_;
    std::unique_ptr<Child> app_;
};

}  // namespace

TEST_F(OtherPlugins, UsbDisplayThroughTheFtdiDouble) {
    start("Padrik_ft", {"--size", "48x32", "--cells", "0", "--model", "New PX-2 virtual"});
    if (!pad_) return;
    // The USB connection as detection registers it: an entry of the
    // connection info map, and the device in the FTDI list.
    entry_ = 1 + ::getpid() % 15;
    port_ = tavik::kFirstUsbPort + entry_;
    info_ = tavik::ConnectionInfo::open();
    ASSERT_TRUE(info_);
    tavik::ConnectionInfoEntry& e = info_->map().entries[entry_];
    saved_ = e;
    const std::string serial = "E2E" + std::to_string(::getpid());
    tavik::setFieldString(e.serialNumber, serial);
    tavik::setFieldString(e.description, "New PX-2 USB");
    tavik::platform::storeWord(e.inUse, 1);
    writeFile(dir_ + "/ftdi.list", serial + "|New PX-2 USB|" + pad_->link() + "\n");

    // An entry this user's selection never registered (anyone can write
    // the map): the plug-in does not open the device.
    {
        Child& forged = app();
        ASSERT_EQ(forged.result("start " + std::to_string(port_) + " Pinora New PX-2"), 1);
        EXPECT_FALSE(forged.expect("status 1", 2s)) << "a device named only in the shared map was opened";
        EXPECT_EQ(forged.result("end"), 1);
        ASSERT_TRUE(waitUntil([&] { return controllerPids(binDir() + "/TAVIK", port_).empty(); }));
        app_.reset();
    }
    // Registered as the user's own selection does it.
    writeFile(dir_ + "/config/Orvane/TAVIK200_J/Connections.ini", "[Registered]\ns" + hexText(serial) + "=1\n");
    ::chmod((dir_ + "/config/Orvane/TAVIK200_J/Connections.ini").c_str(), 0600);

    Child& a = app();
    ASSERT_EQ(a.result("start " + std::to_string(port_) + " Pinora New PX-2"), 1);
    ASSERT_TRUE(a.expect("status 1"));
    ASSERT_EQ(a.result("display 3"), 1);
    // A diagonal in plane 1 of the 48 x 32 pins.
    std::vector<unsigned char> p1(48 * 4, 0);
    for (int r = 0; r < 32; ++r) p1[static_cast<size_t>((r / 8) * 48 + r)] |= static_cast<unsigned char>(1u << (r % 8));
    ASSERT_EQ(a.result("graphic " + hexOf(p1) + " - 0"), 1);
    EXPECT_TRUE(pad_->waitState([&](const std::string& s) {
        auto rows = Padsim::grid(s, "plane1");
        if (rows.size() != 32) return false;
        for (int r = 0; r < 32; ++r)
            for (int x = 0; x < 48; ++x)
                if (rows[static_cast<size_t>(r)][static_cast<size_t>(x)] != (x == r ? '#' : '.')) return false;
        return true;
    })) << pad_->state();
    EXPECT_NE(pad_->log().find("rx 92"), std::string::npos) << "uncompressed planes on USB";
    pad_->command("key 4 2 0 0");
    EXPECT_TRUE(a.expect("key 4 2 0"));
    ASSERT_EQ(a.result("end"), 1);
}

TEST_F(OtherPlugins, NoteTakerThroughItsBrailleFrames) {
    start("Notdrv", {"--notetaker-cells", "16", "--size", "4x32", "--cells", "0", "--model", "Notaro"});
    if (!pad_) return;
    port_ = 10 + ::getpid() % 50;
    writePortMap(dir_, port_, pad_->link());
    // "Notaro" is a built-in row of the Japanese interface.
    env_.push_back("LC_ALL=ja_JP.UTF-8");
    Child& a = app();
    ASSERT_EQ(a.result("start " + std::to_string(port_) + " Notaro"), 1);
    ASSERT_TRUE(a.expect("status 1"));
    ASSERT_EQ(a.result("display 3"), 1);
    // Dot (column 0, row 0) of the 4 x 32 portrait image: bit 0x10 of cell 0.
    std::vector<unsigned char> p1(4 * 4, 0);
    p1[0] = 1;
    ASSERT_EQ(a.result("graphic " + hexOf(p1) + " - 0"), 1);
    EXPECT_TRUE(pad_->waitState([&](const std::string& s) {
        return Padsim::value(s, "braille1") == "10" + std::string(30, '0');
    })) << pad_->state();
    pad_->command("key 4 3 0 0");
    EXPECT_TRUE(a.expect("key 4 3 0"));
    ASSERT_EQ(a.result("end"), 1);
    EXPECT_TRUE(pad_->waitState([](const std::string& s) { return Padsim::value(s, "notetaker_ended") == "1"; }));
}
