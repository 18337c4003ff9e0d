// Under Xvfb: the controller shows its window with the hot-key suffix in the
// title, and a client hides and shows it with gdHideTavikWindow. The window's
// state is read with the xwininfo tool.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/padsim.h"
#include "tests/support/processes.h"
#include "tests/support/suite_env.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb.h"
// Xlib last: its macros clash with the headers above.
#include "tests/support/window_state.h"
#include <X11/keysym.h>

using namespace tavik::test;

namespace {

std::string run(const std::string& command) { return commandOutput(command); }

TEST(ControllerWindowXvfb, ClientHidesAndShowsTheWindow) {
    const std::string bin = binDir();
    for (const char* f : {"TAVIK", "Padrik.so", "padsim"})
        if (!std::filesystem::exists(bin + "/" + f)) GTEST_SKIP() << f << " not built";
    if (run("command -v xwininfo").empty()) GTEST_SKIP() << "no xwininfo";
    tavik::test::Xvfb x;
    if (x.display().empty()) GTEST_SKIP() << "no Xvfb";
    const TempDir tmp("window-xvfb");
    const std::string dir = tmp.path();
    const int port = 10 + ::getpid() % 50;
    Padsim pad(dir);
    writePortMap(dir, port, pad.link());
    const auto env = suiteEnv(dir, {"DISPLAY=" + x.display(), "QT_QPA_PLATFORM=", "LC_ALL=C"});
    Child client(testsDir() + "/input_client", {std::to_string(port)}, env);
    ASSERT_TRUE(client.expect("ready"));
    const std::string title = "(Com" + std::to_string(port + 1) + ") (Hotkey=WIN+G)";
    // The hot key was free on this server: the title says so.
    ASSERT_TRUE(waitUntil([&] { return !mapState(x.display(), title).empty(); }))
        << run("DISPLAY=" + x.display() + " xwininfo -root -tree");

    client.send("hide 0");
    ASSERT_TRUE(client.expect("hide "));
    EXPECT_TRUE(waitUntil([&] { return mapState(x.display(), title) == "IsViewable"; }));
    client.send("hide 1");
    ASSERT_TRUE(client.expect("hide "));
    EXPECT_TRUE(waitUntil([&] { return mapState(x.display(), title) == "IsUnMapped"; }));
    client.send("hide 0");
    ASSERT_TRUE(client.expect("hide "));
    EXPECT_TRUE(waitUntil([&] { return mapState(x.display(), title) == "IsViewable"; }));

    // Hidden again, the hot key Win+G (pressed through XTest as a user would) shows it.
    client.send("hide 1");
    ASSERT_TRUE(client.expect("hide "));
    ASSERT_TRUE(waitUntil([&] { return mapState(x.display(), title) == "IsUnMapped"; }));
    ASSERT_TRUE(pressChord(x.display(), {XK_Super_L, XK_g}));
    EXPECT_TRUE(waitUntil([&] { return mapState(x.display(), title) == "IsViewable"; }));

    client.send("quit");
    EXPECT_TRUE(client.waitExit());
    EXPECT_TRUE(waitUntil([&] { return controllerPids(bin + "/TAVIK", port).empty(); }));
}

}  // namespace
