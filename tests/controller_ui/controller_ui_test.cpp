// The controller's windows on Qt's offscreen platform: the main window's
// controls and close confirmation, the options dialog against the settings,
// and the monitor window showing the plug-in's picture.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/ini_store.h"
#include "common/messages.h"
#include "controller/controller.h"
#include "controller/ui/joystick_dialog.h"
#include "controller/ui/main_window.h"
#include "controller/ui/pen_dialog.h"
#include "controller/ui/monitor_host.h"
#include "controller/ui/options_dialog.h"
#include "controller/ui/texts.h"
#include "drivers/core/monitor_window.h"
#include "platform/thread_queue.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace {

using namespace tavik;
using namespace tavik::controller;
using namespace tavik::controller::ui;

class UiTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = folder_.emplace("controller-ui").path();
        ini_ = (dir_ / "TAVIK.ini").string();
    }
    void TearDown() override { folder_.reset(); }
    template <typename T>
    static T* child(QWidget& w, int id) {
        return w.findChild<T*>(QString::number(id));
    }
    std::optional<tavik::test::TempDir> folder_;
    std::filesystem::path dir_;
    std::string ini_;
    Texts english_{false};
    Texts japanese_{true};
};

TEST_F(UiTest, MainWindowControlsAndLabels) {
    MainWindow w(english_, ini_);
    for (int id : {257, 1, 258, 259, 260}) EXPECT_NE(w.findChild<QWidget*>(QString::number(id)), nullptr) << id;
    auto* connect = child<QPushButton>(w, 1);
    EXPECT_EQ(connect->text(), "&Connect");
    w.setConnectLabel(true);
    EXPECT_EQ(connect->text(), "&Disconnect");
    EXPECT_EQ(child<QPushButton>(w, 258)->text(), "&Set up ...");
    w.show();
    EXPECT_FALSE(child<QPushButton>(w, 259)->isVisible());  // no port map yet
    w.setHideButtonVisible(true);
    EXPECT_TRUE(child<QPushButton>(w, 259)->isVisible());

    // A status line written from a plug-in thread lands on the main thread.
    std::thread([&] { w.setStatusText("Connected: ESA721 Ver1.00"); }).join();
    QCoreApplication::processEvents();
    EXPECT_EQ(child<QLabel>(w, 257)->text(), "Connected: ESA721 Ver1.00");

    MainWindow ja(japanese_, ini_);
    ja.setConnectLabel(false);
    EXPECT_EQ(child<QPushButton>(ja, 1)->text(), "接続 (&C)");
    ja.setConnectLabel(true);
    EXPECT_EQ(child<QPushButton>(ja, 1)->text(), "切断 (&D)");
}

TEST_F(UiTest, ClosingAsksAndOnlyYesEnds) {
    MessageNumbers messages;
    ASSERT_TRUE(registerMessages(messages));
    MainWindow w(english_, ini_);
    Controller controller(w, messages, 1, dir_.string());
    w.attach(controller);
    w.show();
    int asked = 0;
    int answer = QMessageBox::No;
    w.setConfirm([&] {
        ++asked;
        return answer;
    });
    for (int a : {QMessageBox::No, QMessageBox::Cancel}) {
        answer = a;
        w.close();
        EXPECT_TRUE(w.isVisible());
        EXPECT_FALSE(controller.idleCheck(false));
    }
    answer = QMessageBox::Yes;
    w.close();
    EXPECT_EQ(asked, 3);
    EXPECT_TRUE(controller.idleCheck(false));  // the loop now ends the program
}

TEST_F(UiTest, HideButtonHides) {
    MainWindow w(english_, ini_);
    w.show();
    w.setHideButtonVisible(true);
    child<QPushButton>(w, 259)->click();
    EXPECT_FALSE(w.isVisible());
    w.showNormal();
    EXPECT_TRUE(w.isVisible());
}

