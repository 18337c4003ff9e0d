// Command-line parsing of the bitmap viewer (see command_line.h).
#include "bitmapviewer/command_line.h"

#include <cctype>

namespace bitora {

namespace {

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(s[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

// Length of the UTF-8 sequence led by byte c (1 for ASCII and stray bytes).
size_t sequenceLength(unsigned char c) {
    if (c >= 0xF0 && c < 0xF8) return 4;
    if (c >= 0xE0) return c < 0xF0 ? 3 : 1;
    if (c >= 0xC0) return 2;
    return 1;
}

// "/com" + decimal n, 1 <= n <= 80: the port index n - 1. nullopt when the token
// is not a port token; -1 when it is one with an unusable number. A token with
// a further "/" or a "." is a path ("/common/pic.bmp", "/com1/a", "/comic.png").
std::optional<int> portToken(std::string_view t) {
    if (!startsWithNoCase(t, "/com")) return std::nullopt;
    if (t.find_first_of("/.", 1) != std::string_view::npos) return std::nullopt;
    std::string_view digits = t.substr(4);
    if (digits.empty() || digits.size() > 3) return -1;
    int n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return (n >= 1 && n <= 80) ? n - 1 : -1;
}

}  // namespace

std::vector<std::string> tokenize(std::string_view line) {
    std::vector<std::string> tokens;
    std::string cur;
    bool inToken = false, quoted = false;
    for (size_t i = 0; i < line.size();) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if (c == '"') {
            quoted = !quoted;
            inToken = true;
            ++i;
            continue;
        }
        if ((c == ' ' || c == '\t') && !quoted) {
            if (inToken) tokens.push_back(std::move(cur));
            cur.clear();
            inToken = false;
            ++i;
            continue;
        }
        const size_t n = std::min(sequenceLength(c), line.size() - i);
        cur.append(line.substr(i, n));
        inToken = true;
        i += n;
    }
    if (inToken) tokens.push_back(std::move(cur));
    return tokens;
}

CommandLine parseTokens(std::span<const std::string> tokens) {
    CommandLine cl;
    for (const std::string& t : tokens) {
        if (t == "--help" || t == "-h" || t == "/?") {
            cl.help = true;
        } else if (t == "--version") {
            cl.version = true;
        } else if (auto port = portToken(t)) {
            if (*port >= 0) cl.portIndex = *port;
            else cl.ignored.push_back(t);
        } else if (startsWithNoCase(t, "/hardware=")) {
            cl.model = t.substr(10);
        } else if (!t.empty()) {
            cl.file = t;
        }
    }
    return cl;
}

CommandLine parseCommandLine(std::string_view line) {
    const std::vector<std::string> tokens = tokenize(line);
    if (tokens.empty()) return {};
    return parseTokens(std::span<const std::string>(tokens).subspan(1));
}

std::string usageText() {
    return "Usage: Bitora [FILE] [/Com<n>] [/Hardware=<model>]\n"
           "Shows a picture in a window and on a tactile pin display.\n"
           "\n"
           "  FILE                the picture to open (quote a path with blanks): BMP,\n"
           "                      or PNG, JPEG, GIF, WebP, TIFF, SVG and every other\n"
           "                      format the installed Qt image plug-ins read\n"
           "  /Com<n>             the display's port, n = 1..64 serial, 65..80 USB\n"
           "  /Hardware=<model>   the display model, e.g. \"QX-64X48\" or \"Pinora PX-2\"\n"
           "  --help              this text\n"
           "  --version           the program's version\n"
           "\n"
           "With both /Com and /Hardware the display is entered directly; otherwise a\n"
           "connected USB display is used, or the port selection asks.\n"
           "The view and the binarization condition are kept beside the picture: for\n"
           "pic.bmp in pic.LMC, for other pictures in the picture's name with .LMC\n"
           "added (pic.png.LMC). Save As always writes BMP.\n";
}

}  // namespace bitora
