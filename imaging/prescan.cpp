// The pre-scan (pixel encoding with the histogram, automatic threshold, and the marker and effects
// of effects.cpp) and lumoFindDot. Everything works in place on the image; byte 2 of each pixel
// is the effects' work area.
#include <algorithm>
#include <cstring>

#include "imaging/effects.h"
#include "imaging/scan.h"
#include "imaging/simd_pixels.h"
#include "imaging/simd_wide.h"
#include "imaging/workers.h"

using namespace lumo;

namespace {

// Conversion of one row: byte 0 = qualifies under C, byte 1 = grey level.
template <int C>
void encodeRow(uint8_t* p, int32_t n) {
    for (int32_t i = 0; i < n; ++i, p += 3) {
        const int b = p[0], g = p[1], r = p[2];
        p[0] = static_cast<uint8_t>(colourOk<C>(b, g, r));
        p[1] = static_cast<uint8_t>((b + g + r) / 3);
    }
}

// The marker's comparison for the grey kernels, which mark rows as they encode them (every flag
// is 1 there): grey levels in [a, b] meet it, or with outside those beyond it. An empty range
// is a = 255, b = 0. bits is the row's marker words, zeroed before the row is encoded.
struct GreyMark {
    uint64_t* bits = nullptr;
    int a = 255, b = 0;
    bool outside = false;

    GreyMark() = default;
    // Comparison m (1..6) with bounds lo/hi on grey levels.
    GreyMark(int m, int lo, int hi) {
        int from = lo, to = hi;
        switch (m) {
        case 1: from = hi + 1, to = 255; break;
        case 3: to = 255; break;
        case 4: to = 255, outside = true; break;  // below lo: not in [lo, 255]
        case 5: outside = true; break;
        case 6: from = 0; break;
        default: break;
        }
        if (from <= to && from <= 255 && to >= 0) a = std::max(from, 0), b = std::min(to, 255);
    }
    bool meets(int v) const { return (v >= a && v <= b) != outside; }
    // Marks of pixels x .. x + n - 1 from their encoded bytes at p.
    void markEncoded(const uint8_t* p, int64_t x, int64_t n) const {
        for (int64_t j = 0; j < n; ++j)
            if (meets(p[3 * j + 1])) bits[(x + j) >> 6] |= uint64_t{1} << ((x + j) & 63);
    }
    // ORs in the marks of pixels x .. x + 31 (bit j for pixel x + j).
    void set32(int64_t x, uint32_t m) const {
        const int64_t k = x >> 6;
        const int s = int(x & 63);
        bits[k] |= uint64_t{m} << s;
        if (s > 32) bits[k + 1] |= uint64_t{m} >> (64 - s);
    }
    // ORs in the marks of pixels x .. x + 63, all of them inside the row.
    void set64(int64_t x, uint64_t m) const {
        const int64_t k = x >> 6;
        const int s = int(x & 63);
        bits[k] |= m << s;
        if (s) bits[k + 1] |= m >> (64 - s);
    }
};

// Marks of 32 grey levels (bytes of g in pixel order) under gm, given as broadcast bytes a, b
// and flip (all ones with outside).
LUMO_AVX2 inline uint32_t greyMarks32(__m256i g, __m256i a, __m256i b, __m256i flip) {
    const __m256i in = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(g, a), g), _mm256_cmpeq_epi8(_mm256_min_epu8(g, b), g));
    return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_xor_si256(in, flip)));
}

struct GreyMarkVectors {
    __m256i a, b, flip;
};
LUMO_AVX2 inline GreyMarkVectors vectorsOf(const GreyMark& gm) {
    return {_mm256_set1_epi8(static_cast<char>(gm.a)), _mm256_set1_epi8(static_cast<char>(gm.b)),
            _mm256_set1_epi8(gm.outside ? -1 : 0)};
}

// Counts encoded pixels into four partial histograms (so runs of one level, such as a plain
// background, do not serialise on one counter); returns how many qualified.
inline uint32_t countPixels(const uint8_t* p, int32_t n, uint32_t (*part)[256]) {
    uint32_t qualified = 0;
    int32_t i = 0;
    for (; i + 4 <= n; i += 4, p += 12) {
        part[0][p[1]] += p[0];
        part[1][p[4]] += p[3];
        part[2][p[7]] += p[6];
        part[3][p[10]] += p[9];
        qualified += p[0] + p[3] + p[6] + p[9];
    }
    for (; i < n; ++i, p += 3) {
        part[0][p[1]] += p[0];
        qualified += p[0];
    }
    return qualified;
}

