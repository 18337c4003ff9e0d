// SSSE3 kernels for 24-bit pixel rows: sixteen pixels (48 bytes) are split into their three
// byte planes with shuffles, judged or converted as vectors, and put back together. Used only
// when the processor has SSSE3 (hasSsse3()); every caller keeps a scalar path.
#pragma once

#include <immintrin.h>

#include <array>
#include <cstdint>

#include "imaging/scan.h"

#define LUMO_SSSE3 __attribute__((target("ssse3")))
#define LUMO_AVX2 __attribute__((target("avx2")))

namespace lumo::simd {

inline bool hasSsse3() {
    static const bool yes = __builtin_cpu_supports("ssse3");
    return yes;
}

inline bool hasAvx2() {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}

// Shuffle masks: byte plane ch (0..2) from input vector v (0..2), and the reverse.
struct Masks {
    alignas(16) uint8_t split[3][3][16];
    alignas(16) uint8_t merge[3][3][16];  // [output vector][plane]
    constexpr Masks() : split{}, merge{} {
        for (int ch = 0; ch < 3; ++ch)
            for (int v = 0; v < 3; ++v)
                for (int k = 0; k < 16; ++k) {
                    const int idx = 3 * k + ch;
                    split[ch][v][k] = idx / 16 == v ? uint8_t(idx % 16) : 0x80;
                    const int g = 16 * v + k;
                    merge[v][ch][k] = g % 3 == ch ? uint8_t(g / 3) : 0x80;
                }
    }
};
inline constexpr Masks kMasks;

// Masks that gather, straight from the raw vectors, the (blue, green) byte pairs and the (red, 0)
// pairs of pixels 8h..8h+7: one pmaddubsw and one add then give the sums without splitting.
struct SumMasks {
    alignas(16) uint8_t bg[2][3][16];
    alignas(16) uint8_t r[2][3][16];
    alignas(16) uint8_t keep[3][16];  // 0xFF on the red bytes of output vector v
    constexpr SumMasks() : bg{}, r{}, keep{} {
        for (int h = 0; h < 2; ++h)
            for (int v = 0; v < 3; ++v)
                for (int j = 0; j < 8; ++j) {
                    const int k = 8 * h + j;
                    auto pick = [&](int byte) { return byte / 16 == v ? uint8_t(byte % 16) : uint8_t(0x80); };
                    bg[h][v][2 * j] = pick(3 * k);
                    bg[h][v][2 * j + 1] = pick(3 * k + 1);
                    r[h][v][2 * j] = pick(3 * k + 2);
                    r[h][v][2 * j + 1] = 0x80;
                }
        for (int v = 0; v < 3; ++v)
            for (int j = 0; j < 16; ++j) keep[v][j] = (16 * v + j) % 3 == 2 ? 0xFF : 0;
    }
};
inline constexpr SumMasks kSumMasks;

struct Planes {
    __m128i c0, c1, c2;  // bytes 0, 1, 2 of sixteen pixels (blue, green, red before the pre-scan)
};

LUMO_SSSE3 inline __m128i mask(const uint8_t* m) { return _mm_load_si128(reinterpret_cast<const __m128i*>(m)); }

LUMO_SSSE3 inline __m128i plane(__m128i a0, __m128i a1, __m128i a2, int ch) {
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a0, mask(kMasks.split[ch][0])),
                                     _mm_shuffle_epi8(a1, mask(kMasks.split[ch][1]))),
                        _mm_shuffle_epi8(a2, mask(kMasks.split[ch][2])));
}

LUMO_SSSE3 inline Planes split(const uint8_t* p) {
    const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i a2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    return {plane(a0, a1, a2, 0), plane(a0, a1, a2, 1), plane(a0, a1, a2, 2)};
}

LUMO_SSSE3 inline void merge(uint8_t* p, const Planes& s) {
    for (int v = 0; v < 3; ++v) {
        const __m128i out = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(s.c0, mask(kMasks.merge[v][0])),
                                                      _mm_shuffle_epi8(s.c1, mask(kMasks.merge[v][1]))),
                                         _mm_shuffle_epi8(s.c2, mask(kMasks.merge[v][2])));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16 * v), out);
    }
}

// Unsigned byte a > b.
LUMO_SSSE3 inline __m128i gtU8(__m128i a, __m128i b) {
    const __m128i bias = _mm_set1_epi8(char(0x80));
    return _mm_cmpgt_epi8(_mm_xor_si128(a, bias), _mm_xor_si128(b, bias));
}

