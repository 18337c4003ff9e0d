// The texts of the programs' windows ship as "key=text" resource files, one per language. This
// is their one reader: lines, comments, and the escapes a text may contain.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

namespace tavik {

// Parses a resource file's bytes (UTF-8). One "key=text" per line, ending in "\n" or "\r\n";
// empty lines and lines starting with '#' are skipped, and so is a line without a key before
// its first '='. Blanks around the key go; the text is kept as written (spaces included), except
// for two escapes: backslash-n is a line break and a doubled backslash is one backslash (any
// other backslash stays). A later line with the same key replaces the earlier one.
std::unordered_map<std::string, std::string> parseTextResource(std::string_view bytes);

// The text of one value with its escapes resolved (the rule above).
std::string unescapeText(std::string_view raw);

}  // namespace tavik
