// A worker thread whose end is awaited with a bound. A thread that does not
// end in time is never joined for ever: it is left running, and its owner asks
// later whether it has ended (then it is joined) before reusing or destroying
// what the thread uses.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace tavik::drv {

class BoundedThread {
public:
    BoundedThread() = default;
    BoundedThread(const BoundedThread&) = delete;
    BoundedThread& operator=(const BoundedThread&) = delete;
    // Joins a thread that has ended; one still running is detached (its owner
    // must have made sure nothing it uses goes away, see `running`).
    ~BoundedThread();

    // Starts `body` on a new thread. False when the thread cannot be created
    // or the previous one is still running (then nothing starts).
    bool start(std::function<void()> body);

    // Waits up to ms for the body to return, then joins the thread. Returns
    // false, leaving the thread running, when it did not end in time or when
    // called on the thread itself. True when no thread is left.
    bool joinWithin(int ms);

    // True while a started thread's body has not returned. A thread that has
    // ended is joined here, so this never blocks for long.
    bool running();

    // True when called on this object's own thread.
    bool isCurrent() const { return thread_.joinable() && thread_.get_id() == std::this_thread::get_id(); }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = true;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::thread thread_;
};

}  // namespace tavik::drv
