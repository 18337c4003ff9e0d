// Losing the X server: the desktop layer answers "no display" and the process goes on; a server
// that comes back on the same display is used again (grabs renewed, frame recreated). End to
// end, the real controller with applications entered keeps writing their pins and delivering
// keys without a display, ends on gdEnd, and follows the active window again once a server
// is back.
#include <gtest/gtest.h>

#include "common/data_maps.h"
// Xlib after gtest: its macros (None, Bool) clash with gtest's names.
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <thread>

#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/padsim.h"
#include "tests/support/processes.h"
#include "tests/support/suite_env.h"
#include "tests/support/temp_dir.h"
#include "platform/desktop/desktop.h"
#include "platform/desktop/x11/connection.h"
#include "tests/support/x_helpers.h"
#include "tests/support/wait.h"
#include "tests/support/xvfb.h"

using namespace tavik::test;
namespace dt = tavik::desktop;

namespace {

bool has(const std::vector<dt::DesktopEvent>& all, dt::DesktopEvent::Kind k) {
    for (const auto& e : all)
        if (e.kind == k) return true;
    return false;
}

// Gathers events until one of kind `k` arrived.
bool waitEvent(dt::DesktopEvents& ev, dt::DesktopEvent::Kind k, std::vector<dt::DesktopEvent>* seen = nullptr) {
    std::vector<dt::DesktopEvent> all;
    const bool ok = waitUntil([&] {
        for (auto& e : ev.take()) all.push_back(e);
        return has(all, k);
    });
    if (seen) *seen = all;
    return ok;
}

// The test's own connection: the layer's connection policy, so the killed server does not end
// the test either.
Display* reconnect(dt::x11::Connection& conn) {
    // A round trip notices a server that went away since the last call.
    if (Display* old = conn.current()) XSync(old, False);
    Display* d = nullptr;
    waitUntil([&] { return (d = conn.get()) != nullptr; });
    return d;
}

}  // namespace

// Each case runs against a server of its own, which it may kill and start again.
class DesktopFault : public ::testing::Test {
protected:
    void SetUp() override {
        if (!dt::desktopBuiltWithX11()) GTEST_SKIP() << "built without X11";
        if (x.display().empty()) GTEST_SKIP() << "no Xvfb";
        setenv("DISPLAY", x.display().c_str(), 1);
    }
    Xvfb x;
};

