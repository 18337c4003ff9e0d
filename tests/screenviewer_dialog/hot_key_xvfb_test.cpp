// Under a private Xvfb: the main dialog grabs Win+Alt+V on the root window, Hide
// takes the dialog off the screen, and Win+Alt+V pressed through XTest brings it
// back; a second dialog finds the key taken and greys Hide. The window's
// state is read from outside with the xwininfo tool.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "screenviewer/sections.h"
#include "screenviewer/ui/desktop_watch.h"
#include "screenviewer/ui/main_dialog.h"
#include "tests/screenviewer/fake_desk.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb.h"
// Xlib last: its macros clash with the headers above.
#include "tests/support/window_state.h"
#include <X11/keysym.h>

using namespace lumo;

namespace {

// Runs the Qt event loop until `pred` holds (bounded).
bool pumpUntil(const std::function<bool()>& pred) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

TEST(LumoHotKeyXvfb, HideThenWinVBringsTheDialogBack) {
    if (tavik::test::commandOutput("command -v xwininfo").empty()) GTEST_SKIP() << "no xwininfo";
    tavik::test::Xvfb x;
    if (x.display().empty()) GTEST_SKIP() << "no Xvfb";
    const tavik::test::TempDir tmp("lumo-hot-key");
    const std::filesystem::path dir = tmp.path();
    ::setenv("DISPLAY", x.display().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    int argc = 1;
    char name[] = "hot_key_xvfb_test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    FakeWorld world;
    auto share = std::make_unique<ViewerShare>();
    initialiseShare(*share);
    Viewer viewer(*share, nullptr, configForCode(1, "Pinora PX-2"), std::make_unique<FakeDesk>(world),
                  std::make_unique<FakeDesk>(world), DeviceSink{});
    const std::string ini = (dir / "Lumo.ini").string();
    ui::MainDialog dialog(viewer, false, ini, [] {});
    ui::DesktopWatch watch(viewer, dialog);
    ASSERT_TRUE(watch.hotKeyRegistered());
    const std::string title = "Lumo Ver 4.2.0 (Hotkey=Win+Alt+V)";
    EXPECT_EQ(dialog.windowTitle().toStdString(), title);
    dialog.show();
    ASSERT_TRUE(pumpUntil([&] { return tavik::test::mapState(x.display(), title) == "IsViewable"; }));

    auto* hide = dialog.findChild<QAbstractButton*>("282");
    ASSERT_TRUE(hide && hide->isEnabled());
    hide->click();
    EXPECT_FALSE(dialog.isVisible());
    ASSERT_TRUE(pumpUntil([&] { return tavik::test::mapState(x.display(), title) == "IsUnMapped"; }));

    ASSERT_TRUE(tavik::test::pressChord(x.display(), {XK_Super_L, XK_Alt_L, XK_v}));
    EXPECT_TRUE(pumpUntil([&] {
        return dialog.isVisible() && tavik::test::mapState(x.display(), title) == "IsViewable";
    }));

    // The key without the Win and Alt modifiers is not the hot key, nor is Win+V.
    hide->click();
    ASSERT_TRUE(pumpUntil([&] { return tavik::test::mapState(x.display(), title) == "IsUnMapped"; }));
    ASSERT_TRUE(tavik::test::pressChord(x.display(), {XK_v}));
    ASSERT_TRUE(tavik::test::pressChord(x.display(), {XK_Super_L, XK_Alt_L, XK_v}));
    ASSERT_TRUE(pumpUntil([&] { return dialog.isVisible(); }));
    hide->click();
    ASSERT_TRUE(tavik::test::pressChord(x.display(), {XK_v}));
    ASSERT_TRUE(tavik::test::pressChord(x.display(), {XK_Super_L, XK_v}));
    for (int i = 0; i < 10; ++i) QApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_FALSE(dialog.isVisible());

    // Another program holds Win+Alt+V now: a second dialog goes without the hot key.
    {
        Viewer second(*share, nullptr, configForCode(1, "Pinora PX-2"), std::make_unique<FakeDesk>(world),
                      std::make_unique<FakeDesk>(world), DeviceSink{});
        ui::MainDialog other(second, false, ini, [] {});
        ui::DesktopWatch otherWatch(second, other);
        EXPECT_FALSE(otherWatch.hotKeyRegistered());
        EXPECT_EQ(other.windowTitle(), "Lumo Ver 4.2.0");
        EXPECT_FALSE(other.findChild<QAbstractButton*>("282")->isEnabled());
    }
}

}  // namespace
