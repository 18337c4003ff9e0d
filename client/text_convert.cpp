// Small UTF-16/UTF-8 converters.
#include "client/text_convert.h"

namespace tavik::client {

std::string utf16ToUtf8(const uint16_t* text, std::size_t maxUnits, std::size_t maxBytes) {
    std::string out;
    if (!text) return out;
    for (std::size_t i = 0; i < maxUnits && text[i] != 0; ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < maxUnits && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        char buf[4];
        std::size_t n;
        if (cp < 0x80) {
            buf[0] = static_cast<char>(cp);
            n = 1;
        } else if (cp < 0x800) {
            buf[0] = static_cast<char>(0xC0 | (cp >> 6));
            buf[1] = static_cast<char>(0x80 | (cp & 0x3F));
            n = 2;
        } else if (cp < 0x10000) {
            buf[0] = static_cast<char>(0xE0 | (cp >> 12));
            buf[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            buf[2] = static_cast<char>(0x80 | (cp & 0x3F));
            n = 3;
        } else {
            buf[0] = static_cast<char>(0xF0 | (cp >> 18));
            buf[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            buf[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            buf[3] = static_cast<char>(0x80 | (cp & 0x3F));
            n = 4;
        }
        if (out.size() + n > maxBytes) break;
        out.append(buf, n);
    }
    return out;
}

std::size_t utf8ToUtf16(const std::string& text, std::span<uint16_t> out) {
    if (out.empty()) return 0;
    std::size_t w = 0;
    const std::size_t cap = out.size() - 1;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        uint32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c >> 5) == 6) {
            len = 2;
        } else if ((c >> 4) == 14) {
            len = 3;
        } else if ((c >> 3) == 30) {
            len = 4;
        }
        if (len > 1) {
            if (i + len > text.size()) {
                len = 1;
            } else {
                cp = c & (0x7F >> len);
                for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
            }
        }
        i += len;
        if (cp >= 0x10000) {
            if (w + 2 > cap) break;
            cp -= 0x10000;
            out[w++] = static_cast<uint16_t>(0xD800 + (cp >> 10));
            out[w++] = static_cast<uint16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            if (w + 1 > cap) break;
            out[w++] = static_cast<uint16_t>(cp);
        }
    }
    out[w] = 0;
    return w;
}

}  // namespace tavik::client