TEST_F(DesktopFault, LosingTheServerAnswersNoDisplayAndTheLayerReconnects) {
    dt::x11::Connection conn;
    Display* d = reconnect(conn);
    ASSERT_NE(d, nullptr);
    const Window w = makeWindow(d, DefaultRootWindow(d), 10, 10, 50, 50, 0x336699);
    setActive(d, w);

    dt::Desktop desk;
    dt::DesktopEvents ev;
    ASSERT_EQ(desk.activeWindow(), dt::WindowId{w});
    ASSERT_EQ(desk.showFrame({100, 100, 40, 40}), dt::DesktopStatus::Ok);
    ASSERT_TRUE(ev.connected());  // from construction on
    ASSERT_EQ(ev.addHotKey(3, XK_p, dt::kModSuper), dt::DesktopStatus::Ok);
    // A toolkit that starts later sets a handler that ends the process (as Qt's does): the
    // layer's connections must still not reach it.
    XSetIOErrorHandler([](Display*) -> int { _exit(3); });

    x.kill();
    // Every call answers "no display"; the process is still here to check.
    EXPECT_EQ(desk.activeWindow(), std::nullopt);
    std::vector<uint32_t> px(16);
    EXPECT_EQ(desk.capture({0, 0, 4, 4}, px, 4), dt::DesktopStatus::NoDisplay);
    EXPECT_EQ(desk.showFrame({100, 100, 40, 40}), dt::DesktopStatus::NoDisplay);
    EXPECT_EQ(desk.pointer(), std::nullopt);
    EXPECT_EQ(desk.windowRect(w), std::nullopt);
    EXPECT_FALSE(desk.connected());
    EXPECT_TRUE(waitEvent(ev, dt::DesktopEvent::Kind::DisplayLost));
    EXPECT_EQ(ev.takeDamage({0, 0, 10, 10}), std::nullopt);

    // A server again on the same display: found without a new object.
    ASSERT_TRUE(x.restart());
    d = reconnect(conn);
    ASSERT_NE(d, nullptr);
    const Window w2 = makeWindow(d, DefaultRootWindow(d), 20, 20, 50, 50, 0x996633);
    setActive(d, w2);
    EXPECT_TRUE(waitUntil([&] { return desk.activeWindow() == dt::WindowId{w2}; }));
    EXPECT_EQ(desk.showFrame({100, 100, 40, 40}), dt::DesktopStatus::Ok);
    EXPECT_NE(desk.frameWindow(), 0u);
    ASSERT_EQ(desk.capture({20, 20, 4, 4}, px, 4), dt::DesktopStatus::Ok);
    EXPECT_EQ(px[0], 0x996633u);

    // The hot key is grabbed again on the new connection.
    ASSERT_TRUE(waitEvent(ev, dt::DesktopEvent::Kind::DisplayBack));
    const KeyCode super = XKeysymToKeycode(d, XK_Super_L), p = XKeysymToKeycode(d, XK_p);
    XTestFakeKeyEvent(d, super, True, CurrentTime);
    XTestFakeKeyEvent(d, p, True, CurrentTime);
    XTestFakeKeyEvent(d, p, False, CurrentTime);
    XTestFakeKeyEvent(d, super, False, CurrentTime);
    XSync(d, False);
    std::vector<dt::DesktopEvent> seen;
    ASSERT_TRUE(waitEvent(ev, dt::DesktopEvent::Kind::HotKey, &seen));
    for (const auto& e : seen) {
        if (e.kind == dt::DesktopEvent::Kind::HotKey) {
            EXPECT_EQ(e.hotKeyId, 3);
        }
    }
}

TEST_F(DesktopFault, AServerThatStopsAnsweringFailsTheCallInsteadOfHoldingIt) {
    dt::Desktop desk;
    ASSERT_EQ(desk.screenSize(), (dt::Size{1024, 768}));

    ::kill(x.pid(), SIGSTOP);
    // The watchdog breaks the waiting call; the connection counts as lost.
    EXPECT_EQ(desk.screenSize(), std::nullopt);
    EXPECT_EQ(desk.activeWindow(), std::nullopt);
    // Opening a connection to the silent server gives up as well.
    dt::Desktop fresh;
    EXPECT_FALSE(fresh.connected());

    ::kill(x.pid(), SIGCONT);
    EXPECT_TRUE(waitUntil([&] { return desk.screenSize().has_value(); }));
    EXPECT_TRUE(waitUntil([&] { return fresh.connected(); }));
}

// Every holder of a connection is destroyed right after the server died, before any of its
// threads noticed: none of them waits for the dead connection. Repeated, since the event
// thread may be anywhere in its pass (waiting, reading, reconnecting) at the kill.
TEST_F(DesktopFault, HoldersOfAConnectionEndAtOnceAfterTheServerDied) {
    for (int round = 0; round < 6; ++round) {
        auto desk = std::make_unique<dt::Desktop>();
        auto ev = std::make_unique<dt::DesktopEvents>();
        ASSERT_TRUE(ev->connected());
        ASSERT_EQ(ev->addHotKey(1, XK_p, dt::kModSuper), dt::DesktopStatus::Ok);
        ASSERT_EQ(desk->showFrame({10, 10, 20, 20}), dt::DesktopStatus::Ok);
        x.kill();
        if (round % 2) {
            EXPECT_EQ(ev->takeDamage({0, 0, 5, 5}), std::nullopt);
        }
        // The desktop meets the loss on a thread of its own and is destroyed on this one.
        std::thread([&] { EXPECT_EQ(desk->screenSize(), std::nullopt); }).join();
        ev.reset();
        desk.reset();
        ASSERT_TRUE(x.restart());
    }
}

