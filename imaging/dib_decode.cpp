// Decoding a packed DIB of any supported depth (palette, 16/24/32 bits with or without bit-field
// masks, RLE4, RLE8) into a 32-bit bitmap. Every index into the block is checked first.
#include <array>
#include <bit>
#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/bmp_read.h"

namespace lumo {

namespace {

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// One colour channel of a bit-field pixel, scaled to 0..255.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint64_t max = 0;
    explicit Channel(uint32_t m) : mask(m) {
        if (m) {
            shift = std::countr_zero(m);
            max = m >> shift;
        }
    }
    uint32_t operator()(uint32_t px) const {
        if (!max) return 0;
        const uint64_t v = (px & mask) >> shift;
        return static_cast<uint32_t>((v * 255 + max / 2) / max);
    }
};

void decodeRle(LumoBitmap& bm, const uint8_t* s, size_t n, bool four, const std::array<uint32_t, 256>& pal) {
    const int64_t w = bm.nWidth, h = bm.nHeight;
    int64_t x = 0, y = 0;  // y counts from the bottom row
    auto put = [&](uint8_t index) {
        if (x >= 0 && x < w && y >= 0 && y < h) bm.lpPixels[(h - 1 - y) * w + x] = pal[index];
        ++x;
    };
    size_t i = 0;
    while (i + 1 < n && y < h) {
        const uint8_t count = s[i], value = s[i + 1];
        i += 2;
        if (count > 0) {
            for (int k = 0; k < count; ++k) put(four ? ((k & 1) ? (value & 15) : (value >> 4)) : value);
            continue;
        }
        if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (i + 1 >= n) break;
            x += s[i];
            y += s[i + 1];
            i += 2;
        } else {
            const size_t bytes = four ? (size_t(value) + 1) / 2 : value;
            if (i + bytes > n) break;
            for (int k = 0; k < value; ++k) {
                const uint8_t b = four ? s[i + k / 2] : s[i + k];
                put(four ? ((k & 1) ? (b & 15) : (b >> 4)) : b);
            }
            i += (bytes + 1) & ~size_t{1};  // runs are padded to 16 bits
        }
    }
}

}  // namespace

LumoBitmap* decodePackedDib(const LumoDibBlock& block, const ImageLimits& limits) {
    if (!block.data || block.size < kInfoHeaderSize) return nullptr;
    const uint8_t* base = block.data.get();
    LumoBitmapInfoHeader h;
    std::memcpy(&h, base, sizeof h);
    auto d = describeDib(h, limits);
    if (!d) return nullptr;
    const size_t start = kInfoHeaderSize + d->tableBytes;
    if (start > block.size) return nullptr;
    const size_t avail = block.size - start;
    const bool compressed = d->compression == kBiRle8 || d->compression == kBiRle4;
    // An uncompressed block may hold fewer rows than the header claims (a short file): the
    // missing bytes read as zero.

    BitmapPtr bm(newBitmap(d->width, d->height));
    if (!bm) return nullptr;
    std::array<uint32_t, 256> pal{};
    const uint8_t* table = base + kInfoHeaderSize + d->maskBytes;
    for (uint32_t i = 0; i < d->colours && i < 256; ++i)
        pal[i] = (uint32_t{table[4 * i + 2]} << 16) | (uint32_t{table[4 * i + 1]} << 8) | table[4 * i];
    const uint8_t* pixels = base + start;

    if (compressed) {
        decodeRle(*bm, pixels, std::min<size_t>(avail, h.biSizeImage), d->compression == kBiRle4, pal);
        return bm.release();
    }

    uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (d->bits == 32) masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    if (d->compression == kBiBitfields)
        for (int c = 0; c < 3; ++c) masks[c] = le32(base + kInfoHeaderSize + 4 * c);
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]);

    const int32_t w = d->width;
    std::vector<uint8_t> padded;  // a row cut short by the end of the block, zero-extended
    for (int32_t s = 0; s < d->height; ++s) {
        const size_t at = size_t(s) * d->stride;
        const uint8_t* row;
        if (avail >= at + d->stride) {
            row = pixels + at;
        } else {
            if (padded.empty()) padded.resize(d->stride);
            std::fill(padded.begin(), padded.end(), 0);
            if (avail > at) std::memcpy(padded.data(), pixels + at, avail - at);
            row = padded.data();
        }
        uint32_t* out = bm->lpPixels + size_t(d->topDown ? s : d->height - 1 - s) * size_t(w);
        switch (d->bits) {
        case 1:
            for (int32_t x = 0; x < w; ++x) out[x] = pal[(row[x >> 3] >> (7 - (x & 7))) & 1];
            break;
        case 4:
            for (int32_t x = 0; x < w; ++x) out[x] = pal[(row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
            break;
        case 8:
            for (int32_t x = 0; x < w; ++x) out[x] = pal[row[x]];
            break;
        case 16:
            for (int32_t x = 0; x < w; ++x) {
                const uint32_t px = row[2 * x] | (uint32_t{row[2 * x + 1]} << 8);
                out[x] = (red(px) << 16) | (green(px) << 8) | blue(px);
            }
            break;
        case 24:
            for (int32_t x = 0; x < w; ++x)
                out[x] = (uint32_t{row[3 * x + 2]} << 16) | (uint32_t{row[3 * x + 1]} << 8) | row[3 * x];
            break;
        case 32:
            for (int32_t x = 0; x < w; ++x) {
                const uint32_t px = le32(row + 4 * x);
                out[x] = (red(px) << 16) | (green(px) << 8) | blue(px);
            }
            break;
        }
    }
    return bm.release();
}

}  // namespace lumo
