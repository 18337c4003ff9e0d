// Reading and writing the screen-cast restore token.
#include "platform/desktop/portals/restore_token.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>

namespace tavik::desktop::wayland {

namespace {

constexpr size_t kMaxToken = 256;

bool folder(const std::string& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    return ::mkdir(p.c_str(), 0700) == 0;
}

}  // namespace

std::string restoreTokenPath() {
    std::string base;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && x[0] == '/') {
        base = x;
    } else if (const char* h = std::getenv("HOME"); h && h[0] == '/') {
        base = std::string(h) + "/.config";
    } else {
        return {};
    }
    if (base.size() > 4096 || !folder(base)) return {};
    std::string p = base + "/Orvane";
    if (!folder(p)) return {};
    p += "/TAVIK200_J";
    if (!folder(p)) return {};
    return p + "/ScreenCast.token";
}

bool validRestoreToken(std::string_view token) {
    if (token.empty() || token.size() > kMaxToken) return false;
    for (char c : token)
        if (c <= ' ' || c > '~') return false;
    return true;
}

std::string loadRestoreToken(const std::string& path) {
    if (path.empty()) return {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return {};
    std::array<char, kMaxToken + 2> buf{};
    size_t got = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buf.data() + got, buf.size() - got);
        if (n <= 0) break;
        got += size_t(n);
        if (got == buf.size()) break;
    }
    ::close(fd);
    std::string_view t(buf.data(), got);
    if (!t.empty() && t.back() == '\n') t.remove_suffix(1);
    return validRestoreToken(t) ? std::string(t) : std::string{};
}

bool saveRestoreToken(const std::string& path, std::string_view token) {
    if (path.empty()) return false;
    if (token.empty()) return ::unlink(path.c_str()) == 0 || errno == ENOENT;
    if (!validRestoreToken(token)) return false;
    const std::string tmp = path + ".new";
    ::unlink(tmp.c_str());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    std::string text(token);
    text += '\n';
    bool ok = ::fchmod(fd, 0600) == 0;
    size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) ok = false;
        else done += size_t(n);
    }
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

}  // namespace tavik::desktop::wayland
