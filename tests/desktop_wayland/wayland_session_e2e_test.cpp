// The Wayland back end in a headless session of its own (tests/wayland/session.sh: sway, PipeWire,
// the desktop portal, and a Qt window of known content filling the screen). The outer case starts
// the session with this program inside it; the inside cases then check the desktop layer's capture
// (size, exact pixel values at known places, so a channel swap or an offset fails), its damage, the
// kept permission, and the screen viewer's pins on padsim against the image library's panel of the
// same pixels.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/desktop/desktop.h"
#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/library_pins.h"
#include "tests/support/lumo_on_padsim.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

using namespace tavik::test;
namespace dt = tavik::desktop;

namespace {

constexpr int kCols = 64, kRows = 48;

bool insideSession() { return std::getenv("TAVIK_WAYLAND_SESSION") != nullptr; }

// ---- Outside: start a session with the inside cases in it. ----

struct RunResult {
    int rc = -1;
    std::string out;
};

// Runs `command` (through the shell, stderr with stdout) and waits for it; the session script
// bounds each of its own waits and CTest's time-out bounds the whole.
RunResult run(const std::string& command) {
    RunResult r;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf{};
    while (size_t got = std::fread(buf.data(), 1, buf.size(), p)) r.out.append(buf.data(), got);
    const int status = pclose(p);
    r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

std::string self() {
    char path[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, size_t(n)) : std::string{};
}

// Runs the inside cases matching `filter` in a session started with `sessionArgs`.
void inSession(const std::string& sessionArgs, const std::string& filter, bool required) {
    const RunResult r = run(std::string(SESSION_SCRIPT) + " " + sessionArgs + " -- " + self() + " --gtest_filter='" +
                      filter + "'");
    if (r.rc == 77) {
        if (required) FAIL() << "the Wayland session could not be made (scripts/deps.sh installs its pieces):\n" << r.out;
        GTEST_SKIP() << r.out;
    }
    EXPECT_EQ(r.rc, 0) << r.out;
    // Every inside case ran: none skipped itself for want of the session.
    EXPECT_EQ(r.out.find("[  SKIPPED ]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[  PASSED  ]"), std::string::npos) << r.out;
    std::printf("%s", r.out.c_str());
}

#ifdef WAYLAND_SESSION_REQUIRED
constexpr bool kRequired = true;
#else
constexpr bool kRequired = false;
#endif

TEST(WaylandSession, StandInPortalAndRealPipeWire) {
    if (insideSession()) GTEST_SKIP() << "inside the session";
    inSession(std::string("--fake-portal ") + FAKE_PORTAL, "InsideWayland.*", kRequired);
}

TEST(WaylandSession, SilentPortal) {
    if (insideSession()) GTEST_SKIP() << "inside the session";
    inSession(std::string("--fake-portal '") + FAKE_PORTAL + " --silent'", "SilentPortal.*", kRequired);
}

TEST(WaylandSession, LostStreamComesBackWithTheNextPortal) {
    if (insideSession()) GTEST_SKIP() << "inside the session";
    inSession(std::string("--fake-portal ") + FAKE_PORTAL, "Reconnect.*", kRequired);
}

TEST(WaylandSession, PortalWithoutPipeWire) {
    if (insideSession()) GTEST_SKIP() << "inside the session";
    inSession(std::string("--fake-portal '") + FAKE_PORTAL + " --no-pipewire'", "MissingPipeWire.*", kRequired);
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// A session bus on which nothing offers the portal (no services to start either).
TEST(WaylandSession, NoPortalOnTheBusIsSaidOnce) {
    if (insideSession()) GTEST_SKIP() << "inside the session";
    if (run("command -v dbus-run-session").rc != 0) {
        if (kRequired) FAIL() << "dbus-run-session is missing";
        GTEST_SKIP() << "no dbus-run-session";
    }
    const TempDir tmp("wayland-bare");
    const std::string& dir = tmp.path();
    writeFile(dir + "/bus.conf",
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig><type>session</type><listen>unix:dir=" + dir + "</listen><auth>EXTERNAL</auth>"
              "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
              "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    const RunResult r = run("XDG_SESSION_TYPE=wayland TAVIK_PROBE=1 dbus-run-session --config-file=" + dir +
                            "/bus.conf -- " + self() + " --gtest_filter=Probe.*");
    EXPECT_EQ(r.rc, 0) << r.out;
    EXPECT_NE(r.out.find("probe done"), std::string::npos) << r.out;
    // Said once, with the package to install, however often the calls try again.
    EXPECT_EQ(count(r.out, "no desktop portal service on the session bus (install the package xdg-desktop-portal)"),
              1u)
        << r.out;
}

// sway and the wlroots portal need a GPU render node to cast: without one sway draws with pixman,
// its screencopy frames offer no dmabuf format, and the portal's Start fails (response 2) for want
// of one. The session script then skips, naming that step.
TEST(WaylandSession, SwayWithTheWlrootsPortal) {
    if (insideSession()) GTEST_SKIP() << "inside the session";
    inSession(std::string("--window ") + PATTERN_WINDOW, "InsideWayland.*", false);
}

// ---- Inside the session. ----

class InsideWayland : public ::testing::Test {
protected:
    void SetUp() override {
        if (!insideSession()) GTEST_SKIP() << "not inside a Wayland test session";
    }
};

// Calls the capture twice, a retry interval apart, in a process of its own (its stderr is what
// the callers look at).
TEST(Probe, CaptureTwice) {
    if (!std::getenv("TAVIK_PROBE")) GTEST_SKIP() << "run by other cases";
    dt::Desktop d;
    std::vector<uint32_t> px(4, 1);
    EXPECT_EQ(d.capture({0, 0, 2, 2}, px, 2), dt::DesktopStatus::NoDisplay);
    ::usleep(1200 * 1000);
    EXPECT_EQ(d.capture({0, 0, 2, 2}, px, 2), dt::DesktopStatus::NoDisplay);
    EXPECT_EQ(d.movePointer({1, 1}), dt::DesktopStatus::NoDisplay);  // what remains still answers
    std::printf("probe done\n");
}

class MissingPipeWire : public ::testing::Test {
protected:
    void SetUp() override {
        if (!insideSession()) GTEST_SKIP() << "not inside a Wayland test session";
    }
};

TEST_F(MissingPipeWire, SaidOnceWithThePackagesToInstall) {
    const RunResult r = run("TAVIK_PROBE=1 " + self() + " --gtest_filter=Probe.*");
    EXPECT_EQ(r.rc, 0) << r.out;
    EXPECT_NE(r.out.find("probe done"), std::string::npos) << r.out;
    EXPECT_EQ(count(r.out, "the PipeWire service is not running (install the packages pipewire and wireplumber"), 1u)
        << r.out;
}

class Reconnect : public ::testing::Test {
protected:
    void SetUp() override {
        if (!insideSession()) GTEST_SKIP() << "not inside a Wayland test session";
    }
};

uint32_t pixelAt(dt::Desktop& d, int x, int y);

// The portal and its source end: the loss is told, calls answer "no display", and the next portal
// on the bus is asked again and its stream used.
TEST_F(Reconnect, ALostStreamIsToldAndTheNextPortalIsUsed) {
    dt::DesktopEvents e;
    dt::Desktop d;
    ASSERT_TRUE(waitUntil([&] { return d.connected(); }));
    std::vector<dt::DesktopEvent> seen;
    const auto saw = [&](dt::DesktopEvent::Kind k) {
        e.waitEvents(100);
        for (const auto& ev : e.take()) seen.push_back(ev);
        for (const auto& ev : seen)
            if (ev.kind == k) return true;
        return false;
    };
    ASSERT_EQ(::kill(std::atoi(std::getenv("TAVIK_WAYLAND_WINDOW_PID")), SIGTERM), 0);
    ASSERT_TRUE(waitUntil([&] { return saw(dt::DesktopEvent::Kind::DisplayLost); }));
    std::vector<uint32_t> px(1, 0);
    EXPECT_TRUE(waitUntil([&] { return d.capture({0, 0, 1, 1}, px, 1) == dt::DesktopStatus::NoDisplay; }));
    EXPECT_FALSE(e.connected());

    Child next(FAKE_PORTAL, {}, {});
    ASSERT_TRUE(next.expect("ready").has_value());
    ASSERT_TRUE(waitUntil([&] { return pixelAt(d, 10, 6) == 0x000000u && pixelAt(d, 0, 0) == 0xFFFFFFu; }));
    ASSERT_TRUE(waitUntil([&] { return saw(dt::DesktopEvent::Kind::DisplayBack); }));
    for (const auto& ev : seen) {
        if (ev.kind == dt::DesktopEvent::Kind::DisplayBack) {
            EXPECT_EQ(ev.size, (dt::Size{640, 480}));
        }
    }
    EXPECT_TRUE(e.connected());
    // Damage counts everything changed after the new stream came.
    EXPECT_EQ(e.takeDamage({0, 0, 1, 1}), std::optional<bool>(true));
}

class SilentPortal : public InsideWayland {};

// The portal takes the requests but never answers Start: every call gives up within its bound and
// answers "no display", and ending the objects does not wait for the portal.
TEST_F(SilentPortal, CallsAnswerNoDisplayAndEndingDoesNotWait) {
    {
        dt::Desktop d;
        EXPECT_FALSE(d.connected());
        std::vector<uint32_t> px(4, 1);
        EXPECT_EQ(d.capture({0, 0, 2, 2}, px, 2), dt::DesktopStatus::NoDisplay);
        EXPECT_EQ(d.screenSize(), std::nullopt);
        dt::DesktopEvents e;
        EXPECT_EQ(e.takeDamage({0, 0, 1, 1}), std::nullopt);
        EXPECT_FALSE(e.connected());
    }
    // The portal saw the request the objects are no longer waiting for.
    EXPECT_NE(readFile(std::string(std::getenv("TAVIK_WAYLAND_SESSION")) + "/portal.log").find("start"),
              std::string::npos);
}

uint32_t pixelAt(dt::Desktop& d, int x, int y) {
    uint32_t px = 0xDEADBEEF;
    if (d.capture({x, y, 1, 1}, std::span<uint32_t>(&px, 1), 1) != dt::DesktopStatus::Ok) return 0xDEADBEEF;
    return px;
}

TEST_F(InsideWayland, CaptureGivesTheWindowsPixelsAndTheKeptPermission) {
    EXPECT_EQ(dt::desktopKind(), dt::DesktopKind::Wayland);
    dt::Desktop d;
    ASSERT_TRUE(waitUntil([&] { return d.connected(); })) << "no screen cast";
    ASSERT_EQ(d.screenSize(), (dt::Size{640, 480}));
    // The pattern: white, black blocks, 0x202020, 0x606060 and 0x3060C0 blocks (tests/wayland/pattern_window.cpp).
    ASSERT_TRUE(waitUntil([&] { return pixelAt(d, 0, 0) == 0xFFFFFF; })) << std::hex << pixelAt(d, 0, 0);
    EXPECT_EQ(pixelAt(d, 10, 6), 0x000000u);
    EXPECT_EQ(pixelAt(d, 33, 17), 0x000000u);
    EXPECT_EQ(pixelAt(d, 34, 17), 0xFFFFFFu);
    EXPECT_EQ(pixelAt(d, 5, 31), 0x202020u);
    EXPECT_EQ(pixelAt(d, 130, 100), 0x606060u);
    EXPECT_EQ(pixelAt(d, 439, 69), 0x3060C0u);  // red, green and blue apart: a channel swap shows
    EXPECT_EQ(pixelAt(d, 440, 69), 0xFFFFFFu);
    EXPECT_EQ(pixelAt(d, 639, 479), 0xFFFFFFu);

    // An area over the screen's corner: the part beyond it is black, the rest as on the screen.
    std::vector<uint32_t> px(4 * 4, 0x123456);
    ASSERT_EQ(d.capture({638, 478, 4, 4}, px, 4), dt::DesktopStatus::Ok);
    EXPECT_EQ(px[0], 0xFFFFFFu);
    EXPECT_EQ(px[1], 0xFFFFFFu);
    EXPECT_EQ(px[2], 0u);
    EXPECT_EQ(px[4 * 2], 0u);
    // The view in place: same pixels, rows at the stride it gives.
    bool seen = false;
    ASSERT_EQ(d.captureView({300, 199, 2, 2},
                            [&](const dt::Desktop::CapturedView& v) {
                                seen = true;
                                EXPECT_EQ(v.onScreen, (dt::Rect{0, 0, 2, 2}));
                                EXPECT_EQ(v.pixels[0] & 0xFFFFFF, 0xFFFFFFu);
                                EXPECT_EQ(v.pixels[v.stride] & 0xFFFFFF, 0u);
                            }),
              dt::DesktopStatus::Ok);
    EXPECT_TRUE(seen);

    // The permission is kept for the next run, readable by the user alone. (The stand-in portal,
    // which logs its requests, always hands out a token; the wlroots portal may not.)
    const std::string token =
        std::string(std::getenv("XDG_CONFIG_HOME")) + "/Orvane/TAVIK200_J/ScreenCast.token";
    const std::string log = std::string(std::getenv("TAVIK_WAYLAND_SESSION")) + "/portal.log";
    const bool standIn = readFile(log).find("select ") != std::string::npos;
    struct stat st {};
    if (::stat(token.c_str(), &st) != 0) {
        EXPECT_FALSE(standIn) << "no restore token kept";
        return;
    }
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string kept = readFile(token);
    ASSERT_FALSE(kept.empty());
    if (standIn) {
        // A second process hands the kept token back to the portal, asking to keep the grant.
        const RunResult again = run(self() + " --gtest_filter=InsideWayland.CaptureOnce");
        EXPECT_EQ(again.rc, 0) << again.out;
        const std::string sent = "persist_mode=2 restore_token=" + kept.substr(0, kept.find('\n'));
        EXPECT_NE(readFile(log).find(sent), std::string::npos) << readFile(log);
    }
}

// A capture in a process of its own (the kept permission's second user).
TEST_F(InsideWayland, CaptureOnce) {
    dt::Desktop d;
    ASSERT_TRUE(waitUntil([&] { return d.connected(); }));
    EXPECT_EQ(pixelAt(d, 10, 6), 0x000000u);
}

// A program that wants only hot keys (the controller) opens no screen cast: on GNOME and KDE that
// would put a screen-sharing dialog before the user for nothing.
TEST_F(InsideWayland, HotKeysAloneOpenNoScreenCast) {
    const std::string portalLog = std::string(std::getenv("TAVIK_WAYLAND_SESSION")) + "/portal.log";
    auto sessions = [&] {
        const std::string log = readFile(portalLog);
        size_t n = 0;
        for (size_t at = log.find("create\n"); at != std::string::npos; at = log.find("create\n", at + 1)) ++n;
        return n;
    };
    const size_t before = sessions();
    {
        dt::DesktopEvents events;
        events.addHotKey(1, 0x67, dt::kModSuper);
        events.take();
    }
    EXPECT_EQ(sessions(), before);
}

TEST_F(InsideWayland, DamageFollowsWhatChangesOnTheScreen) {
    dt::DesktopEvents events;
    ASSERT_TRUE(waitUntil([&] { return events.takeDamage({0, 0, 1, 1}).has_value(); }));
    // Everything taken: a still screen shows no damage (the window repaints only when asked).
    events.takeDamage({0, 0, 640, 480});
    EXPECT_EQ(events.takeDamage({0, 0, 640, 480}), std::optional<bool>(false));
    // The window flips its block at (300, 200) on SIGUSR1.
    const char* pid = std::getenv("TAVIK_WAYLAND_WINDOW_PID");
    ASSERT_NE(pid, nullptr);
    ASSERT_EQ(::kill(std::atoi(pid), SIGUSR1), 0);
    bool far = true;
    ASSERT_TRUE(waitUntil([&] {
        const auto near = events.takeDamage({290, 190, 100, 140});
        return near && *near;
    }));
    // Beyond the block nothing changed since.
    far = events.takeDamage({0, 0, 200, 150}).value_or(true);
    EXPECT_FALSE(far);
    dt::Desktop d;
    ASSERT_TRUE(waitUntil([&] { return pixelAt(d, 310, 210) == 0xFFFFFF; }));
    ::kill(std::atoi(pid), SIGUSR1);  // back as it was for the next case
    ASSERT_TRUE(waitUntil([&] { return pixelAt(d, 310, 210) == 0x000000; }));
}

TEST_F(InsideWayland, TheScreenViewerShowsTheScreenOnThePins) {
    const std::string bin = binDir();
    for (const char* f : {"TAVIK", "Padrik.so", "padsim", "Lumo"})
        ASSERT_TRUE(std::filesystem::exists(bin + "/" + f)) << f << " not built";
    const auto expected = libraryPins(0, 0, 0, 1, kCols, kRows);
    ASSERT_EQ(expected.size(), size_t(kRows)) << "the image library captured nothing";
    ASSERT_TRUE(mixed(expected));

    const TempDir tmp("lumo-wayland");
    LumoOnPadsim lumo(tmp.path());
    ASSERT_TRUE(lumo.started());
    EXPECT_TRUE(lumo.waitPins(expected)) << "pins:\n" << lumo.pinsText() << "expected:\n" << rowsText(expected);
    EXPECT_TRUE(lumo.stop());
}

}  // namespace
