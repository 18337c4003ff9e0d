// The display check: the X server named by DISPLAY is asked for its connection setup on a socket
// of our own, with every wait bounded; only a server that answers is then opened through Xlib.
#include "platform/desktop/display_check.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#ifdef TAVIK_DISPLAY_CHECK_X11
#include <X11/Xlib.h>
#endif

namespace tavik::desktop {

namespace {

using Clock = std::chrono::steady_clock;

bool envSet(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

#ifdef TAVIK_DISPLAY_CHECK_X11

// The parts of "[protocol/][host]:display[.screen]" that say where the server listens.
struct XAddress {
    std::string protocol;  // empty when not given
    std::string host;      // empty: this machine, through its local socket
    int display = 0;
};

bool allDigits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

std::optional<XAddress> parseDisplay(std::string_view name) {
    XAddress a;
    if (const size_t slash = name.find('/'); slash != std::string_view::npos && slash > 0 && name[0] != '/') {
        a.protocol = std::string(name.substr(0, slash));
        name.remove_prefix(slash + 1);
    }
    const size_t colon = name.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view host = name.substr(0, colon);
    if (!host.empty() && host.back() == ':') return std::nullopt;  // "host::0" is DECnet
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    a.host = std::string(host);
    std::string_view number = name.substr(colon + 1);
    if (const size_t dot = number.find('.'); dot != std::string_view::npos) {
        if (!allDigits(number.substr(dot + 1))) return std::nullopt;
        number = number.substr(0, dot);
    }
    // TCP ports are 6000 + the display number: larger numbers name nothing.
    if (!allDigits(number) || number.size() > 5) return std::nullopt;
    std::from_chars(number.data(), number.data() + number.size(), a.display);
    if (a.display > 65535 - 6000) return std::nullopt;
    return a;
}

class Socket {
public:
    explicit Socket(int fd = -1) : fd_(fd) {}
    ~Socket() {
        const int error = errno;  // a failed connection's errno outlives its socket
        if (fd_ >= 0) ::close(fd_);
        errno = error;
    }
    Socket(Socket&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Socket& operator=(Socket&& o) noexcept {
        std::swap(fd_, o.fd_);
        return *this;
    }
    int fd() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

// Milliseconds left before `deadline`, rounded up so a wait never ends early; 0 once passed.
int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(std::min<long long>(left, 1 << 30)) : 0;
}

// Waits for `events` on `fd` until the deadline; false on time-out or error.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, msLeft(deadline));
        if (n > 0) return (p.revents & events) != 0 || (p.revents & (POLLHUP | POLLERR)) != 0;
        if (n == 0) return false;
        if (errno != EINTR) return false;
    }
}

// A non-blocking connection to `addr`, made within the deadline. Invalid on failure, with errno
// telling why (ETIMEDOUT when the deadline passed).
Socket connectTo(int family, const sockaddr* addr, socklen_t len, Clock::time_point deadline) {
    Socket s(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!s.valid()) return Socket();
    if (::connect(s.fd(), addr, len) == 0) return s;
    if (errno != EINPROGRESS) return Socket();  // EAGAIN on a local socket: its backlog is full
    if (!waitFor(s.fd(), POLLOUT, deadline)) {
        errno = ETIMEDOUT;
        return Socket();
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(s.fd(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
        errno = error ? error : EIO;
        return Socket();
    }
    return s;
}

Socket connectLocal(const std::string& path, bool abstract, Clock::time_point deadline) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const size_t offset = abstract ? 1 : 0;  // an abstract name starts with a NUL byte
    if (path.size() + offset >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return Socket();
    }
    std::memcpy(addr.sun_path + offset, path.data(), path.size());
    const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));
    return connectTo(AF_UNIX, reinterpret_cast<const sockaddr*>(&addr), len, deadline);
}

Socket connectTcp(const std::string& host, int port, Clock::time_point deadline) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.empty() ? "localhost" : host.c_str(), service.c_str(), &hints, &found) != 0) return Socket();
    Socket s;
    for (const addrinfo* ai = found; ai && !s.valid() && msLeft(deadline) > 0; ai = ai->ai_next)
        s = connectTo(ai->ai_family, ai->ai_addr, ai->ai_addrlen, deadline);
    ::freeaddrinfo(found);
    return s;
}

