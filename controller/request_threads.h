// The short-lived threads that serve reopen, direct-command and direct-bytes
// requests, so the main thread never waits on the device. The set is bounded:
// a client that floods the controller with requests gets them refused instead
// of exhausting the process.
#pragma once

#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace tavik::controller {

class RequestThreads {
public:
    explicit RequestThreads(int limit) : limit_(limit) {}
    RequestThreads(const RequestThreads&) = delete;
    RequestThreads& operator=(const RequestThreads&) = delete;
    // Joins the finished threads; one still running is detached (its owner
    // must not let anything it uses go: see drain).
    ~RequestThreads();

    // Runs `work` on a new thread. False (and nothing runs) when `limit`
    // threads are already running or no thread can be created.
    bool start(std::function<void()> work);
    // Joins the threads that have finished. Never blocks on a running one.
    void reap();
    // Waits up to boundMs for every thread to finish and joins them. Threads
    // still running after that stay tracked (a later drain may join them).
    // True when none is left.
    bool drain(int boundMs);
    int running() const;

private:
    // Shared with each thread, so a detached thread never touches this object.
    struct Signal {
        std::mutex mutex;
        std::condition_variable finished;
    };
    struct Entry {
        std::thread thread;
        std::shared_ptr<bool> done;  // guarded by Signal::mutex
    };
    int limit_;
    std::shared_ptr<Signal> signal_ = std::make_shared<Signal>();
    std::list<Entry> entries_;  // guarded by Signal::mutex
};

}  // namespace tavik::controller
