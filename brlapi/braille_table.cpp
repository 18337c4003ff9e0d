// The liblouis side of braille translation.
#include "brlapi/braille_table.h"

#include <liblouis/liblouis.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>

namespace tavik::brl {

namespace {

constexpr char32_t kPatternBase = 0x2800;
constexpr std::string_view kFallbackTable = "en-us-comp8-ext.utb";

}  // namespace

std::string tableForLocale(std::string_view locale, const std::function<bool(const std::string&)>& exists) {
    // Language and territory, lower case: "de_DE.UTF-8@euro" -> "de", "de".
    const std::string_view head = locale.substr(0, locale.find_first_of(".@"));
    std::string lang(head.substr(0, head.find('_'))), region;
    if (head.find('_') != std::string_view::npos) region = std::string(head.substr(head.find('_') + 1));
    std::transform(lang.begin(), lang.end(), lang.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::transform(region.begin(), region.end(), region.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // Languages whose computer braille table is not named after the locale.
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kNamed = {{
        {"en", "en-us-comp8-ext.utb"},
        {"fr", "fr-bfu-comp8.utb"},
        {"cs", "cs-comp8.utb"},
        {"nl", "nl-comp8.utb"},
        {"hr", "hr-comp8.utb"},
        {"he", "he-IL-comp8.utb"},
    }};
    if (lang == "c" || lang == "posix") lang.clear();
    std::vector<std::string> candidates;
    if (lang == "en" && region == "gb") candidates.push_back("en-gb-comp8.ctb");
    for (const auto& [l, t] : kNamed)
        if (lang == l) candidates.emplace_back(t);
    if (!lang.empty()) {
        const std::string area = region.empty() ? lang : region;
        for (const char* ext : {".utb", ".ctb"}) candidates.push_back(lang + "-" + area + "-comp8" + ext);
        candidates.push_back(lang + "-comp8.utb");
    }
    for (const auto& c : candidates)
        if (exists(c)) return c;
    return std::string(kFallbackTable);
}

bool tableFileExists(const std::string& table) {
    if (table.empty() || table.find('/') != std::string::npos) return false;
    std::vector<std::string> folders;
    if (const char* path = std::getenv("LOUIS_TABLEPATH")) {
        std::string_view rest(path);
        while (!rest.empty()) {
            const std::size_t comma = rest.find(',');
            folders.emplace_back(rest.substr(0, comma));
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
    }
    folders.push_back("/usr/share/liblouis/tables");
    folders.push_back("/usr/local/share/liblouis/tables");
    std::error_code ec;
    return std::any_of(folders.begin(), folders.end(),
                       [&](const std::string& f) { return std::filesystem::exists(f + "/" + table, ec); });
}

bool tableInstalled(const std::string& table) {
    // The library's own complaints go nowhere: the caller says what failed.
    lou_registerLogCallback([](logLevels, const char*) {});
    return !table.empty() && lou_getTable(table.c_str()) != nullptr;
}

std::vector<uint8_t> BrailleTable::cells(std::u32string_view text) const {
    std::vector<uint8_t> out(text.size(), 0);
    if (text.empty()) return out;
    // Runs of ordinary characters go through the table together; pattern
    // characters are their own dots.
    std::vector<widechar> in, translated;
    std::vector<int> outputPos;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] >= kPatternBase && text[i] <= kPatternBase + 0xFF) {
            out[i] = static_cast<uint8_t>(text[i] - kPatternBase);
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && !(text[end] >= kPatternBase && text[end] <= kPatternBase + 0xFF)) ++end;
        in.assign(text.begin() + static_cast<std::ptrdiff_t>(i), text.begin() + static_cast<std::ptrdiff_t>(end));
        // Computer braille gives one cell a character; the room for more
        // lets a table that writes several still finish.
        translated.assign(in.size() * 4 + 16, 0);
        outputPos.assign(in.size(), -1);
        int inLen = static_cast<int>(in.size()), outLen = static_cast<int>(translated.size());
        if (lou_translate(table_.c_str(), in.data(), &inLen, translated.data(), &outLen, nullptr, nullptr,
                          outputPos.data(), nullptr, nullptr, dotsIO) == 1) {
            for (std::size_t k = 0; k < in.size() && k < static_cast<std::size_t>(inLen); ++k) {
                const int at = outputPos[k];
                if (at >= 0 && at < outLen) out[i + k] = static_cast<uint8_t>(translated[static_cast<std::size_t>(at)] & 0xFF);
            }
        }
        i = end;
    }
    return out;
}

}  // namespace tavik::brl