TEST_F(UiTest, OptionsDialogReadsAndStores) {
    ASSERT_TRUE(profileWriteString("Priority", "AllowHideWindow", "1", ini_));  // hidden on request
    ASSERT_TRUE(profileWriteString("Priority", "ScreenReaderFirst", "1", ini_));
    ASSERT_TRUE(profileWriteString("Monitor", "Size", "2", ini_));
    auto map = std::make_unique<PortDataMap>();
    OptionsEffect seen{true, true};
    int applied = 0;
    {
        OptionsDialog d(english_, ini_, map.get(), false, [&](const OptionsEffect& e) {
            seen = e;
            ++applied;
        });
        EXPECT_EQ(d.windowTitle(), "Options for Tactile Device Controller");
        auto* policy = child<QComboBox>(d, 275);
        ASSERT_NE(policy, nullptr);
        EXPECT_EQ(policy->currentText(), "Allow to hide");
        EXPECT_TRUE(child<QCheckBox>(d, 273)->isChecked());
        EXPECT_FALSE(child<QCheckBox>(d, 276)->isChecked());
        EXPECT_EQ(child<QComboBox>(d, 277)->currentText(), "Large");
        EXPECT_FALSE(child<QPushButton>(d, 280)->isEnabled());  // no pen library
        // Cancel writes nothing.
        policy->setCurrentIndex(kEntryShowAlways);
        child<QPushButton>(d, 2)->click();
        EXPECT_EQ(applied, 0);
        EXPECT_EQ(profileGetInt("Priority", "AllowHideWindow", -1, ini_), 1);
    }
    OptionsDialog d(english_, ini_, map.get(), false, [&](const OptionsEffect& e) {
        seen = e;
        ++applied;
    });
    child<QComboBox>(d, 275)->setCurrentIndex(kEntryShowAlways);
    child<QCheckBox>(d, 278)->setChecked(true);
    child<QComboBox>(d, 277)->setCurrentIndex(0);
    child<QPushButton>(d, 1)->click();
    EXPECT_EQ(applied, 1);
    EXPECT_FALSE(seen.hideButtonVisible);
    EXPECT_EQ(profileGetInt("Priority", "AllowHideWindow", -1, ini_), 3);
    EXPECT_EQ(profileGetInt("Monitor", "KeepOnTop", -1, ini_), 1);
    EXPECT_EQ(profileGetInt("Monitor", "Size", -1, ini_), 0);
    EXPECT_EQ(map->allowHideWindow, 3);
    EXPECT_EQ(map->screenReaderFirst, 1);

    OptionsDialog ja(japanese_, ini_, nullptr, false, {});
    EXPECT_EQ(child<QComboBox>(ja, 275)->itemText(0), "常に非表示");
    EXPECT_EQ(child<QComboBox>(ja, 275)->currentText(), "常に表示");
}

