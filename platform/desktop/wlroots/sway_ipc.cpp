// One request on the compositor's IPC socket: the i3 framing ("i3-ipc", payload length and
// message type in the host's byte order, then the payload), with poll-bounded reads and writes.
#include "platform/desktop/wlroots/sway_ipc.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace tavik::desktop::wayland {

namespace {

constexpr std::string_view kMagic = "i3-ipc";
constexpr size_t kHeader = 14;  // magic, length, type
constexpr uint32_t kMaxReply = 16u << 20;

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

bool waitFor(int fd, short events, Clock::time_point end) {
    while (true) {
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, remainingMs(end));
        if (r > 0) return (p.revents & events) != 0;
        if (r == 0 || errno != EINTR) return false;
    }
}

bool writeAll(int fd, const char* data, size_t size, Clock::time_point end) {
    while (size > 0) {
        if (!waitFor(fd, POLLOUT, end)) return false;
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool readAll(int fd, char* data, size_t size, Clock::time_point end) {
    while (size > 0) {
        if (!waitFor(fd, POLLIN, end)) return false;
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

}  // namespace

std::string compositorIpcSocket() {
    const char* s = std::getenv("SWAYSOCK");
    return s && *s ? std::string(s) : std::string{};
}

namespace {

// A connected socket; -1 when the compositor does not take the connection before `end`.
int connectTo(const std::string& socket, Clock::time_point end) {
    sockaddr_un addr{};
    if (socket.empty() || socket.size() >= sizeof addr.sun_path) return -1;
    Fd s{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
    if (s.fd < 0) return -1;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, socket.data(), socket.size());
    if (::connect(s.fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno != EINPROGRESS && errno != EAGAIN) return -1;
        if (!waitFor(s.fd, POLLOUT, end)) return -1;
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) return -1;
    }
    return std::exchange(s.fd, -1);
}

// One request and its reply on a connected socket.
std::optional<std::string> exchange(int fd, uint32_t type, std::string_view payload, Clock::time_point end) {
    if (payload.size() > kMaxReply) return std::nullopt;
    std::string request(kMagic);
    const uint32_t size = uint32_t(payload.size());
    request.append(reinterpret_cast<const char*>(&size), sizeof size);
    request.append(reinterpret_cast<const char*>(&type), sizeof type);
    request.append(payload);
    if (!writeAll(fd, request.data(), request.size(), end)) return std::nullopt;

    char header[kHeader];
    if (!readAll(fd, header, sizeof header, end)) return std::nullopt;
    if (std::string_view(header, kMagic.size()) != kMagic) return std::nullopt;
    uint32_t length = 0, replyType = 0;
    std::memcpy(&length, header + 6, sizeof length);
    std::memcpy(&replyType, header + 10, sizeof replyType);
    if (length > kMaxReply || replyType != type) return std::nullopt;
    std::string reply(length, '\0');
    if (!readAll(fd, reply.data(), reply.size(), end)) return std::nullopt;
    return reply;
}

}  // namespace

std::optional<std::string> compositorRequest(const std::string& socket, uint32_t type, std::string_view payload,
                                             int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Fd s{connectTo(socket, end)};
    if (s.fd < 0) return std::nullopt;
    return exchange(s.fd, type, payload, end);
}

CompositorWindows::CompositorWindows(std::string socket, std::chrono::milliseconds maxAge)
    : socket_(std::move(socket)), maxAge_(maxAge) {}

CompositorWindows::~CompositorWindows() {
    if (events_ >= 0) ::close(events_);
}

void CompositorWindows::checkEventsLocked(int timeoutMs) {
    if (events_ < 0) {
        // Subscribed before the tree is read: a change after the read is always seen.
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        Fd s{connectTo(socket_, end)};
        if (s.fd < 0) return;
        const auto ok = exchange(s.fd, kIpcSubscribe, R"(["window","workspace","output"])", end);
        if (!ok || ok->find("true") == std::string::npos) return;
        events_ = std::exchange(s.fd, -1);
        cached_.reset();
        return;
    }
    // Any event means the windows may have changed; its content does not matter.
    char buf[4096];
    while (true) {
        const ssize_t n = ::recv(events_, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            cached_.reset();
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        ::close(events_);  // the compositor closed it: read the tree every time until subscribed again
        events_ = -1;
        cached_.reset();
        return;
    }
}

std::optional<std::vector<CompositorWindow>> CompositorWindows::get(int timeoutMs) {
    std::lock_guard lock(m_);
    checkEventsLocked(timeoutMs);
    const auto now = Clock::now();
    if (cached_ && events_ >= 0 && now - readAt_ < maxAge_) return cached_;
    const auto reply = compositorRequest(socket_, kIpcGetTree, {}, timeoutMs);
    if (!reply) {
        cached_.reset();
        return std::nullopt;
    }
    cached_ = parseCompositorTree(*reply);
    readAt_ = now;
    return cached_;
}

}  // namespace tavik::desktop::wayland
