// Parsing of the controller's command line.
#include "controller/command_line.h"

#include "common/data_maps.h"

namespace tavik::controller {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

// "--claim-fd=N" with N of at most 9 digits and not a standard stream.
std::optional<int> claimFdWord(std::string_view word) {
    constexpr std::string_view kClaimFd = "--claim-fd=";
    if (!startsWith(word, kClaimFd)) return std::nullopt;
    const std::string_view digits = word.substr(kClaimFd.size());
    if (digits.empty() || digits.size() > 9) return std::nullopt;
    int value = 0;
    for (char c : digits) {
        if (!isDigit(c)) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value <= 2) return std::nullopt;
    return value;
}

}  // namespace

CommandLine parseCommandText(std::string_view text) {
    CommandLine cl;
    cl.remote = text.find("/Remote") != std::string_view::npos;

    constexpr std::string_view kPort = "/Port:";
    if (auto at = text.find(kPort); at != std::string_view::npos) {
        std::string_view rest = text.substr(at + kPort.size());
        if (!rest.empty() && isDigit(rest[0])) {
            int32_t index = rest[0] - '0';
            if (rest.size() > 1 && isDigit(rest[1])) index = index * 10 + (rest[1] - '0');
            if (index > kLastPortIndex) index = 0;
            cl.portIndex = index;
        }
    }

    // Word by word, for --help and for warnings about what is not understood.
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && text[pos] == ' ') ++pos;
        std::size_t end = text.find(' ', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view word = text.substr(pos, end - pos);
        pos = end;
        if (word.empty()) continue;
        if (word == "--help" || word == "-h" || word == "/?") {
            cl.help = true;
        } else if (word == "--version") {
            cl.version = true;
        } else if (word == "--headless") {
            cl.headless = true;
        } else if (word == "--show") {
            cl.show = true;
        } else if (auto fd = claimFdWord(word)) {
            cl.claimFd = *fd;
        } else if (word.find("/Remote") == std::string_view::npos && !startsWith(word, kPort)) {
            cl.unknown.emplace_back(word);
        }
    }
    return cl;
}

CommandLine parseCommandLine(int argc, const char* const* argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (!argv[i]) continue;
        if (!text.empty()) text += ' ';
        text += argv[i];
    }
    return parseCommandText(text);
}

std::string usageText() {
    return "Usage: TAVIK [/Remote] [/Port:N] | TAVIK --show\n"
           "Tactile device controller: one resident process per port. It opens the\n"
           "port's data map, loads the driver plug-in named there and serves the\n"
           "commands of the client applications until the last one has left.\n"
           "\n"
           "  /Remote    started by the client library (without it the program only\n"
           "             brings the running controllers of every port to the front)\n"
           "  /Port:N    port index: 0..63 serial port Com1..Com64, 64..79 USB1..USB16\n"
           "             (one or two digits; 80 or more means 0)\n"
           "  --headless no window: status lines go to standard error (also the case\n"
           "             when no display can be opened)\n"
           "  --show     bring the running controllers' windows to the front and end\n"
           "             (bind it to Win+G where the desktop has no global shortcuts)\n"
           "  --help     this text\n"
           "  --version  the version of the suite\n"
           "\n"
           "Environment:\n"
           "  TAVIK_PLUGIN_DIR  folder of the driver plug-ins (default: the program's folder)\n"
           "  XDG_CONFIG_HOME   base of the settings folder Orvane/TAVIK200_J\n"
           "\n"
           "Exit status: 1 after a normal run, 0 when the messages cannot be registered.\n";
}

}  // namespace tavik::controller
