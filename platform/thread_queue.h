// Thread message queues between processes. A receiving thread owns a queue
// named after its thread id; any process can post {number, wParam, lParam} to
// it. Posting to a thread without a queue fails at once (the message is lost).
// A queue takes only messages sent by its own user or root (or by anyone while
// ports are shared across users, see user_scope.h); the rest are dropped.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tavik::platform {

struct ThreadMessage {
    uint32_t message = 0;
    uint64_t wParam = 0;
    int64_t lParam = 0;
};

int32_t currentThreadId();
int32_t currentProcessId();

class ThreadQueue {
public:
    // Creates the queue of the calling thread; nullopt if the thread already has
    // one or the socket cannot be made. Destroy it on the same thread.
    static std::optional<ThreadQueue> createForCurrentThread();

    ThreadQueue(ThreadQueue&& other) noexcept;
    ThreadQueue& operator=(ThreadQueue&& other) noexcept;
    ThreadQueue(const ThreadQueue&) = delete;
    ThreadQueue& operator=(const ThreadQueue&) = delete;
    ~ThreadQueue();

    // Takes the next message if one is queued; never blocks.
    bool peek(ThreadMessage& out);
    // Waits up to timeoutMs (negative: for ever) for the next message.
    bool wait(ThreadMessage& out, int timeoutMs);
    // Readable when a message is queued, for callers that poll several things.
    int fd() const { return fd_; }
    int32_t threadId() const { return tid_; }

private:
    ThreadQueue(int fd, int32_t tid) : fd_(fd), tid_(tid) {}
    int fd_ = -1;
    int32_t tid_ = 0;
};

// Posts to the queue of thread `threadId` in any process. Fails at once when
// no such queue exists; when the queue is full, waits up to waitForRoomMs for
// room, then fails.
bool postThreadMessage(int32_t threadId, uint32_t message, uint64_t wParam, int64_t lParam,
                       int waitForRoomMs = 1000);

// A message number for a name, equal in every process (0xC000..0xFFFF);
// 0 for an empty name.
uint32_t registerMessage(std::string_view name);

}  // namespace tavik::platform