// Converts n pixels sixteen at a time (grey = sum * 21846 >> 16, which equals sum / 3 for every
// sum up to 765) and, with Count, adds them to the histogram: a block of sixteen equal pixels
// is counted at once. Returns how many qualified.
template <int C, bool Count>
LUMO_SSSE3 uint32_t encodeSimd(uint8_t* p, int32_t n, uint32_t (*part)[256]) {
    const __m128i third = _mm_set1_epi16(21846), one = _mm_set1_epi8(1);
    uint32_t qualified = 0;
    int32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        simd::Planes s = simd::split(p + 3 * i);
        __m128i low, high;
        simd::sums(s, low, high);
        const __m128i grey = _mm_packus_epi16(_mm_mulhi_epu16(low, third), _mm_mulhi_epu16(high, third));
        const __m128i flag = _mm_and_si128(simd::colourMask<C>(s), one);
        s.c0 = flag;
        s.c1 = grey;
        simd::merge(p + 3 * i, s);
        if constexpr (Count) {
            // Sixteen pixels of one level and one flag: every byte equal to the first one.
            const __m128i first = _mm_shuffle_epi8(grey, _mm_setzero_si128());
            const __m128i firstFlag = _mm_shuffle_epi8(flag, _mm_setzero_si128());
            const bool uniform = _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(grey, first), _mm_cmpeq_epi8(flag, firstFlag))) == 0xFFFF;
            if (uniform) {
                const uint32_t f = static_cast<uint32_t>(_mm_cvtsi128_si32(flag) & 1);
                part[0][_mm_cvtsi128_si32(grey) & 255] += 16 * f;
                qualified += 16 * f;
            } else {
                qualified += countPixels(p + 3 * i, 16, part);
            }
        }
    }
    encodeRow<C>(p + 3 * i, n - i);
    if constexpr (Count) qualified += countPixels(p + 3 * i, n - i, part);
    return qualified;
}

// Counts the grey levels of qualifying pixels thirty-two at a time against four levels held in
// vectors: a screen row holds few levels (background, text, rules, a fill), so most steps are four
// compares and bit counts, with no branch taken and no memory written. A pixel of another level
// is counted on its own, and the first such level enters the four in front while the last one
// leaves (its count moved into the histogram), so the four never hold one level twice.
// Everything is inlined into the encoding loops; the counts stay in general registers, which
// the vector work of those loops does not compete for.
struct LevelCounter {
    uint32_t (*part)[256];
    __m256i l0, l1, l2, l3;  // the levels, broadcast
    uint32_t v0 = 255, v1 = 0, v2 = 240, v3 = 16;
    uint32_t n0 = 0, n1 = 0, n2 = 0, n3 = 0;

    // Starts with the levels a light background, black text and the greys next to them take.
    [[gnu::always_inline]] LUMO_AVX2 inline explicit LevelCounter(uint32_t (*p)[256])
        : part(p), l0(_mm256_set1_epi8(char(255))), l1(_mm256_setzero_si256()), l2(_mm256_set1_epi8(char(240))),
          l3(_mm256_set1_epi8(16)) {}

    [[gnu::always_inline]] LUMO_AVX2 inline void finish() {
        part[0][v0] += n0;
        part[1][v1] += n1;
        part[2][v2] += n2;
        part[3][v3] += n3;
        n0 = n1 = n2 = n3 = 0;
    }
    [[gnu::always_inline]] LUMO_AVX2 inline void add(__m256i g) {
        const auto e0 = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(g, l0)));
        const auto e1 = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(g, l1)));
        const auto e2 = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(g, l2)));
        const auto e3 = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(g, l3)));
        n0 += static_cast<uint32_t>(__builtin_popcount(e0));
        n1 += static_cast<uint32_t>(__builtin_popcount(e1));
        n2 += static_cast<uint32_t>(__builtin_popcount(e2));
        n3 += static_cast<uint32_t>(__builtin_popcount(e3));
        const uint32_t known = e0 | e1 | e2 | e3;
        if (__builtin_expect(known != 0xFFFFFFFFu, 0)) others(g, ~known);
    }
    [[gnu::always_inline]] LUMO_AVX2 inline void others(__m256i g, uint32_t left) {
        alignas(32) uint8_t lv[32];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lv), g);
        const uint32_t first = lv[__builtin_ctz(left)];
        for (int k = 0; left; ++k, left &= left - 1) ++part[k & 3][lv[__builtin_ctz(left)]];
        part[3][v3] += n3;
        l3 = l2, n3 = n2, v3 = v2;
        l2 = l1, n2 = n1, v2 = v1;
        l1 = l0, n1 = n0, v1 = v0;
        l0 = _mm256_set1_epi8(static_cast<char>(first)), n0 = 0, v0 = first;
    }
};

