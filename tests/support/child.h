// Child processes of the tests: a program spoken to line by line through its
// standard input and output, or a function run in a forked copy of the test.
// Every wait is bounded; a child still running when its object goes is killed.
#pragma once

#include <chrono>
#include <csignal>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "tests/support/wait.h"

namespace tavik::test {

class Child {
public:
    // Starts `program` with `args`; `env` entries ("NAME=value") replace or
    // extend the test's environment. Throws std::runtime_error when it cannot start.
    Child(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& env = {});
    // Forks; the child runs `body` and exits with its result (0..255).
    explicit Child(const std::function<int()>& body);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    void send(const std::string& line);
    // Waits for an output line that starts with `prefix` (earlier lines that
    // do not match are kept for later waits); nullopt after the bound.
    std::optional<std::string> expect(const std::string& prefix, std::chrono::milliseconds bound = kWait);
    // Sends `command` and returns its answer line ("<verb> <result> ...").
    std::string call(const std::string& command);
    // The integer result of call().
    int result(const std::string& command);
    // Lines seen so far that start with `prefix`, without waiting.
    std::vector<std::string> seen(const std::string& prefix);
    // Drops the lines read so far that start with `prefix`, so that a later
    // expect() waits for a line that comes after this call.
    void forget(const std::string& prefix);
    void kill(int signal = SIGKILL);
    // Waits for the process to end: its exit status, or -N when signal N
    // ended it; nullopt while it still runs after the bound.
    std::optional<int> waitExit(std::chrono::milliseconds bound = kWait);

private:
    bool readMore(std::chrono::milliseconds bound);
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    std::string buffer_;
    std::vector<std::string> lines_;
    std::optional<int> status_;
};

// A pipe that steps a forked child and its parent in order.
class Signal {
public:
    Signal();
    ~Signal();
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;
    void post();
    // True once the other side posted; false after the bound.
    bool wait(std::chrono::milliseconds bound = kWait);

private:
    int fds_[2] = {-1, -1};
};

}  // namespace tavik::test
