// padsim started and driven as a separate process.
#include "tests/support/padsim.h"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "state_file.h"
#include "tests/support/files.h"

extern char** environ;

namespace tavik::test {

Padsim::Padsim(const std::string& dir, const std::vector<std::string>& extra) : dir_(dir) {
    const std::string program = binDir() + "/padsim";
    std::vector<std::string> args = {program, "--quiet", "--link", link(), "--control", dir + "/ctl",
                                     "--state", dir + "/state", "--log", dir + "/log"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, (dir + "/padsim.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::unlink((dir + "/state").c_str());  // a state file left by an earlier padsim here is not this one's
    const int rc = ::posix_spawn(&pid_, program.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + program);
    }
    // The FIFO comes first, then the link; the state file on the first round of its loop.
    ready_ = waitUntil([&] {
        struct stat st {};
        return ::lstat(link().c_str(), &st) == 0 && ::stat((dir_ + "/ctl").c_str(), &st) == 0 &&
               ::stat((dir_ + "/state").c_str(), &st) == 0;
    });
}

Padsim::~Padsim() { kill(); }

void Padsim::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    const bool ended = waitUntil([&] { return ::waitpid(pid_, nullptr, WNOHANG) == pid_; }, 5s);
    if (!ended) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

std::optional<int> Padsim::waitExit(std::chrono::milliseconds bound) {
    std::optional<int> status;
    if (pid_ <= 0) return status;
    waitUntil(
        [&] {
            int raw = 0;
            if (::waitpid(pid_, &raw, WNOHANG) != pid_) return false;
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
            pid_ = -1;
            return true;
        },
        bound);
    return status;
}

bool Padsim::command(const std::string& line) {
    const int fd = ::open((dir_ + "/ctl").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const std::string l = line + "\n";
    const bool ok = ::write(fd, l.data(), l.size()) == static_cast<ssize_t>(l.size());
    ::close(fd);
    return ok;
}

std::string Padsim::state() const { return readFile(dir_ + "/state"); }
std::string Padsim::log() const { return readFile(dir_ + "/log"); }

std::string Padsim::value(const std::string& key) const { return value(state(), key); }
std::vector<std::string> Padsim::grid(const std::string& name) const { return grid(state(), name); }

std::string Padsim::value(const std::string& state, const std::string& key) {
    return padsim::StateReader(state).value(key);
}

std::vector<std::string> Padsim::grid(const std::string& state, const std::string& name) {
    return padsim::StateReader(state).grid(name);
}

bool Padsim::waitState(const std::function<bool(const std::string&)>& pred, std::chrono::milliseconds bound) const {
    return waitUntil([&] { return pred(state()); }, bound);
}

bool Padsim::waitState(const std::string& key, const std::string& expected, std::chrono::milliseconds bound) const {
    return waitState([&](const std::string& s) { return value(s, key) == expected; }, bound);
}

}  // namespace tavik::test
