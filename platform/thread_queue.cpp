// Thread queues on abstract-namespace AF_UNIX datagram sockets.
#include "platform/thread_queue.h"

#include "platform/user_scope.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace tavik::platform {
namespace {

socklen_t queueAddress(int32_t tid, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    // Abstract name: leading NUL, never a file.
    int n = std::snprintf(addr.sun_path + 1, sizeof addr.sun_path - 1, "tavik-thread-queue-%d", tid);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
}

struct Wire {
    uint32_t message;
    uint32_t pad;
    uint64_t wParam;
    int64_t lParam;
};

// One unbound sending socket per posting thread, closed when the thread ends.
struct SenderSocket {
    int fd = -1;
    SenderSocket() { fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0); }
    ~SenderSocket() {
        if (fd >= 0) ::close(fd);
    }
};

// The sender's credentials the kernel attached to a datagram (the queue's
// socket has SO_PASSCRED); nullptr when there are none.
const ucred* senderOf(msghdr& mh) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&mh); c; c = CMSG_NXTHDR(&mh, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS &&
            c->cmsg_len >= CMSG_LEN(sizeof(ucred)))
            return reinterpret_cast<const ucred*>(CMSG_DATA(c));
    }
    return nullptr;
}

// Takes queued datagrams until one of the right size from a trusted sender
// arrives (true) or the queue is empty (false). Anything else is dropped.
bool readOne(int fd, ThreadMessage& out) {
    for (;;) {
        Wire w{};
        iovec iov{&w, sizeof w};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        msghdr mh{};
        mh.msg_iov = &iov;
        mh.msg_iovlen = 1;
        mh.msg_control = control;
        mh.msg_controllen = sizeof control;
        ssize_t n = ::recvmsg(fd, &mh, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        const ucred* cred = senderOf(mh);
        if (n != static_cast<ssize_t>(sizeof w) || (mh.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) || !cred ||
            !trustedUser(cred->uid))
            continue;
        out.message = w.message;
        out.wParam = w.wParam;
        out.lParam = w.lParam;
        return true;
    }
}

}  // namespace

int32_t currentThreadId() { return static_cast<int32_t>(::syscall(SYS_gettid)); }
int32_t currentProcessId() { return static_cast<int32_t>(::getpid()); }

std::optional<ThreadQueue> ThreadQueue::createForCurrentThread() {
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    const int32_t tid = currentThreadId();
    // Every datagram then carries its sender's credentials: only the own
    // user's (and root's) messages are taken, anyone else's are dropped.
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    sockaddr_un addr{};
    socklen_t len = queueAddress(tid, addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    return ThreadQueue(fd, tid);
}

ThreadQueue::ThreadQueue(ThreadQueue&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), tid_(std::exchange(other.tid_, 0)) {}

ThreadQueue& ThreadQueue::operator=(ThreadQueue&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        tid_ = std::exchange(other.tid_, 0);
    }
    return *this;
}

ThreadQueue::~ThreadQueue() {
    if (fd_ >= 0) ::close(fd_);
}

bool ThreadQueue::peek(ThreadMessage& out) { return fd_ >= 0 && readOne(fd_, out); }

bool ThreadQueue::wait(ThreadMessage& out, int timeoutMs) {
    if (fd_ < 0) return false;
    if (readOne(fd_, out)) return true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() < 0) return false;
            wait = static_cast<int>(left.count());
        }
        pollfd p{fd_, POLLIN, 0};
        int r = ::poll(&p, 1, wait);
        if (r < 0 && errno != EINTR) return false;
        if (readOne(fd_, out)) return true;
        if (r == 0) return false;
    }
}

bool postThreadMessage(int32_t threadId, uint32_t message, uint64_t wParam, int64_t lParam, int waitForRoomMs) {
    if (threadId <= 0) return false;
    thread_local SenderSocket sender;
    if (sender.fd < 0) return false;
    sockaddr_un addr{};
    socklen_t len = queueAddress(threadId, addr);
    Wire w{message, 0, wParam, lParam};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitForRoomMs);
    for (;;) {
        ssize_t n = ::sendto(sender.fd, &w, sizeof w, MSG_DONTWAIT | MSG_NOSIGNAL,
                             reinterpret_cast<sockaddr*>(&addr), len);
        if (n == static_cast<ssize_t>(sizeof w)) return true;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)) {
            // The receiver's queue is full: wait a little for it to drain.
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
            continue;
        }
        return false;  // no such queue, or a real error
    }
}

uint32_t registerMessage(std::string_view name) {
    if (name.empty()) return 0;
    // FNV-1a folded into the registered-message range; deterministic, so every
    // process derives the same number from the same name.
    uint32_t h = 2166136261u;
    for (unsigned char c : name) {
        h ^= c;
        h *= 16777619u;
    }
    return 0xC000u + (h % 0x4000u);
}

}  // namespace tavik::platform