// AVX2 without a colour box: every flag is 1, so the sums come straight from the raw bytes and
// only the grey bytes are shuffled back in (the red bytes are kept, the flag bytes set).
// With Mark, also marks the n pixels into gm (x = the column of p's first pixel). Without Write
// the row is only read (levels counted and pixels marked), for an effect that encodes the rows
// itself as it rewrites them.
template <bool Count, bool Mark, bool Write = true>
LUMO_AVX2 uint32_t encodeGreyAvx2(uint8_t* p, int32_t n, uint32_t (*part)[256], const GreyMark& gm, int32_t x) {
    if (n <= 0) return 0;  // a row's empty stretch beside the window, or a row done in 64-pixel steps
    const __m256i third = _mm256_set1_epi16(21846);
    const GreyMarkVectors mv = vectorsOf(gm);
    __m256i keep[3], flags[3];
    for (int v = 0; v < 3; ++v) {
        keep[v] = simd::mask2(simd::kSumMasks.keep[v]);
        // Flag bytes: the positions of plane 0 in output vector v.
        alignas(16) uint8_t f[16];
        for (int j = 0; j < 16; ++j) f[j] = (16 * v + j) % 3 == 0 ? 1 : 0;
        flags[v] = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(f)));
    }
    uint32_t qualified = 0;
    LevelCounter counter(part);
    int32_t i = 0;
    for (; i + 32 <= n; i += 32) {
        uint8_t* a = p + 3 * i;
        __m256i raw[3];
        simd::load96(a, raw);
        __m256i low, high;
        simd::rawSums2(simd::Raw2{raw[0], raw[1], raw[2]}, low, high);
        const __m256i grey = _mm256_packus_epi16(_mm256_mulhi_epu16(low, third), _mm256_mulhi_epu16(high, third));
        if constexpr (Write) {
            __m256i out[3];
            for (int v = 0; v < 3; ++v)
                out[v] = _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(raw[v], keep[v]), flags[v]),
                                         _mm256_shuffle_epi8(grey, simd::mask2(simd::kMasks.merge[v][1])));
            simd::store96(a, out);
        }
        if constexpr (Mark) gm.set32(int64_t{x} + i, greyMarks32(grey, mv.a, mv.b, mv.flip));
        if constexpr (Count) {
            counter.add(grey);
            qualified += 32;
        }
    }
    if constexpr (Count) counter.finish();
    if constexpr (Write) {
        qualified += encodeSimd<0, Count>(p + 3 * i, n - i, part);
        if constexpr (Mark) gm.markEncoded(p + 3 * i, int64_t{x} + i, n - i);
    } else {
        for (int32_t j = i; j < n; ++j) {
            const uint8_t* q = p + 3 * j;
            const int grey = (q[0] + q[1] + q[2]) / 3;
            if constexpr (Count) ++part[j & 3][grey], ++qualified;
            if constexpr (Mark)
                if (gm.meets(grey)) gm.bits[(x + j) >> 6] |= uint64_t{1} << ((x + j) & 63);
        }
    }
    return qualified;
}

// Adds the levels of the lanes `which` of g (all 64, or a few picked by bit) to the four partial
// histograms: the slow side of WideLevelCounter, kept out of its loop.
[[gnu::noinline]] LUMO_AVX512 void countLanes(uint32_t (*part)[256], __m512i g, uint64_t which) {
    alignas(64) uint8_t lv[64];
    _mm512_store_si512(lv, g);
    if (which != ~uint64_t{0}) {
        for (; which; which &= which - 1) ++part[__builtin_ctzll(which) & 3][lv[__builtin_ctzll(which)]];
        return;
    }
    for (int j = 0; j < 64; j += 4) {
        ++part[0][lv[j]];
        ++part[1][lv[j + 1]];
        ++part[2][lv[j + 2]];
        ++part[3][lv[j + 3]];
    }
}

// LevelCounter for 64 levels a step. A step with other levels counts the first of them with a
// compare and the rest one by one when few; a step with many (a photo, a gradient) counts all its
// pixels into the partial tables instead.
// Everything but countLanes is inlined, so the levels and counts stay in registers.
struct WideLevelCounter {
    uint32_t (*part)[256];
    __m512i l0, l1, l2, l3;
    uint32_t v0 = 255, v1 = 0, v2 = 240, v3 = 16;
    uint32_t n0 = 0, n1 = 0, n2 = 0, n3 = 0;

    [[gnu::always_inline]] LUMO_AVX512 inline explicit WideLevelCounter(uint32_t (*p)[256])
        : part(p), l0(_mm512_set1_epi8(char(255))), l1(_mm512_setzero_si512()), l2(_mm512_set1_epi8(char(240))),
          l3(_mm512_set1_epi8(16)) {}

