// The refresh pass on a real X server (private Xvfb): a periodic pass whose
// view had no damage captures nothing, a drawing under the view is captured
// and sent, a drawing far from the view is not, a pass asked for by a command
// always captures; a server that goes away leaves the passes harmless.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "screenviewer/sections.h"
#include "screenviewer/viewer.h"
#include "tests/support/child.h"
#include "tests/support/x_helpers.h"
#include "tests/support/wait.h"
#include "tests/support/xvfb.h"

using namespace lumo;

namespace {

// The real desktop, except that from hideWindowDamage() on it reports no damage at all: as under
// a compositing manager that draws past the root window (its own buffers, page flips), a window's
// new picture never shows in the root's damage.
class RootOnlyDamage final : public DesktopPort {
public:
    explicit RootOnlyDamage(std::unique_ptr<DesktopPort> real) : real_(std::move(real)) {}
    std::optional<WindowId> activeWindow() override { return real_->activeWindow(); }
    bool windowExists(WindowId w) override { return real_->windowExists(w); }
    std::optional<Rect> windowRect(WindowId w) override { return real_->windowRect(w); }
    std::optional<Rect> clientRect(WindowId w) override { return real_->clientRect(w); }
    std::optional<int32_t> windowProcess(WindowId w) override { return real_->windowProcess(w); }
    void showFrame(const Rect& r) override { real_->showFrame(r); }
    void hideFrame() override { real_->hideFrame(); }
    std::optional<bool> takeDamage(const Rect& area) override {
        const auto d = real_->takeDamage(area);
        return hide_ ? std::optional<bool>(false) : d;
    }
    void forgetDamage() override { real_->forgetDamage(); }
    bool connected() override { return real_->connected(); }
    void hideWindowDamage() { hide_ = true; }

private:
    std::unique_ptr<DesktopPort> real_;
    bool hide_ = false;
};

TEST(RefreshOnX, OnlyDamageUnderTheViewMakesAPeriodicPassCapture) {
    tavik::test::Xvfb xvfb("320x240x24");
    if (xvfb.display().empty()) GTEST_SKIP() << "no Xvfb";
    ::setenv("DISPLAY", xvfb.display().c_str(), 1);
    XInitThreads();  // the desktop layer shares Xlib with this test's own connection
    Display* dpy = XOpenDisplay(xvfb.display().c_str());
    ASSERT_NE(dpy, nullptr);
    const Window root = DefaultRootWindow(dpy);
    tavik::test::fill(dpy, root, 0, 0, 320, 240, 0xFFFFFF);

    auto share = std::make_unique<ViewerShare>();
    initialiseShare(*share);
    std::vector<uint8_t> lastPlane;
    DeviceSink sink{[&](const uint8_t* p1, const uint8_t*, int) {
                        if (p1) lastPlane.assign(p1, p1 + 64 * 6);
                        return 1;
                    },
                    [](const uint8_t*) { return 1; }};
    Viewer viewer(*share, nullptr, configForCode(3, "QX-64X48"), makeDesktopPort(), makeDesktopPort(), sink);
    ASSERT_TRUE(viewer.createThreads({}));  // never resumed: the passes run here
    viewer.setFrameEnabled(false);
    viewer.fullScreen();
    const auto& st = viewer.stats();
    auto pass = [&](bool periodic) {
        viewer.publishView(periodic);
        ASSERT_TRUE(viewer.takeHandOver());
        viewer.refreshView(false);
    };

    pass(false);
    ASSERT_EQ(st.captures.load(), 1u);
    // Let every damage of the set-up arrive and be taken: a periodic pass then skips.
    ASSERT_TRUE(tavik::test::waitUntil([&] {
        const auto skipped = st.skippedUnchanged.load();
        pass(true);
        return st.skippedUnchanged.load() > skipped;
    }));
    const auto captures = st.captures.load();
    pass(true);
    EXPECT_EQ(st.captures.load(), captures);

    // A black block under the view: captured and on the pins.
    tavik::test::fill(dpy, root, 8, 8, 12, 10, 0x000000);
    ASSERT_TRUE(tavik::test::waitUntil([&] {
        pass(true);
        return st.captures.load() > captures;
    }));
    ASSERT_EQ(lastPlane.size(), 64u * 6);
    EXPECT_NE(lastPlane[1 * 64 + 10], 0);  // pin rows 8..15 at column 10

    // Far from the view and its margins: nothing to capture.
    ASSERT_TRUE(tavik::test::waitUntil([&] {
        const auto skipped = st.skippedUnchanged.load();
        pass(true);
        return st.skippedUnchanged.load() > skipped;
    }));
    tavik::test::fill(dpy, root, 200, 150, 40, 40, 0x000000);
    const auto before = st.captures.load();
    for (int i = 0; i < 5; ++i) pass(true);
    EXPECT_EQ(st.captures.load(), before);
    // A command's pass always captures.
    pass(false);
    EXPECT_EQ(st.captures.load(), before + 1);
}

// Under a compositing manager windows are drawn off the screen and a change inside one need not
// damage the root window (xcompmgr draws on the root and so damages it; a manager drawing past
// it does not, as the desktop port here plays): the periodic passes alone still bring the
// window's new picture to the pins.
TEST(RefreshOnX, PeriodicPassesShowAWindowsChangeUnderACompositingManager) {
    const std::string compositor = "/usr/bin/xcompmgr";
    if (!std::filesystem::exists(compositor)) GTEST_SKIP() << "xcompmgr is not installed";
    tavik::test::Xvfb xvfb("320x240x24");
    if (xvfb.display().empty()) GTEST_SKIP() << "no Xvfb";
    ::setenv("DISPLAY", xvfb.display().c_str(), 1);
    XInitThreads();
    Display* dpy = XOpenDisplay(xvfb.display().c_str());
    ASSERT_NE(dpy, nullptr);
    const Window root = DefaultRootWindow(dpy);
    tavik::test::fill(dpy, root, 0, 0, 320, 240, 0xFFFFFF);
    // Server-side compositing (-a): windows are redirected and the server draws them on the root.
    tavik::test::Child manager(compositor, {}, {"DISPLAY=" + xvfb.display()});
    const Atom owner = XInternAtom(dpy, "_NET_WM_CM_S0", False);
    if (!tavik::test::waitUntil([&] { return XGetSelectionOwner(dpy, owner) != 0; }))
        GTEST_SKIP() << "xcompmgr did not start compositing on " << xvfb.display();
    const Window win = tavik::test::makeWindow(dpy, root, 40, 30, 200, 150, 0xFFFFFF);
    tavik::test::setActive(dpy, win);
    XSync(dpy, False);

    auto share = std::make_unique<ViewerShare>();
    initialiseShare(*share);
    std::vector<uint8_t> lastPlane;
    DeviceSink sink{[&](const uint8_t* p1, const uint8_t*, int) {
                        if (p1) lastPlane.assign(p1, p1 + 64 * 6);
                        return 1;
                    },
                    [](const uint8_t*) { return 1; }};
    auto refreshDesk = std::make_unique<RootOnlyDamage>(makeDesktopPort());
    RootOnlyDamage& damage = *refreshDesk;
    Viewer viewer(*share, nullptr, configForCode(3, "QX-64X48"), makeDesktopPort(), std::move(refreshDesk), sink);
    ASSERT_TRUE(viewer.createThreads({}));  // never resumed: the passes run here
    const auto& st = viewer.stats();
    viewer.setFrameEnabled(false);
    viewer.setScanningMode(ScanningMode::ApplicationWindow);
    ASSERT_TRUE(tavik::test::waitUntil([&] {
        viewer.trackForeground();
        return viewer.currentView().captureWindow == win;
    }));
    auto pass = [&](bool periodic) {
        viewer.publishView(periodic);
        ASSERT_TRUE(viewer.takeHandOver());
        viewer.refreshView(false);
    };
    // The capture's own connection may still be on an earlier test's server for a moment.
    // (The white window gives pins all down: nothing to send yet.)
    ASSERT_TRUE(tavik::test::waitUntil([&] {
        pass(false);
        return st.captures.load() > 0;
    }));
    ASSERT_TRUE(lastPlane.empty());
    // The set-up's damage taken: periodic passes skip.
    ASSERT_TRUE(tavik::test::waitUntil([&] {
        const auto skipped = st.skippedUnchanged.load();
        pass(true);
        return st.skippedUnchanged.load() > skipped;
    }));

    // A black block in the window under the view, its damage not on the root: on the pins from
    // periodic passes alone.
    damage.hideWindowDamage();
    tavik::test::fill(dpy, win, 8, 8, 12, 10, 0x000000);
    XSync(dpy, False);
    EXPECT_TRUE(tavik::test::waitUntil([&] {
        pass(true);
        return lastPlane.size() == 64u * 6 && lastPlane[1 * 64 + 10] != 0;  // pin rows 8..15 at column 10
    }));
    XCloseDisplay(dpy);
}

// The server dies between two passes: the passes go on without capturing or sending, and the
// viewer (its desktop ports, the damage reader among them) ends at once afterwards.
TEST(RefreshOnX, PassesStayHarmlessWhenTheServerGoesAway) {
    tavik::test::Xvfb xvfb("320x240x24");
    if (xvfb.display().empty()) GTEST_SKIP() << "no Xvfb";
    ::setenv("DISPLAY", xvfb.display().c_str(), 1);
    XInitThreads();

    auto share = std::make_unique<ViewerShare>();
    initialiseShare(*share);
    int sends = 0;
    DeviceSink sink{[&](const uint8_t*, const uint8_t*, int) { return ++sends, 1; }, [](const uint8_t*) { return 1; }};
    {
        Viewer viewer(*share, nullptr, configForCode(3, "QX-64X48"), makeDesktopPort(), makeDesktopPort(), sink);
        ASSERT_TRUE(viewer.createThreads({}));
        viewer.setFrameEnabled(false);
        viewer.fullScreen();
        const auto& st = viewer.stats();
        auto pass = [&](bool periodic) {
            viewer.publishView(periodic);
            ASSERT_TRUE(viewer.takeHandOver());
            viewer.refreshView(false);
        };
        // The capture's own connection may still be on an earlier test's server for a moment.
        ASSERT_TRUE(tavik::test::waitUntil([&] {
            pass(false);
            return st.captures.load() > 0;
        }));
        const auto captured = st.captures.load();
        const int sent = sends;

        xvfb.kill();
        for (int i = 0; i < 4; ++i) {
            pass(i % 2 == 0);
            viewer.trackForeground();
        }
        viewer.fullScreen();
        pass(false);
        EXPECT_EQ(st.captures.load(), captured);
        EXPECT_EQ(sends, sent);
    }
    // Still here: the viewer and its connections are gone.
    SUCCEED();
}

}  // namespace
