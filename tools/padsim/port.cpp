// Pseudo-terminal and link handling of the virtual display.
#include "port.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace padsim {

Fd& Fd::operator=(Fd&& o) noexcept {
    if (this != &o) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = o.release();
    }
    return *this;
}

Fd::~Fd() {
    if (fd_ >= 0) ::close(fd_);
}

bool PtyPort::open(std::string& error) {
    Fd m(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!m) {
        error = std::string("posix_openpt: ") + std::strerror(errno);
        return false;
    }
    if (::grantpt(m.get()) != 0 || ::unlockpt(m.get()) != 0) {
        error = std::string("grantpt/unlockpt: ") + std::strerror(errno);
        return false;
    }
    char name[PATH_MAX];
    if (::ptsname_r(m.get(), name, sizeof name) != 0) {
        error = std::string("ptsname: ") + std::strerror(errno);
        return false;
    }
    Fd s(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!s) {
        error = std::string("open ") + name + ": " + std::strerror(errno);
        return false;
    }
    termios t{};
    if (::tcgetattr(s.get(), &t) == 0) {
        ::cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        ::tcsetattr(s.get(), TCSANOW, &t);
    }
    const int fl = ::fcntl(m.get(), F_GETFL);
    ::fcntl(m.get(), F_SETFL, fl | O_NONBLOCK);
    master_ = std::move(m);
    slave_ = std::move(s);
    slavePath_ = name;
    return true;
}

PortLink::~PortLink() {
    if (path_.empty()) return;
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(path_.c_str(), buf, sizeof buf - 1);
    if (n >= 0 && std::string(buf, static_cast<size_t>(n)) == target_) ::unlink(path_.c_str());
}

bool PortLink::create(const std::string& path, const std::string& target, std::string& error) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = path + " exists and is not a symbolic link; not replacing it";
            return false;
        }
        ::unlink(path.c_str());
    }
    // Create under a temporary name and rename, so a reader never sees a missing link.
    const std::string tmp = path + ".padsim-tmp";
    ::unlink(tmp.c_str());
    if (::symlink(target.c_str(), tmp.c_str()) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) {
        error = "cannot create link " + path + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    path_ = path;
    target_ = target;
    return true;
}

}  // namespace padsim
