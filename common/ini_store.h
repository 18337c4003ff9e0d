// The INI store behind every settings read and write. Sections and keys are
// case-insensitive; a missing file, section or key gives the caller's default;
// a write creates file, section and key as needed. Several processes may write
// the same file at once: each write re-reads the file and replaces it
// atomically (temporary file + rename) under a lock on its folder, so nothing
// one process wrote is lost by another's write.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavik {

// Reads an integer the way the profile functions do: leading blanks, an
// optional sign, decimal digits; a value without digits reads as 0; a missing
// key gives `defaultValue`. Values beyond 32 bits saturate.
int32_t profileGetInt(std::string_view section, std::string_view key, int32_t defaultValue, const std::string& path);

// Reads a string value (surrounding blanks removed, one pair of enclosing
// double quotes stripped); a missing key gives `defaultValue`.
std::string profileGetString(std::string_view section, std::string_view key, std::string_view defaultValue,
                             const std::string& path);

// Every key=value of a section in file order; empty if absent.
std::vector<std::pair<std::string, std::string>> profileGetSection(std::string_view section, const std::string& path);

// Every section name in file order.
std::vector<std::string> profileSectionNames(const std::string& path);

// Writes key=value, creating what is missing. False when the file could not
// be written, or exists but could not be read whole (the store is then
// unchanged: a write never replaces settings it could not read), or when the
// folder stayed locked by another holder for 0.25 s.
bool profileWriteString(std::string_view section, std::string_view key, std::string_view value,
                        const std::string& path);

// Removes a key; true when the store no longer holds it. False, with the file
// unchanged, when it exists but could not be read whole.
bool profileDeleteKey(std::string_view section, std::string_view key, const std::string& path);

}  // namespace tavik
