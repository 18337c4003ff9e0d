// Text to braille dots through the liblouis braille tables: one cell per
// character (computer braille), characters of the braille patterns block
// U+2800..U+28FF shown as the dots they name. Only the thread that made the
// object may use it (the translation library keeps tables per process).
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavik::brl {

// The 8-dot computer braille table for a locale ("de_DE.UTF-8" -> the German
// one), as a screen reader picks it from the language; "en-us-comp8-ext.utb"
// when the language has none. `exists` tells whether a table file is installed.
std::string tableForLocale(std::string_view locale, const std::function<bool(const std::string&)>& exists);
// True when a file of that name is in the translation library's table folders.
bool tableFileExists(const std::string& table);
// True when the translation library can load the table.
bool tableInstalled(const std::string& table);

class BrailleTable {
public:
    explicit BrailleTable(std::string table) : table_(std::move(table)) {}
    const std::string& name() const { return table_; }
    // One cell per character of `text`. A character the table cannot render
    // becomes an empty cell.
    std::vector<uint8_t> cells(std::u32string_view text) const;

private:
    std::string table_;
};

}  // namespace tavik::brl
