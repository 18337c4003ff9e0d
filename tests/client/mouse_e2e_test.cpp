// Synthetic mouse input end to end: an application entered on a port (real
// controller, plug-in and padsim) moves and presses the pointer of a private
// Xvfb server; a window of the test covers the screen and records the events.
#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/padsim.h"
#include "tests/support/processes.h"
#include "tests/support/suite_env.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// Xlib last: its macros (None, Bool, Status) clash with other headers.
#include <X11/Xlib.h>

using namespace tavik::test;

namespace {

struct Event {
    int type;
    int button;
    int x, y;
};

class Watcher {
public:
    explicit Watcher(const std::string& name) : d_(XOpenDisplay(name.c_str())) {
        if (!d_) return;
        XSetWindowAttributes a{};
        a.override_redirect = True;
        a.event_mask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask | StructureNotifyMask;
        w_ = XCreateWindow(d_, DefaultRootWindow(d_), 0, 0, 1024, 768, 0, CopyFromParent, InputOnly, CopyFromParent,
                           CWOverrideRedirect | CWEventMask, &a);
        XMapRaised(d_, w_);
        XSync(d_, False);
        waitUntil([&] {
            XEvent e;
            while (XPending(d_)) {
                XNextEvent(d_, &e);
                if (e.type == MapNotify) return true;
            }
            return false;
        });
    }
    ~Watcher() {
        if (d_) XCloseDisplay(d_);
    }
    bool ok() const { return d_ != nullptr; }
    // The next button press or release, skipping pointer motion.
    std::optional<Event> nextButton() {
        std::optional<Event> out;
        waitUntil([&] {
            while (XPending(d_)) {
                XEvent e;
                XNextEvent(d_, &e);
                if (e.type == ButtonPress || e.type == ButtonRelease) {
                    out = Event{e.type, static_cast<int>(e.xbutton.button), e.xbutton.x, e.xbutton.y};
                    return true;
                }
            }
            return false;
        });
        return out;
    }
    // True when no button event is queued after the pointer settled.
    bool noButtonQueued() {
        XSync(d_, False);
        while (XPending(d_)) {
            XEvent e;
            XNextEvent(d_, &e);
            if (e.type == ButtonPress || e.type == ButtonRelease) return false;
        }
        return true;
    }
    std::pair<int, int> pointer() {
        Window root, child;
        int rx = -1, ry = -1, wx, wy;
        unsigned mask;
        XQueryPointer(d_, DefaultRootWindow(d_), &root, &child, &rx, &ry, &wx, &wy, &mask);
        return {rx, ry};
    }

private:
    Display* d_;
    Window w_ = 0;
};

}  // namespace

TEST(MouseEndToEnd, CallsMoveAndPressTheRealPointerInOrder) {
    const std::string bin = binDir();
    for (const char* f : {"TAVIK", "Padrik.so", "padsim"})
        if (!std::filesystem::exists(bin + "/" + f)) GTEST_SKIP() << f << " not built yet";
    Xvfb x;
    if (x.display().empty()) GTEST_SKIP() << "no Xvfb";
    Watcher watch(x.display());
    ASSERT_TRUE(watch.ok());

    const TempDir tmp("client-mouse");
    const std::string dir = tmp.path();
    const int port = 10 + ::getpid() % 50;
    Padsim pad(dir);
    writePortMap(dir, port, pad.link());
    writeFile(dir + "/fg", "0\n");
    {
        Child a(CLIENT_APP_PATH, {},
                suiteEnv(dir, {"DISPLAY=" + x.display()}));
        EXPECT_EQ(a.result("move 1 1"), 0);  // no entry: no mouse map
        ASSERT_EQ(a.result("start " + std::to_string(port) + " QX-64X48"), 1);
        // Buttons another test left held on this machine are released first.
        ASSERT_EQ(a.result("click 5 5 0"), 1);
        while (!watch.noButtonQueued()) {
        }

        ASSERT_EQ(a.result("move 100 50"), 1);
        EXPECT_EQ(watch.pointer(), std::make_pair(100, 50));
        EXPECT_EQ(a.call("mousestate"), "mousestate 1 1 100 50");
        EXPECT_EQ(a.call("mousestate"), "mousestate 0 1 100 50");  // the move is reported once

        ASSERT_EQ(a.result("click 200 100 1"), 1);  // left down, left up
        auto e = watch.nextButton();
        ASSERT_TRUE(e);
        EXPECT_EQ(e->type, ButtonPress);
        EXPECT_EQ(e->button, 1);
        EXPECT_EQ(e->x, 200);
        EXPECT_EQ(e->y, 100);
        e = watch.nextButton();
        ASSERT_TRUE(e);
        EXPECT_EQ(e->type, ButtonRelease);
        EXPECT_EQ(e->button, 1);

        ASSERT_EQ(a.result("drag 300 150 1"), 1);  // left down, held
        e = watch.nextButton();
        ASSERT_TRUE(e);
        EXPECT_EQ(e->type, ButtonPress);
        EXPECT_EQ(e->button, 1);
        EXPECT_TRUE(watch.noButtonQueued());
        ASSERT_EQ(a.result("move 400 300"), 1);
        EXPECT_EQ(watch.pointer(), std::make_pair(400, 300));

        ASSERT_EQ(a.result("drag 410 310 2"), 1);  // left up first, then right down
        e = watch.nextButton();
        ASSERT_TRUE(e);
        EXPECT_EQ(e->type, ButtonRelease);
        EXPECT_EQ(e->button, 1);
        EXPECT_EQ(e->x, 410);
        e = watch.nextButton();
        ASSERT_TRUE(e);
        EXPECT_EQ(e->type, ButtonPress);
        EXPECT_EQ(e->button, 3);

        ASSERT_EQ(a.result("click 1023 767 2"), 1);  // the drop: no second press, a single right up
        e = watch.nextButton();
        ASSERT_TRUE(e);
        EXPECT_EQ(e->type, ButtonRelease);
        EXPECT_EQ(e->button, 3);
        EXPECT_EQ(e->x, 1023);
        EXPECT_EQ(e->y, 767);
        EXPECT_TRUE(watch.noButtonQueued());

        EXPECT_EQ(a.result("end"), 1);
        EXPECT_EQ(a.result("move 1 1"), 0);
    }
    waitUntil([&] { return controllerPids(bin + "/TAVIK", port).empty(); });
}
