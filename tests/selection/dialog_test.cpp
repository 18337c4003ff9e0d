// The Qt dialogs on the offscreen platform, loaded as the client library
// loads them and answered through the answer script: the port selection
// dialog's lists and what OK stores, the detection's message boxes, gdStart
// with "QueryConditionAlways", and the answers when nobody can be asked.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "client/device_table.h"
#include "client/selection/port_dialog_flow.h"
#include "client/selection/usb_detection.h"
#include "client/tavikutil.h"
#include "common/ini_store.h"
#include "common/settings.h"
#include "fake_sysfs.h"

namespace tavik::selection {
namespace {

class Dialogs : public ::testing::Test {
protected:
    test::FakeSysfs fs;
    std::string script = (fs.root() / "answers").string();
    std::string log = (fs.root() / "shown.log").string();

    void SetUp() override {
        const std::string lib = std::string(std::getenv("TAVIK_BIN_DIR") ? std::getenv("TAVIK_BIN_DIR") : ".") +
                                "/libtavikutil_ui.so";
        ::setenv("TAVIK_UI_LIBRARY", lib.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("TAVIK_UI_SCRIPT", script.c_str(), 1);
        ::setenv("TAVIK_UI_LOG", log.c_str(), 1);
        SetUiLanguage(kLangEnglish);
    }
    void TearDown() override {
        ::unsetenv("TAVIK_UI_SCRIPT");
        ::unsetenv("TAVIK_UI_LOG");
    }
    void answers(const std::string& lines) { std::ofstream(script, std::ios::trunc) << lines; }
    std::vector<std::string> shown() {
        std::vector<std::string> out;
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }
    bool runDialog(client::DeviceTable& table, uint16_t language = kLangEnglish) {
        return runPortSelectionDialog(systemUi(), table, fs.ini(), language, 0);
    }
};

TEST_F(Dialogs, OkStoresPortAndDeviceAndTheFtdiModelIsNeverListed) {
    client::DeviceTable table;
    answers("dialog|Com4|Pinora PX-2|ok\n");
    ASSERT_TRUE(runDialog(table));
    EXPECT_EQ(profileGetInt("connection", "port", -1, fs.ini()), 3);
    EXPECT_EQ(profileGetInt("connection", "device", -1, fs.ini()), 1);
    EXPECT_EQ(table.selectedPort, 3);
    EXPECT_EQ(table.selectedDevice, 1);
    auto lines = shown();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "dialog|Port selection|port=Com1|device=Pinora PX-1|devices=Pinora PX-1;Pinora PX-2;QX-64X48");

    // The next dialog opens on the stored choice; Japanese lists Notaro, still not the FTDI model.
    answers("dialog|||ok\n");
    ASSERT_TRUE(runDialog(table, kLangJapanese));
    lines = shown();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1],
              "dialog|接続ポートの選択|port=Com4|device=Pinora PX-2|devices=Pinora PX-1;Pinora PX-2;Notaro;QX-64X48");
}

TEST_F(Dialogs, TableRowsComeFirstAndTheListStopsAtTheFtdiModel) {
    profileWriteString("devices", "device1", "Custom 80", fs.ini());
    client::DeviceTable table;
    answers("dialog|Com64|Custom 80|ok\n");
    ASSERT_TRUE(runDialog(table));
    EXPECT_EQ(profileGetInt("connection", "port", -1, fs.ini()), 63);
    EXPECT_EQ(profileGetInt("connection", "device", -1, fs.ini()), 0);
    EXPECT_NE(shown()[0].find("devices=Custom 80;Pinora PX-1;"), std::string::npos);
    EXPECT_EQ(shown()[0].find("New PX-2"), std::string::npos);
}

TEST_F(Dialogs, CancelAndClosingStoreNothing) {
    profileWriteString("connection", "port", "5", fs.ini());
    client::DeviceTable table;
    answers("dialog|Com9|QX-64X48|cancel\ndialog|Com9||close\n");
    EXPECT_FALSE(runDialog(table));
    EXPECT_FALSE(runDialog(table));
    EXPECT_EQ(profileGetInt("connection", "port", -1, fs.ini()), 5);
    EXPECT_EQ(profileGetInt("connection", "device", -1, fs.ini()), -1);
    EXPECT_EQ(shown().size(), 2u);
    EXPECT_FALSE(runDialog(table)) << "an exhausted script closes the dialog";
}