    [[gnu::always_inline]] LUMO_AVX512 inline void finish() {
        part[0][v0] += n0;
        part[1][v1] += n1;
        part[2][v2] += n2;
        part[3][v3] += n3;
        n0 = n1 = n2 = n3 = 0;
    }
    [[gnu::always_inline]] LUMO_AVX512 inline void add(__m512i g) {
        const uint64_t e0 = _mm512_cmpeq_epi8_mask(g, l0), e1 = _mm512_cmpeq_epi8_mask(g, l1);
        const uint64_t e2 = _mm512_cmpeq_epi8_mask(g, l2), e3 = _mm512_cmpeq_epi8_mask(g, l3);
        const uint64_t left = ~(e0 | e1 | e2 | e3);
        if (__builtin_expect(left == 0, 1)) {
            n0 += static_cast<uint32_t>(__builtin_popcountll(e0));
            n1 += static_cast<uint32_t>(__builtin_popcountll(e1));
            n2 += static_cast<uint32_t>(__builtin_popcountll(e2));
            n3 += static_cast<uint32_t>(__builtin_popcountll(e3));
            return;
        }
        // The first other level enters in front (counted with a compare: a step into a new
        // region is mostly that level); the last one leaves. What is left over is counted one
        // by one when few, else the whole step into the tables.
        const __m512i first = simd::permute(_mm512_set1_epi8(static_cast<char>(__builtin_ctzll(left))), g);
        const uint64_t eNew = _mm512_cmpeq_epi8_mask(g, first), rest = left & ~eNew;
        uint32_t nNew = 0;
        if (__builtin_popcountll(rest) <= 16) {
            n0 += static_cast<uint32_t>(__builtin_popcountll(e0));
            n1 += static_cast<uint32_t>(__builtin_popcountll(e1));
            n2 += static_cast<uint32_t>(__builtin_popcountll(e2));
            n3 += static_cast<uint32_t>(__builtin_popcountll(e3));
            nNew = static_cast<uint32_t>(__builtin_popcountll(eNew));
            if (rest) countLanes(part, g, rest);
        } else {
            countLanes(part, g, ~uint64_t{0});
        }
        part[3][v3] += n3;
        l3 = l2, n3 = n2, v3 = v2;
        l2 = l1, n2 = n1, v2 = v1;
        l1 = l0, n1 = n0, v1 = v0;
        l0 = first, n0 = nNew, v0 = static_cast<uint32_t>(_mm512_cvtsi512_si32(first)) & 255;
    }
};

// encodeGreyAvx2 sixty-four pixels a step; the rest (under 64) goes to it.
template <bool Count, bool Mark, bool Write>
LUMO_AVX512 uint32_t encodeGreyAvx512(uint8_t* p, int32_t n, uint32_t (*part)[256], const GreyMark& gm, int32_t x) {
    if (n <= 0) return 0;
    const __m512i a = _mm512_set1_epi8(static_cast<char>(gm.a)), b = _mm512_set1_epi8(static_cast<char>(gm.b));
    const uint64_t flip = gm.outside ? ~uint64_t{0} : 0;
    WideLevelCounter counter(part);
    int32_t i = 0;
    for (; i + 64 <= n; i += 64) {
        uint8_t* q = p + 3 * int64_t{i};
        const simd::Raw3 raw = simd::load192(q);
        const __m512i grey = simd::grey64(raw);
        if constexpr (Write)
            simd::store192(q, {simd::placeGrey(0, grey, raw.a0), simd::placeGrey(1, grey, raw.a1),
                               simd::placeGrey(2, grey, raw.a2)});
        if constexpr (Mark)
            gm.set64(int64_t{x} + i, _mm512_mask_cmple_epu8_mask(_mm512_cmpge_epu8_mask(grey, a), grey, b) ^ flip);
        if constexpr (Count) counter.add(grey);
    }
    if constexpr (Count) counter.finish();
    const uint32_t done = Count ? static_cast<uint32_t>(i) : 0;
    return done + encodeGreyAvx2<Count, Mark, Write>(p + 3 * int64_t{i}, n - i, part, gm, x + i);
}

// The widest grey kernel the processor has.
using GreyKernel = uint32_t (*)(uint8_t*, int32_t, uint32_t (*)[256], const GreyMark&, int32_t);
template <bool Count, bool Mark, bool Write>
GreyKernel greyKernel() {
    return simd::hasAvx512() ? encodeGreyAvx512<Count, Mark, Write> : encodeGreyAvx2<Count, Mark, Write>;
}

template <bool Count>
LUMO_AVX2 uint32_t encodeGreyAvx2(uint8_t* p, int32_t n, uint32_t (*part)[256]) {
    return encodeGreyAvx2<Count, false>(p, n, part, GreyMark{}, 0);
}

