// Opening the server's socket and accepting its connections.
#include "brlapi/listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tavik::brl {

namespace {

constexpr int kTries = 16;

// True when something answers on the local socket `path`.
bool answers(const std::string& path) {
    Fd s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!s) return false;
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", path.c_str());
    return ::connect(s.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

// A local socket, owner-only from the moment it exists.
Fd bindLocal(const std::string& path, std::string& why) {
    sockaddr_un sa{};
    if (path.size() >= sizeof sa.sun_path) return why = "path too long", Fd();
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (answers(path)) return why = "another braille server answers there", Fd();
        // A socket left by a server that ended: ours to remove, others' to leave.
        if (st.st_uid != ::getuid() || !S_ISSOCK(st.st_mode) || ::unlink(path.c_str()) != 0)
            return why = "a stale socket of another user is in the way", Fd();
    }
    Fd s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!s) return why = std::strerror(errno), Fd();
    sa.sun_family = AF_UNIX;
    std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", path.c_str());
    const mode_t old = ::umask(077);
    const int bound = ::bind(s.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::umask(old);
    if (bound != 0) return why = std::strerror(errno), Fd();
    if (::chmod(path.c_str(), 0600) != 0 || ::listen(s.get(), 64) != 0) {
        why = std::strerror(errno);
        ::unlink(path.c_str());
        return Fd();
    }
    return s;
}

Fd bindLoopback(const Endpoint& e, std::string& why) {
    const bool v6 = e.kind == Endpoint::Kind::Loopback6;
    Fd s(::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!s) return why = std::strerror(errno), Fd();
    int yes = 1;
    ::setsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    int bound = -1;
    if (v6) {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(e.port());
        a.sin6_addr = in6addr_loopback;
        bound = ::bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(e.port());
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bound = ::bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    if (bound != 0) {
        why = errno == EADDRINUSE ? "another server answers there" : std::strerror(errno);
        return Fd();
    }
    if (::listen(s.get(), 64) != 0) return why = std::strerror(errno), Fd();
    return s;
}

}  // namespace

std::optional<Listener> Listener::open(Endpoint wanted, const std::string& folder, std::string& error) {
    Endpoint e = wanted;
    for (int i = 0; i < kTries && e.number <= kMaxDisplayNumber; ++i, e = e.next()) {
        std::string why;
        Listener l;
        if (e.kind == Endpoint::Kind::Local) {
            l.fd_ = bindLocal(e.path(folder), why);
            if (l.fd_) l.path_ = e.path(folder);
        } else {
            l.fd_ = bindLoopback(e, why);
        }
        if (l.fd_) {
            l.endpoint_ = e;
            return l;
        }
        std::fprintf(stderr, "tavik-brlapi: %s (%s): %s; trying %s\n", e.host().c_str(),
                     e.kind == Endpoint::Kind::Local ? e.path(folder).c_str() : "loopback", why.c_str(),
                     e.next().host().c_str());
        // A folder that cannot hold sockets fails for every number alike.
        if (e.kind == Endpoint::Kind::Local && (why == std::strerror(EACCES) || why == std::strerror(ENOENT))) {
            error = "cannot make a socket in " + folder + ": " + why +
                    " (it is made at boot by the installed tmpfiles entry; or use --host 127.0.0.1:N)";
            return std::nullopt;
        }
    }
    error = "no free endpoint from " + wanted.host();
    return std::nullopt;
}

Listener::~Listener() {
    if (!path_.empty() && fd_) ::unlink(path_.c_str());
}

Fd Listener::accept(bool& sameUser) const {
    Fd c(::accept4(fd_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    sameUser = false;
    if (!c) return c;
    if (local()) {
        ucred cred{};
        socklen_t len = sizeof cred;
        sameUser = ::getsockopt(c.get(), SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == ::getuid();
    }
    return c;
}

std::vector<uint8_t> loadOrCreateKey(const std::string& path, std::string& error) {
    std::vector<uint8_t> key;
    Fd f(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!f && errno == ENOENT) {
        uint8_t fresh[32];
        if (::getrandom(fresh, sizeof fresh, 0) != static_cast<ssize_t>(sizeof fresh)) {
            error = "no random bytes for a key";
            return {};
        }
        Fd w(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!w || ::write(w.get(), fresh, sizeof fresh) != static_cast<ssize_t>(sizeof fresh)) {
            error = "cannot write the key file " + path + ": " + std::strerror(errno);
            return {};
        }
        return {fresh, fresh + sizeof fresh};
    }
    if (!f) {
        error = "cannot read the key file " + path + ": " + std::strerror(errno);
        return {};
    }
    struct stat st {};
    // The key is a secret: a file others may read (or another user's) is refused.
    if (::fstat(f.get(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 077) != 0 || st.st_uid != ::getuid()) {
        error = "the key file " + path + " must be a regular file of this user, readable by it alone";
        return {};
    }
    uint8_t buf[1024];
    ssize_t n = 0;
    while ((n = ::read(f.get(), buf, sizeof buf)) > 0 && key.size() < 4000) key.insert(key.end(), buf, buf + n);
    if (key.empty() || key.size() > 4000) {
        error = "the key file " + path + " is empty or too long";
        return {};
    }
    return key;
}

}  // namespace tavik::brl
