// Under Xvfb: the controller shows its window with the hot-key suffix in the
// title, and a client hides and shows it with gdHideTavikWindow. The window's
// state is read with the xwininfo tool.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
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
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>

using namespace tavik::test;

namespace {

std::string run(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        std::array<char, 4096> buf{};
        while (std::fgets(buf.data(), buf.size(), p)) out += buf.data();
        ::pclose(p);
    }
    return out;
}

// The "Map State" xwininfo reports for the controller's window ("" when not found).
std::string mapState(const std::string& display, const std::string& titlePart) {
    const std::string tree = run("DISPLAY=" + display + " xwininfo -root -tree 2>/dev/null");
    const std::size_t at = tree.find(titlePart);
    if (at == std::string::npos) return "";
    const std::size_t start = tree.rfind("0x", at);
    const std::string id = tree.substr(start, tree.find(' ', start) - start);
    const std::string info = run("DISPLAY=" + display + " xwininfo -id " + id + " 2>/dev/null");
    const std::size_t m = info.find("Map State: ");
    return m == std::string::npos ? "" : info.substr(m + 11, info.find('\n', m) - m - 11);
}

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
    {
        Display* d = XOpenDisplay(x.display().c_str());
        ASSERT_NE(d, nullptr);
        const KeyCode super = XKeysymToKeycode(d, XK_Super_L), g = XKeysymToKeycode(d, XK_g);
        XTestFakeKeyEvent(d, super, True, CurrentTime);
        XTestFakeKeyEvent(d, g, True, CurrentTime);
        XTestFakeKeyEvent(d, g, False, CurrentTime);
        XTestFakeKeyEvent(d, super, False, CurrentTime);
        XCloseDisplay(d);
    }
    EXPECT_TRUE(waitUntil([&] { return mapState(x.display(), title) == "IsViewable"; }));

    client.send("quit");
    EXPECT_TRUE(client.waitExit());
    EXPECT_TRUE(waitUntil([&] { return controllerPids(bin + "/TAVIK", port).empty(); }));
}

}  // namespace
