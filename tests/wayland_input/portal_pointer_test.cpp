// The pointer through the RemoteDesktop portal, against a stand-in portal on a private bus: the
// session asks for the pointer with a kept permission, moves are relative steps from a known
// corner (the bottom-right one of the layout), buttons carry the kernel codes, and the restore token is kept for the next run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "fake_portal.h"
#include "platform/desktop/portals/remote_pointer.h"
#include "platform/desktop/wayland/wayland_pointer.h"
#include "sway_session.h"

using namespace tavik::desktop;
using namespace tavik::desktop::wayland;
using wayland_test::FakePortal;
using wayland_test::PrivateBus;

TEST(WaylandPortalPointer, MovesAreStepsFromTheCornerAndButtonsCarryKernelCodes) {
    PrivateBus bus(false);
    if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon is missing";
    FakePortal portal;
    ASSERT_TRUE(portal.ok());
    auto pointer = PortalPointer::open("old-token", 5000);
    ASSERT_TRUE(pointer);
    EXPECT_EQ(pointer->restoreToken(), "granted-token");
    const FakePortal::Remote asked = portal.remote();
    EXPECT_EQ(asked.types, 2u);         // the pointer alone
    EXPECT_EQ(asked.persistMode, 2u);   // kept until revoked
    EXPECT_EQ(asked.restoreToken, "old-token");

    const Rect layout{0, 0, 1024, 768};
    EXPECT_FALSE(pointer->position());
    EXPECT_EQ(pointer->moveTo({100, 50}, layout), DesktopStatus::Ok);
    EXPECT_EQ(pointer->moveTo({90, 70}, layout), DesktopStatus::Ok);
    EXPECT_EQ(pointer->moveTo({5000, -5}, layout), DesktopStatus::Ok);  // clamped to the last column, top row
    EXPECT_EQ(pointer->position(), (Point{1023, 0}));
    EXPECT_EQ(pointer->button(3, true), DesktopStatus::Ok);
    EXPECT_EQ(pointer->button(3, false), DesktopStatus::Ok);
    EXPECT_EQ(pointer->button(1, true), DesktopStatus::Ok);
    EXPECT_EQ(pointer->button(9, true), DesktopStatus::Failed);
    const std::vector<std::string> expected = {"motion 1000000 1000000", "motion -923 -717", "motion -10 20",
                                               "motion 933 -70",           "button 273 1",  "button 273 0",
                                               "button 272 1"};
    EXPECT_EQ(portal.remote().calls, expected);
}

TEST(WaylandPortalPointer, TheDesktopPointerKeepsThePermissionForTheNextRun) {
    PrivateBus bus(false);
    if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon is missing";
    const std::string config = std::filesystem::temp_directory_path() / ("tavik-pointer-" + std::to_string(::getpid()));
    std::filesystem::remove_all(config);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ::unsetenv("WAYLAND_DISPLAY");
    FakePortal portal;
    ASSERT_TRUE(portal.ok());
    {
        WaylandPointer first;
        EXPECT_EQ(first.move({30, 40}), DesktopStatus::Ok);
        EXPECT_EQ(first.position(), (Point{30, 40}));
        EXPECT_EQ(first.press(1, true), DesktopStatus::Ok);
    }
    EXPECT_EQ(portal.remote().restoreToken, "");  // nothing kept before the first grant
    const std::string tokenFile = config + "/Orvane/TAVIK200_J/RemoteDesktop.token";
    std::ifstream in(tokenFile);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("granted-token"), std::string::npos) << tokenFile;
    EXPECT_EQ(std::filesystem::status(tokenFile).permissions() & std::filesystem::perms::group_read,
              std::filesystem::perms::none);
    {
        WaylandPointer second;
        EXPECT_EQ(second.move({1, 1}), DesktopStatus::Ok);
    }
    EXPECT_EQ(portal.remote().restoreToken, "granted-token");
    EXPECT_EQ(portal.remote().starts, 2);
    std::filesystem::remove_all(config);
}

TEST(WaylandPortalPointer, NoPortalNoPointer) {
    PrivateBus bus(false);
    if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon is missing";
    EXPECT_FALSE(PortalPointer::open("", 2000));
}
