// Character set conversion through iconv, one converter per call.
#include "brlapi/charset.h"

#include <iconv.h>

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

}  // namespace

std::optional<std::u32string> decodeText(std::span<const uint8_t> bytes, std::string_view charset) {
    if (charset.size() > 64) return std::nullopt;
    if (charset.empty()) {
        if (auto utf8 = viaIconv(bytes, "UTF-8")) return utf8;
        return std::u32string(bytes.begin(), bytes.end());
    }
    return viaIconv(bytes, std::string(charset));
}

}  // namespace tavik::brl
