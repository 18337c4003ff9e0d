// A BMP encoder for tests and the fuzz corpus: writes one image in any supported file kind
// (1/4/8-bit palettes, 16/32 bits with or without masks, 24 bits, RLE4/RLE8, 12- or 40-byte
// header, with or without file header, bottom-up or top-down).
#pragma once

#include <bit>
#include <cstdint>
#include <map>
#include <vector>

#include "tests/imaging/image_fixture.h"

namespace lumotest {

enum class HeaderKind { Info, Core };

struct BmpKind {
    int bits = 24;
    uint32_t compression = 0;  // 0 plain, 1 RLE8, 2 RLE4, 3 bit fields
    HeaderKind header = HeaderKind::Info;
    bool fileHeader = true;
    bool topDown = false;
    uint32_t masks[3] = {0, 0, 0};  // red, green, blue for bit fields
};

class ByteWriter {
public:
    std::vector<uint8_t> out;
    void u8(uint32_t v) { out.push_back(uint8_t(v)); }
    void u16(uint32_t v) { u8(v); u8(v >> 8); }
    void u32(uint32_t v) { u16(v); u16(v >> 16); }
};

inline uint32_t packChannel(uint32_t c8, uint32_t mask) {
    if (!mask) return 0;
    const int shift = std::countr_zero(mask);
    const uint32_t max = mask >> shift;
    return ((c8 * max + 127) / 255) << shift;
}

inline std::vector<uint8_t> encodeBmp(const Pixels& img, const BmpKind& k) {
    std::vector<uint32_t> palette;
    std::map<uint32_t, uint8_t> index;
    if (k.bits <= 8) {
        for (uint32_t c : img.px)
            if (!index.count(c)) {
                index[c] = uint8_t(palette.size());
                palette.push_back(c);
            }
    }
    const bool core = k.header == HeaderKind::Core;
    // Pixel bytes, stored rows first.
    ByteWriter pix;
    const int stride = ((k.bits * img.w + 31) / 32) * 4;
    auto storedRow = [&](int s) { return k.topDown ? s : img.h - 1 - s; };
    if (k.compression == 1 || k.compression == 2) {
        const bool four = k.compression == 2;
        for (int s = 0; s < img.h; ++s) {
            const int y = storedRow(s);
            for (int x = 0; x < img.w;) {
                const uint8_t i = index[img.px[size_t(y) * img.w + x]];
                int n = 1;
                while (x + n < img.w && n < 255 && index[img.px[size_t(y) * img.w + x + n]] == i) ++n;
                pix.u8(n);
                pix.u8(four ? (i << 4) | i : i);
                x += n;
            }
            pix.u8(0);
            pix.u8(s + 1 == img.h ? 1 : 0);
        }
    } else {
        uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
        if (k.bits == 32) masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
        if (k.compression == 3) masks[0] = k.masks[0], masks[1] = k.masks[1], masks[2] = k.masks[2];
        for (int s = 0; s < img.h; ++s) {
            const int y = storedRow(s);
            std::vector<uint8_t> row(size_t(stride), 0);
            for (int x = 0; x < img.w; ++x) {
                const uint32_t c = img.px[size_t(y) * img.w + x];
                const uint32_t r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
                switch (k.bits) {
                case 1: row[x / 8] |= uint8_t(index[c] << (7 - x % 8)); break;
                case 4: row[x / 2] |= uint8_t(index[c] << (x % 2 ? 0 : 4)); break;
                case 8: row[x] = index[c]; break;
                case 16: {
                    const uint32_t v = packChannel(r, masks[0]) | packChannel(g, masks[1]) | packChannel(b, masks[2]);
                    row[2 * x] = uint8_t(v);
                    row[2 * x + 1] = uint8_t(v >> 8);
                    break;
                }
                case 24: row[3 * x] = uint8_t(b); row[3 * x + 1] = uint8_t(g); row[3 * x + 2] = uint8_t(r); break;
                case 32: {
                    const uint32_t v = packChannel(r, masks[0]) | packChannel(g, masks[1]) | packChannel(b, masks[2]);
                    for (int i = 0; i < 4; ++i) row[4 * x + i] = uint8_t(v >> (8 * i));
                    break;
                }
                }
            }
            pix.out.insert(pix.out.end(), row.begin(), row.end());
        }
    }
    ByteWriter head;
    if (core) {
        head.u32(12);
        head.u16(img.w);
        head.u16(img.h);
        head.u16(1);
        head.u16(k.bits);
        const size_t entries = k.bits <= 8 ? (size_t(1) << k.bits) : 0;
        for (size_t i = 0; i < entries; ++i) {
            const uint32_t c = i < palette.size() ? palette[i] : 0;
            head.u8(c);
            head.u8(c >> 8);
            head.u8(c >> 16);
        }
    } else {
        head.u32(40);
        head.u32(uint32_t(img.w));
        head.u32(uint32_t(k.topDown ? -img.h : img.h));
        head.u16(1);
        head.u16(k.bits);
        head.u32(k.compression);
        head.u32(k.compression == 1 || k.compression == 2 ? uint32_t(pix.out.size()) : 0);
        head.u32(2835);
        head.u32(2835);
        head.u32(uint32_t(palette.size()));
        head.u32(0);
        if (k.compression == 3)
            for (uint32_t m : k.masks) head.u32(m);
        for (uint32_t c : palette) head.u32(c);
    }
    ByteWriter file;
    if (k.fileHeader) {
        file.u16(0x4D42);
        file.u32(uint32_t(14 + head.out.size() + pix.out.size()));
        file.u32(0);
        file.u32(uint32_t(14 + head.out.size()));
    }
    file.out.insert(file.out.end(), head.out.begin(), head.out.end());
    file.out.insert(file.out.end(), pix.out.begin(), pix.out.end());
    return file.out;
}

// A 13 x 7 test picture in eight colours (odd width: every row needs padding).
inline Pixels eightColours() {
    Pixels p(13, 7);
    const uint32_t c[8] = {rgb(0, 0, 0), rgb(255, 0, 0), rgb(0, 255, 0), rgb(0, 0, 255),
                           rgb(255, 255, 0), rgb(0, 255, 255), rgb(255, 0, 255), rgb(255, 255, 255)};
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x) p.at(x, y) = c[(x / 2 + y * 3) % 8];
    return p;
}

}  // namespace lumotest