// Grey encoding straight from 32-bit pixels 0x??RRGGBB into encoded 24-bit pixels (1, grey, red),
// for images filled while they are encoded (no colour box, so every flag is 1): the 24-bit
// colour row is never written. With Count, adds the pixels to the histogram. Returns how many
// pixels it did (a multiple of 32; the caller does the rest with encodeGreyFrom32Tail).
// With Mark, also marks the pixels it did into gm (x = the column of out's first pixel).
template <bool Count, bool Mark>
LUMO_AVX2 int32_t encodeGreyFrom32(const uint32_t* in, uint8_t* out, int32_t n, uint32_t (*part)[256],
                                   const GreyMark& gm, int32_t x) {
    const GreyMarkVectors mv = vectorsOf(gm);
    const __m256i weights = _mm256_set1_epi32(0x00010101), ones = _mm256_set1_epi16(1);
    const __m256i third = _mm256_set1_epi32(21846), red = _mm256_set1_epi32(0x00FF0000), flag = _mm256_set1_epi32(1);
    const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                          0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    LevelCounter counter(part);
    int32_t i = 0;
    // A step writes the 96 bytes of its 32 pixels.
    for (; i + 32 <= n; i += 32) {
        __m256i grey[4], p[4];
        for (int k = 0; k < 4; ++k) {
            const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i + 8 * k));
            const __m256i sum = _mm256_madd_epi16(_mm256_maddubs_epi16(x, weights), ones);
            grey[k] = _mm256_srli_epi32(_mm256_mullo_epi32(sum, third), 16);
            const __m256i o = _mm256_or_si256(_mm256_or_si256(flag, _mm256_slli_epi32(grey[k], 8)), _mm256_and_si256(x, red));
            p[k] = _mm256_shuffle_epi8(o, pack);  // per lane: 12 bytes, then 4 spare
        }
        // Dwords 0-2 and 4-6 of each p[k] hold its 24 bytes: gather them into three whole vectors.
        auto* o = reinterpret_cast<__m256i*>(out + 3 * size_t(i));
        _mm256_storeu_si256(o, _mm256_blend_epi32(_mm256_permutevar8x32_epi32(p[0], _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 0, 0)),
                                                  _mm256_permutevar8x32_epi32(p[1], _mm256_setr_epi32(0, 0, 0, 0, 0, 0, 0, 1)), 0xC0));
        _mm256_storeu_si256(o + 1, _mm256_blend_epi32(_mm256_permutevar8x32_epi32(p[1], _mm256_setr_epi32(2, 4, 5, 6, 0, 0, 0, 0)),
                                                      _mm256_permutevar8x32_epi32(p[2], _mm256_setr_epi32(0, 0, 0, 0, 0, 1, 2, 4)), 0xF0));
        _mm256_storeu_si256(o + 2, _mm256_blend_epi32(_mm256_permutevar8x32_epi32(p[2], _mm256_setr_epi32(5, 6, 0, 0, 0, 0, 0, 0)),
                                                      _mm256_permutevar8x32_epi32(p[3], _mm256_setr_epi32(0, 0, 0, 1, 2, 4, 5, 6)), 0xFC));
        if constexpr (Count || Mark) {
            const __m256i g = _mm256_permutevar8x32_epi32(
                _mm256_packus_epi16(_mm256_packus_epi32(grey[0], grey[1]), _mm256_packus_epi32(grey[2], grey[3])), order);
            if constexpr (Mark) gm.set32(int64_t{x} + i, greyMarks32(g, mv.a, mv.b, mv.flip));
            if constexpr (Count) counter.add(g);
        }
    }
    if constexpr (Count) counter.finish();
    return i;
}

template <bool Count>
void encodeGreyFrom32Tail(const uint32_t* in, uint8_t* out, int32_t n, uint32_t (*part)[256]) {
    for (int32_t i = 0; i < n; ++i, out += 3) {
        const uint32_t c = in[i];
        const int b = c & 255, g = (c >> 8) & 255, r = (c >> 16) & 255;
        const auto grey = static_cast<uint8_t>((b + g + r) / 3);
        out[0] = 1;
        out[1] = grey;
        out[2] = static_cast<uint8_t>(r);
        if constexpr (Count) ++part[i & 3][grey];
    }
}

// Encodes pixels a..b of an image row from the source's 32-bit pixels (count pixels from left,
// black elsewhere), counting them with Count.
template <bool Count, bool Mark>
void encodeGreySpan(const uint32_t* px, int32_t left, int32_t count, int32_t a, int32_t b, uint8_t* row,
                    uint32_t (*part)[256], const GreyMark& gm) {
    static constexpr uint32_t kBlack[256] = {};
    while (a < b) {
        const bool on = a >= left && a < left + count;
        const int32_t end = on ? std::min(b, left + count) : a < left ? std::min(b, left) : b;
        const int32_t n = on ? end - a : std::min<int32_t>(end - a, 256);
        const uint32_t* in = on ? px + (a - left) : kBlack;
        const int32_t done = encodeGreyFrom32<Count, Mark>(in, row + 3 * size_t(a), n, part, gm, a);
        encodeGreyFrom32Tail<Count>(in + done, row + 3 * size_t(a + done), n - done, part);
        if constexpr (Mark) gm.markEncoded(row + 3 * size_t(a + done), a + done, n - done);
        a += n;
    }
}

