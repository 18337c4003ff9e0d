// UTF-16 <-> UTF-8 conversion for the wide-character calls. UTF-8 stands in
// for the ANSI code page; invalid input is replaced, never over-read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tavik::client {

// Converts a NUL-terminated UTF-16 string (read at most `maxUnits` units) to
// UTF-8, keeping at most `maxBytes` bytes and never splitting a character.
std::string utf16ToUtf8(const uint16_t* text, std::size_t maxUnits, std::size_t maxBytes);

// Converts UTF-8 into `out` (NUL-terminated, truncated to fit). Returns the
// number of units written before the NUL.
std::size_t utf8ToUtf16(const std::string& text, std::span<uint16_t> out);

}  // namespace tavik::client
