// Worker threads with bounded joins.
#include "drivers/core/bounded_thread.h"

#include <chrono>
#include <system_error>

namespace tavik::drv {

BoundedThread::~BoundedThread() {
    if (!thread_.joinable()) return;
    if (!isCurrent() && joinWithin(0)) return;
    thread_.detach();  // the body holds `state` by itself, never this object
}

bool BoundedThread::start(std::function<void()> body) {
    if (running()) return false;
    if (thread_.joinable()) thread_.join();  // ended (running() said so)
    auto state = std::make_shared<State>();
    state->done = false;
    try {
        thread_ = std::thread([state, body = std::move(body)]() mutable {
            body();
            body = nullptr;
            std::lock_guard<std::mutex> lock(state->mutex);
            state->done = true;
            state->ended.notify_all();
        });
    } catch (const std::system_error&) {
        return false;
    }
    state_ = std::move(state);
    return true;
}

bool BoundedThread::joinWithin(int ms) {
    if (!thread_.joinable()) return true;
    if (isCurrent()) return false;
    {
        std::unique_lock<std::mutex> lock(state_->mutex);
        if (!state_->ended.wait_for(lock, std::chrono::milliseconds(ms < 0 ? 0 : ms), [this] { return state_->done; }))
            return false;
    }
    // The body has returned; only the unlock above is left to run.
    thread_.join();
    return true;
}

bool BoundedThread::running() {
    if (!thread_.joinable()) return false;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (!state_->done) return true;
    }
    if (!isCurrent()) thread_.join();
    return false;
}

}  // namespace tavik::drv