TEST_F(UiTest, JoystickDialogStoresAndRestarts) {
    ASSERT_TRUE(profileWriteString("Joystick", "UseJoystick", "0", ini_));
    ASSERT_TRUE(profileWriteString("Joystick", "JoystickButton2", "11", ini_));
    bool active = false;
    std::vector<JoystickSettings> applied;
    JoystickDialog d(english_, ini_, [&] { return active; }, [&](const JoystickSettings& s) {
        applied.push_back(s);
        active = s.use;
    });
    for (int id = 289; id <= 302; ++id) EXPECT_NE(d.findChild<QWidget*>(QString::number(id)), nullptr) << id;
    auto* use = child<QCheckBox>(d, 299);
    auto* connect = child<QPushButton>(d, 302);
    EXPECT_FALSE(use->isChecked());
    EXPECT_EQ(connect->text(), "Update");
    EXPECT_EQ(child<QComboBox>(d, 290)->currentText(), "ShiftDown");
    EXPECT_EQ(child<QComboBox>(d, 289)->currentText(), "Down");
    EXPECT_EQ(child<QComboBox>(d, 301)->currentText(), "20ms");
    use->setChecked(true);
    EXPECT_EQ(connect->text(), "Connect");
    child<QComboBox>(d, 298)->setCurrentIndex(12);  // button 10: "ShiftMulti"
    connect->click();
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_TRUE(applied[0].use);
    EXPECT_EQ(applied[0].actions[9], 12);
    EXPECT_EQ(profileGetInt("Joystick", "UseJoystick", -1, ini_), 1);
    EXPECT_EQ(profileGetInt("Joystick", "JoystickButton10", -1, ini_), 12);
    EXPECT_EQ(connect->text(), "Re_connect");
    use->setChecked(false);
    EXPECT_EQ(connect->text(), "Disconnect");
    child<QPushButton>(d, 2)->click();  // Cancel: nothing more stored
    EXPECT_EQ(applied.size(), 1u);
    EXPECT_EQ(profileGetInt("Joystick", "UseJoystick", -1, ini_), 1);

    JoystickDialog ja(japanese_, ini_, [] { return true; }, {});
    EXPECT_EQ(child<QComboBox>(ja, 289)->itemText(9), "親指");
    EXPECT_EQ(child<QPushButton>(ja, 302)->text(), "再接");
}

TEST_F(UiTest, OptionsOpenTheJoystickDialog) {
    MainWindow w(english_, ini_);
    w.setJoystickHooks([] { return false; }, [](const JoystickSettings&) {});
    w.setupClicked();
    ASSERT_NE(w.optionsDialog(), nullptr);
    auto* joystick = child<QPushButton>(*w.optionsDialog(), 279);
    ASSERT_TRUE(joystick->isEnabled());
    joystick->click();
    EXPECT_NE(w.joystickDialog(), nullptr);
}

TEST_F(UiTest, PenDialogWithoutPenLibrary) {
    PenInput pen({}, dir_.string());  // no SkrivoNoteSDK.so there
    EXPECT_EQ(pen.load(), PenInput::Library::Missing);
    ASSERT_TRUE(profileWriteString("Skrivo", "UseSkrivo", "0", ini_));
    PenDialog d(japanese_, ini_, pen, [] { return std::pair<int, int>{64, 48}; });
    EXPECT_EQ(d.windowTitle(), "ペン入力の設定");
    EXPECT_EQ(child<QLabel>(d, 257)->text(), "Skrivoを使用していません。");
    EXPECT_FALSE(child<QPushButton>(d, 302)->isEnabled());
    child<QCheckBox>(d, 305)->setChecked(true);  // pen mode cannot start
    EXPECT_EQ(child<QLabel>(d, 257)->text(), "Skrivoをペンモードに設定できません。");
    EXPECT_FALSE(child<QPushButton>(d, 302)->isEnabled());
}

