// The screen viewer on a private headless sway without a screen cast the portal would give: its
// capture comes from the compositor's screen copy, window places from the compositor's tree.
// The viewer's pins on padsim show the focused window, as the image library's panel of the same
// pixels does, and follow a focus change to another window and back; focus sync follows a text
// field's caret; mouse emulation clicks the window in view.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop/desktop.h"
#include "platform/shared_section.h"
#include "screenviewer/share_layout.h"
#include "platform/desktop/wlroots/virtual_pointer.h"
#include "platform/desktop/wayland/wl_connection.h"
#include "sway_session.h"
#include "tests/support/files.h"
#include "tests/support/child.h"
#include "tests/support/library_pins.h"
#include "tests/support/lumo_on_padsim.h"
#include "tests/support/padsim.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

using namespace tavik::test;
using wayland_test::SwaySession;
namespace dt = tavik::desktop;
namespace dw = tavik::desktop::wayland;

namespace {

constexpr int kCols = 64, kRows = 48;
const std::vector<std::string> kQtEnv = {"QT_QPA_PLATFORM=wayland", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"};

class LumoOnSway : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sway.missing().empty()) GTEST_SKIP() << sway.missing();
        const std::string bin = binDir();
        for (const char* f : {"TAVIK", "Padrik.so", "padsim", "Lumo"})
            ASSERT_TRUE(std::filesystem::exists(bin + "/" + f)) << f << " not built";
        if (sway.startSessionBus().empty()) GTEST_SKIP() << "dbus-daemon missing: the window in front is not known";
        ::setenv("WAYLAND_DISPLAY", sway.socket().c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", sway.runtimeDir().c_str(), 1);
        ::setenv("SWAYSOCK", sway.ipcSocket().c_str(), 1);
        ::setenv("TAVIK_DESKTOP", "wayland", 1);
        desk.emplace();  // after the environment: the desktop layer picks its back end from it
        // The session's own mouse, as a desktop has one: the seat offers a pointer from the
        // start, so the windows take theirs before the viewer moves anything.
        mouseConn = dw::WlConnection::open(sway.socket());
        if (mouseConn) mouse = dw::VirtualPointer::create(*mouseConn);
    }
    void TearDown() override {
        mouse.reset();
        mouseConn.reset();
    }
    // Starts `argv` in the session and waits (bounded) until its output holds `ready`; the
    // output file's path, or "" when it did not come up.
    std::string startWindow(const std::vector<std::string>& argv, const std::string& name, const std::string& ready) {
        const std::string out = sway.runtimeDir() + "/" + name + ".out";
        if (sway.spawn(argv, kQtEnv, out) <= 0) return {};
        if (!waitUntil([&] { return readFile(out).find(ready) != std::string::npos; })) return {};
        return out;
    }
    // The window in front and its place as the desktop layer tells them (bounded wait for one).
    std::optional<dt::Rect> activePlace() {
        std::optional<dt::Rect> place;
        waitUntil([&] {
            const auto a = desk->activeWindow();
            place = a && *a ? desk->clientRect(*a) : std::nullopt;
            return place.has_value();
        });
        return place;
    }

    SwaySession sway;
    TempDir tmp{"lumo-sway"};
    std::optional<dt::Desktop> desk;
    std::unique_ptr<dw::WlConnection> mouseConn;
    std::unique_ptr<dw::VirtualPointer> mouse;
};

TEST_F(LumoOnSway, PinsShowTheFocusedWindowAndFollowTheFocus) {
    // Two windows tiled side by side: the pattern on the left, the moved one on the right.
    if (startWindow({PATTERN_WINDOW, "tavik.paper"}, "paper", "painted").empty())
        GTEST_SKIP() << "the Qt test window did not come up on Wayland (qt6-wayland missing?)";
    ASSERT_FALSE(startWindow({PATTERN_WINDOW, "tavik.ink", "shifted"}, "ink", "painted").empty());
    ASSERT_FALSE(sway.swaymsg({"[app_id=tavik.paper]", "focus"}).empty());

    // What the pins must show for each window's top-left corner (captured here, the same way).
    std::vector<std::string> left, right;
    ASSERT_TRUE(waitUntil([&] {
        left = libraryPins(0, 0, 0, 1, kCols, kRows);
        right = libraryPins(0, 512, 0, 1, kCols, kRows);
        return mixed(left) && mixed(right);
    })) << "the image library captured nothing from sway";
    ASSERT_NE(left, right);

    // The places come from the compositor: the toolkit reports its own origin for both.
    EXPECT_EQ(activePlace(), (dt::Rect{0, 0, 512, 768}));

    LumoOnPadsim lumo(tmp.path());
    ASSERT_TRUE(lumo.started());
    EXPECT_TRUE(lumo.waitPins(left)) << "the left window has the focus; pins:\n"
                                     << lumo.pinsText() << "expected:\n" << rowsText(left);

    ASSERT_FALSE(sway.swaymsg({"[app_id=tavik.ink]", "focus"}).empty());
    EXPECT_TRUE(waitUntil([&] { return activePlace() == dt::Rect{512, 0, 512, 768}; }));
    EXPECT_TRUE(lumo.waitPins(right)) << "the focus moved to the right window; pins:\n"
                                      << lumo.pinsText() << "expected:\n" << rowsText(right);

    ASSERT_FALSE(sway.swaymsg({"[app_id=tavik.paper]", "focus"}).empty());
    EXPECT_TRUE(lumo.waitPins(left)) << "the focus moved back to the left window; pins:\n"
                                     << lumo.pinsText() << "expected:\n" << rowsText(left);
    EXPECT_TRUE(lumo.stop());
}

