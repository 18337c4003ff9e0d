// The screen viewer on the virtual display for the end-to-end tests: padsim in a folder of the
// test's own, the port map and Lumo.ini pointing at it, and Lumo started with the test's
// settings folder (its dialog answered by a script, its slot shown on the device).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/child.h"
#include "tests/support/padsim.h"

namespace tavik::test {

class LumoOnPadsim {
public:
    // Starts padsim in `dir` (which outlives this object), then Lumo with `env` entries
    // ("NAME=value") added to the suite's environment. `browse` lines go into Lumo.ini's
    // [Browse] section (default: the window in front, refreshed once a second, no frame).
    // Check started() before use.
    explicit LumoOnPadsim(const std::string& dir, const std::vector<std::string>& env = {},
                          const std::string& browse = "ScanningMode=1\nRefresh=1\nViewFrame=0\n");
    // Ends Lumo, waits (bounded) for its controller to go, then ends padsim.
    ~LumoOnPadsim();
    LumoOnPadsim(const LumoOnPadsim&) = delete;
    LumoOnPadsim& operator=(const LumoOnPadsim&) = delete;

    bool started() const { return pad_ && pad_->started() && app_; }
    Padsim& pad() { return *pad_; }
    Child& app() { return *app_; }
    int port() const { return port_; }

    // Waits (bounded) until the pins of `plane` ("plane1", "plane2") are `rows`.
    bool waitPins(const std::vector<std::string>& rows, const std::string& plane = "plane1") const;
    // The pins of `plane` now, one text line a row, for failure messages.
    std::string pinsText(const std::string& plane = "plane1") const;
    // Ends Lumo (SIGTERM) and waits for it and its controller; true when both ended in time.
    bool stop();

private:
    std::string dir_;
    int port_ = 0;
    std::unique_ptr<Padsim> pad_;
    std::unique_ptr<Child> app_;
    bool stopped_ = false;
};

// Rows as one text, a line each (for failure messages).
std::string rowsText(const std::vector<std::string>& rows);

}  // namespace tavik::test
