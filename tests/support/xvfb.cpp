// Starting, killing and restarting the tests' Xvfb.
#include "tests/support/xvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

namespace tavik::test {

namespace {
constexpr const char* kProgram = "/usr/bin/Xvfb";
}

Xvfb::Xvfb(const std::string& screen) : screen_(screen) {
    if (!std::filesystem::exists(kProgram)) return;
    spawn("");
}

Xvfb::~Xvfb() { kill(); }

void Xvfb::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

void Xvfb::signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
}

bool Xvfb::restart() {
    kill();
    if (display_.empty()) return false;
    return spawn(display_.substr(1));
}

// With an empty number Xvfb picks a free display and writes it on fd 3; with a number it
// writes the same number once it accepts connections.
bool Xvfb::spawn(const std::string& number) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    std::vector<std::string> args = {kProgram};
    if (!number.empty()) args.push_back(":" + number);
    for (const char* a : {"-displayfd", "3", "-screen", "0"}) args.emplace_back(a);
    args.push_back(screen_);
    for (const char* a : {"-nolisten", "tcp", "+extension", "RANDR"}) args.emplace_back(a);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The server dies with the test (PR_SET_DEATHSIG), even when the test itself is killed.
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        if (fds[1] == 3)
            ::fcntl(3, F_SETFD, 0);
        else
            ::dup2(fds[1], 3);
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        ::execv(kProgram, argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (pid_ > 0 && std::chrono::steady_clock::now() < end) {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char c = 0;
        if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
        got += c;
    }
    ::close(fds[0]);
    if (got.empty() || (!number.empty() && got != number)) {
        kill();
        return false;
    }
    display_ = ":" + got;
    return true;
}

}  // namespace tavik::test
