// The display check made before the controller creates its window: a display
// that is named but cannot be reached must send the controller headless
// instead of letting the toolkit end the process.
#include "controller/ui/windowed_run.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(DisplayProbe, OnlyAReachableDisplayGivesAWindow) {
    ::unsetenv("QT_QPA_PLATFORM");
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("DISPLAY");
    EXPECT_FALSE(tavik::controller::ui::displayUsable());
    ::setenv("DISPLAY", ":251", 1);  // no server there
    EXPECT_FALSE(tavik::controller::ui::displayUsable());
    ::setenv("DISPLAY", "nonsense", 1);
    EXPECT_FALSE(tavik::controller::ui::displayUsable());
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    EXPECT_TRUE(tavik::controller::ui::displayUsable());
}

}  // namespace