// Mouse emulation: Right+Left puts the mouse in the middle of the view, ShiftCenter with Left
// clicks there. The click window sits right of another, so a click placed from the toolkit's
// own origin (0,0) would land in the wrong window.
TEST_F(LumoOnSway, MouseEmulationClicksTheWindowInView) {
#ifndef CLICK_WINDOW_PATH
    GTEST_SKIP() << "the Qt click window is not built";
#else
    if (startWindow({PATTERN_WINDOW, "tavik.paper"}, "paper", "painted").empty())
        GTEST_SKIP() << "the Qt test window did not come up on Wayland (qt6-wayland missing?)";
    const std::string clicks = startWindow({CLICK_WINDOW_PATH, "tavik.click", "click window"}, "click", "shown");
    ASSERT_FALSE(clicks.empty());
    std::vector<std::string> left, right;
    ASSERT_TRUE(waitUntil([&] {
        left = libraryPins(0, 0, 0, 1, kCols, kRows);
        right = libraryPins(0, 512, 0, 1, kCols, kRows);
        return mixed(left) && right.size() == size_t(kRows);
    }));
    ASSERT_NE(left, right);

    // The viewer up on the pattern first (its pins tell it is there), then on the click window.
    ASSERT_FALSE(sway.swaymsg({"[app_id=tavik.paper]", "focus"}).empty());
    LumoOnPadsim lumo(tmp.path());
    ASSERT_TRUE(lumo.started());
    ASSERT_TRUE(lumo.waitPins(left)) << "the pattern window is in view; pins:\n" << lumo.pinsText();
    ASSERT_FALSE(sway.swaymsg({"[app_id=tavik.click]", "focus"}).empty());
    ASSERT_TRUE(waitUntil([&] { return activePlace() == dt::Rect{512, 0, 512, 768}; }));
    ASSERT_TRUE(lumo.waitPins(right)) << "the click window is in view; pins:\n" << lumo.pinsText();
    ASSERT_TRUE(lumo.pad().command("key 4 12 0"));   // Right+Left: emulation on
    ASSERT_TRUE(lumo.pad().command("key 4 8 32"));   // ShiftCenter with Left: click the left button
    // "press|release <button> <x> <y>" in the window's own pixels: inside the view (its top-left
    // 64 x 48 pixels), the same place for both.
    int px = -1, py = -1, rx = -1, ry = -1, button = 0;
    ASSERT_TRUE(waitUntil([&] {
        const std::string out = readFile(clicks);
        const size_t p = out.find("press "), r = out.find("release ");
        return p != std::string::npos && r != std::string::npos &&
               std::sscanf(out.c_str() + p, "press %d %d %d", &button, &px, &py) == 3 &&
               std::sscanf(out.c_str() + r, "release %*d %d %d", &rx, &ry) == 2;
    })) << "the click window saw no click: " << readFile(clicks);
    EXPECT_EQ(button, 1);
    EXPECT_GE(px, 0);
    EXPECT_LT(px, kCols);
    EXPECT_GE(py, 0);
    EXPECT_LT(py, kRows);
    EXPECT_EQ(rx, px);
    EXPECT_EQ(ry, py);
    EXPECT_TRUE(lumo.stop());
#endif
}

