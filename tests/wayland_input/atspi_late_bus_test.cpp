// The accessibility bus's launcher coming up after the hub started asking (as when the viewer
// starts with the session): the hub connects once it answers. A process of its own, as the
// accessibility library connects once per process.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/atspi/atspi_hub.h"
#include "sway_session.h"

extern char** environ;

using tavik::atspi::Hub;
using wayland_test::PrivateBus;

TEST(AtspiHub, ConnectsWhenTheBusLauncherAnswersLate) {
    const char* launcher = "/usr/libexec/at-spi-bus-launcher";
    if (::access(launcher, X_OK) != 0) GTEST_SKIP() << "at-spi-bus-launcher is missing";
    PrivateBus bus(false);  // nothing is started on demand: the launcher comes when started here
    if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon is missing";
    ::unsetenv("DISPLAY");  // the address comes from the session bus only

    pid_t pid = -1;
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        char* argv[] = {const_cast<char*>(launcher), const_cast<char*>("--launch-immediately"), nullptr};
        if (::posix_spawn(&pid, launcher, nullptr, nullptr, argv, environ) != 0) pid = -1;
    });
    const auto hub = Hub::acquire();
    late.join();
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(hub) << "the hub gave up before the launcher answered";
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}