TEST_F(Dialogs, AStoredFtdiModelIsNotKeptBehindAnEmptyList) {
    profileWriteString("connection", "device", "3", fs.ini());  // "Pinora New PX-2" in the English table
    client::DeviceTable table;
    answers("dialog|Com2||ok\n");
    ASSERT_TRUE(runDialog(table));
    EXPECT_NE(shown()[0].find("device=Pinora PX-1|"), std::string::npos);
    EXPECT_EQ(profileGetInt("connection", "device", -1, fs.ini()), 0);
}

TEST_F(Dialogs, DetectionBoxesAreAnsweredOnRealButtons) {
    fs.addUsbNode("ttyACM0", "2e8a", "000a", "cdc_acm");
    fs.addUsbNode("ttyUSB0", "10c4", "ea60", "cp210x");
    profileWriteString("UsbDetection", "Display", "2e8a:000a", fs.ini());
    profileWriteString("Ports", "Com5", fs.dev("ttyACM0"), fs.ini());
    const DetectionContext c{fs.roots(), fs.ini(), kLangJapanese};
    int port = -1;
    answers("no\nyes\n");
    EXPECT_EQ(usbPortDetection(systemUi(), c, 0, &port), 1);
    EXPECT_EQ(profileGetString("Ports", "Com1", "", fs.ini()), fs.dev("ttyUSB0"));
    EXPECT_EQ(port, 0);
    auto lines = shown();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "box|接続ポートの選択|PinoraのUSB接続プロファイルをポートCom5で検出しました。検索を終了しますか？|yes-no-cancel");

    answers("cancel\n");
    EXPECT_EQ(usbPortDetection(systemUi(), c, 0, &port), -1);
    answers("close\n");
    EXPECT_EQ(usbPortDetection(systemUi(), c, 0, &port), -1) << "closing the box is Cancel";
    answers("no\nno\nok\n");
    EXPECT_EQ(usbPortDetection(systemUi(), c, 0, &port), 0);
    EXPECT_EQ(shown().back(), "box|接続ポートの選択|USB接続を検出できませんでした。|ok-cancel");
}

TEST_F(Dialogs, NobodyToAnswerMeansCancel) {
    client::DeviceTable table;
    ::unsetenv("TAVIK_UI_SCRIPT");  // offscreen and no script: nobody sees the dialog
    EXPECT_FALSE(runDialog(table));
    EXPECT_EQ(systemUi().messageBox("c", "t", Buttons::OkCancel, 0), Answer::None);
    EXPECT_TRUE(shown().empty());

    // No platform and no display: the library is not even asked.
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    ::unsetenv("QT_QPA_PLATFORM");
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("TAVIK_UI_SCRIPT", script.c_str(), 1);
    answers("dialog|Com2||ok\n");
    EXPECT_FALSE(runDialog(table));
    EXPECT_EQ(gdStartSelection(nullptr, 0), 0);
    int port = -1;
    EXPECT_EQ(gdUsbPortDetection(0, &port), 0) << "on this machine nothing is found; the closing box has no answer";
    EXPECT_TRUE(shown().empty());
    if (!saved.empty()) ::setenv("DISPLAY", saved.c_str(), 1);
}

TEST_F(Dialogs, QueryConditionAlwaysShowsTheDialogForSerialPorts) {
    // gdStart reads the library's own TAVIK.ini.
    const std::string ini = TavikIniPath();
    profileWriteString("Priority", "QueryConditionAlways", "1", ini);
    answers("dialog|Com3|Pinora PX-1|cancel\n");
    EXPECT_EQ(gdStart("Pinora PX-2", 2, nullptr), 0);
    ASSERT_EQ(shown().size(), 1u);
    EXPECT_EQ(shown()[0].rfind("dialog|Port selection|", 0), 0u);
    profileDeleteKey("Priority", "QueryConditionAlways", ini);
}

}  // namespace
}  // namespace tavik::selection

// The library's settings folder lies in a folder of the test's own.
int main(int argc, char** argv) {
    char pattern[] = "/tmp/tavik_selcfg_XXXXXX";
    if (const char* dir = ::mkdtemp(pattern)) ::setenv("XDG_CONFIG_HOME", dir, 1);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    std::filesystem::remove_all(pattern);
    return rc;
}
