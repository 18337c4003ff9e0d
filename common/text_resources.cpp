// Reading "key=text" resource files.
#include "common/text_resources.h"

namespace tavik {

namespace {

std::string_view trimBlanks(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

std::string unescapeText(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size()) {
            if (raw[i + 1] == 'n') {
                out += '\n';
                ++i;
                continue;
            }
            if (raw[i + 1] == '\\') {
                out += '\\';
                ++i;
                continue;
            }
        }
        out += raw[i];
    }
    return out;
}

std::unordered_map<std::string, std::string> parseTextResource(std::string_view bytes) {
    std::unordered_map<std::string, std::string> texts;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = trimBlanks(line.substr(0, eq));
        if (key.empty()) continue;
        texts[std::string(key)] = unescapeText(line.substr(eq + 1));
    }
    return texts;
}

}  // namespace tavik
