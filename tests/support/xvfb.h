// A private Xvfb server for the tests: started on a display number it finds free
// itself (-displayfd), killed on demand and started again on the same number.
#pragma once

#include <sys/types.h>

#include <string>

namespace tavik::test {

class Xvfb {
public:
    // Starts a server of the given screen size on a free display; display() is empty when
    // Xvfb is missing or did not start.
    explicit Xvfb(const std::string& screen = "1024x768x24");
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& display() const { return display_; }
    pid_t pid() const { return pid_; }
    // Kills the server at once (SIGKILL, as a crash would) and reaps it.
    void kill();
    // Sends `sig` (SIGSTOP freezes the server, SIGCONT thaws it) without reaping.
    void signal(int sig);
    // Starts a server on the same display number again; false when it did not come up.
    bool restart();

private:
    bool spawn(const std::string& number);
    std::string screen_;
    std::string display_;
    pid_t pid_ = -1;
};

}  // namespace tavik::test
