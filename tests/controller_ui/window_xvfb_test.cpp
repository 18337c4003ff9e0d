// Under Xvfb: the controller shows its window with the hot-key suffix in the
// title, and a client hides and shows it with gdHideTavikWindow; the window's
// Monitor button opens the monitor window, which shows the client's pins as
// the communication loop sends them. The windows' state is read with the
// xwininfo tool, their pixels through Xlib.
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
#include <X11/Xutil.h>
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

// The id of the first window whose name contains `titlePart`, or 0.
Window windowId(const std::string& display, const std::string& titlePart) {
    const std::string tree = commandOutput("DISPLAY=" + display + " xwininfo -root -tree 2>/dev/null");
    const std::size_t at = tree.find(titlePart);
    if (at == std::string::npos) return 0;
    const std::size_t start = tree.rfind("0x", at);
    if (start == std::string::npos) return 0;
    return static_cast<Window>(std::stoul(tree.substr(start, tree.find(' ', start) - start), nullptr, 16));
}

// The colour (0xRRGGBB) of the pixel (x, y) of window `w`, or -1.
long windowPixel(Display* d, Window w, int x, int y) {
    XImage* image = XGetImage(d, w, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return -1;
    const long pixel = static_cast<long>(XGetPixel(image, 0, 0) & 0xFFFFFF);
    XDestroyImage(image);
    return pixel;
}

// Whether top-level window `a` lies above `b` in the root's stacking order.
bool stackedAbove(Display* d, Window a, Window b) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) return false;
    int ia = -1, ib = -1;
    for (unsigned int i = 0; i < count; ++i) {  // bottom first
        if (children[i] == a) ia = static_cast<int>(i);
        if (children[i] == b) ib = static_cast<int>(i);
    }
    if (children) XFree(children);
    return ia >= 0 && ib >= 0 && ia > ib;
}

TEST(ControllerWindowXvfb, MonitorButtonShowsTheClientsPins) {
    const std::string bin = binDir();
    for (const char* f : {"TAVIK", "Padrik.so", "padsim"})
        if (!std::filesystem::exists(bin + "/" + f)) GTEST_SKIP() << f << " not built";
    if (run("command -v xwininfo").empty()) GTEST_SKIP() << "no xwininfo";
    tavik::test::Xvfb x;
    if (x.display().empty()) GTEST_SKIP() << "no Xvfb";
    const TempDir tmp("monitor-xvfb");
    const std::string dir = tmp.path();
    const int port = 10 + ::getpid() % 50;
    Padsim pad(dir);
    // The monitor window away from the main window, which opens at the corner.
    writePortMap(dir, port, pad.link(), "[Monitor]\nX=300\nY=200\nSize=1\n");
    const auto env = suiteEnv(dir, {"DISPLAY=" + x.display(), "QT_QPA_PLATFORM=", "LC_ALL=C"});
    Child client(testsDir() + "/input_client", {std::to_string(port)}, env);
    ASSERT_TRUE(client.expect("ready"));
    client.send("dots 3 2 10 5 63 47");
    auto answer = client.expect("dots ");
    ASSERT_TRUE(answer);
    ASSERT_EQ(*answer, "dots 1");

    // The window to the front (Win+G shows it whatever its hide policy),
    // then its Monitor button by its mnemonic, as a keyboard user would.
    const std::string title = "(Com" + std::to_string(port + 1) + ") (Hotkey=WIN+G)";
    ASSERT_TRUE(waitUntil([&] { return !mapState(x.display(), title).empty(); }));
    ASSERT_TRUE(pressChord(x.display(), {XK_Super_L, XK_g}));
    ASSERT_TRUE(waitUntil([&] { return mapState(x.display(), title) == "IsViewable"; }));
    Display* d = XOpenDisplay(x.display().c_str());
    ASSERT_NE(d, nullptr);
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });  // a window gone meanwhile is no failure here
    const Window mainWindow = windowId(x.display(), title);
    ASSERT_NE(mainWindow, 0u);
    XSetInputFocus(d, mainWindow, RevertToParent, CurrentTime);
    XSync(d, False);
    const std::string monitorTitle = "Monitor Window (Com" + std::to_string(port + 1) + ")";
    // Pressed until the window takes it (the focus reaches Qt a little later).
    ASSERT_TRUE(waitUntil([&] {
        if (mapState(x.display(), monitorTitle) == "IsViewable") return true;
        XSetInputFocus(d, mainWindow, RevertToParent, CurrentTime);
        XSync(d, False);
        pressChord(x.display(), {XK_Alt_L, XK_m});
        return false;
    })) << run("DISPLAY=" + x.display() + " xwininfo -root -tree");
    const Window monitor = windowId(x.display(), monitorTitle);
    ASSERT_NE(monitor, 0u);

    // Ten pixels a dot, the dots 20 pixels in and 15 down: the centre of dot
    // (col, row) lies at (25 + 10 col, 20 + 10 row). Raised pins are white.
    const auto dot = [&](int col, int row) { return windowPixel(d, monitor, 25 + 10 * col, 20 + 10 * row); };
    EXPECT_TRUE(waitUntil([&] { return dot(3, 2) == 0xFFFFFF && dot(10, 5) == 0xFFFFFF && dot(63, 47) == 0xFFFFFF; }))
        << std::hex << dot(3, 2) << " " << dot(10, 5) << " " << dot(63, 47);
    EXPECT_EQ(dot(4, 2), 0x000000);
    EXPECT_EQ(dot(3, 3), 0x000000);
    // A new picture of the client follows on the monitor.
    client.send("dots 4 2");
    answer = client.expect("dots ");
    ASSERT_TRUE(answer);
    EXPECT_TRUE(waitUntil([&] { return dot(4, 2) == 0xFFFFFF && dot(3, 2) == 0x000000; }));

    // Sent to the back, the open monitor window comes to the front again at
    // the next press of the button.
    XLowerWindow(d, monitor);
    XSync(d, False);
    ASSERT_TRUE(stackedAbove(d, mainWindow, monitor));
    EXPECT_TRUE(waitUntil([&] {
        if (stackedAbove(d, monitor, mainWindow)) return true;
        XSetInputFocus(d, mainWindow, RevertToParent, CurrentTime);
        XSync(d, False);
        pressChord(x.display(), {XK_Alt_L, XK_m});
        return false;
    }));
    XCloseDisplay(d);

    client.send("quit");
    EXPECT_TRUE(client.waitExit());
    EXPECT_TRUE(waitUntil([&] { return controllerPids(bin + "/TAVIK", port).empty(); }));
}

}  // namespace
