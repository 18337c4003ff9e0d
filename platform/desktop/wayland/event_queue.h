// The pending events of one DesktopEvents on Wayland: pushed from any thread (the stream's, the
// hot keys'), signalled on an eventfd that stays the same for the queue's life.
#pragma once

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/desktop/desktop.h"

namespace tavik::desktop::wayland {

class EventQueue {
public:
    EventQueue() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~EventQueue() {
        if (fd_ >= 0) close(fd_);
    }
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    int fd() const { return fd_; }
    // Never blocks beyond the queue's own lock.
    void push(const DesktopEvent& e) {
        std::lock_guard g(m_);
        pending_.push_back(e);
        const uint64_t one = 1;
        [[maybe_unused]] auto n = write(fd_, &one, sizeof one);
    }
    std::vector<DesktopEvent> take() {
        std::lock_guard g(m_);
        uint64_t count = 0;
        [[maybe_unused]] auto n = read(fd_, &count, sizeof count);
        std::vector<DesktopEvent> out(pending_.begin(), pending_.end());
        pending_.clear();
        return out;
    }
    bool wait(int timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, std::max(timeoutMs, 0)) > 0;
    }

private:
    int fd_ = -1;
    std::mutex m_;
    std::deque<DesktopEvent> pending_;
};

}  // namespace tavik::desktop::wayland
