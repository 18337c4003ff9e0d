// The plug-in's life-cycle lock: a timed lock gives up at its deadline while
// another thread holds the lock, gets it once the holder lets go, and the
// lock excludes like any mutex.
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "drivers/core/deadline_mutex.h"

using tavik::drv::DeadlineMutex;
using Clock = std::chrono::steady_clock;

TEST(DeadlineMutex, TimedLockGivesUpWhileHeldAndSucceedsOnceReleased) {
    DeadlineMutex m;
    std::atomic<bool> holding{false}, release{false};
    std::thread holder([&] {
        std::lock_guard<DeadlineMutex> lock(m);
        holding = true;
        while (!release) std::this_thread::yield();
    });
    while (!holding) std::this_thread::yield();

    EXPECT_FALSE(m.try_lock());
    EXPECT_FALSE(m.try_lock_until(Clock::now() + std::chrono::milliseconds(20)));
    // A deadline already past does not wait at all, and still fails.
    EXPECT_FALSE(m.try_lock_until(Clock::now() - std::chrono::seconds(1)));

    std::atomic<bool> got{false};
    std::thread waiter([&] {
        // Bounded by a deadline far beyond the release below.
        if (m.try_lock_until(Clock::now() + std::chrono::seconds(30))) {
            got = true;
            m.unlock();
        }
    });
    release = true;
    holder.join();
    waiter.join();
    EXPECT_TRUE(got);
    EXPECT_TRUE(m.try_lock());
    m.unlock();
}

TEST(DeadlineMutex, ExcludesAcrossThreadsWithEveryWayOfLocking) {
    DeadlineMutex m;
    long counter = 0;  // plain: only ever touched under the lock
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                if (t % 2 == 0) {
                    std::lock_guard<DeadlineMutex> lock(m);
                    ++counter;
                } else {
                    std::unique_lock<DeadlineMutex> lock(m, std::defer_lock);
                    while (!lock.try_lock_until(Clock::now() + std::chrono::milliseconds(1))) {
                    }
                    ++counter;
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(counter, 8000);
}
