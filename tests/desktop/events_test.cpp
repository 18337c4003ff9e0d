// Desktop events against a private Xvfb: hot keys pressed through XTest arrive on the event
// descriptor with their id (and only with their exact modifiers), a grab another client holds
// is refused, damage is reported only after a draw inside the asked rectangle, and a screen
// size change is announced.
#include <gtest/gtest.h>
// Xlib after gtest: its macros (None, Bool) clash with gtest's names.
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <stdlib.h>

#include <atomic>
#include <functional>
#include <memory>

#include "platform/desktop/desktop.h"
#include "tests/support/x_helpers.h"
#include "tests/support/wait.h"
#include "tests/support/xvfb.h"

using namespace tavik::test;
namespace dt = tavik::desktop;

namespace {

class DesktopEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!dt::desktopBuiltWithX11()) GTEST_SKIP() << "built without X11";
        xvfb_ = std::make_unique<Xvfb>();
        if (xvfb_->display().empty()) GTEST_SKIP() << "no Xvfb";
        setenv("DISPLAY", xvfb_->display().c_str(), 1);
        d_ = XOpenDisplay(xvfb_->display().c_str());
        ASSERT_NE(d_, nullptr);
    }
    void TearDown() override {
        if (d_) XCloseDisplay(d_);
        xvfb_.reset();
    }
    void tap(KeySym modifier, KeySym key) {
        const KeyCode m = modifier ? XKeysymToKeycode(d_, modifier) : 0;
        const KeyCode k = XKeysymToKeycode(d_, key);
        if (m) XTestFakeKeyEvent(d_, m, True, CurrentTime);
        XTestFakeKeyEvent(d_, k, True, CurrentTime);
        XTestFakeKeyEvent(d_, k, False, CurrentTime);
        if (m) XTestFakeKeyEvent(d_, m, False, CurrentTime);
        XSync(d_, False);
    }

    std::unique_ptr<Xvfb> xvfb_;
    Display* d_ = nullptr;
};

std::vector<dt::DesktopEvent> takeWhen(dt::DesktopEvents& ev, const std::function<bool(const dt::DesktopEvent&)>& want) {
    std::vector<dt::DesktopEvent> all;
    waitUntil([&] {
        for (auto& e : ev.take()) all.push_back(e);
        for (auto& e : all)
            if (want(e)) return true;
        return false;
    });
    return all;
}

}  // namespace

TEST_F(DesktopEventsTest, HotKeysArriveWithTheirIdOnTheDescriptor) {
    dt::DesktopEvents ev;
    ASSERT_TRUE(ev.connected());  // from construction on
    ASSERT_EQ(ev.addHotKey(7, XK_p, dt::kModSuper), dt::DesktopStatus::Ok);
    ASSERT_EQ(ev.addHotKey(8, XK_q, dt::kModControl | dt::kModShift), dt::DesktopStatus::Ok);
    EXPECT_EQ(ev.addHotKey(9, 0x12345678, 0), dt::DesktopStatus::Failed);  // no key code
    EXPECT_TRUE(ev.take().empty());

    tap(0, XK_p);  // without its modifier: not a hot key
    tap(XK_Super_L, XK_p);
    ASSERT_TRUE(ev.waitEvents(20000));
    auto got = takeWhen(ev, [](const dt::DesktopEvent& e) { return e.kind == dt::DesktopEvent::Kind::HotKey; });
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].hotKeyId, 7);
    EXPECT_FALSE(ev.waitEvents(0));  // taken: the descriptor is quiet again

    // Another client cannot take a key that is grabbed.
    dt::DesktopEvents other;
    ASSERT_TRUE(other.connected());
    EXPECT_EQ(other.addHotKey(1, XK_p, dt::kModSuper), dt::DesktopStatus::Failed);
    // Released keys are free again and no longer reported.
    ev.removeHotKey(7);
    EXPECT_EQ(other.addHotKey(1, XK_p, dt::kModSuper), dt::DesktopStatus::Ok);
    tap(XK_Super_L, XK_p);
    ASSERT_TRUE(other.waitEvents(20000));
    EXPECT_EQ(other.take().at(0).hotKeyId, 1);
    EXPECT_TRUE(ev.take().empty());
}

