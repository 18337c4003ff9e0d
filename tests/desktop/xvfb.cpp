// Starting, killing and restarting the tests' Xvfb.
#include "xvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

extern char** environ;

namespace desktop_test {

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
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 3);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    if (::posix_spawn(&pid_, kProgram, &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
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

}  // namespace desktop_test
