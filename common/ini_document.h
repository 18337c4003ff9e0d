// An INI file's text as parsed lines, and the lookups and edits the INI store
// makes on it. No I/O: the store reads and replaces files around these, and the
// fuzz target feeds them from memory. Sections and keys compare without case.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavik::ini {

// One parsed line: a section header, a key line, or anything else (kept as is).
struct Line {
    enum Kind { Other, Section, Key } kind = Other;
    std::string name;  // section or key name
    std::string value;
    std::string raw;
};

struct Document {
    std::vector<Line> lines;
    bool crlf = false;  // written back with "\r\n" when any line had it
};

Document parse(std::string_view text);
// The text a store writes: every line's raw text and the document's line end.
std::string format(const Document& doc);

// Index of the key line inside `section`, or -1; `sectionEnd` receives the
// index after the section's last key line (or -1 when the section is absent).
long findKey(const Document& doc, std::string_view section, std::string_view key, long* sectionEnd);

// Lookups with the store's rules (see ini_store.h).
int32_t getInt(const Document& doc, std::string_view section, std::string_view key, int32_t defaultValue);
std::string getString(const Document& doc, std::string_view section, std::string_view key,
                      std::string_view defaultValue);
std::vector<std::pair<std::string, std::string>> getSection(const Document& doc, std::string_view section);
std::vector<std::string> sectionNames(const Document& doc);

// False, with `doc` unchanged, for a name that is blank or holds a line break,
// a key holding '=' or a value holding a line break.
bool setString(Document& doc, std::string_view section, std::string_view key, std::string_view value);
// True when a line was removed.
bool deleteKey(Document& doc, std::string_view section, std::string_view key);

}  // namespace tavik::ini