#ifdef CLIENT_APP_PATH
namespace {

// The real controller on a padsim port, for applications run with `env` (the foreground comes
// from X11, not from a file).
struct ControllerPort {
    // `program`: the controller program the applications start (the built one by default).
    ControllerPort(const char* name, const std::string& display, std::string program = binDir() + "/TAVIK")
        : program(std::move(program)), tmp(name), dir(tmp.path()), pad(dir) {
        writePortMap(dir, port, pad.link());
        env = {"XDG_CONFIG_HOME=" + dir + "/config", "TAVIK_PATH=" + this->program, "TAVIK_FOREGROUND_PID_FILE=",
               "DISPLAY=" + display, "TAVIK_PLUGIN_DIR=" + bin};
    }
    static bool built() {
        for (const char* f : {"TAVIK", "Padrik.so", "padsim"})
            if (!std::filesystem::exists(binDir() + "/" + f)) return false;
        return true;
    }
    // Enters `a` (display mode 3, waits for the connection) and then `b` (mode 1).
    void enterBoth(Child& a, Child& b) const {
        ASSERT_EQ(a.result("start " + std::to_string(port) + " QX-64X48"), 1);
        ASSERT_EQ(a.result("display 3"), 1);
        ASSERT_TRUE(a.expect("status 1"));
        ASSERT_EQ(b.result("start " + std::to_string(port) + " QX-64X48"), 1);
        ASSERT_EQ(b.result("display 1"), 1);
    }
    // The text line shows 64 cells of pattern `c` (text is written as hexadecimal cell patterns).
    bool textShows(char c) const {
        const std::string want = std::string(64, c);
        return pad.waitState([&](const std::string& s) { return Padsim::value(s, "text") == want; });
    }
    std::vector<pid_t> controllers() const { return controllerPids(program, port); }

    const std::string bin = binDir();
    const std::string program;
    const int port = 10 + ::getpid() % 50;
    const TempDir tmp;
    const std::string dir;
    Padsim pad;
    std::vector<std::string> env;
};

}  // namespace

TEST_F(DesktopFault, ControllerServesWithoutTheServerAndFollowsItWhenBack) {
    if (!ControllerPort::built()) GTEST_SKIP() << "controller, plug-in or padsim not built yet";
    ControllerPort r("desktop-fault", x.display());

    Child a(CLIENT_APP_PATH, {}, r.env);
    Child b(CLIENT_APP_PATH, {}, r.env);
    r.enterBoth(a, b);
    if (HasFatalFailure()) return;
    const int pidB = b.result("pid");
    ASSERT_EQ(r.controllers().size(), 1u);
    const pid_t controller = r.controllers().front();

    ASSERT_EQ(a.result("text " + std::string(64, 'a')), 1);
    ASSERT_TRUE(r.textShows('a'));
    ASSERT_EQ(b.result("text " + std::string(64, 'b')), 1);

    // B's window in front: B's cells on the pins.
    dt::x11::Connection conn;
    Display* d = reconnect(conn);
    ASSERT_NE(d, nullptr);
    Window w = makeWindow(d, DefaultRootWindow(d), 0, 0, 10, 10, 0);
    setPid(d, w, static_cast<unsigned long>(pidB));
    setActive(d, w);
    ASSERT_TRUE(r.textShows('b')) << r.pad.state();

    // The server dies: the default client is shown and served.
    x.kill();
    ASSERT_TRUE(r.textShows('a')) << r.pad.state();
    EXPECT_EQ(r.controllers(), std::vector<pid_t>{controller});
    // The windowed controller puts a headless one in its place (same process, the port opened
    // again). Keys pressed meanwhile are lost with the port's input, so the key waits until the
    // new image serves the port: it runs headless and has sent the client's new text.
    ASSERT_TRUE(waitUntil([&] {
        const std::string cmd = readFile("/proc/" + std::to_string(controller) + "/cmdline");
        return cmd.find(std::string("--headless") + '\0') != std::string::npos;
    })) << "the controller did not restart headless";
    ASSERT_EQ(a.result("text " + std::string(64, 'c')), 1);
    EXPECT_TRUE(r.textShows('c')) << r.pad.state();
    r.pad.command("key 4 1 0");
    auto key = a.expect("key ");
    ASSERT_TRUE(key);
    EXPECT_EQ(*key, "key 4 1 0");

    // A server on the same display again: the controller follows the active window.
    ASSERT_TRUE(x.restart());
    d = reconnect(conn);
    ASSERT_NE(d, nullptr);
    w = makeWindow(d, DefaultRootWindow(d), 0, 0, 10, 10, 0);
    setPid(d, w, static_cast<unsigned long>(pidB));
    setActive(d, w);
    EXPECT_TRUE(r.textShows('b')) << r.pad.state();
    r.pad.command("key 1 3 0");
    key = b.expect("key ");
    ASSERT_TRUE(key);
    EXPECT_EQ(*key, "key 1 3 0");

    // Gone again, then every application ends: so does the controller.
    x.kill();
    EXPECT_TRUE(r.textShows('c')) << r.pad.state();
    ASSERT_EQ(b.result("end"), 1);
    ASSERT_EQ(a.result("end"), 1);
    EXPECT_TRUE(waitUntil([&] { return r.controllers().empty(); })) << "controller still running after gdEnd";
}
#endif