TEST_F(UiTest, PenDialogSetsTheAreaAlongTheDiagonal) {
    const char* bin = std::getenv("TAVIK_BIN_DIR");
    if (!bin || !std::filesystem::exists(std::string(bin) + "/SkrivoNoteSDK.so")) GTEST_SKIP() << "no pen SDK";
    const std::string fifo = (dir_ / "pen").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ::setenv("SKRIVO_SCRIPT", fifo.c_str(), 1);
    std::vector<PenEvent> sent;
    PenInput pen([&](const PenEvent& e) { sent.push_back(e); }, bin);
    ASSERT_EQ(pen.load(), PenInput::Library::Loaded);
    ASSERT_TRUE(profileWriteString("Skrivo", "UseSkrivo", "0", ini_));
    {
        PenDialog d(japanese_, ini_, pen, [] { return std::pair<int, int>{64, 48}; });
        child<QCheckBox>(d, 305)->setChecked(true);
        ASSERT_TRUE(pen.on());
        EXPECT_EQ(child<QLabel>(d, 257)->text(), "Skrivoを、ペンモードで使用中 ...");
        auto* area = child<QPushButton>(d, 302);
        ASSERT_TRUE(area->isEnabled());
        area->click();
        EXPECT_EQ(area->text(), "領域の確定");
        EXPECT_EQ(child<QLabel>(d, 257)->text(), "ペンで触知部の対角線をドラッグしてください。");
        const std::string script = "4 0 0\n3 1000 1900\n3 4200 4400\n5 0 0\n";
        ASSERT_EQ(::write(writer, script.data(), script.size()), static_cast<ssize_t>(script.size()));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (pen.tracker().collected().maxY != 4400 && std::chrono::steady_clock::now() < deadline) {
            pen.drain();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_EQ(pen.tracker().collected().maxY, 4400);
        area->click();
        EXPECT_EQ(child<QLabel>(d, 257)->text(), "領域を設定しました。");
        EXPECT_EQ(area->text(), "領域の修正");
        EXPECT_EQ(child<QLineEdit>(d, 309)->text(), "1000");
        EXPECT_EQ(child<QLineEdit>(d, 311)->text(), "4400");
        child<QPushButton>(d, 1)->click();
    }
    EXPECT_EQ(profileGetInt("Skrivo", "UseSkrivo", -1, ini_), 1);
    EXPECT_EQ(profileGetInt("Skrivo", "Left", -1, ini_), 1000);
    EXPECT_EQ(profileGetInt("Skrivo", "DeltaX", -1, ini_), 5000);
    EXPECT_EQ(profileGetInt("Skrivo", "DeltaY", -1, ini_), 5208);
    // Only the buttons reached the client while the area was set.
    for (const PenEvent& e : sent) EXPECT_TRUE(e.code == kPenButton1Down || e.code == kPenButton1Up) << int(e.code);
    pen.stop();
    ::close(writer);
    ::unsetenv("SKRIVO_SCRIPT");
}

class MonitorUiTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        map_ = std::make_unique<PortDataMap>();
        map_->graphicWidth = 64;
        map_->graphicHeight = 48;
        monitor_.setIniPath(ini_);
        monitor_.setHost(host_.host());
    }
    void TearDown() override {
        monitor_.setHost(nullptr);
        UiTest::TearDown();
    }
    std::unique_ptr<PortDataMap> map_;
    MonitorHost host_{english_};
    drv::MonitorWindow monitor_;
};

TEST_F(MonitorUiTest, ShowsThePictureAtItsSize) {
    map_->slots[1].graphic[0] = 1;
    map_->slots[1].graphic[64 * 47 + 63] = 3;
    monitor_.refresh(map_.get(), 1);
    ASSERT_NE(monitor_.open("Monitor Window (Com1)", 10, false, map_.get()), 0);
    MonitorWidget* w = host_.window();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle(), "Monitor Window (Com1)");
    EXPECT_EQ(w->size(), QSize(670, 505));
    QImage picture = w->picture();
    EXPECT_EQ(picture.pixel(25, 20), 0xFFFFFFFFu);
    EXPECT_EQ(picture.pixel(20 + 635, 15 + 475), 0xFFFFFFFFu);
    EXPECT_EQ(picture.pixel(30, 20), 0xFFFF0000u);
    EXPECT_EQ(picture.pixel(20, 20), 0xFF00FF00u);

    // The shown slot changes from another thread; the window repaints from it.
    std::thread([&] { monitor_.refresh(map_.get(), -1); }).join();
    QCoreApplication::processEvents();
    picture = w->picture();
    EXPECT_EQ(picture.pixel(25, 20), 0xFF000000u);
}

