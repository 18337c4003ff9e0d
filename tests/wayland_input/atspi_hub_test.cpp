// The process's one AT-SPI hub: shared by a module that links its own copy of the code, ticks
// and handlers on the hub thread, run() from that thread itself, removal from inside a tick.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/atspi/atspi_hub.h"
#include "sway_session.h"

using tavik::atspi::Hub;
using wayland_test::eventually;
using wayland_test::PrivateBus;

TEST(AtspiHub, OneHubPerProcessAcrossCopiesTicksAndSelfRemoval) {
    PrivateBus bus(true);  // the accessibility bus is started on demand
    if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon is missing";
    auto hub = Hub::acquire();
    if (!hub) GTEST_SKIP() << "the accessibility bus did not start (at-spi2-core missing?)";
    EXPECT_EQ(Hub::acquire(), hub);

    // A module with its own copy of the code gets the same hub.
    void* module = ::dlopen(HUB_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(module) << ::dlerror();
    auto acquire = reinterpret_cast<void* (*)()>(::dlsym(module, "tavikTestAcquireHub"));
    auto release = reinterpret_cast<void (*)()>(::dlsym(module, "tavikTestReleaseHub"));
    ASSERT_TRUE(acquire && release);
    EXPECT_EQ(acquire(), hub.get());
    release();

    // Ticks run on the hub thread; run() from there runs at once; a tick may remove itself.
    std::atomic<int> ticks{0};
    std::atomic<bool> onHubThread{true}, ranInline{false};
    const auto caller = std::this_thread::get_id();
    int token = 0;
    std::atomic<int> tokenSeen{0};
    token = hub->every(10, [&] {
        if (std::this_thread::get_id() == caller) onHubThread = false;
        hub->run([&] { ranInline = true; }, 0);
        if (++ticks == 3) hub->remove(tokenSeen.load());
    });
    tokenSeen = token;
    ASSERT_NE(token, 0);
    EXPECT_TRUE(eventually([&] { return ticks.load() >= 3; }, 10));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(ticks.load(), 3) << "the tick removed itself after its third run";
    EXPECT_TRUE(onHubThread);
    EXPECT_TRUE(ranInline);

    // run() from another thread waits for the hub thread.
    std::thread::id ranOn;
    EXPECT_TRUE(hub->run([&] { ranOn = std::this_thread::get_id(); }));
    EXPECT_NE(ranOn, caller);
    // The first registration of the process waits for the accessibility registry, which a busy
    // machine may take seconds to start: the bound only guards against a hang.
    EXPECT_NE(hub->listen("window:activate", [](const AtspiEvent&) {}, 60000), 0);
    hub.reset();
    ::dlclose(module);
}

// Registrations kept when late (the hub thread held up, as by an application that does not
// answer, or by a registry still starting): the caller gets its token at once, the tick runs once
// the thread is free, and a removal made before that ends it before it ever runs.
TEST(AtspiHub, LateRegistrationsKeptRunOnceTheThreadIsFreeAndARemovalUndoesThem) {
    PrivateBus bus(true);
    if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon is missing";
    auto hub = Hub::acquire();
    if (!hub) GTEST_SKIP() << "the accessibility bus did not start (at-spi2-core missing?)";

    std::promise<void> release;
    std::shared_future<void> held = release.get_future().share();
    std::atomic<bool> holding{false};
    hub->post([held, &holding] {
        holding = true;
        held.wait();
    });
    ASSERT_TRUE(eventually([&] { return holding.load(); }, 10));

    std::atomic<int> kept{0}, removed{0};
    const int keptToken = hub->every(10, [&kept] { ++kept; }, 50, Hub::Late::Keep);
    const int removedToken = hub->every(10, [&removed] { ++removed; }, 50, Hub::Late::Keep);
    EXPECT_NE(hub->listen("window:deactivate", [](const AtspiEvent&) {}, 50, Hub::Late::Keep), 0);
    ASSERT_NE(keptToken, 0);
    ASSERT_NE(removedToken, 0);
    EXPECT_EQ(hub->every(10, [] {}, 50), 0) << "a late registration without Keep is undone";
    hub->remove(removedToken, 0);
    release.set_value();

    EXPECT_TRUE(eventually([&] { return kept.load() >= 2; }, 60));
    EXPECT_TRUE(hub->remove(keptToken, 60000));
    const int keptAtEnd = kept.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(kept.load(), keptAtEnd) << "a removed tick ran again";
    EXPECT_EQ(removed.load(), 0) << "a registration removed before it was made ran";
}
