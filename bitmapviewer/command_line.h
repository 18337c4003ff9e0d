// The bitmap viewer's command line: blank-separated tokens (double quotes keep
// blanks inside a token), "/com<n>" for the port, "/hardware=<name>" for the
// model, anything else the file to open (a path under "/com..." included).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bitora {

struct CommandLine {
    std::optional<int> portIndex;  // 0..79 ("/com1".."/com80")
    std::string model;             // "" when not given
    std::string file;              // "" when not given (the last such token wins)
    bool help = false;             // "--help", "-h", "/?"
    bool version = false;          // "--version"
    std::vector<std::string> ignored;  // "/com" tokens with a number outside 1..80
};

// Splits a whole command line into tokens. A double quote opens or closes a
// quoted run (the quotes are dropped); a multi-byte UTF-8 sequence is kept
// whole. Never fails: an unclosed quote runs to the end of the line.
std::vector<std::string> tokenize(std::string_view line);

// Reads the tokens after the program name (the first token is NOT included).
CommandLine parseTokens(std::span<const std::string> tokens);
// tokenize + drop the program token + parseTokens.
CommandLine parseCommandLine(std::string_view line);

// Help text for --help.
std::string usageText();

}  // namespace bitora
