// The virtual display as a separate process: padsim on a pseudo-terminal
// reached through a link, driven through its control FIFO and read back
// through its state file.
#pragma once

#include <string>
#include <vector>

namespace tavik::test {

class PadsimProcess {
public:
    // Starts padsim with `extraArgs`; files live in `folder`.
    PadsimProcess(const std::string& folder, const std::vector<std::string>& extraArgs = {});
    ~PadsimProcess();
    PadsimProcess(const PadsimProcess&) = delete;
    PadsimProcess& operator=(const PadsimProcess&) = delete;

    bool started() const { return pid_ > 0; }
    const std::string& link() const { return link_; }
    // Sends one control command line ("key 4 1 0").
    bool command(const std::string& line);
    // The current state file ("" until written).
    std::string state() const;
    // A value line of the state file ("text", "identifications", ...).
    std::string value(const std::string& key) const;
    // The rows of a grid ("plane1", "plane2", "levels").
    std::vector<std::string> grid(const std::string& name) const;
    // Waits until pred(state) holds.
    bool waitState(const std::string& key, const std::string& value, int timeoutMs = 5000) const;
    void kill();

private:
    int pid_ = -1;
    std::string link_, control_, stateFile_;
};

}  // namespace tavik::test