TEST_F(MonitorUiTest, WindowMenuSizesAndKeepOnTop) {
    ASSERT_NE(monitor_.open("t", 10, true, map_.get()), 0);
    MonitorWidget* w = host_.window();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->keepOnTop());
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(w->checkedSize(), TAVIK_MONITOR_MIDDLE);
    for (int id : {257, 258, 259, 260}) EXPECT_NE(w->windowMenu()->findChild<QAction*>(QString::number(id)), nullptr) << id;
    w->windowMenu()->findChild<QAction*>("258")->trigger();
    EXPECT_EQ(w->size(), QSize(350, 265));
    EXPECT_EQ(w->checkedSize(), TAVIK_MONITOR_SMALL);
    w->runCommand(TAVIK_MONITOR_LARGE);
    EXPECT_EQ(w->size(), QSize(990, 745));
    EXPECT_EQ(w->picture().size(), QSize(990, 745));
    w->runCommand(TAVIK_MONITOR_KEEP_ON_TOP);
    EXPECT_FALSE(w->keepOnTop());
    EXPECT_FALSE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(w->isVisible());
}

TEST_F(MonitorUiTest, SavedPositionKeptOnScreenAndRemembered) {
    ASSERT_TRUE(profileWriteString("Monitor", "X", "5000", ini_));
    ASSERT_TRUE(profileWriteString("Monitor", "Y", "30", ini_));
    ASSERT_NE(monitor_.open("t", 5, false, map_.get()), 0);
    MonitorWidget* w = host_.window();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(w->x() + w->width(), screen.right() + 1);  // flush with the right edge
    EXPECT_EQ(w->y(), 30);
    w->move(40, 50);
    // Remembered once the window has come to rest.
    EXPECT_TRUE(tavik::test::waitUntil([&] {
        QCoreApplication::processEvents();
        return profileGetInt("Monitor", "X", 0, ini_) == 40;
    }));
    EXPECT_EQ(profileGetInt("Monitor", "Y", 0, ini_), 50);

    // Opening again returns the same window; the user's close ends it.
    const intptr_t id = monitor_.open("t", 5, false, map_.get());
    EXPECT_EQ(monitor_.open("t", 5, false, map_.get()), id);
    w->close();
    EXPECT_FALSE(monitor_.isOpen());
    EXPECT_NE(monitor_.open("t", 5, false, map_.get()), id);
    monitor_.close();
    EXPECT_EQ(host_.window(), nullptr);
}

TEST(MonitorWidgetMoves, ADragIsRememberedOnceWhereItEnds) {
    // A fake view counting the places told to the plug-in.
    struct Told {
        int count = 0, x = 0, y = 0;
    } told;
    TavikMonitorView view{};
    view.context = &told;
    view.size = [](void*, int32_t* w, int32_t* h) { *w = 100, *h = 80; };
    view.moved = [](void* c, int32_t x, int32_t y) {
        auto* t = static_cast<Told*>(c);
        ++t->count, t->x = x, t->y = y;
    };
    const Texts texts(false);
    {
        MonitorWidget w(view, QStringLiteral("t"), 10, 10, 10, false, texts);
        QCoreApplication::processEvents();
        constexpr int kSteps = 30;
        for (int i = 1; i <= kSteps; ++i) {
            w.move(10 + i * 3, 20 + i);
            QCoreApplication::processEvents();
        }
        ASSERT_TRUE(tavik::test::waitUntil([&] {
            QCoreApplication::processEvents();
            return told.count > 0 && told.x == 100;
        }));
        // One write when it came to rest (two at most, should the machine
        // have stalled in the middle), not one a step.
        EXPECT_LT(told.count, 3);
        EXPECT_EQ(told.y, 50);
        // A move the window closes before it settles is still kept.
        const int before = told.count;
        w.move(200, 90);
        QCoreApplication::processEvents();
        w.close();
        EXPECT_EQ(told.count, before + 1);
        EXPECT_EQ(told.x, 200);
    }
    // The main window and the monitor window carry the program's icon.
    MainWindow main(texts, "/nonexistent/TAVIK.ini");
    EXPECT_FALSE(main.windowIcon().isNull());
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
