// The virtual display as a separate process for the tests: padsim on a
// pseudo-terminal behind a link, driven through its control FIFO and read
// back through its state file and log, all in one folder.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "tests/support/wait.h"

namespace tavik::test {

class Padsim {
public:
    // Starts padsim with files in `dir` (tty, ctl, state, log, padsim.out)
    // and waits until it serves the link and has written its state; throws
    // std::runtime_error when the program cannot start.
    explicit Padsim(const std::string& dir, const std::vector<std::string>& extra = {});
    // Ends padsim as kill() does.
    ~Padsim();
    Padsim(const Padsim&) = delete;
    Padsim& operator=(const Padsim&) = delete;

    // True while padsim runs and came up within the bound.
    bool started() const { return pid_ > 0 && ready_; }
    std::string link() const { return dir_ + "/tty"; }
    // Sends one control command line ("key 4 1 0"); false when it could not be written.
    bool command(const std::string& line);
    // The current state file ("" while there is none).
    std::string state() const;
    std::string log() const;
    // A value and the rows of a grid ("plane1", "plane2", "levels") of the current state.
    std::string value(const std::string& key) const;
    std::vector<std::string> grid(const std::string& name) const;
    // The same of a state text.
    static std::string value(const std::string& state, const std::string& key);
    static std::vector<std::string> grid(const std::string& state, const std::string& name);
    // Waits until `pred` holds for the state text.
    bool waitState(const std::function<bool(const std::string&)>& pred, std::chrono::milliseconds bound = kWait) const;
    // Waits until the state's `key` reads `expected`.
    bool waitState(const std::string& key, const std::string& expected, std::chrono::milliseconds bound = kWait) const;
    // SIGTERM (padsim removes its link), then SIGKILL when it has not ended within a bound.
    void kill();
    // Waits for padsim to end by itself ("quit"): its exit status, or -N when
    // signal N ended it; nullopt while it still runs after the bound.
    std::optional<int> waitExit(std::chrono::milliseconds bound = kWait);

private:
    std::string dir_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

}  // namespace tavik::test