// AVX2: thirty-two pixels per step (two blocks, one per lane), the rest by the SSSE3 loop.
template <int C, bool Count>
LUMO_AVX2 uint32_t encodeAvx2(uint8_t* p, int32_t n, uint32_t (*part)[256]) {
    const __m256i third = _mm256_set1_epi16(21846), one = _mm256_set1_epi8(1), z = _mm256_setzero_si256();
    uint32_t qualified = 0;
    int32_t i = 0;
    for (; i + 32 <= n; i += 32) {
        uint8_t* a = p + 3 * i;
        uint8_t* b = a + 48;
        simd::Planes2 s = simd::split2(a, b);
        __m256i low, high;
        simd::sums2(s, low, high);
        const __m256i grey = _mm256_packus_epi16(_mm256_mulhi_epu16(low, third), _mm256_mulhi_epu16(high, third));
        const __m256i flag = _mm256_and_si256(simd::colourMask2<C>(s), one);
        s.c0 = flag;
        s.c1 = grey;
        simd::merge2(a, b, s);
        if constexpr (Count) {
            const __m256i same = _mm256_and_si256(_mm256_cmpeq_epi8(grey, _mm256_shuffle_epi8(grey, z)),
                                                  _mm256_cmpeq_epi8(flag, _mm256_shuffle_epi8(flag, z)));
            const uint32_t bits = static_cast<uint32_t>(_mm256_movemask_epi8(same));
            const __m128i greyHigh = _mm256_extracti128_si256(grey, 1), flagHigh = _mm256_extracti128_si256(flag, 1);
            if ((bits & 0xFFFF) == 0xFFFF) {
                const uint32_t f = static_cast<uint32_t>(_mm256_cvtsi256_si32(flag) & 1);
                part[0][_mm256_cvtsi256_si32(grey) & 255] += 16 * f;
                qualified += 16 * f;
            } else {
                qualified += countPixels(a, 16, part);
            }
            if ((bits >> 16) == 0xFFFF) {
                const uint32_t f = static_cast<uint32_t>(_mm_cvtsi128_si32(flagHigh) & 1);
                part[1][_mm_cvtsi128_si32(greyHigh) & 255] += 16 * f;
                qualified += 16 * f;
            } else {
                qualified += countPixels(b, 16, part);
            }
        }
    }
    return qualified + encodeSimd<C, Count>(p + 3 * i, n - i, part);
}

// Marking rows while they are encoded (when the thresholds are known before the histogram): the
// row is still in the first-level cache, so the effects need not read the image again for it.
constexpr int kMaxParts = 8;

struct Premark {
    bool on = false;
    int m = 5, lo = 0, hi = 0;
    uint64_t* bits = nullptr;
    int64_t words = 0;
    // The rows are only read (grey rows on AVX2 in place): the effect encodes every row itself
    // as it rewrites it (encodesRows), so writing them here as well would be wasted.
    bool keepRows = false;
};

// Grey encoding of pixels a..b of a row from the source's 32-bit pixels, counted with Count and,
// when gm has bits, marked.
template <bool Count>
void encodeGreySpanMarked(const uint32_t* px, int32_t left, int32_t count, int32_t a, int32_t b, uint8_t* row,
                          uint32_t (*part)[256], const GreyMark& gm) {
    if (gm.bits) encodeGreySpan<Count, true>(px, left, count, a, b, row, part, gm);
    else encodeGreySpan<Count, false>(px, left, count, a, b, row, part, gm);
}

