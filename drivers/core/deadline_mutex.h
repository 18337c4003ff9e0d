// A mutex whose lock can be given up at a deadline. Built from a plain mutex
// and a condition variable: the timed lock of the standard library goes
// through a pthread call that thread checkers do not follow, so every unlock
// after such a lock was reported as the unlock of a mutex nobody held.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tavik::drv {

// Meets Lockable (std::lock_guard, std::unique_lock with try_lock_until).
// Not recursive: the thread that holds it must not lock it again.
class DeadlineMutex {
public:
    // Blocks until the mutex is free.
    void lock() {
        std::unique_lock<std::mutex> guard(m_);
        free_.wait(guard, [this] { return !held_; });
        held_ = true;
    }

    bool try_lock() {
        std::lock_guard<std::mutex> guard(m_);
        if (held_) return false;
        held_ = true;
        return true;
    }

    // False when the mutex was still held at `deadline`.
    template <typename Clock, typename Duration>
    bool try_lock_until(const std::chrono::time_point<Clock, Duration>& deadline) {
        std::unique_lock<std::mutex> guard(m_);
        if (!free_.wait_until(guard, deadline, [this] { return !held_; })) return false;
        held_ = true;
        return true;
    }

    void unlock() {
        {
            std::lock_guard<std::mutex> guard(m_);
            held_ = false;
        }
        free_.notify_one();
    }

private:
    std::mutex m_;
    std::condition_variable free_;
    bool held_ = false;
};

}  // namespace tavik::drv
