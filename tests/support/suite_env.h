// The settings folder and the environment of the suite's programs that a
// test starts (controller, applications, viewers), all inside the test's folder.
#pragma once

#include <string>
#include <vector>

namespace tavik::test {

// Writes <dir>/config/Orvane/TAVIK200_J/TAVIK.ini mapping port index `port`
// ("Com{port+1}") to `device`; `more` (further sections) follows the line.
void writePortMap(const std::string& dir, int port, const std::string& device, const std::string& more = "");
// XDG_CONFIG_HOME=<dir>/config, TAVIK_PATH=<built controller> and
// TAVIK_FOREGROUND_PID_FILE=<dir>/fg, then `extra` ("NAME=value").
std::vector<std::string> suiteEnv(const std::string& dir, const std::vector<std::string>& extra = {});

}  // namespace tavik::test
