// The Wayland input side against a private headless sway: the virtual pointer clicks a test
// window that records its button events.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/desktop/wayland/virtual_pointer.h"
#include "platform/desktop/wayland/wl_connection.h"
#include "sway_session.h"

using namespace tavik::desktop;
using namespace tavik::desktop::wayland;
using wayland_test::eventually;
using wayland_test::SwaySession;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class SwayInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sway.missing().empty()) GTEST_SKIP() << sway.missing();
    }
    // Starts the click window with `appId`, full screen, and waits until it is drawn.
    std::string startClickWindow(const std::string& appId) {
#ifndef CLICK_WINDOW_PATH
        return {};
#else
        const std::string out = sway.runtimeDir() + "/" + appId + ".out";
        sway.spawn({CLICK_WINDOW_PATH, appId, appId}, {"QT_QPA_PLATFORM=wayland"}, out);
        if (!eventually([&] { return readFile(out).find("shown") != std::string::npos; })) return {};
        return out;
#endif
    }
    SwaySession sway;
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

}  // namespace
