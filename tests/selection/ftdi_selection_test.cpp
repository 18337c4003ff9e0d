// The FTDI selection against the FTDI double: connection entries (shared
// serial numbers, the seventeenth device), the description check, devices
// that cannot be opened, and the exported calls.
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>

#include "client/selection/ftdi_selection.h"
#include "common/connection_record.h"
#include "common/settings.h"
#include "client/tavikutil.h"
#include "fake_sysfs.h"

namespace tavik::selection {
namespace {

// A pseudo-terminal pair the double's devices open.
class Pty {
public:
    Pty() {
        char name[256];
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) == 0) path_ = name;
    }
    ~Pty() {
        if (master_ >= 0) ::close(master_);
        if (slave_ >= 0) ::close(slave_);
    }
    const std::string& path() const { return path_; }

private:
    int master_ = -1, slave_ = -1;
    std::string path_;
};

class FtdiSelection : public ::testing::Test {
protected:
    test::FakeSysfs dir;
    Pty pty;
    std::string list = (dir.root() / "ftdi.list").string();
    ConnectionInfoMap map{};

    void devices(std::initializer_list<std::pair<std::string, std::string>> rows, std::string lastPath = {}) {
        std::ofstream out(list, std::ios::trunc);
        std::size_t i = 0;
        for (const auto& [serial, description] : rows) {
            const bool last = ++i == rows.size();
            out << serial << '|' << description << '|' << (last && !lastPath.empty() ? lastPath : pty.path())
                << '\n';
        }
    }
    int32_t select() {
        auto link = ftdi::createPtyDoubleLink(list);
        return selectFtConnection(link.get(), &map);
    }
};

TEST(ConnectionEntries, SameSerialSharesAnEntryAndTheSeventeenthGetsNone) {
    ConnectionInfoMap map{};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(connectionInfoEntry(map, "SN" + std::to_string(i), "New PX-2 USB driver"), 64 + i);
    EXPECT_EQ(connectionInfoEntry(map, "SN5", "other text"), 69) << "found by serial alone";
    EXPECT_EQ(connectionInfoEntry(map, "sn5", "New PX-2 USB driver"), -1) << "case-sensitive, and the map is full";
    EXPECT_EQ(map.entries[3].inUse, 1);
    EXPECT_STREQ(map.entries[3].serialNumber, "SN3");
    EXPECT_STREQ(map.entries[3].description, "New PX-2 USB driver");
}

TEST(ConnectionEntries, FreedEntriesAreReusedAndLongTextsAreCut) {
    ConnectionInfoMap map{};
    map.entries[0].inUse = 1;
    std::strcpy(map.entries[0].serialNumber, "taken");
    const std::string longSerial(80, 'S');
    EXPECT_EQ(connectionInfoEntry(map, longSerial, std::string(90, 'D')), 65);
    EXPECT_EQ(std::strlen(map.entries[1].serialNumber), 63u);
    EXPECT_EQ(std::strlen(map.entries[1].description), 63u);
    EXPECT_EQ(connectionInfoEntry(map, longSerial, ""), 65) << "the cut serial still finds its entry";
    // An entry that is not in use is never matched by its stale serial.
    map.entries[5].inUse = 0;
    std::strcpy(map.entries[5].serialNumber, "stale");
    EXPECT_EQ(connectionInfoEntry(map, "stale", ""), 66);
}

TEST_F(FtdiSelection, FindsTheNewPx2AndRegistersIt) {
    ASSERT_FALSE(pty.path().empty());
    devices({{"FT01", "New PX-2 USB driver"}});
    EXPECT_EQ(select(), 64);
    EXPECT_STREQ(map.entries[0].serialNumber, "FT01");
    EXPECT_STREQ(map.entries[0].description, "New PX-2 USB driver");
    // The double's log shows the last device opened and closed again.
    std::ifstream log(list + ".log");
    std::string all((std::istreambuf_iterator<char>(log)), {});
    EXPECT_NE(all.find("open-index FT01\nclose"), std::string::npos) << all;
}

