// Which back end a session gets: the environment's rule (an override, then the session type, then
// X11), the fall-back when a kind is not built, and that the override reaches Desktop and
// DesktopEvents.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/desktop/backend.h"

namespace dt = tavik::desktop;
using dt::DesktopKind;
using dt::backend::chooseKind;

namespace {

TEST(BackendChoice, SessionDecidesWhenNotOverridden) {
    // Both built.
    EXPECT_EQ(chooseKind("", "wayland", "", true, true), DesktopKind::Wayland);
    EXPECT_EQ(chooseKind("", "", "wayland-1", true, true), DesktopKind::Wayland);
    // XWayland's DISPLAY is beside WAYLAND_DISPLAY in such sessions: still Wayland.
    EXPECT_EQ(chooseKind("", "tty", "wayland-0", true, true), DesktopKind::Wayland);
    EXPECT_EQ(chooseKind("", "x11", "", true, true), DesktopKind::X11);
    EXPECT_EQ(chooseKind("", "", "", true, true), DesktopKind::X11);
    // An unknown override value is ignored.
    EXPECT_EQ(chooseKind("mir", "wayland", "", true, true), DesktopKind::Wayland);
}

TEST(BackendChoice, OverrideWins) {
    EXPECT_EQ(chooseKind("x11", "wayland", "wayland-0", true, true), DesktopKind::X11);
    EXPECT_EQ(chooseKind("wayland", "x11", "", true, true), DesktopKind::Wayland);
    EXPECT_EQ(chooseKind("none", "wayland", "wayland-0", true, true), DesktopKind::NoDisplay);
    EXPECT_EQ(chooseKind("none", "x11", "", true, false), DesktopKind::NoDisplay);
}

TEST(BackendChoice, MissingKindFallsBack) {
    // A Wayland session in a build without Wayland: XWayland is better than nothing.
    EXPECT_EQ(chooseKind("", "wayland", "wayland-0", true, false), DesktopKind::X11);
    EXPECT_EQ(chooseKind("wayland", "", "", true, false), DesktopKind::X11);
    EXPECT_EQ(chooseKind("x11", "", "", false, true), DesktopKind::NoDisplay);
    EXPECT_EQ(chooseKind("", "", "", false, true), DesktopKind::NoDisplay);
    EXPECT_EQ(chooseKind("", "wayland", "", false, true), DesktopKind::Wayland);
    EXPECT_EQ(chooseKind("", "wayland", "", false, false), DesktopKind::NoDisplay);
}

TEST(BackendChoice, OverrideNoneReachesBothObjects) {
    // A real display may be around: the override must keep both objects off it.
    setenv("TAVIK_DESKTOP", "none", 1);
    EXPECT_EQ(dt::desktopKind(), DesktopKind::NoDisplay);
    dt::Desktop d;
    EXPECT_FALSE(d.connected());
    EXPECT_EQ(d.screenSize(), std::nullopt);
    std::vector<uint32_t> px(4, 0x123456);
    EXPECT_EQ(d.capture({0, 0, 2, 2}, px, 2), dt::DesktopStatus::NoDisplay);
    EXPECT_EQ(d.movePointer({1, 1}), dt::DesktopStatus::NoDisplay);
    dt::DesktopEvents e;
    EXPECT_GE(e.fd(), 0);
    EXPECT_FALSE(e.connected());
    EXPECT_EQ(e.takeDamage({0, 0, 1, 1}), std::nullopt);
    EXPECT_EQ(e.addHotKey(1, 'p', dt::kModSuper), dt::DesktopStatus::NoDisplay);
    EXPECT_TRUE(e.take().empty());
    unsetenv("TAVIK_DESKTOP");
}

}  // namespace
