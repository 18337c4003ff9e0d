// USB-serial detection on a fake sysfs tree: which nodes are found, which Com
// numbers they get through "Ports", the order of the searches by language and
// the answers to the questions.
#include <gtest/gtest.h>

#include <deque>

#include "client/selection/com_ports.h"
#include "client/selection/usb_detection.h"
#include "common/ini_store.h"
#include "common/settings.h"
#include "fake_sysfs.h"

namespace tavik::selection {
namespace {

using test::FakeSysfs;

// Answers the questions from a list and records what was asked.
class ScriptedUi final : public SelectionUi {
public:
    std::deque<Answer> answers;
    std::vector<std::string> texts;
    std::vector<Buttons> buttons;
    std::string caption;

    Answer messageBox(const std::string& c, const std::string& text, Buttons b, unsigned long) override {
        caption = c;
        texts.push_back(text);
        buttons.push_back(b);
        if (answers.empty()) return Answer::None;
        Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    bool portDialog(PortDialogRequest&) override { return false; }
};

TEST(UsbScan, ListsUsbNodesInOrderWithIdsAndDrivers) {
    FakeSysfs fs;
    fs.addUsbNode("ttyUSB10", "10c4", "ea60", "cp210x");
    fs.addUsbNode("ttyUSB2", "0403", "6001", "ftdi_sio");
    fs.addUsbNode("ttyACM0", "2e8a", "000A", "cdc_acm");
    fs.addUsbNode("ttyUSB3", "zz00", "0001", "ftdi_sio");  // unreadable id: left out
    fs.addPlainNode("ttyS0", 4);                          // not USB
    fs.addPlainNode("ttyUSBx", 0);                        // not a node name

    const auto nodes = scanUsbTtyNodes(fs.roots());
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0].name, "ttyACM0");
    EXPECT_EQ(nodes[0].vendor, 0x2e8a);
    EXPECT_EQ(nodes[0].product, 0x000a);
    EXPECT_EQ(nodes[0].driver, "cdc_acm");
    EXPECT_EQ(nodes[1].name, "ttyUSB2");
    EXPECT_EQ(nodes[1].driver, "ftdi_sio");
    EXPECT_EQ(nodes[2].name, "ttyUSB10");
    EXPECT_EQ(nodes[2].vendor, 0x10c4);
    EXPECT_EQ(nodes[2].devicePath, fs.dev("ttyUSB10"));

    EXPECT_TRUE(scanUsbTtyNodes({"/nonexistent/tty", "/dev"}).empty());
}

TEST(UsbScan, RulesMatchIdsVendorWildcardsAndDrivers) {
    UsbTtyNode node{"ttyUSB0", "/dev/ttyUSB0", 0x10c4, 0xea60, "cp210x", ""};
    EXPECT_TRUE(matchesRule(node, "10c4:ea60"));
    EXPECT_TRUE(matchesRule(node, "0403:6001, 10C4:*"));
    EXPECT_TRUE(matchesRule(node, " cp210x "));
    EXPECT_FALSE(matchesRule(node, "10c4:ea61"));
    EXPECT_FALSE(matchesRule(node, "ftdi_sio,,"));
    EXPECT_FALSE(matchesRule(node, "10c4"));
    EXPECT_FALSE(matchesRule(node, ""));
    node.driver.clear();
    EXPECT_FALSE(matchesRule(node, "cp210x"));
}

TEST(ComPorts, NamesAreComparedWithoutCaseAndBounded) {
    EXPECT_EQ(comNameIndex("COM5"), 4);
    EXPECT_EQ(comNameIndex("com64"), 63);
    EXPECT_EQ(comNameIndex("Com1"), 0);
    EXPECT_FALSE(comNameIndex("Com65"));
    EXPECT_FALSE(comNameIndex("Com0"));
    EXPECT_FALSE(comNameIndex("Com05"));
    EXPECT_FALSE(comNameIndex("LPT1"));
    EXPECT_FALSE(comNameIndex(""));
    EXPECT_FALSE(comNameIndex(std::string(41, 'x')));
    EXPECT_EQ(comName(4), "Com5");
}

TEST(ComPorts, NodeKeepsItsNumberOrGetsTheFirstFreeOne) {
    FakeSysfs fs;
    fs.addPlainNode("ttyS0", 4);  // a real UART: Com1 stays its own
    fs.addPlainNode("ttyS1", 0);  // a placeholder: Com2 is free
    profileWriteString("Ports", "com3", "/dev/ttyUSB7", fs.ini());
    const std::string tty = fs.roots().sysClassTty;

    EXPECT_EQ(comIndexForNode("/dev/ttyUSB7", fs.ini(), tty), 2) << "existing key, any case";
    EXPECT_EQ(comIndexForNode("/dev/ttyACM0", fs.ini(), tty), 1);
    EXPECT_EQ(profileGetString("Ports", "Com2", "", fs.ini()), "/dev/ttyACM0");
    EXPECT_EQ(comIndexForNode("/dev/ttyACM0", fs.ini(), tty), 1) << "stable across searches";
    EXPECT_EQ(comIndexForNode("/dev/ttyUSB0", fs.ini(), tty), 3) << "Com3 is keyed, Com4 is next";

    for (int i = 0; i < 64; ++i) profileWriteString("Ports", comName(i), "/dev/ttyS" + std::to_string(i), fs.ini());
    EXPECT_FALSE(comIndexForNode("/dev/ttyUSB9", fs.ini(), tty)) << "all 64 taken";
}

class Detection : public ::testing::Test {
protected:
    FakeSysfs fs;
    ScriptedUi ui;
    DetectionContext context(uint16_t language) { return {fs.roots(), fs.ini(), language}; }
    void useRules() {
        profileWriteString("UsbDetection", "Display", "2e8a:000a", fs.ini());
        profileWriteString("UsbDetection", "Notaro32", "1234:*", fs.ini());
    }
    void addAllKinds() {
        fs.addUsbNode("ttyUSB0", "10c4", "ea60", "cp210x");  // Pocket
        fs.addUsbNode("ttyUSB1", "1234", "0032", "cdc_acm");  // 32 model (as a ttyUSB node)
        fs.addUsbNode("ttyACM0", "2e8a", "000a", "cdc_acm");  // display
        profileWriteString("Ports", "Com5", fs.dev("ttyACM0"), fs.ini());
    }
};

TEST_F(Detection, EnglishSearchesOnlyTheDisplay) {
    useRules();
    addAllKinds();
    const auto found = searchUsbPorts(context(kLangEnglish));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].kind, UsbKind::Display);
    EXPECT_EQ(found[0].portIndex, 4);
    // The note-taker nodes were not even given Com numbers.
    EXPECT_EQ(profileGetSection("Ports", fs.ini()).size(), 1u);
}

