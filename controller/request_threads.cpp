// Bounded set of request threads.
#include "controller/request_threads.h"

#include <chrono>
#include <system_error>

namespace tavik::controller {

RequestThreads::~RequestThreads() {
    drain(0);
    std::lock_guard lock(signal_->mutex);
    for (auto& e : entries_)
        if (e.thread.joinable()) e.thread.detach();  // holds only `signal` and its own work
}

bool RequestThreads::start(std::function<void()> work) {
    std::lock_guard lock(signal_->mutex);
    int alive = 0;
    for (const auto& e : entries_)
        if (!*e.done) ++alive;
    if (alive >= limit_) return false;
    auto done = std::make_shared<bool>(false);
    try {
        std::thread t([signal = signal_, done, work = std::move(work)]() mutable {
            work();
            work = nullptr;  // whatever the work holds goes before the thread counts as done
            std::lock_guard g(signal->mutex);
            *done = true;
            signal->finished.notify_all();
        });
        entries_.push_back(Entry{std::move(t), done});
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void RequestThreads::reap() {
    std::list<Entry> finished;
    {
        std::lock_guard lock(signal_->mutex);
        for (auto it = entries_.begin(); it != entries_.end();) {
            auto next = std::next(it);
            if (*it->done) finished.splice(finished.end(), entries_, it);
            it = next;
        }
    }
    // A thread marked done has only its unlock left to run.
    for (auto& e : finished)
        if (e.thread.joinable()) e.thread.join();
}

bool RequestThreads::drain(int boundMs) {
    {
        std::unique_lock lock(signal_->mutex);
        signal_->finished.wait_for(lock, std::chrono::milliseconds(boundMs < 0 ? 0 : boundMs), [this] {
            for (const auto& e : entries_)
                if (!*e.done) return false;
            return true;
        });
    }
    reap();
    return running() == 0;
}

int RequestThreads::running() const {
    std::lock_guard lock(signal_->mutex);
    int alive = 0;
    for (const auto& e : entries_)
        if (!*e.done) ++alive;
    return alive;
}

}  // namespace tavik::controller
