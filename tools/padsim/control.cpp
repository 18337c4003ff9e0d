// Parsing of the virtual display's control commands.
#include "control.h"

#include <charconv>

namespace padsim {

namespace {

std::vector<std::string_view> split(std::string_view s) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
        size_t j = i;
        while (j < s.size() && !(s[j] == ' ' || s[j] == '\t' || s[j] == '\r' || s[j] == '\n')) ++j;
        if (j > i) out.push_back(s.substr(i, j - i));
        i = j;
    }
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string_view rest(std::string_view line, std::string_view word) {
    // `word` is a view into `line`: take what follows it.
    const size_t at = static_cast<size_t>(word.data() - line.data()) + word.size();
    std::string_view r = line.substr(at);
    while (!r.empty() && (r.front() == ' ' || r.front() == '\t')) r.remove_prefix(1);
    while (!r.empty() && (r.back() == ' ' || r.back() == '\t' || r.back() == '\r' || r.back() == '\n'))
        r.remove_suffix(1);
    return r;
}

}  // namespace

bool parseByte(std::string_view t, uint8_t& out) {
    unsigned v = 0;
    std::from_chars_result r{};
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X'))
        r = std::from_chars(t.data() + 2, t.data() + t.size(), v, 16);
    else
        r = std::from_chars(t.data(), t.data() + t.size(), v, 10);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size() || v > 255) return false;
    out = static_cast<uint8_t>(v);
    return true;
}

bool parseHexBytes(std::string_view text, std::vector<uint8_t>& out) {
    for (auto tok : split(text)) {
        if (tok.size() > 2 && tok[0] == '0' && (tok[1] == 'x' || tok[1] == 'X')) tok.remove_prefix(2);
        if (tok.size() % 2 != 0) return false;
        for (size_t i = 0; i < tok.size(); i += 2) {
            const int hi = hexDigit(tok[i]), lo = hexDigit(tok[i + 1]);
            if (hi < 0 || lo < 0) return false;
            out.push_back(static_cast<uint8_t>(hi * 16 + lo));
        }
    }
    return true;
}

ParsedLine parseControlLine(std::string_view line) {
    ParsedLine r;
    if (const size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    const auto words = split(line);
    if (words.empty()) return r;
    const std::string_view verb = words[0];
    ControlCommand c;
    auto bytesArgs = [&](size_t min, size_t max) -> bool {
        if (words.size() - 1 < min || words.size() - 1 > max) return false;
        for (size_t i = 1; i < words.size(); ++i) {
            uint8_t b = 0;
            if (!parseByte(words[i], b)) return false;
            c.bytes.push_back(b);
        }
        return true;
    };
    if (verb == "key" || verb == "ntkey") {
        c.kind = verb == "key" ? CommandKind::Key : CommandKind::NoteTakerKey;
        if (!bytesArgs(3, 4)) return {std::nullopt, "usage: " + std::string(verb) + " GROUP KEY MODIFIER [EXTRA] (numbers 0..255)"};
        if (c.bytes.size() == 3) c.bytes.push_back(0);
    } else if (verb == "broadcast") {
        c.kind = CommandKind::Broadcast;
        if (!bytesArgs(4, 4)) return {std::nullopt, "usage: broadcast B0 B1 B2 B3 (numbers 0..255)"};
    } else if (verb == "datablock") {
        c.kind = CommandKind::DataBlock;
        if (words.size() < 2 || !parseByte(words[1], c.code) || !parseHexBytes(rest(line, words[1]), c.bytes))
            return {std::nullopt, "usage: datablock CODE HEXBYTES..."};
    } else if (verb == "raw") {
        c.kind = CommandKind::Raw;
        if (words.size() < 2 || !parseHexBytes(rest(line, words[0]), c.bytes)) return {std::nullopt, "usage: raw HEXBYTES..."};
    } else if (verb == "png" || verb == "state") {
        c.kind = verb == "png" ? CommandKind::Png : CommandKind::State;
        if (words.size() != 2) return {std::nullopt, "usage: " + std::string(verb) + " FILE"};
        c.text = std::string(words[1]);
    } else if (verb == "wait") {
        c.kind = CommandKind::Wait;
        uint64_t ms = 0;
        const auto parsed = words.size() == 2 ? std::from_chars(words[1].data(), words[1].data() + words[1].size(), ms)
                                              : std::from_chars_result{nullptr, std::errc::invalid_argument};
        if (parsed.ec != std::errc() || parsed.ptr != words[1].data() + words[1].size() || ms > 24ull * 3600 * 1000)
            return {std::nullopt, "usage: wait MILLISECONDS"};
        c.ms = ms;
    } else if (verb == "log") {
        c.kind = CommandKind::Log;
        c.text = std::string(rest(line, words[0]));
    } else if (verb == "quit" || verb == "exit") {
        c.kind = CommandKind::Quit;
    } else {
        return {std::nullopt, "unknown command \"" + std::string(verb) + "\" (key, ntkey, broadcast, datablock, raw, png, state, wait, log, quit)"};
    }
    r.command = std::move(c);
    return r;
}

}  // namespace padsim