// Encodes rows y0..y1-1 and counts them into part (four partial histograms) over the window;
// returns how many qualified. Rows are marked as well with pm: by the grey kernels as they go,
// else from the encoded row while it is in the first-level cache.
template <int C>
uint64_t encodeRows(const Image& im, const Window& w, int32_t y0, int32_t y1, uint32_t (*part)[256], const Premark& pm,
                    const RowSource* source) {
    const bool simd = simd::hasSsse3();
    const bool greyAvx2 = C == 0 && simd::hasAvx2();
    auto encode = simd::hasAvx2() ? (C == 0 ? encodeGreyAvx2<false> : encodeAvx2<C, false>) : encodeSimd<C, false>;
    auto encodeCount = simd::hasAvx2() ? (C == 0 ? encodeGreyAvx2<true> : encodeAvx2<C, true>) : encodeSimd<C, true>;
    // The grey kernels of every kind, at the widest level (AVX2 at least when greyAvx2).
    const GreyKernel greyWrite = greyKernel<false, false, true>(), greyWriteCount = greyKernel<true, false, true>();
    const GreyKernel readMark = greyKernel<false, true, false>(), readMarkCount = greyKernel<true, true, false>();
    const GreyKernel writeMark = greyKernel<false, true, true>(), writeMarkCount = greyKernel<true, true, true>();
    GreyMark gm;
    if (pm.on) gm = GreyMark(pm.m, pm.lo, pm.hi);
    uint64_t qualified = 0;
    // Rows are taken in the order they lie in memory (upwards in a bottom-up image), which the
    // processor's prefetching follows; a source fills them top to bottom.
    const bool upwards = !im.topDown && !source;
    for (int32_t k = y0; k < y1; ++k) {
        const int32_t y = upwards ? y1 - 1 - (k - y0) : k;
        uint8_t* row = im.row(y);
        const bool inside = y >= w.y0 && y < w.y1;
        const bool fusedMarks = pm.on && greyAvx2;
        if (fusedMarks) {
            gm.bits = pm.bits + y * pm.words;
            std::fill_n(gm.bits, pm.words, 0);
        }
        if constexpr (C == 0) {
            if (source && source->pixels && greyAvx2) {
                int32_t left = 0, count = 0;
                const uint32_t* px = source->pixels(source->self, y, left, count);
                if (!inside) {
                    encodeGreySpanMarked<false>(px, left, count, 0, im.width, row, part, gm);
                } else {
                    encodeGreySpanMarked<false>(px, left, count, 0, w.x0, row, part, gm);
                    encodeGreySpanMarked<true>(px, left, count, w.x0, w.x1, row, part, gm);
                    encodeGreySpanMarked<false>(px, left, count, w.x1, im.width, row, part, gm);
                    qualified += uint64_t(w.x1 - w.x0);
                }
                continue;
            }
        }
        if (source) source->fill(source->self, y, row);  // the row is in the first-level cache for the encoding
        if (pm.keepRows || fusedMarks) {
            const GreyKernel plain = pm.keepRows ? readMark : writeMark, counted = pm.keepRows ? readMarkCount : writeMarkCount;
            if (!inside) {
                plain(row, im.width, part, gm, 0);
            } else {
                plain(row, w.x0, part, gm, 0);
                qualified += counted(row + 3 * w.x0, w.x1 - w.x0, part, gm, w.x0);
                plain(row + 3 * w.x1, im.width - w.x1, part, gm, w.x1);
            }
            continue;
        }
        if (greyAvx2) {
            if (!inside) {
                greyWrite(row, im.width, part, gm, 0);
            } else {
                greyWrite(row, w.x0, part, gm, 0);
                qualified += greyWriteCount(row + 3 * w.x0, w.x1 - w.x0, part, gm, w.x0);
                greyWrite(row + 3 * w.x1, im.width - w.x1, part, gm, w.x1);
            }
        } else if (simd) {
            if (!inside) {
                encode(row, im.width, part);
            } else {
                encode(row, w.x0, part);
                qualified += encodeCount(row + 3 * w.x0, w.x1 - w.x0, part);
                encode(row + 3 * w.x1, im.width - w.x1, part);
            }
        } else {
            encodeRow<C>(row, im.width);
            if (inside) qualified += countPixels(row + 3 * w.x0, w.x1 - w.x0, part);
        }
        if (pm.on) markRowBits(row, im.width, pm.m, pm.lo, pm.hi, pm.bits + y * pm.words);
    }
    return qualified;
}

// One band of rows per thread, each with its own histograms; the sums do not depend on the split.
template <int C>
struct EncodeJob {
    const Image* im;
    const Window* w;
    const Premark* pm;
    const RowSource* source;
    uint32_t sums[kMaxParts][256];
    uint64_t qualified[kMaxParts];

    static void run(void* self, int part, int parts) {
        auto& j = *static_cast<EncodeJob*>(self);
        const int64_t h = j.im->height;
        const auto y0 = static_cast<int32_t>(h * part / parts), y1 = static_cast<int32_t>(h * (part + 1) / parts);
        uint32_t tables[4][256] = {};  // on the stack of the thread doing the part
        j.qualified[part] = encodeRows<C>(*j.im, *j.w, y0, y1, tables, *j.pm, j.source);
        for (int g = 0; g < 256; ++g) j.sums[part][g] = tables[0][g] + tables[1][g] + tables[2][g] + tables[3][g];
    }
};

// Encodes the whole image and fills the histogram over the window in the same pass; returns how
// many pixels of the window did not qualify.
template <int C>
uint64_t encodeImage(const Image& im, const Window& w, uint32_t* hist, const Premark& pm, const RowSource* source) {
    // Helper threads pay off only on large images.
    const int parts = int64_t{im.width} * im.height >= (int64_t{1} << 18) ? std::min(scanThreads(), kMaxParts) : 1;
    EncodeJob<C> job;
    job.im = &im;
    job.w = &w;
    job.pm = &pm;
    job.source = source;
    runParts(parts, EncodeJob<C>::run, &job);
    uint64_t qualified = 0;
    for (int g = 0; g < 256; ++g) hist[g] = 0;
    for (int p = 0; p < parts; ++p) {
        qualified += job.qualified[p];
        for (int g = 0; g < 256; ++g) hist[g] += job.sums[p][g];
    }
    return uint64_t(w.x1 - w.x0) * uint64_t(w.y1 - w.y0) - qualified;
}