// 0xFF bytes where the pixel qualifies under colour value C.
template <int C>
LUMO_SSSE3 inline __m128i colourMask(const Planes& s) {
    const __m128i b = s.c0, g = s.c1, r = s.c2;
    if constexpr (C == 0) return _mm_set1_epi8(char(0xFF));
    else if constexpr (C == 1 || C == 3 || C == 5) return _mm_and_si128(gtU8(r, g), gtU8(r, b));
    else if constexpr (C == 2 || C == 6) return _mm_and_si128(gtU8(g, b), gtU8(g, r));
    else if constexpr (C == 4) return _mm_and_si128(gtU8(b, g), gtU8(b, r));
    else return _mm_and_si128(_mm_cmpeq_epi8(r, g), _mm_cmpeq_epi8(g, b));
}

// Comparison M on 16-bit lanes; all-ones where met.
template <int M>
LUMO_SSSE3 inline __m128i compare16(__m128i v, __m128i lo, __m128i hi) {
    const __m128i above = _mm_cmpgt_epi16(v, hi);  // v > hi
    const __m128i below = _mm_cmpgt_epi16(lo, v);  // v < lo
    const __m128i ones = _mm_set1_epi16(-1);
    if constexpr (M == 1) return above;
    else if constexpr (M == 2) return _mm_andnot_si128(_mm_or_si128(above, below), ones);
    else if constexpr (M == 3) return _mm_andnot_si128(below, ones);
    else if constexpr (M == 4) return below;
    else if constexpr (M == 5) return _mm_or_si128(above, below);
    else return _mm_andnot_si128(above, ones);
}

// Comparison M of sixteen 16-bit values given as two halves; byte mask of the sixteen results.
template <int M>
LUMO_SSSE3 inline __m128i compareBytes(__m128i low, __m128i high, __m128i lo, __m128i hi) {
    return _mm_packs_epi16(compare16<M>(low, lo, hi), compare16<M>(high, lo, hi));
}

// Sums b + g + r of sixteen pixels as two vectors of eight 16-bit lanes.
LUMO_SSSE3 inline void sums(const Planes& s, __m128i& low, __m128i& high) {
    const __m128i z = _mm_setzero_si128();
    low = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(s.c0, z), _mm_unpacklo_epi8(s.c1, z)), _mm_unpacklo_epi8(s.c2, z));
    high = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(s.c0, z), _mm_unpackhi_epi8(s.c1, z)), _mm_unpackhi_epi8(s.c2, z));
}

// Offsets of the 16-pixel blocks that cover a segment of n >= 16 pixels: 0, 16, ... and a last
// block placed at the segment's end (it may overlap the one before), so nothing beyond the
// segment is read.
inline int32_t nextBlock(int32_t at, int32_t n) { return at + 32 <= n ? at + 16 : (at + 16 < n ? n - 16 : n); }

// ---- AVX2: two independent blocks of sixteen pixels, one per 128-bit lane -----------------------

struct Planes2 {
    __m256i c0, c1, c2;
};

LUMO_AVX2 inline __m256i mask2(const uint8_t* m) {
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(m)));
}

LUMO_AVX2 inline __m256i load2(const uint8_t* a, const uint8_t* b) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), 1);
}

struct Raw2 {
    __m256i a0, a1, a2;  // the 48 bytes of each block, lane by lane
};

LUMO_AVX2 inline Raw2 loadRaw2(const uint8_t* a, const uint8_t* b) { return {load2(a, b), load2(a + 16, b + 16), load2(a + 32, b + 32)}; }

// Sums of pixels 8h..8h+7, whose bytes lie in raw vectors x (number h) and y (number h + 1).
LUMO_AVX2 inline __m256i halfSums2(__m256i x, __m256i y, int h) {
    const __m256i bg = _mm256_or_si256(_mm256_shuffle_epi8(x, mask2(kSumMasks.bg[h][h])),
                                       _mm256_shuffle_epi8(y, mask2(kSumMasks.bg[h][h + 1])));
    const __m256i r = _mm256_or_si256(_mm256_shuffle_epi8(x, mask2(kSumMasks.r[h][h])),
                                      _mm256_shuffle_epi8(y, mask2(kSumMasks.r[h][h + 1])));
    return _mm256_add_epi16(_mm256_maddubs_epi16(bg, _mm256_set1_epi8(1)), r);
}

// Sums b + g + r of both blocks' pixels 0..7 (low) and 8..15 (high), as 16-bit lanes.
LUMO_AVX2 inline void rawSums2(const Raw2& w, __m256i& low, __m256i& high) {
    low = halfSums2(w.a0, w.a1, 0);
    high = halfSums2(w.a1, w.a2, 1);
}

// The 96 bytes of 32 pixels as three whole vectors, regrouped as the simd:: AVX2 helpers lay them
// out: lane 0 holds pixels 0..15 and lane 1 pixels 16..31, bytes 16 v .. 16 v + 15 of each lane
// in vector v. store96 is the reverse.
LUMO_AVX2 inline void load96(const uint8_t* a, __m256i (&v)[3]) {
    const __m256i m0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
    const __m256i m1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + 32));
    const __m256i m2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + 64));
    v[0] = _mm256_permute2x128_si256(m0, m1, 0x30);
    v[1] = _mm256_permute2x128_si256(m0, m2, 0x21);
    v[2] = _mm256_permute2x128_si256(m1, m2, 0x30);
}