TEST_F(Detection, JapaneseSearchesDisplayThen32ThenPocket) {
    useRules();
    addAllKinds();
    const auto found = searchUsbPorts(context(kLangJapanese));
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].kind, UsbKind::Display);
    EXPECT_EQ(found[1].kind, UsbKind::Notaro32);
    EXPECT_EQ(found[2].kind, UsbKind::NotaroPocket);
    EXPECT_EQ(found[0].portIndex, 4);
    EXPECT_NE(found[1].portIndex, found[2].portIndex);
    EXPECT_EQ(profileGetString("Ports", comName(found[2].portIndex), "", fs.ini()), fs.dev("ttyUSB0"));
}

TEST_F(Detection, StoredPortNoStandsInWhenNoDisplayNodeIsPresent) {
    profileWriteString("UsbDetection", "PortNo", "COM5", fs.ini());
    auto found = searchUsbPorts(context(kLangEnglish));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].portIndex, 4);

    profileWriteString("UsbDetection", "PortNo", "COM65", fs.ini());
    EXPECT_TRUE(searchUsbPorts(context(kLangEnglish)).empty());

    // A display node wins over the stored value.
    useRules();
    profileWriteString("UsbDetection", "PortNo", "Com9", fs.ini());
    fs.addUsbNode("ttyACM0", "2e8a", "000a", "cdc_acm");
    profileWriteString("Ports", "Com2", fs.dev("ttyACM0"), fs.ini());
    found = searchUsbPorts(context(kLangEnglish));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].portIndex, 1);
}

TEST_F(Detection, YesAcceptsNoGoesOnCancelStops) {
    useRules();
    addAllKinds();
    int port = -7;
    ui.answers = {Answer::No, Answer::Yes};
    EXPECT_EQ(usbPortDetection(ui, context(kLangJapanese), 0, &port), 1);
    ASSERT_EQ(ui.texts.size(), 2u);
    EXPECT_EQ(ui.caption, "接続ポートの選択");
    EXPECT_EQ(ui.texts[0], "PinoraのUSB接続プロファイルをポートCom5で検出しました。検索を終了しますか？");
    EXPECT_NE(ui.texts[1].find("Notaro32"), std::string::npos);
    EXPECT_EQ(ui.buttons[0], Buttons::YesNoCancel);
    EXPECT_EQ(port, searchUsbPorts(context(kLangJapanese))[1].portIndex);

    ui = {};
    ui.answers = {Answer::No, Answer::Cancel};
    port = -7;
    EXPECT_EQ(usbPortDetection(ui, context(kLangJapanese), 0, &port), -1);
    EXPECT_EQ(port, -7);

    ui = {};
    ui.answers = {Answer::Yes};
    EXPECT_EQ(usbPortDetection(ui, context(kLangEnglish), 0, nullptr), 1) << "the out argument is optional";
    EXPECT_EQ(ui.caption, "Port selection");
    EXPECT_EQ(ui.texts[0], "Pinora's USB connection profile is detected on the port Com5. Quit to search?");
}

TEST_F(Detection, NothingFoundOrAllDeclinedShowsNotDetectedAndGivesZero) {
    int port = -7;
    ui.answers = {Answer::Cancel};  // the answer to the last box does not matter
    EXPECT_EQ(usbPortDetection(ui, context(kLangEnglish), 0, &port), 0);
    ASSERT_EQ(ui.texts.size(), 1u);
    EXPECT_EQ(ui.texts[0], "USB connection is not detected.");
    EXPECT_EQ(ui.buttons[0], Buttons::OkCancel);
    EXPECT_EQ(port, -7);

    useRules();
    addAllKinds();
    ui = {};
    ui.answers = {Answer::No, Answer::No, Answer::No, Answer::Ok};
    EXPECT_EQ(usbPortDetection(ui, context(kLangJapanese), 0, &port), 0);
    ASSERT_EQ(ui.texts.size(), 4u);
    EXPECT_EQ(ui.texts[3], "USB接続を検出できませんでした。");
}

TEST_F(Detection, AQuestionThatCannotBeShownCountsAsCancel) {
    useRules();
    addAllKinds();
    int port = -7;
    EXPECT_EQ(usbPortDetection(ui, context(kLangEnglish), 0, &port), -1);  // no answers: None
    EXPECT_EQ(port, -7);
}

}  // namespace
}  // namespace tavik::selection
