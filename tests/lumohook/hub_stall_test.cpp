// The accessibility hub while its thread is held up (as by a call to an application that does
// not answer): a registration that was late is undone, a removal that timed out still ends the
// handler, and a handler's captures are released once it can no longer run.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>

#include "platform/atspi/atspi_hub.h"

using tavik::atspi::Hub;

namespace {

template <class F>
bool eventually(F&& f) {  // hang guard only
    for (int i = 0; i < 1000; ++i) {
        if (f()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(HubHeldUp, LateRegistrationsAreUndoneAndTimedOutRemovalsStillEndTheirHandlers) {
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) GTEST_SKIP() << "no session bus";
    auto hub = Hub::acquire();
    if (!hub) GTEST_SKIP() << "the accessibility bus did not start (at-spi2-core missing?)";

    std::atomic<int> ticks{0}, late{0};
    auto kept = std::make_shared<int>(1);
    const std::weak_ptr<int> keptSeen = kept;
    const int token = hub->every(10, [kept, &ticks] { ++ticks; });
    ASSERT_NE(token, 0);
    kept.reset();  // the tick holds its own

    std::promise<void> release;
    std::shared_future<void> held = release.get_future().share();
    std::atomic<bool> holding{false};
    hub->post([held, &holding] {
        holding = true;
        held.wait();
    });
    ASSERT_TRUE(eventually([&] { return holding.load(); }));

    auto lateKept = std::make_shared<int>(2);
    const std::weak_ptr<int> lateSeen = lateKept;
    EXPECT_EQ(hub->every(10, [lateKept, &late] { ++late; }, 100), 0);
    EXPECT_EQ(hub->listen("object:state-changed:focused", [lateKept](const AtspiEvent&) {}, 100), 0);
    lateKept.reset();
    EXPECT_FALSE(hub->remove(token, 100));

    release.set_value();
    // Both ended once the thread got to them: the captures go with them.
    EXPECT_TRUE(eventually([&] { return keptSeen.expired() && lateSeen.expired(); }));
    const int ticksAtEnd = ticks.load();
    EXPECT_TRUE(hub->run([] {}));  // the thread answers again
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(late.load(), 0) << "a registration reported as failed ran";
    EXPECT_EQ(ticks.load(), ticksAtEnd) << "a removed tick ran again";
}

}  // namespace
