// The display check against servers that never answer (a listening socket nobody reads, on the
// local socket path and on TCP, and a stopped Xvfb) and against one that does: the silent ones
// must give "unreachable" once the bound has passed instead of holding the caller.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xlib.h>

#include "platform/desktop/display_check.h"
#include "tests/support/xvfb.h"

using namespace std::chrono_literals;
using tavik::desktop::guiDisplayReachable;

namespace {

// The check on a thread of its own, so that a check that hangs fails the test instead of
// holding it: nullopt when no answer came within a generous guard (far beyond the bound).
std::optional<bool> checkWithBound(std::chrono::milliseconds bound) {
    std::packaged_task<bool()> task([bound] { return guiDisplayReachable(bound); });
    std::future<bool> result = task.get_future();
    std::thread(std::move(task)).detach();  // left behind only when it hangs
    if (result.wait_for(120s) != std::future_status::ready) return std::nullopt;
    return result.get();
}

// An "X server" that accepts connections (the kernel queues them) and never reads or answers.
class SilentServer {
public:
    // On the local socket path of a free display number, with the lock file a real server
    // would leave, so no Xvfb of a neighbouring test takes the number meanwhile.
    static std::unique_ptr<SilentServer> onLocalSocket() {
        ::mkdir("/tmp/.X11-unix", 01777);
        for (int n = 300; n < 400; ++n) {
            const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
            const int fd = ::open(lock.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0444);
            if (fd < 0) continue;
            char pid[16];
            const int len = std::snprintf(pid, sizeof pid, "%10d\n", static_cast<int>(::getpid()));
            [[maybe_unused]] auto written = ::write(fd, pid, static_cast<size_t>(len));
            ::close(fd);
            auto s = std::make_unique<SilentServer>();
            s->lock_ = lock;
            s->path_ = "/tmp/.X11-unix/X" + std::to_string(n);
            s->display_ = ":" + std::to_string(n);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::strncpy(addr.sun_path, s->path_.c_str(), sizeof addr.sun_path - 1);
            if (s->listenOn(AF_UNIX, reinterpret_cast<const sockaddr*>(&addr), sizeof addr)) return s;
            s->path_.clear();  // someone else's socket: leave it alone
        }
        return nullptr;
    }
    // On 127.0.0.1, port 6000 + a display number whose port is free.
    static std::unique_ptr<SilentServer> onTcp() {
        for (int n = 300; n < 400; ++n) {
            auto s = std::make_unique<SilentServer>();
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(static_cast<uint16_t>(6000 + n));
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            s->display_ = "127.0.0.1:" + std::to_string(n) + ".0";
            if (s->listenOn(AF_INET, reinterpret_cast<const sockaddr*>(&addr), sizeof addr)) return s;
        }
        return nullptr;
    }
    SilentServer() = default;
    ~SilentServer() {
        if (fd_ >= 0) ::close(fd_);
        if (!path_.empty()) ::unlink(path_.c_str());
        if (!lock_.empty()) ::unlink(lock_.c_str());
    }
    const std::string& display() const { return display_; }

    // What the first client that connected sent before it went (empty when none connected).
    std::vector<uint8_t> firstRequest() {
        const int c = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (c < 0) return {};
        std::vector<uint8_t> bytes;
        uint8_t buf[64];
        for (ssize_t n; (n = ::read(c, buf, sizeof buf)) > 0;) bytes.insert(bytes.end(), buf, buf + n);
        ::close(c);
        return bytes;
    }

private:
    bool listenOn(int family, const sockaddr* addr, socklen_t len) {
        fd_ = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        return fd_ >= 0 && ::bind(fd_, addr, len) == 0 && ::listen(fd_, 8) == 0;
    }
    int fd_ = -1;
    std::string display_, path_, lock_;
};

// The check's question: a connection setup (byte order, a protocol version, no authorisation).
constexpr size_t kSetupRequestSize = 12;

class DisplayCheck : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("QT_QPA_PLATFORM");
        ::unsetenv("WAYLAND_DISPLAY");
        ::unsetenv("DISPLAY");
    }
};

// A silent server on the local socket path and one on TCP.
struct SilentKind {
    const char* name;
    std::unique_ptr<SilentServer> (*make)();
};
void PrintTo(const SilentKind& k, std::ostream* os) { *os << k.name; }

