// Runs a function in a forked child process, for tests that need real
// separate processes sharing sections, queues and files.
#pragma once

#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace tavik::test {

class ChildProcess {
public:
    // The child runs `body` and exits with its result (0..255).
    explicit ChildProcess(const std::function<int()>& body) {
        pid_ = ::fork();
        if (pid_ == 0) ::_exit(body());
    }
    ~ChildProcess() {
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            wait();
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    void kill(int sig = SIGKILL) { ::kill(pid_, sig); }
    // Exit status, or -signal when killed.
    int wait() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0) {
        }
        waited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    bool waited_ = false;
};

// A pipe used to step parent and child in order.
class Signal {
public:
    Signal() {
        if (::pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
    }
    ~Signal() {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    void post() {
        char c = 1;
        (void)!::write(fds_[1], &c, 1);
    }
    bool wait() {
        char c = 0;
        return ::read(fds_[0], &c, 1) == 1;
    }

private:
    int fds_[2];
};

}  // namespace tavik::test