#ifdef CLIENT_APP_PATH
// The X server's end makes the windowed controller replace itself by a headless one in the same
// process. The new image is held (by the claim gate) before it takes the port over: the port
// must read as claimed all the while, so an application entering then joins the controller
// instead of starting a second one; afterwards the one process serves both applications.
TEST_F(DesktopFault, ControllerRestartingWithoutItsWindowKeepsThePortClaimed) {
    if (!ControllerPort::built() || !std::filesystem::exists(GATED_CONTROLLER_PATH))
        GTEST_SKIP() << "controller, plug-in or padsim not built yet";
    // The test build of the controller: it has the claim gate.
    ControllerPort r("desktop-restart", x.display(), GATED_CONTROLLER_PATH);
    const std::string gate = r.dir + "/gate";
    std::filesystem::create_directories(gate);
    writeFile(gate + "/go", "");
    r.env.push_back("TAVIK_TEST_CLAIM_GATE=" + gate);

    Child a(CLIENT_APP_PATH, {}, r.env);
    Child b(CLIENT_APP_PATH, {}, r.env);
    r.enterBoth(a, b);
    if (HasFatalFailure()) return;
    ASSERT_EQ(r.controllers().size(), 1u);
    const pid_t controller = r.controllers().front();
    ASSERT_EQ(a.result("text " + std::string(64, 'd')), 1);
    ASSERT_TRUE(r.textShows('d')) << r.pad.state();
    auto map = tavik::PortMap::openExisting(r.port, true);
    ASSERT_TRUE(map);
    ASSERT_TRUE(map->controllerClaimed());

    std::filesystem::remove(gate + "/go");
    std::filesystem::remove(gate + "/reached");
    x.kill();
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(gate + "/reached"); })) << "no restart seen";
    EXPECT_EQ(r.controllers(), std::vector<pid_t>{controller});
    EXPECT_TRUE(map->controllerClaimed()) << "the port reads as unclaimed while its controller restarts";
    // An application entering now joins the restarting controller.
    Child c(CLIENT_APP_PATH, {}, r.env);
    EXPECT_EQ(c.result("start " + std::to_string(r.port) + " QX-64X48"), 1);
    EXPECT_EQ(r.controllers(), std::vector<pid_t>{controller});

    writeFile(gate + "/go", "");
    EXPECT_EQ(c.result("display 1"), 1);
    ASSERT_EQ(a.result("text " + std::string(64, 'e')), 1);
    EXPECT_TRUE(r.textShows('e')) << r.pad.state();
    EXPECT_TRUE(map->controllerClaimed());
    EXPECT_EQ(r.controllers(), std::vector<pid_t>{controller});

    map.reset();
    c.result("end");
    ASSERT_EQ(b.result("end"), 1);
    ASSERT_EQ(a.result("end"), 1);
    EXPECT_TRUE(waitUntil([&] { return r.controllers().empty(); })) << "controller still running after gdEnd";
}
#endif