// Grey encoding of every row, for rows a kept-rows scan left as they were.
void encodeGreyRows(const Image& im) {
    uint32_t unused[4][256];
    for (int32_t y = 0; y < im.height; ++y) encodeGreyAvx2<false>(im.row(y), im.width, unused);
}

}  // namespace

TAVIK_API int32_t lumoPreScan(ScanContext* ctx) { return preScan(ctx, nullptr); }

int32_t lumo::preScan(ScanContext* ctx, const RowSource* source) {
    Image im;
    if (!openScan(ctx, im)) return 0;
    BinCondition& cond = *ctx->lpCondition;
    const bool effect = (cond.bMode & (BIN_ERASE_GRID | BIN_OUTLINE | BIN_CHARACTER)) != 0;
    // Without the automatic threshold the marker's condition is known now: mark while encoding.
    const bool premark = effect && !cond.fAutoThreshfold;
    EffectScratch& scratch = threadScratch();
    // The effects' work memory is had before anything changes: when it cannot be had, the image
    // stays as it was and the call fails (it never pretends an effect it did not apply).
    if (effect && !scratch.reserveFor(im.width, im.height, cond.bMode, premark)) {
        if (source)
            for (int32_t y = 0; y < im.height; ++y) source->fill(source->self, y, im.row(y));
        return 0;
    }
    cond.bMode |= BIN_PRESCANNED;
    cond.dwPixelCount = 1;
    std::memset(cond.adwHistogram, 0, sizeof cond.adwHistogram);
    const Window w = clampWindow(ctx->nHistLeft, ctx->nHistRight, ctx->nHistTop, ctx->nHistBottom, im);
    Premark pm;
    if (premark) {
        const bool range = (cond.bMode & BIN_RANGE) != 0;
        pm = {true, comparisonOf(cond.bMode), range ? cond.bThreshfoldMin : cond.bThreshfold,
              range ? cond.bThreshfoldMax : cond.bThreshfold, scratch.marks.data(), (int64_t{im.width} + 63) / 64};
        // An effect that rewrites every pixel encodes the rows itself: they need not be written twice.
        const EffectParams params{ctx->nLineThickness, ctx->nHLineLength, ctx->nVLineLength, ctx->nDepthLimit};
        pm.keepRows = encodesRows(cond.bMode, params) && colourOf(cond.bMode) == 0 && !source && simd::hasAvx2();
    }
    uint64_t rejected;
    switch (colourOf(cond.bMode)) {
    case 0: rejected = encodeImage<0>(im, w, cond.adwHistogram, pm, source); break;
    case 1: case 3: case 5: rejected = encodeImage<1>(im, w, cond.adwHistogram, pm, source); break;
    case 2: case 6: rejected = encodeImage<2>(im, w, cond.adwHistogram, pm, source); break;
    case 4: rejected = encodeImage<4>(im, w, cond.adwHistogram, pm, source); break;
    default: rejected = encodeImage<7>(im, w, cond.adwHistogram, pm, source); break;
    }
    const uint64_t n = uint64_t(w.x1 - w.x0) * uint64_t(w.y1 - w.y0) - rejected;
    if (n == 0) {
        if (pm.keepRows) encodeGreyRows(im);
        return 0;
    }
    cond.dwPixelCount = static_cast<uint32_t>(n);
    if (cond.fAutoThreshfold) autoThreshold(cond, cond.dwPixelCount);
    if (!effect) return 1;

    const bool range = (cond.bMode & BIN_RANGE) != 0;
    const int lo = range ? cond.bThreshfoldMin : cond.bThreshfold;
    const int hi = range ? cond.bThreshfoldMax : cond.bThreshfold;
    const EffectParams params{ctx->nLineThickness, ctx->nHLineLength, ctx->nVLineLength, ctx->nDepthLimit};
    markAndApplyEffect(im, cond.bMode, comparisonOf(cond.bMode), lo, hi, params, scratch, 3, pm.on, pm.keepRows);
    return 1;
}

TAVIK_API int32_t lumoFindDot(ScanContext* ctx, uint32_t key) {
    Image im;
    if (!openScan(ctx, im)) return 0;
    const Window win = clampWindow(ctx->nOriginX, ctx->nLimitX, ctx->nOriginY, ctx->nLimitY, im);
    auto matches = [key](const uint8_t* p) {
        return (uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16)) == key;
    };
    int32_t foundRow = -1;
    for (int32_t y = win.y0; y < win.y1 && foundRow < 0; ++y) {
        const uint8_t* row = im.row(y);
        for (int32_t x = win.x0; x < win.x1; ++x)
            if (matches(row + 3 * x)) {
                foundRow = y;
                break;
            }
    }
    if (foundRow < 0) return 0;
    ctx->nOriginY = foundRow;
    for (int32_t x = win.x0; x < win.x1; ++x)
        for (int32_t y = foundRow; y < win.y1; ++y)
            if (matches(im.row(y) + 3 * x)) {
                ctx->nOriginX = x;
                return 1;
            }
    return 1;
}
