// The viewer's dialogs on Qt offscreen: the connect dialog's ids, rows,
// preselection, scripted answer and the settings it writes back; the main
// dialog's controls following the settings and driving the viewer.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "common/ini_store.h"
#include "screenviewer/sections.h"
#include "screenviewer/ui/connect_dialog.h"
#include "screenviewer/ui/main_dialog.h"
#include "tests/screenviewer/fake_desk.h"

using namespace lumo;

namespace {

class Dialogs : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "dialogs_test";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance()) app_ = new QApplication(argc, argv);
    }
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("lumo-dialogs-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        ini_ = (dir_ / "Lumo.ini").string();
        script_ = (dir_ / "script").string();
        ::setenv("TAVIK_UI_SCRIPT", script_.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("TAVIK_UI_SCRIPT");
        std::filesystem::remove_all(dir_);
    }
    void script(const std::string& line) { std::ofstream(script_) << line << "\n"; }

    static QApplication* app_;
    std::filesystem::path dir_;
    std::string ini_, script_;
};
QApplication* Dialogs::app_ = nullptr;

TEST_F(Dialogs, TheConnectDialogListsPortsAndRowsByLanguageAndPreselectsTheStoredChoice) {
    ui::ConnectDialog en(false, 5, 2);
    EXPECT_EQ(en.objectName(), "288");
    EXPECT_EQ(en.windowTitle(), "Lumo, Connecting To:");
    auto* ports = en.findChild<QComboBox*>("289");
    auto* rows = en.findChild<QComboBox*>("291");
    auto* usb = en.findChild<QAbstractButton*>("290");
    ASSERT_TRUE(ports && rows && usb);
    EXPECT_EQ(usb->text(), "USB detection");
    ASSERT_EQ(ports->count(), 64);
    EXPECT_EQ(ports->itemText(0), "Com1");
    EXPECT_EQ(ports->itemText(63), "Com64");
    EXPECT_EQ(ports->currentIndex(), 5);
    ASSERT_EQ(rows->count(), 3);
    EXPECT_EQ(rows->itemText(2), "QX-64X48");
    EXPECT_EQ(rows->currentIndex(), 2);
    const ui::Connection c = en.chosen();
    EXPECT_EQ(c.portIndex, 5);
    EXPECT_EQ(c.device.modelName, "QX-64X48");
    EXPECT_EQ(c.device.pins.columns, 64);
    EXPECT_EQ(c.device.textCells, 32);

    ui::ConnectDialog ja(true, 64, 9);  // out of range: both lists start at 0
    auto* jaRows = ja.findChild<QComboBox*>("291");
    EXPECT_EQ(ja.findChild<QComboBox*>("289")->currentIndex(), 0);
    ASSERT_EQ(jaRows->count(), 4);
    EXPECT_EQ(jaRows->itemText(2), "Notaro");
    EXPECT_EQ(jaRows->currentIndex(), 0);
    jaRows->setCurrentIndex(2);
    EXPECT_EQ(ja.chosen().device.modelCode, 2);  // the note-taker's model, seen through a 48 x 32 view
    EXPECT_EQ(ja.chosen().device.pins.rows, 32);
    EXPECT_EQ(ja.chosen().device.modelName, "Notaro");
}

TEST_F(Dialogs, OkWritesTheChoiceBackAndCancelEndsWithout) {
    std::ofstream(ini_) << "[Connection]\nPort=3\nHardware=1\n";
    script("connect|7||ok");  // the row stays as stored
    auto c = ui::askConnection(false, ini_);
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->portIndex, 7);
    EXPECT_EQ(c->device.modelName, "Pinora PX-2");
    EXPECT_EQ(c->device.pins.columns, 48);
    EXPECT_EQ(tavik::profileGetInt("Connection", "Port", -1, ini_), 7);
    EXPECT_EQ(tavik::profileGetInt("Connection", "Hardware", -1, ini_), 1);

    script("connect|1|2|cancel");
    EXPECT_FALSE(ui::askConnection(false, ini_).has_value());
    EXPECT_EQ(tavik::profileGetInt("Connection", "Port", -1, ini_), 7);
    script("something else");
    EXPECT_FALSE(ui::askConnection(false, ini_).has_value());
}

TEST_F(Dialogs, TheMainDialogFollowsTheSettingsAndDrivesTheViewer) {
    std::ofstream(ini_) << "[Browse]\nScanningMode=0\nRefresh=3\nMouseSync=1\nViewFrame=0\n";
    FakeWorld world;
    world.windows[100] = {{0, 0, 800, 600}, {0, 20, 800, 580}, 4100};
    world.active = 100;
    auto share = std::make_unique<ViewerShare>();
    initialiseShare(*share);
    Viewer viewer(*share, nullptr, configForCode(1, "Pinora PX-2"), std::make_unique<FakeDesk>(world),
                  std::make_unique<FakeDesk>(world), DeviceSink{});
    ASSERT_TRUE(viewer.createThreads({}));
    int started = 0;
    ui::MainDialog dialog(viewer, false, ini_, [&started] { ++started; });
    auto box = [&](int id) { return dialog.findChild<QAbstractButton*>(QString::number(id)); };
    for (int id : {257, 258, 264, 265, 266, 267, 268, 269, 270, 271, 281, 282}) ASSERT_NE(box(id), nullptr) << id;
    EXPECT_NE(dialog.findChild<QLabel*>("273"), nullptr);
    EXPECT_TRUE(box(258)->isChecked());
    EXPECT_FALSE(box(264)->isChecked());
    EXPECT_TRUE(box(265)->isChecked());
    EXPECT_TRUE(box(271)->isChecked());
    EXPECT_EQ(viewer.refreshChoice(), 3);
    EXPECT_EQ(viewer.scanningMode(), ScanningMode::FullScreen);

    box(264)->click();  // Focus-Sync from full screen: the application window with focus-sync
    EXPECT_EQ(viewer.scanningMode(), ScanningMode::FocusSync);
    viewer.trackForeground();
    EXPECT_EQ(viewer.current().keyWindow, 100u);
    box(266)->click();
    EXPECT_EQ(viewer.current().overview, 1);
    EXPECT_EQ(viewer.current().cellWidth, 19);  // max(ceil(800 / 48), ceil(600 / 32))
    box(269)->click();
    EXPECT_EQ(viewer.refreshChoice(), 1);
    box(281)->click();  // Exit saves
    EXPECT_EQ(tavik::profileGetInt("Browse", "ScanningMode", -1, ini_), 2);
    EXPECT_EQ(tavik::profileGetInt("Browse", "Refresh", -1, ini_), 1);
    EXPECT_EQ(tavik::profileGetInt("Browse", "MouseSync", -1, ini_), 1);
    EXPECT_EQ(started, 0);  // the start-up command waits for the fifth tick
    for (int i = 0; i < 5; ++i) viewer.onTimerTick([&started] { ++started; });
    EXPECT_EQ(started, 1);
    EXPECT_TRUE(viewer.threadsRunning());
}

}  // namespace
