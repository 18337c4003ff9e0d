// Synthetic mouse input end to end: an application entered on a port (real
// controller, plug-in and padsim) moves and presses the pointer of a private
// Xvfb server; a window of the test covers the screen and records the events.
#include "e2e_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// Xlib last: its macros (None, Bool, Status) clash with other headers.
#include <X11/Xlib.h>

using namespace e2e;

extern char** environ;

namespace {

// Xvfb on a display number it finds free itself (-displayfd), 1024 x 768;
// a display number another test took meanwhile can never be mistaken for ours.
class Xvfb {
public:
    Xvfb() {
        const std::string program = "/usr/bin/Xvfb";
        if (!std::filesystem::exists(program)) return;
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        std::vector<std::string> args = {program, "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 3);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        if (::posix_spawn(&pid_, program.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(fds[1]);
        std::string number;
        if (pid_ > 0) {
            waitUntil([&] {
                pollfd p{fds[0], POLLIN, 0};
                if (::poll(&p, 1, 0) <= 0) return false;
                char c = 0;
                if (::read(fds[0], &c, 1) != 1) return true;
                if (c == '\n') return true;
                number += c;
                return false;
            });
        }
        ::close(fds[0]);
        if (!number.empty()) display_ = ":" + number;
    }
    ~Xvfb() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int st = 0;
            ::waitpid(pid_, &st, 0);
        }
    }
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

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

    const std::string dir = makeTempDir("client-mouse");
    const int port = 10 + ::getpid() % 50;
    Padsim pad(dir);
    writeFile(dir + "/config/Orvane/TAVIK200_J/TAVIK.ini",
              "[Ports]\nCom" + std::to_string(port + 1) + "=" + pad.link() + "\n");
    writeFile(dir + "/fg", "0\n");
    {
        Child a(CLIENT_APP_PATH, {},
                {"XDG_CONFIG_HOME=" + dir + "/config", "TAVIK_PATH=" + bin + "/TAVIK",
                 "TAVIK_FOREGROUND_PID_FILE=" + dir + "/fg", "DISPLAY=" + x.display()});
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
    std::filesystem::remove_all(dir);
}