// Focus sync: the caret of a text field (AT-SPI caret-moved events and character extents, read
// by the viewer's focus hook) puts the view on it, the caret in the middle column, and the pins
// show what the image library makes of that part of the screen. The field's window sits right of
// another: its toolkit reports the caret from its own origin (0,0), the compositor knows where
// the window is, and a caret taken as a screen point would put the view in the wrong place.
TEST_F(LumoOnSway, TheViewFollowsTheCaret) {
#ifndef CARET_WINDOW_PATH
    GTEST_SKIP() << "the Qt caret window is not built";
#else
    if (!std::filesystem::exists(binDir() + "/LumoHook.so")) GTEST_SKIP() << "LumoHook not built (AT-SPI missing)";
    // The viewer first: its hook listens before the application's accessibility starts.
    LumoOnPadsim lumo(tmp.path(), {}, "ScanningMode=2\nRefresh=1\nViewFrame=0\n");
    ASSERT_TRUE(lumo.started());
    ASSERT_TRUE(lumo.pad().waitState([](const std::string& st) {
        return Padsim::value(st, "text").substr(0, 2) == "c8";  // "f": focus sync
    })) << lumo.pad().state();
    if (startWindow({PATTERN_WINDOW, "tavik.paper"}, "paper", "painted").empty())
        GTEST_SKIP() << "the Qt test window did not come up on Wayland (qt6-wayland missing?)";
    tavik::test::Child field(CARET_WINDOW_PATH, {"tavik.caret", "caret window"}, kQtEnv);
    ASSERT_TRUE(field.expect("shown").has_value());
    // The field's window is tiled right of the pattern and has the focus.
    const dt::Rect fieldPlace{512, 0, 512, 768};
    ASSERT_TRUE(waitUntil([&] { return activePlace() == fieldPlace; })) << "the caret window is not in front at x=512";

    auto hookMap = [&]() -> std::optional<tavik::platform::SharedSection> {
        std::optional<tavik::platform::SharedSection> m;
        waitUntil([&] {
            m = tavik::platform::SharedSection::open(lumo::kHookName, tavik::platform::SharedSection::Access::ReadOnly,
                                                     lumo::kHookSize);
            return m.has_value();
        });
        return m;
    }();
    ASSERT_TRUE(hookMap) << "no hook section: the viewer's focus hook did not start";
    const auto* hook = static_cast<const lumo::HookData*>(hookMap->data());
    // The hook listens once the viewer's threads run: move the caret until its caret record appears.
    int nudge = 0;
    ASSERT_TRUE(waitUntil([&] {
        field.send("caret " + std::to_string(5 + (nudge++ % 2)));
        field.expect("caret ");
        for (const auto& t : hook->threads)
            if (t.inUse && t.threadId == field.pid() && t.kind == 1) return true;
        return false;
    })) << "no caret record from the accessibility bus";

    auto hookText = [&] {
        std::string t;
        for (const auto& h : hook->threads)
            if (h.inUse && h.threadId == field.pid())
                t += " hook: window " + std::to_string(h.window) + " kind " + std::to_string(h.kind) + " caret " +
                     std::to_string(h.caretX) + "," + std::to_string(h.caretY) + " screen " +
                     std::to_string(h.screenGiven) + " " + std::to_string(h.screenX) + "," + std::to_string(h.screenY);
        return t;
    };
    auto share = tavik::platform::SharedSection::open(lumo::kShareName,
                                                      tavik::platform::SharedSection::Access::ReadOnly, lumo::kShareSize);
    ASSERT_TRUE(share.has_value());
    const auto* viewer = static_cast<const lumo::ViewerShare*>(share->data());
    // The record in view, once it is a window's (not the whole screen's).
    auto record = [&]() -> std::optional<lumo::ViewRecord> {
        const int i = viewer->currentRecord;
        if (i < 0 || i >= lumo::kRecordCount) return std::nullopt;
        const lumo::ViewRecord& r = viewer->records[i];
        if (r.useStamp == 0 || r.keyWindow == 0 || r.cellWidth <= 0) return std::nullopt;
        return r;
    };
    for (int position : {40, 20}) {
        field.send("caret " + std::to_string(position));
        const auto moved = field.expect("caret ");
        ASSERT_TRUE(moved.has_value());
        int cx = 0, cy = 0;
        ASSERT_EQ(std::sscanf(moved->c_str(), "caret %d %d", &cx, &cy), 2);
        ASSERT_GT(cx, kCols) << "the caret must lie beyond half the view";
        // The character's extents (what the hook reports) and the drawn caret line may differ by
        // a pixel or two: the middle column of 64 is 32.
        std::optional<lumo::ViewRecord> r;
        EXPECT_TRUE(waitUntil([&] {
            r = record();
            if (!r) return false;
            const int col = (cx - r->baseX) / r->cellWidth;
            return col >= 30 && col <= 34 && cy >= r->baseY && cy < r->baseY + kRows * r->cellHeight;
        })) << "caret at " << cx << "," << cy << "; view at "
            << (r ? std::to_string(r->baseX) + "," + std::to_string(r->baseY) : std::string("none")) << hookText();
        // The hook's record: the caret in the window's pixels, its screen place beside it.
        bool recorded = false;
        for (const auto& h : hook->threads)
            if (h.inUse && h.threadId == field.pid() && h.kind == 1) {
                recorded = true;
                EXPECT_NEAR(h.caretX, cx, 4) << hookText();
                EXPECT_NEAR(h.screenX, fieldPlace.left + cx, 4) << hookText();
                EXPECT_EQ(h.screenY, fieldPlace.top + h.caretY) << hookText();
            }
        EXPECT_TRUE(recorded) << hookText();
        // The pins: the image library's panel of the view (its base is in the window's pixels).
        std::vector<std::string> expected;
        EXPECT_TRUE(waitUntil([&] {
            r = record();
            if (!r) return false;
            expected = libraryPins(0, fieldPlace.left + r->baseX, fieldPlace.top + r->baseY, r->cellWidth, kCols, kRows);
            return mixed(expected) && Padsim::grid(lumo.pad().state(), "plane1") == expected;
        })) << "pins:\n" << lumo.pinsText() << "expected:\n" << rowsText(expected);
    }
    field.kill(SIGTERM);
    EXPECT_TRUE(lumo.stop());
#endif
}

}  // namespace
