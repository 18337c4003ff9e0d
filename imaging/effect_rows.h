// What the effect passes share: bit-row helpers, the marker's rows, grey encoding, the pixel merge
// of the AVX2 row writers and the row writer (effects.cpp), and Character Mode's entry points
// (character_mode.cpp). Internal to the image library.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "imaging/effects.h"
#include "imaging/simd_pixels.h"
#include "imaging/simd_wide.h"

namespace lumo::fx {

inline int64_t wordsOf(int64_t n) { return (n + 63) / 64; }
inline int64_t roundUp(int64_t n, int64_t to) { return (n + to - 1) / to * to; }

// The widest vector level the processor has, up to maxLevel: 0 scalar, 1 SSSE3, 2 AVX2, 3 AVX-512.
int levelUpTo(int maxLevel);

// The lanes of chunk c (eight words) that lie within a row of `words` words.
inline __mmask8 chunkLanes(int64_t words, int64_t c) {
    return static_cast<__mmask8>(words - 8 * c >= 8 ? 0xFF : (1u << (words - 8 * c)) - 1);
}

// Chunk c of a row of `words` words, clear beyond the row.
LUMO_AVX512 inline __m512i loadChunk(const uint64_t* row, int64_t words, int64_t c) {
    return 8 * c < words ? _mm512_maskz_loadu_epi64(chunkLanes(words, c), row + 8 * c) : _mm512_setzero_si512();
}

// 32 bits to 32 bytes of 0 or 0xFF.
LUMO_AVX2 inline __m256i bitsToBytes(uint32_t m) {
    const __m256i spread = _mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int>(m)),
                                               _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1,  //
                                                                2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3));
    const __m256i sel = _mm256_set1_epi64x(static_cast<int64_t>(0x8040201008040201ull));
    return _mm256_cmpeq_epi8(_mm256_and_si256(spread, sel), sel);
}

// The marker of comparison m (1..6): bits of one row's n pixels at a vector level.
using MarkFn = void (*)(const uint8_t*, int32_t, int, int, uint64_t*, int);
MarkFn markerFor(int m);

// Marker bits of the rows in order: taken from the bits the pre-scan made while encoding
// (premarked), or made here on demand into a ring of four rows.
class RowMarks {
public:
    RowMarks(const Image& im, int m, int lo, int hi, EffectScratch& sc, int level, bool premarked)
        : im_(im), words_(wordsOf(im.width)), mark_(markerFor(m)), lo_(lo), hi_(hi), level_(level),
          premarked_(premarked), all_(sc.marks.data()), ring_(sc.bits.data() + 6 * wordsOf(im.width)) {}
    // Bits of row y; valid until row y + 4 is asked for.
    const uint64_t* row(int32_t y) {
        if (premarked_) return all_ + y * words_;
        uint64_t* slot = ring_ + (y & 3) * words_;
        if (have_[y & 3] != y) {
            mark_(im_.row(y), im_.width, lo_, hi_, slot, level_);
            have_[y & 3] = y;
        }
        return slot;
    }

private:
    const Image& im_;
    int64_t words_;
    MarkFn mark_;
    int lo_, hi_, level_;
    bool premarked_;
    const uint64_t* all_;
    uint64_t* ring_;
    int32_t have_[4] = {-1, -1, -1, -1};
};

// 8 bits to 8 bytes of 0 or 1.
struct Spread {
    uint64_t v[256];
    constexpr Spread() : v{} {
        for (int b = 0; b < 256; ++b)
            for (int k = 0; k < 8; ++k)
                if (b & (1 << k)) v[b] |= uint64_t{1} << (8 * k);
    }
};
inline constexpr Spread kSpread;

// Grey encoding of n colour pixels in place: byte 0 = 1, byte 1 = (b + g + r) / 3.
void encodeGrey(uint8_t* p, int64_t n);

// Masks that keep bytes 0 and 1 of each pixel of output vector v.
struct KeepMasks {
    alignas(16) uint8_t keep01[3][16];
    constexpr KeepMasks() : keep01{} {
        for (int v = 0; v < 3; ++v)
            for (int j = 0; j < 16; ++j) keep01[v][j] = (16 * v + j) % 3 == 2 ? 0 : 0xFF;
    }
};
inline constexpr KeepMasks kKeep;

// Byte masks that place the bytes of one vector (one per pixel) into the three vectors of 32
// pixels, and keep bytes 0 and 1 of each pixel.
struct PixelMerge {
    __m256i keep[3], flags[3], grey[3], set[3];
};
LUMO_AVX2 inline PixelMerge pixelMerge() {
    PixelMerge m;
    for (int v = 0; v < 3; ++v) {
        m.keep[v] = simd::mask2(kKeep.keep01[v]);
        m.flags[v] = simd::mask2(simd::kMasks.merge[v][0]);
        m.grey[v] = simd::mask2(simd::kMasks.merge[v][1]);
        m.set[v] = simd::mask2(simd::kMasks.merge[v][2]);
    }
    return m;
}

// Rewrites the 32 pixels at a, read as raw: with Raw (colour pixels) byte 0 = flags and byte 1 =
// the grey level (sum * 21846 >> 16 equals sum / 3), else byte 0 gains flags and byte 1 stays;
// byte 2 = set.
template <bool Raw>
LUMO_AVX2 inline void mergePixels32(uint8_t* a, const __m256i (&raw)[3], __m256i flags, __m256i set, const PixelMerge& m) {
    __m256i out[3];
    if constexpr (Raw) {
        const __m256i third = _mm256_set1_epi16(21846);
        __m256i low, high;
        simd::rawSums2(simd::Raw2{raw[0], raw[1], raw[2]}, low, high);
        const __m256i grey = _mm256_packus_epi16(_mm256_mulhi_epu16(low, third), _mm256_mulhi_epu16(high, third));
#pragma GCC unroll 3
        for (int v = 0; v < 3; ++v)
            out[v] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(grey, m.grey[v]), _mm256_shuffle_epi8(flags, m.flags[v])),
                                     _mm256_shuffle_epi8(set, m.set[v]));
    } else {
#pragma GCC unroll 3
        for (int v = 0; v < 3; ++v)
            out[v] = _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(raw[v], m.keep[v]), _mm256_shuffle_epi8(flags, m.flags[v])),
                                     _mm256_shuffle_epi8(set, m.set[v]));
    }
    simd::store96(a, out);
}

// n pixels of row p: byte 0 |= orBytes[x], byte 2 = setBytes[x]; next is the row written after it
// (p itself when none). With raw (vector level 2 only) the row holds colour pixels and is
// grey-encoded first.
void writeRow(uint8_t* p, int32_t n, const uint8_t* orBytes, const uint8_t* setBytes, int level, const uint8_t* next,
              bool raw = false);

// Character Mode: the bytes of work memory it needs for an image of width x height, and the
// effect itself (level: the vector level; raw: the rows still hold colour pixels).
size_t characterModeBytes(int32_t width, int32_t height);
bool characterMode(const Image& im, RowMarks& marks, const EffectParams& pr, EffectScratch& sc, int level, bool raw);

}  // namespace lumo::fx