// The user's record of registered serial numbers: written by the selection,
// private to the user, and the only thing the plug-in trusts.
TEST_F(FtdiSelection, RegistrationGoesIntoTheUsersPrivateRecord) {
    ::setenv("XDG_CONFIG_HOME", (dir.root() / "config").c_str(), 1);
    InitSettingsPaths();
    devices({{"REC\x01=[x]", "New PX-2 USB driver"}});
    EXPECT_EQ(select(), 64);
    EXPECT_TRUE(connectionSerialRemembered("REC\x01=[x]"));
    EXPECT_FALSE(connectionSerialRemembered("REC"));
    EXPECT_FALSE(connectionSerialRemembered("FORGED"));
    struct stat st {};
    ASSERT_EQ(::stat(connectionRecordPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // A record others may write is no proof.
    ::chmod(connectionRecordPath().c_str(), 0622);
    EXPECT_FALSE(connectionSerialRemembered("REC\x01=[x]"));
}

TEST_F(FtdiSelection, DuplicateSerialNumbersMapToOnePort) {
    devices({{"DUP1", "New PX-2 USB driver"}, {"DUP1", "New PX-2 USB driver"}});
    EXPECT_EQ(select(), 64);
    EXPECT_EQ(select(), 64);
    EXPECT_EQ(map.entries[1].inUse, 0);
}

TEST_F(FtdiSelection, SeventeenSerialNumbersLeaveTheLastWithout) {
    for (int i = 0; i < 17; ++i) {
        devices({{"SER" + std::to_string(i), "New PX-2 USB driver"}});
        EXPECT_EQ(select(), i < 16 ? 64 + i : -1) << i;
    }
}

TEST_F(FtdiSelection, WrongDescriptionNoDeviceOrUnopenableDeviceFail) {
    devices({{"A1", "New PX-2 USB Driver"}});
    EXPECT_EQ(select(), -1) << "the description is compared exactly";
    devices({{"A1", "New PX-2 USB driver "}});
    EXPECT_EQ(select(), -1);
    devices({{"A1", "FT232R USB UART"}, {"A2", "New PX-2 USB driver"}});
    EXPECT_EQ(select(), -1) << "device 0 is the one examined";
    devices({});
    EXPECT_EQ(select(), -1);
    devices({{"A1", "New PX-2 USB driver"}, {"A2", "x"}}, "/nonexistent/pty");
    EXPECT_EQ(select(), -1) << "the last device cannot be opened";
    EXPECT_EQ(selectFtConnection(nullptr, &map), -1);
    for (const auto& e : map.entries) EXPECT_EQ(e.inUse, 0);
}

TEST_F(FtdiSelection, ExportedCallsUseTheDoubleNamedInTheEnvironment) {
    devices({{"EXP" + std::to_string(::getpid()), "New PX-2 USB driver"}});
    ::setenv("TAVIK_FTDI_DOUBLE", list.c_str(), 1);
    const char* name = nullptr;
    int port = -1, connected = -1;
    ASSERT_EQ(gdSelectFTConnection(&name, &port), 1);
    EXPECT_STREQ(name, "Pinora New PX-2");
    EXPECT_GE(port, 64);
    EXPECT_LE(port, 79);
    EXPECT_EQ(gdSelectFTConnection(nullptr, nullptr), 1) << "outputs are optional";

    name = nullptr;
    int again = -1;
    EXPECT_EQ(gdSelectFTConnectionEx(&name, &again, &connected), 1);
    EXPECT_EQ(again, port);
    EXPECT_EQ(connected, 0) << "no port shows an identified New PX-2";

    devices({{"EXP", "wrong"}});
    EXPECT_EQ(gdSelectFTConnection(&name, &port), 0);
    EXPECT_EQ(gdSelectFTConnectionEx(&name, &port, &connected), 0);
    ::unsetenv("TAVIK_FTDI_DOUBLE");
}

TEST_F(FtdiSelection, ExPrefersAPortWhoseDeviceIdentifiedAsTheNewPx2) {
    // A port map as the plug-in leaves it once the device answered.
    auto identified = PortMap::open(79);
    ASSERT_TRUE(identified);
    setFieldString(identified->map().deviceName, "Pinora New PX-2");
    identified->map().deviceIdentified = 1;
    auto other = PortMap::open(78);
    ASSERT_TRUE(other);
    setFieldString(other->map().deviceName, "Pinora PX-2");
    other->map().deviceIdentified = 1;

    const char* name = nullptr;
    int port = -1, connected = -1;
    ASSERT_EQ(gdSelectFTConnectionEx(&name, &port, &connected), 1);
    EXPECT_EQ(port, 79);
    EXPECT_EQ(connected, 1);
    EXPECT_STREQ(name, "Pinora New PX-2");

    identified->map().deviceIdentified = 0;  // not yet identified: not taken
    ::setenv("TAVIK_FTDI_DOUBLE", list.c_str(), 1);
    devices({});
    EXPECT_EQ(gdSelectFTConnectionEx(&name, &port, &connected), 0);
    ::unsetenv("TAVIK_FTDI_DOUBLE");
}

}  // namespace
}  // namespace tavik::selection
