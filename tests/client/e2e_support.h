// Helpers of the end-to-end tests: child processes spoken to line by line,
// the virtual display padsim, a private settings folder, and finding the
// controller process of a port.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace e2e {

using namespace std::chrono_literals;

// A generous bound for anything a test waits for; a healthy run takes far less.
constexpr auto kWait = 20s;

std::string binDir();
std::string testsDir();
std::string makeTempDir(const std::string& tag);
void writeFile(const std::string& path, const std::string& text);
std::string readFile(const std::string& path);
// Bytes as lower-case hexadecimal without separators ("0a1f").
std::string hexOf(const std::vector<unsigned char>& bytes);

// A child process whose standard input and output are pipes.
class Child {
public:
    Child(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& env = {});
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
    void kill(int signal);
    // Waits for the process to end; false after the bound.
    bool waitExit(std::chrono::milliseconds bound = kWait);

private:
    bool readMore(std::chrono::milliseconds bound);
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    std::string buffer_;
    std::vector<std::string> lines_;
    bool reaped_ = false;
};

// padsim on a pseudo-terminal behind a link, with a control FIFO, a state
// file and a log.
class Padsim {
public:
    Padsim(const std::string& dir, const std::vector<std::string>& extra = {});
    ~Padsim();
    std::string link() const { return dir_ + "/tty"; }
    void command(const std::string& line);
    // The current state file ("" while there is none).
    std::string state() const;
    // Waits until `pred` holds for the state text.
    bool waitState(const std::function<bool(const std::string&)>& pred, std::chrono::milliseconds bound = kWait);
    std::string log() const;
    // The rows of a grid ("plane1", "plane2") in the state text.
    static std::vector<std::string> grid(const std::string& state, const std::string& name);
    static std::string value(const std::string& state, const std::string& key);

private:
    std::string dir_;
    pid_t pid_ = -1;
};

// Process ids of running controllers started for `portIndex` from `program`.
std::vector<pid_t> controllerPids(const std::string& program, int portIndex);
bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds bound = kWait);

}  // namespace e2e
