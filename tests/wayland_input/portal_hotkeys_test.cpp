// Hot keys through the global-shortcut portal, against a stand-in portal on a private bus: the
// keys are bound with their triggers, activations of our session come back as hot-key events
// with the right id, and a bus without the portal makes the key fail (with the advice line).
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "fake_portal.h"
#include "platform/desktop/portals/request.h"
#include "platform/desktop/portals/global_shortcuts.h"
#include "platform/desktop/wayland/wayland_hotkeys.h"
#include "sway_session.h"

using namespace tavik::desktop;
using namespace tavik::desktop::wayland;
using wayland_test::eventually;
using wayland_test::FakePortal;
using wayland_test::PrivateBus;

namespace {

struct Received {
    std::mutex m;
    std::vector<DesktopEvent> events;
    std::function<void(const DesktopEvent&)> sink() {
        return [this](const DesktopEvent& e) {
            std::lock_guard lock(m);
            events.push_back(e);
        };
    }
    std::vector<int32_t> ids() {
        std::lock_guard lock(m);
        std::vector<int32_t> out;
        for (const auto& e : events)
            if (e.kind == DesktopEvent::Kind::HotKey) out.push_back(e.hotKeyId);
        return out;
    }
};

}  // namespace

TEST(WaylandPortalHotKeys, RequestPathsFollowTheSenderName) {
    EXPECT_EQ(portalRequestPath(":1.42", "tok"), "/org/freedesktop/portal/desktop/request/1_42/tok");
    EXPECT_EQ(portalRequestPath(":12.3.4", "a_b"), "/org/freedesktop/portal/desktop/request/12_3_4/a_b");
}

TEST(WaylandPortalHotKeys, KeysAreBoundAndActivationsOfOurSessionArrive) {
    PrivateBus bus(false);
    if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon is missing";
    FakePortal portal;
    ASSERT_TRUE(portal.ok());
    Received got;
    {
        WaylandHotKeys keys(got.sink());
        EXPECT_EQ(keys.add(0, 'v', kModSuper), DesktopStatus::Ok);
        EXPECT_EQ(keys.add(5, 'g', kModSuper | kModControl), DesktopStatus::Ok);
        const std::map<std::string, std::string> both = {{"hotkey-0", "LOGO+v"}, {"hotkey-5", "CTRL+LOGO+g"}};
        ASSERT_TRUE(eventually([&] { return portal.bound() == both; })) << portal.bound().size();

        portal.activate("hotkey-5");
        portal.activate("hotkey-nonsense");  // not ours: ignored
        portal.activate("hotkey-0");
        EXPECT_TRUE(eventually([&] { return got.ids().size() >= 2; }));
        EXPECT_EQ(got.ids(), (std::vector<int32_t>{5, 0}));

        // A key that cannot be written as a trigger is refused at once.
        EXPECT_EQ(keys.add(7, 0xff0d, kModSuper), DesktopStatus::Failed);

        // Removing a key binds the rest again in a new session.
        const int sessions = portal.sessionsCreated();
        keys.remove(5);
        EXPECT_TRUE(eventually([&] { return portal.sessionsCreated() > sessions; }));
        const std::map<std::string, std::string> one = {{"hotkey-0", "LOGO+v"}};
        EXPECT_TRUE(eventually([&] { return portal.bound() == one; }));
        portal.activate("hotkey-0");
        EXPECT_TRUE(eventually([&] { return got.ids().size() == 3; }));
    }
    // Gone with the object: a late activation reaches nobody (and nothing crashes).
    portal.activate("hotkey-0");
    EXPECT_EQ(got.ids().size(), 3u);
}

TEST(WaylandPortalHotKeys, WithoutThePortalTheKeyFails) {
    PrivateBus bus(false);
    if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon is missing";
    EXPECT_FALSE(PortalShortcuts::open([](int32_t) {}));
    Received got;
    WaylandHotKeys keys(got.sink());
    testing::internal::CaptureStderr();
    EXPECT_EQ(keys.add(0, 'v', kModSuper), DesktopStatus::Failed);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("bind Super+V to the command \""), std::string::npos) << said;
    EXPECT_NE(said.find(" --show\""), std::string::npos) << said;
}
