// The X server stops answering while the plug-in's communication thread asks
// it for the window in front, and later goes away. drvEnd must come back
// although that thread cannot stop, and the process must end (whether the
// thread then ends by itself or the X library ends the process from it)
// instead of hanging in the plug-in's detach.
#include <gtest/gtest.h>

#include <csignal>
#include <thread>
#include <unistd.h>

#include "platform/atomic_word.h"
#include "tests/drivers/plugin_harness.h"
#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/xvfb.h"

using namespace tavik;
using namespace tavik::test;

namespace {

constexpr std::chrono::milliseconds kBound = 30s;  // for things that must happen; only a hang reaches it

}  // namespace

TEST(XServerLoss, AFrozenThenLostXServerNeverHangsDrvEndOrTheProcessEnd) {
    std::signal(SIGPIPE, SIG_IGN);
    Xvfb x("640x480x24");
    if (x.display().empty()) GTEST_SKIP() << "no Xvfb";
    TempSettings settings;
    const int port = 50 + ::getpid() % 10;
    const std::string link = settings.folder() + "/tty";
    settings.mapPort(port, link);
    auto map = PortMap::open(port);
    ASSERT_TRUE(map);
    fillDeviceFields(map->map());
    FakeDevice device(padsim::DeviceConfig{}, link);
    ::setenv("DISPLAY", x.display().c_str(), 1);
    ::unsetenv("TAVIK_FOREGROUND_PID_FILE");
    Child host(testsDir() + "/plugin_host", {"Padrik", std::to_string(port)});
    ::unsetenv("DISPLAY");
    ASSERT_TRUE(host.expect("started", kBound));
    ASSERT_TRUE(waitUntil([&] { return platform::loadWord(map->map().deviceIdentified) == 1; }, kBound));
    // Identified: the thread now asks X for the window in front every turn.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    x.signal(SIGSTOP);  // the next question is never answered
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    host.send("end");
    EXPECT_TRUE(host.expect("ended", kBound)) << "drvEnd waited for a thread stuck in X";

    x.kill();  // the connection breaks under the waiting thread
    host.send("quit");
    EXPECT_TRUE(host.waitExit(kBound)) << "the process hung on its way out";
}
