// The tests' child processes.
#include "tests/support/child.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tavik::test {

namespace {

int statusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw); }

}  // namespace

Child::Child(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& env) {
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        throw std::runtime_error("pipe");
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&fa, fromChild[1], 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    auto nameOf = [](const std::string& kv) { return kv.substr(0, kv.find('=') + 1); };
    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) {
        const std::string kv = *e;
        bool replaced = false;
        for (auto& o : env)
            if (nameOf(kv) == nameOf(o)) replaced = true;
        if (!replaced) envStore.push_back(kv);
    }
    for (auto& o : env) envStore.push_back(o);
    std::vector<char*> envp;
    for (auto& s : envStore) envp.push_back(s.data());
    envp.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, program.c_str(), &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
    if (rc != 0) {
        pid_ = -1;
        ::close(in_);
        ::close(out_);
        throw std::runtime_error("cannot start " + program);
    }
}

Child::Child(const std::function<int()>& body) {
    pid_ = ::fork();
    if (pid_ == 0) ::_exit(body());
    if (pid_ < 0) throw std::runtime_error("fork");
}

Child::~Child() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        int st = 0;
        while (::waitpid(pid_, &st, 0) < 0 && errno == EINTR) {
        }
    }
    if (in_ >= 0) ::close(in_);
    if (out_ >= 0) ::close(out_);
}

void Child::send(const std::string& line) {
    const std::string l = line + "\n";
    (void)!::write(in_, l.data(), l.size());
}

bool Child::readMore(std::chrono::milliseconds bound) {
    if (out_ < 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(bound.count())) <= 0) return false;
    char buf[4096];
    const ssize_t n = ::read(out_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) return false;
    if (n <= 0) {
        // The child closed its output (it ended): no line will come, and polling the closed
        // pipe again would return at once, turning every later wait into a busy loop.
        ::close(out_);
        out_ = -1;
        return false;
    }
    buffer_.append(buf, static_cast<std::size_t>(n));
    std::size_t nl;
    while ((nl = buffer_.find('\n')) != std::string::npos) {
        lines_.push_back(buffer_.substr(0, nl));
        buffer_.erase(0, nl + 1);
    }
    return true;
}

std::optional<std::string> Child::expect(const std::string& prefix, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        for (auto it = lines_.begin(); it != lines_.end(); ++it) {
            if (it->rfind(prefix, 0) == 0) {
                std::string l = *it;
                lines_.erase(it);
                return l;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || out_ < 0) return std::nullopt;
        readMore(left);
    }
}

std::vector<std::string> Child::seen(const std::string& prefix) {
    while (readMore(0ms)) {
    }
    std::vector<std::string> out;
    for (auto& l : lines_)
        if (l.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
}

void Child::forget(const std::string& prefix) {
    while (readMore(0ms)) {
    }
    std::erase_if(lines_, [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
}

std::string Child::call(const std::string& command) {
    send(command);
    const std::string verb = command.substr(0, command.find(' '));
    auto line = expect(verb + " ", 60s);
    return line ? *line : verb + " timeout";
}

int Child::result(const std::string& command) {
    std::istringstream in(call(command));
    std::string verb;
    int r = -999;
    in >> verb >> r;
    return r;
}

void Child::kill(int signal) {
    if (pid_ > 0 && !status_) ::kill(pid_, signal);
}

std::optional<int> Child::waitExit(std::chrono::milliseconds bound) {
    if (status_ || pid_ <= 0) return status_;
    waitUntil(
        [&] {
            int st = 0;
            if (::waitpid(pid_, &st, WNOHANG) != pid_) return false;
            status_ = statusOf(st);
            return true;
        },
        bound);
    return status_;
}

Signal::Signal() {
    if (::pipe2(fds_, O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
}

Signal::~Signal() {
    if (fds_[0] >= 0) ::close(fds_[0]);
    if (fds_[1] >= 0) ::close(fds_[1]);
}

void Signal::post() {
    const char c = 1;
    (void)!::write(fds_[1], &c, 1);
}

bool Signal::wait(std::chrono::milliseconds bound) {
    pollfd p{fds_[0], POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(bound.count())) <= 0) return false;
    char c = 0;
    return ::read(fds_[0], &c, 1) == 1;
}

}  // namespace tavik::test
