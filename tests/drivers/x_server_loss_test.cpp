// The X server stops answering while the plug-in's communication thread asks
// it for the window in front, and later goes away. drvEnd must come back
// although that thread cannot stop, and the process must end (whether the
// thread then ends by itself or the X library ends the process from it)
// instead of hanging in the plug-in's detach.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/atomic_word.h"
#include "tests/drivers/plugin_harness.h"

extern char** environ;

using namespace tavik;
using namespace tavik::test;

namespace {

constexpr int kBoundMs = 30000;  // for things that must happen; only a hang reaches it

// Xvfb on a display number it picks itself.
class Xvfb {
public:
    Xvfb() {
        const std::string program = "/usr/bin/Xvfb";
        if (!std::filesystem::exists(program)) return;
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        std::vector<std::string> args = {program, "-displayfd", "3", "-screen", "0", "640x480x24", "-nolisten", "tcp"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 3);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        if (::posix_spawn(&pid_, program.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(fds[1]);
        std::string number;
        if (pid_ > 0) {
            waitUntil([&] {
                pollfd p{fds[0], POLLIN, 0};
                if (::poll(&p, 1, 0) <= 0) return false;
                char c = 0;
                if (::read(fds[0], &c, 1) != 1 || c == '\n') return true;
                number += c;
                return false;
            }, kBoundMs);
        }
        ::close(fds[0]);
        if (!number.empty()) display_ = ":" + number;
    }
    ~Xvfb() { kill(SIGKILL); }
    void kill(int sig) {
        if (pid_ <= 0) return;
        ::kill(pid_, sig);
        if (sig == SIGKILL) {
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// The host process with pipes to its standard input and output.
class Host {
public:
    Host(const std::string& plugin, int port) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
        std::string path = std::string(std::getenv("TAVIK_BIN_DIR")) + "/../tests/plugin_host";
        std::string portText = std::to_string(port), name = plugin;
        char* argv[] = {path.data(), name.data(), portText.data(), nullptr};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        if (::posix_spawn(&pid_, path.c_str(), &fa, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(in[0]);
        ::close(out[1]);
        toHost_ = in[1];
        fromHost_ = out[0];
    }
    ~Host() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(toHost_);
        ::close(fromHost_);
    }
    void say(const std::string& line) { (void)!::write(toHost_, (line + "\n").data(), line.size() + 1); }
    // Waits up to the bound for `line` on the host's output.
    bool heard(const std::string& line) {
        return waitUntil([&] {
            pollfd p{fromHost_, POLLIN, 0};
            char buf[256];
            if (::poll(&p, 1, 0) > 0) {
                const ssize_t n = ::read(fromHost_, buf, sizeof buf);
                if (n > 0) output_.append(buf, static_cast<size_t>(n));
            }
            return output_.find(line + "\n") != std::string::npos;
        }, kBoundMs);
    }
    // Waits up to the bound for the host to end.
    bool ended() {
        return waitUntil([&] {
            if (::waitpid(pid_, nullptr, WNOHANG) != pid_) return false;
            pid_ = -1;
            return true;
        }, kBoundMs);
    }

private:
    pid_t pid_ = -1;
    int toHost_ = -1, fromHost_ = -1;
    std::string output_;
};

}  // namespace

TEST(XServerLoss, AFrozenThenLostXServerNeverHangsDrvEndOrTheProcessEnd) {
    std::signal(SIGPIPE, SIG_IGN);
    Xvfb x;
    if (x.display().empty()) GTEST_SKIP() << "no Xvfb";
    TempSettings settings;
    const int port = 50 + ::getpid() % 10;
    const std::string link = settings.folder() + "/tty";
    settings.mapPort(port, link);
    auto map = PortMap::open(port);
    ASSERT_TRUE(map);
    fillDeviceFields(map->map());
    FakeDevice device(padsim::DeviceConfig{}, link);
    ::setenv("DISPLAY", x.display().c_str(), 1);
    ::unsetenv("TAVIK_FOREGROUND_PID_FILE");
    Host host("Padrik", port);
    ::unsetenv("DISPLAY");
    ASSERT_TRUE(host.heard("started"));
    ASSERT_TRUE(waitUntil([&] { return platform::loadWord(map->map().deviceIdentified) == 1; }, kBoundMs));
    // Identified: the thread now asks X for the window in front every turn.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    x.kill(SIGSTOP);  // the next question is never answered
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    host.say("end");
    EXPECT_TRUE(host.heard("ended")) << "drvEnd waited for a thread stuck in X";

    x.kill(SIGKILL);  // the connection breaks under the waiting thread
    host.say("quit");
    EXPECT_TRUE(host.ended()) << "the process hung on its way out";
}