// The connection a client library makes for `a`: the local socket (its abstract name first,
// then the file) for this machine, TCP for a named host, and TCP to this machine when neither
// local socket exists and no protocol was asked for.
Socket connectToServer(const XAddress& a, Clock::time_point deadline) {
    const bool local = a.protocol == "unix" || a.host.empty() || a.host == "unix";
    if (!local) return connectTcp(a.host, 6000 + a.display, deadline);
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(a.display);
    if (Socket s = connectLocal(path, true, deadline); s.valid() || (errno != ENOENT && errno != ECONNREFUSED))
        return s;
    Socket s = connectLocal(path, false, deadline);
    if (!s.valid() && a.protocol.empty() && a.host.empty()) return connectTcp("", 6000 + a.display, deadline);
    return s;
}

// Sends a connection setup that asks for protocol version 0 and waits for the first byte of the
// reply: every live server answers it at once, with Failed (0) for the version. Asking for a
// version no server speaks keeps the probe from becoming a client: a server whose last client
// leaves starts itself over, and a connection made meanwhile (the Xlib open that follows) would
// be dropped. Any of Failed, Success (1) or Authenticate (2) shows a server that answers.
bool serverAnswers(const Socket& s, Clock::time_point deadline) {
    // Byte order 'l', protocol 0.0, no authorisation name or data.
    static constexpr unsigned char kSetup[12] = {'l', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    if (::send(s.fd(), kSetup, sizeof kSetup, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof kSetup)) return false;
    for (;;) {
        if (!waitFor(s.fd(), POLLIN, deadline)) return false;
        unsigned char status = 0xFF;
        const ssize_t n = ::recv(s.fd(), &status, 1, 0);
        if (n == 1) return status <= 2;
        if (n == 0 || (errno != EINTR && errno != EAGAIN)) return false;
    }
}

#endif  // TAVIK_DISPLAY_CHECK_X11

}  // namespace

DisplayHold::DisplayHold(DisplayHold&& other) noexcept
    : usable_(std::exchange(other.usable_, false)), display_(std::exchange(other.display_, nullptr)) {}

DisplayHold& DisplayHold::operator=(DisplayHold&& other) noexcept {
    if (this != &other) {
        release();
        usable_ = std::exchange(other.usable_, false);
        display_ = std::exchange(other.display_, nullptr);
    }
    return *this;
}

DisplayHold::~DisplayHold() { release(); }

void DisplayHold::release() {
#ifdef TAVIK_DISPLAY_CHECK_X11
    if (display_) XCloseDisplay(static_cast<Display*>(display_));
#endif
    display_ = nullptr;
    usable_ = false;
}

DisplayHold holdGuiDisplay(std::chrono::milliseconds bound) {
    DisplayHold hold;
    if (envSet("QT_QPA_PLATFORM") || envSet("WAYLAND_DISPLAY")) {
        hold.usable_ = true;
        return hold;
    }
    if (!envSet("DISPLAY")) return hold;
#ifdef TAVIK_DISPLAY_CHECK_X11
    const std::optional<XAddress> address = parseDisplay(std::getenv("DISPLAY"));
    if (!address) return hold;
    const Clock::time_point deadline = Clock::now() + bound;
    // A server resetting after its last client left refuses or drops connections for a few
    // milliseconds: a few tries, a little apart, inside the bound.
    constexpr int kTries = 5;
    constexpr std::chrono::milliseconds kApart{50};
    for (int attempt = 1;; ++attempt) {
        bool answered = false;
        {
            const Socket s = connectToServer(*address, deadline);
            answered = s.valid() && serverAnswers(s, deadline);
        }
        if (answered && (hold.display_ = XOpenDisplay(nullptr)) != nullptr) {
            hold.usable_ = true;
            return hold;
        }
        if (attempt == kTries || Clock::now() + kApart >= deadline) return hold;
        std::this_thread::sleep_for(kApart);
    }
#else
    (void)bound;
#endif
    return hold;
}

bool guiDisplayReachable(std::chrono::milliseconds bound) { return static_cast<bool>(holdGuiDisplay(bound)); }

}  // namespace tavik::desktop
