// The controller's command line: "/Remote" marks a start by the client
// library, "/Port:" with one or two digits names the port, "--show" only
// brings the running controllers to the front, "--help" asks for the usage
// text. The client library passes " /Remote /Port:%d " either as one
// argument or split; the words are searched in all arguments joined by spaces.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavik::controller {

struct CommandLine {
    bool remote = false;                 // "/Remote" present
    bool help = false;                   // "--help", "-h" or "/?"
    bool version = false;                // "--version"
    bool headless = false;               // "--headless": no window even with a display
    bool show = false;                   // "--show": bring the running controllers to the front
    std::optional<int32_t> portIndex;    // from "/Port:"; none without a digit
    // "--claim-fd=N": the descriptor of the port map, holding the port's
    // claim, that the image this process replaced passed on (see
    // Controller::inheritClaim). Decimal digits only, 3 or more; anything
    // else is an unknown word.
    std::optional<int> claimFd;
    std::vector<std::string> unknown;    // words that mean nothing to the controller
};

// Parses the joined command text. "/Port:" followed by digit d1 gives d1, by
// d1 d2 gives 10*d1+d2; an index of 80 or more becomes 0; no digit: no port.
// Never fails: unknown words are collected for a warning.
CommandLine parseCommandText(std::string_view text);
// Joins argv[1..] with single spaces and parses the result.
CommandLine parseCommandLine(int argc, const char* const* argv);

// The usage text printed for --help.
std::string usageText();

}  // namespace tavik::controller
