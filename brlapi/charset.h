// A write's text bytes to characters, from the character set the client names
// (its locale's, "UTF-8", "WCHAR_T", ...). Without a name the text is UTF-8
// when it is valid UTF-8, else Latin-1.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tavik::brl {

// nullopt for an unknown character set or bytes that are not text in it.
std::optional<std::u32string> decodeText(std::span<const uint8_t> bytes, std::string_view charset);

}  // namespace tavik::brl