LUMO_AVX2 inline void store96(uint8_t* a, const __m256i (&v)[3]) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(a), _mm256_permute2x128_si256(v[0], v[1], 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(a + 32), _mm256_permute2x128_si256(v[2], v[0], 0x30));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(a + 64), _mm256_permute2x128_si256(v[1], v[2], 0x31));
}

LUMO_AVX2 inline __m256i plane2(__m256i a0, __m256i a1, __m256i a2, int ch) {
    return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(a0, mask2(kMasks.split[ch][0])),
                                           _mm256_shuffle_epi8(a1, mask2(kMasks.split[ch][1]))),
                           _mm256_shuffle_epi8(a2, mask2(kMasks.split[ch][2])));
}

// Lane 0 holds the sixteen pixels at a, lane 1 those at b.
LUMO_AVX2 inline Planes2 split2(const uint8_t* a, const uint8_t* b) {
    const __m256i a0 = load2(a, b), a1 = load2(a + 16, b + 16), a2 = load2(a + 32, b + 32);
    return {plane2(a0, a1, a2, 0), plane2(a0, a1, a2, 1), plane2(a0, a1, a2, 2)};
}

LUMO_AVX2 inline void merge2(uint8_t* a, uint8_t* b, const Planes2& s) {
    for (int v = 0; v < 3; ++v) {
        const __m256i out = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(s.c0, mask2(kMasks.merge[v][0])),
                                                            _mm256_shuffle_epi8(s.c1, mask2(kMasks.merge[v][1]))),
                                            _mm256_shuffle_epi8(s.c2, mask2(kMasks.merge[v][2])));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(a + 16 * v), _mm256_castsi256_si128(out));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(b + 16 * v), _mm256_extracti128_si256(out, 1));
    }
}

LUMO_AVX2 inline __m256i gtU8x2(__m256i a, __m256i b) {
    const __m256i bias = _mm256_set1_epi8(char(0x80));
    return _mm256_cmpgt_epi8(_mm256_xor_si256(a, bias), _mm256_xor_si256(b, bias));
}

template <int C>
LUMO_AVX2 inline __m256i colourMask2(const Planes2& s) {
    const __m256i b = s.c0, g = s.c1, r = s.c2;
    if constexpr (C == 0) return _mm256_set1_epi8(char(0xFF));
    else if constexpr (C == 1 || C == 3 || C == 5) return _mm256_and_si256(gtU8x2(r, g), gtU8x2(r, b));
    else if constexpr (C == 2 || C == 6) return _mm256_and_si256(gtU8x2(g, b), gtU8x2(g, r));
    else if constexpr (C == 4) return _mm256_and_si256(gtU8x2(b, g), gtU8x2(b, r));
    else return _mm256_and_si256(_mm256_cmpeq_epi8(r, g), _mm256_cmpeq_epi8(g, b));
}

template <int M>
LUMO_AVX2 inline __m256i compare16x2(__m256i v, __m256i lo, __m256i hi) {
    const __m256i above = _mm256_cmpgt_epi16(v, hi);
    const __m256i below = _mm256_cmpgt_epi16(lo, v);
    const __m256i ones = _mm256_set1_epi16(-1);
    if constexpr (M == 1) return above;
    else if constexpr (M == 2) return _mm256_andnot_si256(_mm256_or_si256(above, below), ones);
    else if constexpr (M == 3) return _mm256_andnot_si256(below, ones);
    else if constexpr (M == 4) return below;
    else if constexpr (M == 5) return _mm256_or_si256(above, below);
    else return _mm256_andnot_si256(above, ones);
}

template <int M>
LUMO_AVX2 inline __m256i compareBytes2(__m256i low, __m256i high, __m256i lo, __m256i hi) {
    return _mm256_packs_epi16(compare16x2<M>(low, lo, hi), compare16x2<M>(high, lo, hi));
}

LUMO_AVX2 inline void sums2(const Planes2& s, __m256i& low, __m256i& high) {
    const __m256i z = _mm256_setzero_si256();
    low = _mm256_add_epi16(_mm256_add_epi16(_mm256_unpacklo_epi8(s.c0, z), _mm256_unpacklo_epi8(s.c1, z)),
                           _mm256_unpacklo_epi8(s.c2, z));
    high = _mm256_add_epi16(_mm256_add_epi16(_mm256_unpackhi_epi8(s.c0, z), _mm256_unpackhi_epi8(s.c1, z)),
                            _mm256_unpackhi_epi8(s.c2, z));
}

}  // namespace lumo::simd
