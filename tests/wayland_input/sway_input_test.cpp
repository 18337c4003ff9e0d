// The Wayland input side against a private headless sway: the virtual pointer clicks a test
// window that records its button events.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/desktop/desktop.h"
#include "platform/desktop/wlroots/layer_frame.h"
#include "platform/desktop/wlroots/virtual_pointer.h"
#include "platform/desktop/wayland/window_tracker.h"
#include "platform/desktop/wayland/wl_connection.h"
#include "sway_session.h"

using namespace tavik::desktop;
using namespace tavik::desktop::wayland;
using wayland_test::eventually;
using wayland_test::SwaySession;

namespace {

struct Screenshot {
    int width = 0, height = 0;
    std::string rgb;  // 3 bytes a pixel
    uint32_t at(int x, int y) const {
        const size_t i = (static_cast<size_t>(y) * width + x) * 3;
        if (x < 0 || y < 0 || x >= width || y >= height || i + 2 >= rgb.size()) return 0xFFFFFFFFu;
        return (uint32_t(uint8_t(rgb[i])) << 16) | (uint32_t(uint8_t(rgb[i + 1])) << 8) | uint8_t(rgb[i + 2]);
    }
};

std::string readFile(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class SwayInputTest : public ::testing::Test {
protected:
    // The screen as the compositor shows it (grim through the screencopy protocol); empty when
    // grim is missing or failed.
    Screenshot screenshot() {
        const std::string file = sway.runtimeDir() + "/shot.ppm";
        if (std::system(("WAYLAND_DISPLAY='" + sway.socket() + "' XDG_RUNTIME_DIR='" + sway.runtimeDir() +
                         "' grim -t ppm '" + file + "' 2>/dev/null").c_str()) != 0)
            return {};
        const std::string data = readFile(file);
        Screenshot s;
        std::istringstream in(data);
        std::string magic;
        int maxval = 0;
        in >> magic >> s.width >> s.height >> maxval;
        if (magic != "P6" || maxval != 255) return {};
        in.get();
        s.rgb = data.substr(static_cast<size_t>(in.tellg()));
        return s;
    }
    void SetUp() override {
        if (!sway.missing().empty()) GTEST_SKIP() << sway.missing();
        // The session's own mouse, as a desktop has one: the seat offers a pointer from the
        // start, so the windows take theirs before the code under test moves anything.
        mouseConn = WlConnection::open(sway.socket());
        if (mouseConn) mouse = VirtualPointer::create(*mouseConn);
    }
    void TearDown() override {
        mouse.reset();
        mouseConn.reset();
    }
    // Starts the click window with `appId`, full screen, and waits until it is drawn.
    std::string startClickWindow(const std::string& appId, pid_t* pid = nullptr) {
#ifndef CLICK_WINDOW_PATH
        (void)pid;
        return {};
#else
        const std::string out = sway.runtimeDir() + "/" + appId + ".out";
        const pid_t p = sway.spawn({CLICK_WINDOW_PATH, appId, appId + " window"},
                                   {"QT_QPA_PLATFORM=wayland", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"}, out);
        if (pid) *pid = p;
        if (!eventually([&] { return readFile(out).find("shown") != std::string::npos; })) return {};
        return out;
#endif
    }
    SwaySession sway;
    std::unique_ptr<WlConnection> mouseConn;
    std::unique_ptr<VirtualPointer> mouse;
};

TEST_F(SwayInputTest, VirtualPointerClicksWhereItWasSentWithTheRightButtons) {
    const std::string out = startClickWindow("tavik.click");
    if (out.empty()) GTEST_SKIP() << "the Qt test window did not come up on Wayland (qt6-wayland missing?)";
    ASSERT_FALSE(sway.swaymsg({"[app_id=tavik.click]", "fullscreen", "enable"}).empty());
    auto conn = WlConnection::open(sway.socket());
    ASSERT_TRUE(conn);
    EXPECT_EQ(conn->layout(), (Rect{0, 0, 1024, 768}));
    auto pointer = VirtualPointer::create(*conn);
    ASSERT_TRUE(pointer) << "sway offers the virtual pointer protocol";
    EXPECT_FALSE(pointer->position());

    // Full screen: window pixels are screen pixels. Two places and two buttons, so a swapped
    // axis, a mirrored button code or a relative move would each show.
    ASSERT_TRUE(eventually([&] {
        return pointer->moveTo({100, 200}) == DesktopStatus::Ok && pointer->button(1, true) == DesktopStatus::Ok &&
               pointer->button(1, false) == DesktopStatus::Ok &&
               readFile(out).find("release 1 100 200") != std::string::npos;
    }));
    EXPECT_EQ(pointer->position(), (Point{100, 200}));
    EXPECT_EQ(pointer->moveTo({700, 500}), DesktopStatus::Ok);
    EXPECT_EQ(pointer->button(3, true), DesktopStatus::Ok);
    EXPECT_EQ(pointer->button(3, false), DesktopStatus::Ok);
    EXPECT_TRUE(eventually([&] { return readFile(out).find("release 2 700 500") != std::string::npos; }))
        << readFile(out);
    EXPECT_NE(readFile(out).find("press 2 700 500"), std::string::npos);

    // A drag: press at one place, release at another.
    EXPECT_EQ(pointer->moveTo({300, 300}), DesktopStatus::Ok);
    EXPECT_EQ(pointer->button(1, true), DesktopStatus::Ok);
    EXPECT_EQ(pointer->moveTo({320, 360}), DesktopStatus::Ok);
    EXPECT_EQ(pointer->button(1, false), DesktopStatus::Ok);
    EXPECT_TRUE(eventually([&] { return readFile(out).find("release 1 320 360") != std::string::npos; }));
    EXPECT_NE(readFile(out).find("press 1 300 300"), std::string::npos);

    // Beyond the screen: the last pixel, not a wrap-around.
    EXPECT_EQ(pointer->moveTo({5000, -20}), DesktopStatus::Ok);
    EXPECT_EQ(pointer->position(), (Point{1023, 0}));
    EXPECT_EQ(pointer->button(9, true), DesktopStatus::Failed);
}

TEST_F(SwayInputTest, LayerFrameDrawsTheRingAboveWindowsAndLetsClicksThrough) {
    const std::string out = startClickWindow("tavik.framed");
    if (out.empty()) GTEST_SKIP() << "the Qt test window did not come up on Wayland (qt6-wayland missing?)";
    ASSERT_FALSE(sway.swaymsg({"[app_id=tavik.framed]", "fullscreen", "enable"}).empty());
    auto conn = WlConnection::open(sway.socket());
    ASSERT_TRUE(conn);
    auto frame = LayerFrame::create(*conn);
    ASSERT_TRUE(frame) << "sway offers the layer shell";
    EXPECT_EQ(frame->id(), 0u);
    EXPECT_EQ(frame->show({100, 80, 200, 150}, 4), DesktopStatus::Ok);
    EXPECT_NE(frame->id(), 0u);
    EXPECT_EQ(frame->show({100, 80, 7, 7}, 4), DesktopStatus::Failed);  // two rings do not fit

    constexpr uint32_t kWindow = 0x204090, kRed = 0xFF0000;
    if (std::system("command -v grim >/dev/null") != 0) GTEST_SKIP() << "grim is missing: the ring is not looked at";
    Screenshot shot;
    // Once the window has been drawn full screen (a corner far from the ring shows it).
    ASSERT_TRUE(eventually([&] {
        shot = screenshot();
        return shot.at(100, 80) == kRed && shot.at(1000, 700) == kWindow && shot.at(200, 155) == kWindow;
    })) << std::hex << shot.at(100, 80) << " " << shot.at(1000, 700);
    // The ring's four sides, 4 pixels wide; inside and outside the window shows.
    EXPECT_EQ(shot.at(103, 150), kRed);
    EXPECT_EQ(shot.at(104, 150), kWindow);
    EXPECT_EQ(shot.at(296, 150), kRed);
    EXPECT_EQ(shot.at(299, 229), kRed);
    EXPECT_EQ(shot.at(300, 229), kWindow);
    EXPECT_EQ(shot.at(200, 225), kWindow);
    EXPECT_EQ(shot.at(99, 80), kWindow);

    // Moved and resized: the new ring, nothing left at the old place.
    EXPECT_EQ(frame->show({500, 400, 100, 60}, 2), DesktopStatus::Ok);
    ASSERT_TRUE(eventually([&] {
        shot = screenshot();
        return shot.at(500, 400) == kRed && shot.at(100, 80) == kWindow;
    }));
    EXPECT_EQ(shot.at(599, 459), kRed);
    EXPECT_EQ(shot.at(502, 402), kWindow);

    // Clicks on the ring reach the window beneath.
    auto pointer = VirtualPointer::create(*conn);
    ASSERT_TRUE(pointer);
    EXPECT_EQ(pointer->moveTo({500, 430}), DesktopStatus::Ok);
    EXPECT_EQ(pointer->button(1, true), DesktopStatus::Ok);
    EXPECT_EQ(pointer->button(1, false), DesktopStatus::Ok);
    EXPECT_TRUE(eventually([&] { return readFile(out).find("release 1 500 430") != std::string::npos; }))
        << readFile(out);

    frame->hide();
    EXPECT_EQ(frame->id(), 0u);
    ASSERT_TRUE(eventually([&] { return screenshot().at(500, 400) == kWindow; }));
}

TEST_F(SwayInputTest, ActiveWindowFollowsFocusChangesWithAccessibilityIdsAndProcess) {
    const bool bus = !sway.startSessionBus().empty();
    pid_t pidA = -1, pidB = -1;
    if (startClickWindow("tavik.one", &pidA).empty() || startClickWindow("tavik.two", &pidB).empty())
        GTEST_SKIP() << "the Qt test window did not come up on Wayland (qt6-wayland missing?)";
    auto conn = WlConnection::open(sway.socket());
    ASSERT_TRUE(conn);
    WindowTracker windows(conn.get());
    ASSERT_TRUE(windows.hasToplevelList()) << "sway lists its toplevels";

    auto focus = [&](const std::string& appId) { return !sway.swaymsg({"[app_id=" + appId + "]", "focus"}).empty(); };
    ASSERT_TRUE(focus("tavik.one"));
    std::optional<WindowId> one;
    ASSERT_TRUE(eventually([&] { return (one = windows.activeWindow()).has_value(); }));
    ASSERT_TRUE(focus("tavik.two"));
    std::optional<WindowId> two;
    ASSERT_TRUE(eventually([&] { return (two = windows.activeWindow()) && *two != *one; }));
    ASSERT_TRUE(focus("tavik.one"));
    EXPECT_TRUE(eventually([&] { return windows.activeWindow() != two; }))
        << std::hex << *one << " " << *two << " " << windows.activeWindow().value_or(0);
    EXPECT_TRUE(windows.windowExists(*one));
    EXPECT_TRUE(windows.windowExists(*two));
    EXPECT_FALSE(windows.windowExists(12345));

    if (!bus || !windows.hasAccessibility()) GTEST_SKIP() << "no accessibility bus: compositor ids only";
    // With AT-SPI the toplevels are matched to accessibility windows by title: ids without the
    // toplevel bit, the right process behind each, and a size from the extents.
    EXPECT_TRUE(eventually([&] {
        const auto a = windows.activeWindow();
        return a && !(*a & kToplevelIdBit) && windows.windowProcess(*a) == pidA;
    })) << "the accessibility window of the focused test window";
    one = windows.activeWindow();
    ASSERT_TRUE(focus("tavik.two"));
    EXPECT_TRUE(eventually([&] {
        const auto a = windows.activeWindow();
        return a && *a != *one && windows.windowProcess(*a) == pidB;
    }));
    const auto rect = windows.windowRect(*windows.activeWindow());
    ASSERT_TRUE(rect);
    // Two tiled windows side by side on 1024x768.
    EXPECT_EQ(rect->width, 512);
    EXPECT_EQ(rect->height, 768);
}

// The same through the desktop layer's own interface, as the viewers and the client library
// use it: the Wayland back end chosen from the session's environment.
TEST_F(SwayInputTest, DesktopOnWaylandClicksFramesAndFollowsTheWindowInFront) {
    const bool bus = !sway.startSessionBus().empty();
    pid_t pidA = -1, pidB = -1;
    const std::string outA = startClickWindow("tavik.left", &pidA);
    const std::string outB = startClickWindow("tavik.right", &pidB);
    if (outA.empty() || outB.empty()) GTEST_SKIP() << "the Qt test window did not come up on Wayland";
    ::setenv("WAYLAND_DISPLAY", sway.socket().c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", sway.runtimeDir().c_str(), 1);
    ::setenv("XDG_SESSION_TYPE", "wayland", 1);
    ::setenv("TAVIK_DESKTOP", "wayland", 1);
    ::setenv("SWAYSOCK", sway.ipcSocket().c_str(), 1);
    ASSERT_EQ(desktopKind(), DesktopKind::Wayland);
    Desktop desk;
    // Reports of the window in front: once when the watch is up, then at each focus change.
    DesktopEvents events;
    std::atomic<int> reports{0};
    events.watchActiveWindow([&] { ++reports; });
    EXPECT_TRUE(eventually([&] { return reports > 0; })) << "no first report";

    // Two tiled windows, left and right: a click at x=700 must reach the right one only.
    EXPECT_EQ(desk.movePointer({700, 300}), DesktopStatus::Ok);
    EXPECT_EQ(desk.pointer(), (Point{700, 300}));
    EXPECT_EQ(desk.pressButton(1, true), DesktopStatus::Ok);
    EXPECT_EQ(desk.pressButton(1, false), DesktopStatus::Ok);
    EXPECT_TRUE(eventually([&] { return readFile(outB).find("release 1 188 300") != std::string::npos; }))
        << readFile(outB);
    EXPECT_EQ(readFile(outA).find("press"), std::string::npos);

    EXPECT_EQ(desk.showFrame({10, 10, 100, 100}, 2), DesktopStatus::Ok);
    EXPECT_NE(desk.frameWindow(), 0u);
    desk.hideFrame();
    EXPECT_EQ(desk.frameWindow(), 0u);

    const int before = reports;
    ASSERT_FALSE(sway.swaymsg({"[app_id=tavik.left]", "focus"}).empty());
    EXPECT_TRUE(eventually([&] { return reports > before; })) << "the focus change was not reported";
    events.watchActiveWindow(nullptr);
    if (!bus) GTEST_SKIP() << "dbus-daemon missing: the window in front is not checked";
    EXPECT_TRUE(eventually([&] {
        const auto a = desk.activeWindow();
        return a && desk.windowProcess(*a) == pidA;
    }));
    ASSERT_FALSE(sway.swaymsg({"[app_id=tavik.right]", "focus"}).empty());
    std::optional<WindowId> right;
    EXPECT_TRUE(eventually([&] {
        right = desk.activeWindow();
        return right && desk.windowProcess(*right) == pidB;
    }));
    ASSERT_TRUE(right);
    EXPECT_TRUE(desk.windowExists(*right));
    EXPECT_EQ(desk.topLevelFrame(*right), right);
    // The place is the compositor's: the toolkit alone reports its own origin, 0,0.
    EXPECT_EQ(desk.clientRect(*right), (Rect{512, 0, 512, 768}));
    EXPECT_EQ(desk.windowRect(*right), (Rect{512, 0, 512, 768}));
}

// Where no screen cast portal answers, capture falls back to the compositor's screen copy: the
// whole screen as captured equals grim's picture of it, pixel for pixel. Two tiled windows and a
// view frame near the top-left corner make the screen differ top to bottom and left to right, so
// a bottom-up or mirrored copy or an offset would show.
TEST_F(SwayInputTest, CaptureFallsBackToScreenCopyWithoutAPortal) {
    const std::string outA = startClickWindow("tavik.shotleft");
    if (outA.empty()) GTEST_SKIP() << "the Qt test window did not come up on Wayland (qt6-wayland missing?)";
    const std::string outB = startClickWindow("tavik.shotright");
    ASSERT_FALSE(outB.empty());
    // No session bus at all: the portal cannot answer.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + sway.runtimeDir() + "/no-bus").c_str(), 1);
    ::setenv("WAYLAND_DISPLAY", sway.socket().c_str(), 1);
    ::setenv("TAVIK_DESKTOP", "wayland", 1);
    ASSERT_EQ(desktopKind(), DesktopKind::Wayland);
    Desktop desk;
    ASSERT_TRUE(eventually([&] { return desk.connected(); })) << "no capture from sway's screen copy";
    EXPECT_EQ(desk.screenSize(), (Size{1024, 768}));
    ASSERT_EQ(desk.showFrame({100, 50, 200, 100}, 3), DesktopStatus::Ok);

    // Both windows drawn and the picture settled: two grim shots alike, and ours like them.
    Screenshot shot;
    std::vector<uint32_t> pixels(1024 * 768);
    auto same = [&] {
        for (int y = 0; y < 768; ++y)
            for (int x = 0; x < 1024; ++x)
                if (pixels[size_t(y) * 1024 + size_t(x)] != shot.at(x, y)) return false;
        return true;
    };
    const bool matched = eventually([&] {
        shot = screenshot();
        if (shot.width != 1024 || shot.height != 768) return false;
        return desk.capture({0, 0, 1024, 768}, pixels, 1024) == DesktopStatus::Ok && same();
    });
    if (shot.width == 0) GTEST_SKIP() << "grim missing: nothing to compare the capture with";
    EXPECT_TRUE(matched) << "captured " << std::hex << pixels[384 * 1024 + 200] << " where grim shows "
                         << shot.at(200, 384);
    // The picture is not symmetric, so the comparison above could tell a flipped copy.
    EXPECT_EQ(shot.at(200, 384), 0x204090u);
    EXPECT_NE(shot.at(100, 50), shot.at(100, 717));
    EXPECT_NE(shot.at(100, 50), shot.at(923, 50));

    // A part of the screen, partly beyond it: the rest is black.
    std::vector<uint32_t> part(40 * 30, 0xABCDEF);
    ASSERT_EQ(desk.capture({1004, 758, 40, 30}, part, 40), DesktopStatus::Ok);
    EXPECT_EQ(part[0], shot.at(1004, 758));
    EXPECT_EQ(part[size_t(9) * 40 + 19], shot.at(1023, 767));
    EXPECT_EQ(part[size_t(9) * 40 + 20], 0u);
    EXPECT_EQ(part[size_t(29) * 40 + 39], 0u);
}

}  // namespace