class SilentServerCheck : public DisplayCheck, public ::testing::WithParamInterface<SilentKind> {};

TEST_P(SilentServerCheck, IsUnreachableOnceTheBoundHasPassed) {
    auto server = GetParam().make();
    ASSERT_TRUE(server) << "no free display number for the silent server";
    ::setenv("DISPLAY", server->display().c_str(), 1);
    const std::optional<bool> reachable = checkWithBound(300ms);
    ASSERT_TRUE(reachable.has_value()) << "the check waited for a server that never answers";
    EXPECT_FALSE(*reachable);
    // It did reach this server and asked it, rather than giving up before connecting.
    const std::vector<uint8_t> request = server->firstRequest();
    ASSERT_EQ(request.size(), kSetupRequestSize);
    EXPECT_EQ(request[0], 'l');
}

INSTANTIATE_TEST_SUITE_P(On, SilentServerCheck,
                         ::testing::Values(SilentKind{"LocalSocket", &SilentServer::onLocalSocket},
                                           SilentKind{"Tcp", &SilentServer::onTcp}),
                         [](const ::testing::TestParamInfo<SilentKind>& info) { return std::string(info.param.name); });

TEST_F(DisplayCheck, AServerIsReachableWhileItRunsAndUnreachableWhileItIsStopped) {
    tavik::test::Xvfb xvfb;
    if (xvfb.display().empty()) GTEST_SKIP() << "no Xvfb";
    ::setenv("DISPLAY", xvfb.display().c_str(), 1);
    EXPECT_EQ(checkWithBound(tavik::desktop::kDisplayCheckBound), std::optional<bool>(true));
    xvfb.signal(SIGSTOP);
    const std::optional<bool> stopped = checkWithBound(300ms);
    xvfb.signal(SIGCONT);
    ASSERT_TRUE(stopped.has_value()) << "the check waited for a stopped server";
    EXPECT_FALSE(*stopped);
    EXPECT_EQ(checkWithBound(tavik::desktop::kDisplayCheckBound), std::optional<bool>(true));
}

// Xvfb resets when its last client leaves, forgetting every atom: a client that connects just
// after the check's own connection closed met a server in the middle of its reset (the
// toolkit then ends the process). The hold keeps the check's connection until it is let go.
TEST_F(DisplayCheck, TheHeldCheckKeepsAServerWithoutOtherClientsFromResetting) {
    tavik::test::Xvfb xvfb;
    if (xvfb.display().empty()) GTEST_SKIP() << "no Xvfb";
    ::setenv("DISPLAY", xvfb.display().c_str(), 1);
    // True when an atom interned by a client that then leaves is still known to the next one.
    auto survives = [&](const char* name) {
        Display* a = XOpenDisplay(xvfb.display().c_str());
        if (!a) return false;
        XInternAtom(a, name, False);
        XSync(a, False);
        XCloseDisplay(a);
        Display* b = XOpenDisplay(xvfb.display().c_str());
        if (!b) return false;
        const bool known = XInternAtom(b, name, True) != None;
        XCloseDisplay(b);
        return known;
    };
    ASSERT_FALSE(survives("TAVIK_CHECK_ALONE")) << "this Xvfb does not reset: nothing to learn";
    tavik::desktop::DisplayHold hold = tavik::desktop::holdGuiDisplay();
    ASSERT_TRUE(hold);
    EXPECT_TRUE(survives("TAVIK_CHECK_HELD"));
    tavik::desktop::DisplayHold moved = std::move(hold);
    EXPECT_FALSE(hold);
    EXPECT_TRUE(survives("TAVIK_CHECK_MOVED"));
    moved = {};
    EXPECT_FALSE(survives("TAVIK_CHECK_LET_GO"));
}

TEST_F(DisplayCheck, NamesThatLeadToNoServerAreUnreachableAndSessionsThatNeedNoXAreReachable) {
    EXPECT_FALSE(guiDisplayReachable()) << "no DISPLAY";
    for (const char* name : {"nonsense", ":", ":x", ":1.y", "host::0", ":99999", ":251"}) {
        ::setenv("DISPLAY", name, 1);
        EXPECT_FALSE(guiDisplayReachable()) << name;
    }
    // The toolkit's own choice of platform and a Wayland session need no X server.
    ::setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    EXPECT_TRUE(guiDisplayReachable());
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    EXPECT_TRUE(guiDisplayReachable());
}

}  // namespace
