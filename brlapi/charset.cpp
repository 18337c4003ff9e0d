// Character set conversion through iconv, one converter per call.
#include "brlapi/charset.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace tavik::brl {

namespace {

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

std::optional<std::u32string> viaIconv(std::span<const uint8_t> bytes, const std::string& from) {
    iconv_t raw = iconv_open("UTF-32LE", from.c_str());
    if (raw == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::unique_ptr<void, IconvCloser> cd(raw);
    std::vector<char> in(bytes.begin(), bytes.end());
    // Each input byte gives at most one character.
    std::vector<char> out(bytes.size() * 4 + 4);
    char* inPtr = in.data();
    char* outPtr = out.data();
    size_t inLeft = in.size(), outLeft = out.size();
    if (iconv(raw, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) return std::nullopt;
    std::u32string text((out.size() - outLeft) / 4, U'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto* p = reinterpret_cast<const unsigned char*>(out.data() + 4 * i);
        text[i] = static_cast<char32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24));
    }
    return text;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
std::optional<std::u32string> fromUtf8(std::span<const uint8_t> b) {
    std::u32string out;
    out.reserve(b.size());
    for (std::size_t i = 0; i < b.size();) {
        const uint8_t c = b[i];
        int extra = 0;
        char32_t cp = 0, least = 0;
        if (c < 0x80) cp = c;
        else if ((c & 0xE0) == 0xC0) extra = 1, cp = c & 0x1F, least = 0x80;
        else if ((c & 0xF0) == 0xE0) extra = 2, cp = c & 0x0F, least = 0x800;
        else if ((c & 0xF8) == 0xF0) extra = 3, cp = c & 0x07, least = 0x10000;
        else return std::nullopt;
        if (b.size() - i - 1 < static_cast<std::size_t>(extra)) return std::nullopt;
        for (int k = 1; k <= extra; ++k) {
            if ((b[i + k] & 0xC0) != 0x80) return std::nullopt;
            cp = (cp << 6) | (b[i + k] & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
        out.push_back(cp);
        i += 1 + static_cast<std::size_t>(extra);
    }
    return out;
}

std::string upper(std::string_view s) {
    std::string u(s);
    for (char& c : u) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    return u;
}

}  // namespace

std::optional<std::u32string> decodeText(std::span<const uint8_t> bytes, std::string_view charset) {
    if (charset.size() > 64) return std::nullopt;
    // The sets clients use are decoded here; iconv takes the rest.
    const std::string name = upper(charset);
    if (name.empty()) {
        if (auto utf8 = fromUtf8(bytes)) return utf8;
        return std::u32string(bytes.begin(), bytes.end());
    }
    if (name == "UTF-8" || name == "UTF8") return fromUtf8(bytes);
    if (name == "ISO-8859-1" || name == "LATIN1" || name == "ISO8859-1") return std::u32string(bytes.begin(), bytes.end());
    if (name == "ANSI_X3.4-1968" || name == "ASCII" || name == "US-ASCII") {
        if (std::any_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b >= 0x80; })) return std::nullopt;
        return std::u32string(bytes.begin(), bytes.end());
    }
    return viaIconv(bytes, std::string(charset));
}

}  // namespace tavik::brl
