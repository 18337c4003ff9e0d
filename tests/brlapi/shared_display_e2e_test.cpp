// One display for text and graphics, end to end: the screen viewer shows the
// window in front on padsim's 64 x 48 pins while the braille server, on the
// same port, shows a screen reader's braille (the real client library) on the
// text line; the text-line keys reach the screen reader; a focus change moves
// the pins and leaves the braille; the switch chord moves the braille to the
// pins (the text line going back to the viewer) and back again.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/brlapi/server_rig.h"
#include "tests/support/library_pins.h"
#include "tests/support/lumo_on_padsim.h"
#include "tests/support/wait.h"
#include "tests/support/x_helpers.h"
#include "tests/support/xvfb.h"

using namespace brlapi_test;

namespace {

// A window of known blocks, repainted by the server from its background pixmap.
Window blockWindow(Display* d, int x, int y, int w, int h, unsigned long background, int bx, int by, int bw, int bh) {
    const Window root = DefaultRootWindow(d);
    const Pixmap pm = XCreatePixmap(d, root, unsigned(w), unsigned(h), unsigned(DefaultDepth(d, DefaultScreen(d))));
    GC gc = XCreateGC(d, pm, 0, nullptr);
    XSetForeground(d, gc, background);
    XFillRectangle(d, pm, gc, 0, 0, unsigned(w), unsigned(h));
    XSetForeground(d, gc, background ^ 0xFFFFFF);
    XFillRectangle(d, pm, gc, bx, by, unsigned(bw), unsigned(bh));
    XFreeGC(d, gc);
    const Window win = makeWindow(d, root, x, y, w, h, background);
    XSetWindowBackgroundPixmap(d, win, pm);
    XFreePixmap(d, pm);
    XClearWindow(d, win);
    XSync(d, False);
    return win;
}

}  // namespace

TEST(SharedDisplay, PinsFollowTheWindowInFrontWhileTheTextLineShowsTheBraille) {
    const std::string bin = binDir();
    for (const char* f : {"TAVIK", "Padrik.so", "padsim", "Lumo", "tavik-brlapi"})
        if (!std::filesystem::exists(bin + "/" + f)) GTEST_SKIP() << f << " not built";
    if (std::system((std::string(kPython) + " -c 'import brlapi, louis' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "python3-brlapi or python3-louis is not installed";
    Xvfb xvfb("640x480x24");
    if (xvfb.display().empty()) GTEST_SKIP() << "no Xvfb";
    ::setenv("DISPLAY", xvfb.display().c_str(), 1);  // the test's own captures
    XInitThreads();
    Display* dpy = XOpenDisplay(xvfb.display().c_str());
    ASSERT_NE(dpy, nullptr);
    const Window a = blockWindow(dpy, 100, 80, 200, 150, 0xFFFFFF, 10, 6, 30, 20);
    const Window b = blockWindow(dpy, 320, 200, 240, 180, 0x000000, 50, 12, 6, 30);
    setActive(dpy, a);
    const auto pinsA = libraryPins(a, 0, 0, 1), pinsB = libraryPins(b, 0, 0, 1);
    ASSERT_TRUE(mixed(pinsA) && mixed(pinsB) && pinsA != pinsB);

    const TempDir tmp("shared-display");
    const std::string dir = tmp.path();
    {
        LumoOnPadsim lumo(dir, {"DISPLAY=" + xvfb.display()});
        ASSERT_TRUE(lumo.started());
        Padsim& pad = lumo.pad();
        ASSERT_TRUE(lumo.waitPins(pinsA)) << lumo.pinsText();
        const std::string viewerCell = Padsim::value(pad.state(), "text").substr(0, 2);

        // The braille server and a screen reader on the same port.
        const int number = 1 + ::getpid() % 90;
        const std::string key = dir + "/brlapi.key";
        const auto env = suiteEnv(dir, {"DISPLAY=" + xvfb.display(), "BRLAPI_HOST=127.0.0.1:" + std::to_string(number),
                                        "BRLAPI_AUTH=keyfile:" + key, "XDG_RUNTIME_DIR=" + dir});
        Child server(bin + "/tavik-brlapi",
                     {"--port", std::to_string(lumo.port()), "--model", "QX-64X48", "--host",
                      "127.0.0.1:" + std::to_string(number), "--key-file", key, "--table", kTable},
                     env);
        ASSERT_TRUE(server.expect("listening ")) << "the braille server did not start";
        Child reader(kPython, {BRLAPI_CLIENT_PY}, env);
        ASSERT_EQ(reader.call("open"), "open ok");
        EXPECT_EQ(reader.call("size"), "size 32 1");
        ASSERT_EQ(reader.call("tty"), "tty 0");
        ASSERT_EQ(reader.call("write 2 Orca here"), "write ok");
        const std::string braille = louisLine(reader, "Orca here", 2);
        auto textIs = [&](const std::string& hex) {
            return pad.waitState([&](const std::string& s) { return Padsim::value(s, "text") == hex; });
        };
        ASSERT_TRUE(textIs(braille)) << Padsim::value(pad.state(), "text");
        EXPECT_EQ(Padsim::grid(pad.state(), "plane1"), pinsA) << "the braille took the pins";

        // The key above the fourth cell reaches the screen reader, not the viewer.
        ASSERT_TRUE(pad.command("key 2 16 0"));
        EXPECT_EQ(reader.call("key 10000"), "key 0x20010003");

        // The pins follow the window in front; the braille stays.
        setActive(dpy, b);
        ASSERT_TRUE(lumo.waitPins(pinsB)) << lumo.pinsText();
        EXPECT_EQ(Padsim::value(pad.state(), "text"), braille);

        // The chord moves the braille to the pins and gives the text line back to the viewer.
        ASSERT_TRUE(pad.command("key 4 144 0"));
        EXPECT_TRUE(waitUntil([&] { return reader.call("param 6") == "param [21, 9]"; }));
        ASSERT_EQ(reader.call("write 0 Pins"), "write ok");
        ASSERT_TRUE(lumo.waitPins(louisPins(reader, "Pins"))) << lumo.pinsText();
        EXPECT_TRUE(pad.waitState([&](const std::string& s) {
            return Padsim::value(s, "text").substr(0, 2) == viewerCell;
        })) << Padsim::value(pad.state(), "text");

        // And back: the viewer's pins, the braille on the text line.
        ASSERT_TRUE(pad.command("key 4 144 0"));
        EXPECT_TRUE(waitUntil([&] { return reader.call("param 6") == "param [32, 1]"; }));
        ASSERT_EQ(reader.call("write 2 Orca here"), "write ok");
        EXPECT_TRUE(textIs(braille)) << Padsim::value(pad.state(), "text");
        EXPECT_TRUE(lumo.waitPins(pinsB)) << lumo.pinsText();
        ASSERT_EQ(reader.call("close"), "close ok");
    }
    XCloseDisplay(dpy);
}