TEST_F(DesktopEventsTest, DamageIsReportedOnlyAfterADrawInTheArea) {
    dt::DesktopEvents ev;
    ASSERT_TRUE(ev.connected());  // from construction on
    const Window w = makeWindow(d_, DefaultRootWindow(d_), 100, 100, 200, 200, 0x000080);
    const dt::Rect view{150, 150, 50, 50};
    EXPECT_EQ(ev.takeDamage(view), true);  // the first ask knows nothing yet
    EXPECT_EQ(ev.takeDamage(view), false);
    fill(d_, w, 10, 10, 20, 20, 0xFFFFFF);  // screen (110..130): beside the view
    EXPECT_EQ(ev.takeDamage(view), false);
    fill(d_, w, 95, 95, 2, 2, 0xFFFFFF);  // screen (195, 195): inside
    EXPECT_EQ(ev.takeDamage(view), true);
    EXPECT_EQ(ev.takeDamage(view), false);
    XDestroyWindow(d_, w);
    XSync(d_, False);
    EXPECT_EQ(ev.takeDamage(view), true);  // what was under the window shows again
}

// Forgetting without a question: damage is followed from the first forget on (what came before
// does not count), and a later draw in the area is still reported.
TEST_F(DesktopEventsTest, ForgottenDamageIsNotReportedButLaterDrawsAre) {
    dt::DesktopEvents ev;
    const Window w = makeWindow(d_, DefaultRootWindow(d_), 100, 100, 200, 200, 0x000080);
    const dt::Rect view{150, 150, 50, 50};
    ev.forgetDamage();
    EXPECT_EQ(ev.takeDamage(view), false);
    fill(d_, w, 95, 95, 2, 2, 0xFFFFFF);  // inside the view
    EXPECT_EQ(ev.takeDamage(view), true);
    ev.forgetDamage();
    EXPECT_EQ(ev.takeDamage(view), false);
    fill(d_, w, 90, 90, 2, 2, 0xFFFFFF);
    EXPECT_EQ(ev.takeDamage(view), true);
    XDestroyWindow(d_, w);
    XSync(d_, False);
}

TEST_F(DesktopEventsTest, ScreenSizeChangeIsAnnounced) {
    dt::DesktopEvents ev;
    ASSERT_TRUE(ev.connected());  // from construction on
    int evBase = 0, errBase = 0;
    if (!XRRQueryExtension(d_, &evBase, &errBase)) GTEST_SKIP() << "no RandR";
    // Xvfb has one mode: switch its output off, then shrink the screen.
    const Window root = DefaultRootWindow(d_);
    XRRScreenResources* res = XRRGetScreenResources(d_, root);
    ASSERT_NE(res, nullptr);
    for (int i = 0; i < res->ncrtc; ++i)
        XRRSetCrtcConfig(d_, res, res->crtcs[i], CurrentTime, 0, 0, 0, RR_Rotate_0, nullptr, 0);
    XRRFreeScreenResources(res);
    const dt::Size want{800, 600};
    XRRSetScreenSize(d_, root, want.width, want.height, 200, 150);
    XSync(d_, False);
    auto got = takeWhen(ev, [](const dt::DesktopEvent& e) { return e.kind == dt::DesktopEvent::Kind::ScreenResized; });
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back().kind, dt::DesktopEvent::Kind::ScreenResized);
    EXPECT_EQ(got.back().size, want);
    dt::Desktop desk;
    EXPECT_EQ(desk.screenSize(), want);
}

namespace {

// The window in front: a change of the root's _NET_ACTIVE_WINDOW reaches the watcher; another
// root property does not; after the watch is stopped nothing more arrives.
TEST_F(DesktopEventsTest, AChangedWindowInFrontIsReportedUntilTheWatchStops) {
    dt::DesktopEvents ev;
    std::atomic<int> calls{0};
    ev.watchActiveWindow([&] { ++calls; });
    const Window root = DefaultRootWindow(d_);
    const Window a = makeWindow(d_, root, 10, 10, 40, 30, 0xFFFFFF);
    setActive(d_, a);
    ASSERT_TRUE(waitUntil([&] { return calls.load() >= 1; }));
    // A property other than the window in front changes nothing (a round trip through a hot
    // key then shows that the reader has read everything sent before it).
    const int before = calls.load();
    setCardinal(d_, root, "_TAVIK_TEST_OTHER", XA_CARDINAL, 7);
    ASSERT_EQ(ev.addHotKey(3, XK_F9, 0), dt::DesktopStatus::Ok);
    tap(0, XK_F9);
    takeWhen(ev, [](const dt::DesktopEvent& e) { return e.kind == dt::DesktopEvent::Kind::HotKey; });
    EXPECT_EQ(calls.load(), before);
    setActive(d_, 0);
    ASSERT_TRUE(waitUntil([&] { return calls.load() > before; }));

    ev.watchActiveWindow(nullptr);
    const int stopped = calls.load();
    setActive(d_, a);
    tap(0, XK_F9);
    takeWhen(ev, [](const dt::DesktopEvent& e) { return e.kind == dt::DesktopEvent::Kind::HotKey; });
    EXPECT_EQ(calls.load(), stopped);
    XDestroyWindow(d_, a);
}

}  // namespace
