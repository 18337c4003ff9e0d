// The marker, Erase Grid Lines and Outline Mode as row-streaming passes, and the effects' entry
// point. The marker turns each row into bits (one per pixel, set where the pixel meets the
// condition); runs are then found with bit scans, and the rows that change are rewritten with
// vector stores. Character Mode is in character_mode.cpp.
#include "imaging/effects.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "imaging/effect_rows.h"
#include "imaging/simd_pixels.h"
#include "imaging/simd_wide.h"
#include "imaging/workers.h"

namespace lumo {

using namespace fx;

namespace {

constexpr int kMaxParts = 8;  // helper threads of one effect pass, caller included

// Bytes of one part's byte rows: Outline Mode's flag and OR rows, each with padding.
size_t rowBytesFor(int64_t width) { return size_t(2 * (roundUp(std::max<int64_t>(width, 1), 64) + 64)); }

// Row passes split over helper threads only with marks made beforehand (the on-demand marker is
// one sequence) and on images large enough to pay for the hand-over.
int partsFor(int32_t width, int32_t height, bool premarked) {
    if (!premarked || int64_t{width} * height < (int64_t{1} << 18)) return 1;
    return std::clamp(scanThreads(), 1, kMaxParts);
}

// Runs f(part, parts) for every part through the pool.
template <class F>
void inParts(int parts, F& f) {
    runParts(parts, [](void* context, int part, int n) { (*static_cast<F*>(context))(part, n); }, &f);
}

// Rows y0..y1-1 of part p of parts, for a pass over h rows in bands of `unit` rows.
inline void partRange(int64_t h, int64_t unit, int p, int parts, int32_t& y0, int32_t& y1) {
    const int64_t units = (h + unit - 1) / unit;
    y0 = static_cast<int32_t>(std::min(h, units * p / parts * unit));
    y1 = static_cast<int32_t>(std::min(h, units * (p + 1) / parts * unit));
}

// ---- The marker ---------------------------------------------------------------------------------

// Bits of n pixels: bit x of the row where the qualify flag is set and the grey level meets M.
// bits must hold wordsOf(n) zeroed words; the row is only read.
template <int M>
void markScalar(const uint8_t* p, int32_t from, int32_t n, int lo, int hi, uint64_t* bits) {
    for (int32_t x = from; x < n; ++x) {
        const uint8_t* q = p + 3 * int64_t{x};
        if (q[0] != 0 && compare<M>(q[1], lo, hi)) {
            bits[x >> 6] |= uint64_t{1} << (x & 63);
        }
    }
}

template <int M>
LUMO_SSSE3 int32_t markSsse3(const uint8_t* p, int32_t from, int32_t n, int lo, int hi, uint64_t* bits) {
    const __m128i vlo = _mm_set1_epi16(int16_t(lo)), vhi = _mm_set1_epi16(int16_t(hi));
    const __m128i z = _mm_setzero_si128();
    int32_t i = from;
    for (; i + 16 <= n; i += 16) {
        const simd::Planes s = simd::split(p + 3 * int64_t{i});
        const __m128i cmp = simd::compareBytes<M>(_mm_unpacklo_epi8(s.c1, z), _mm_unpackhi_epi8(s.c1, z), vlo, vhi);
        const __m128i flagged = _mm_andnot_si128(_mm_cmpeq_epi8(s.c0, z), cmp);
        bits[i >> 6] |= uint64_t(static_cast<uint32_t>(_mm_movemask_epi8(flagged))) << (i & 63);
    }
    return i;
}

template <int M>
LUMO_AVX2 int32_t markAvx2(const uint8_t* p, int32_t n, int lo, int hi, uint64_t* bits) {
    const __m256i vlo = _mm256_set1_epi16(int16_t(lo)), vhi = _mm256_set1_epi16(int16_t(hi));
    const __m256i z = _mm256_setzero_si256();
    int32_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const uint8_t* a = p + 3 * int64_t{i};
        const simd::Planes2 s = simd::split2(a, a + 48);
        const __m256i cmp = simd::compareBytes2<M>(_mm256_unpacklo_epi8(s.c1, z), _mm256_unpackhi_epi8(s.c1, z), vlo, vhi);
        const __m256i flagged = _mm256_andnot_si256(_mm256_cmpeq_epi8(s.c0, z), cmp);
        bits[i >> 6] |= uint64_t(static_cast<uint32_t>(_mm256_movemask_epi8(flagged))) << (i & 63);
    }
    return i;
}

// One row through the marker at the widest level allowed.
template <int M>
void markRow(const uint8_t* p, int32_t n, int lo, int hi, uint64_t* bits, int level) {
    std::fill_n(bits, wordsOf(n), 0);
    int32_t done = 0;
    if (level >= 2) done = markAvx2<M>(p, n, lo, hi, bits);
    if (level >= 1) done = markSsse3<M>(p, done, n, lo, hi, bits);
    markScalar<M>(p, done, n, lo, hi, bits);
}

// ---- Bits ---------------------------------------------------------------------------------------

// First set bit at or after from, or limit when none is below it.
inline int64_t nextSet(const uint64_t* bits, int64_t from, int64_t limit) {
    if (from >= limit) return limit;
    int64_t k = from >> 6;
    uint64_t w = bits[k] & (~uint64_t{0} << (from & 63));
    const int64_t words = wordsOf(limit);
    while (!w) {
        if (++k >= words) return limit;
        w = bits[k];
    }
    return std::min(limit, k * 64 + std::countr_zero(w));
}

// First clear bit at or after from (bits past the last word count as clear), capped at limit.
inline int64_t nextClear(const uint64_t* bits, int64_t from, int64_t limit) {
    if (from >= limit) return limit;
    int64_t k = from >> 6;
    uint64_t w = ~bits[k] & (~uint64_t{0} << (from & 63));
    const int64_t words = wordsOf(limit);
    while (!w) {
        if (++k >= words) return limit;
        w = ~bits[k];
    }
    return std::min(limit, k * 64 + std::countr_zero(w));
}

// Calls f(start, end) for every run of set bits among the first n.
template <class F>
inline void forEachRun(const uint64_t* bits, int64_t n, F&& f) {
    for (int64_t x = nextSet(bits, 0, n); x < n; x = nextSet(bits, x, n)) {
        const int64_t end = nextClear(bits, x, n);
        f(x, end);
        x = end;
    }
}

// Calls f(x) for every set bit of w, word k.
template <class F>
inline void forEachBit(uint64_t w, int64_t k, F&& f) {
    while (w) {
        f(k * 64 + std::countr_zero(w));
        w &= w - 1;
    }
}

inline uint64_t spread(uint64_t word, int byte) { return kSpread.v[(word >> (8 * byte)) & 0xFF]; }

// ---- Writing rows -------------------------------------------------------------------------------

// n pixels: byte 0 |= orBytes[x], byte 2 = setBytes[x]; byte 1 kept.
void writeRowScalar(uint8_t* p, int32_t from, int32_t n, const uint8_t* orBytes, const uint8_t* setBytes) {
    for (int32_t x = from; x < n; ++x) {
        uint8_t* q = p + 3 * int64_t{x};
        q[0] = static_cast<uint8_t>(q[0] | orBytes[x]);
        q[2] = setBytes[x];
    }
}

LUMO_SSSE3 int32_t writeRowSsse3(uint8_t* p, int32_t from, int32_t n, const uint8_t* orBytes, const uint8_t* setBytes) {
    int32_t i = from;
    for (; i + 16 <= n; i += 16) {
        uint8_t* a = p + 3 * int64_t{i};
        const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(orBytes + i));
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(setBytes + i));
        for (int v = 0; v < 3; ++v) {
            __m128i* at = reinterpret_cast<__m128i*>(a + 16 * v);
            const __m128i raw = _mm_loadu_si128(at);
            const __m128i out = _mm_or_si128(_mm_or_si128(_mm_and_si128(raw, simd::mask(kKeep.keep01[v])),
                                                          _mm_shuffle_epi8(o, simd::mask(simd::kMasks.merge[v][0]))),
                                             _mm_shuffle_epi8(s, simd::mask(simd::kMasks.merge[v][2])));
            _mm_storeu_si128(at, out);
        }
    }
    return i;
}

// The row written next (next) is fetched on the way: rows of a bottom-up image follow each other
// downwards in memory, which the processor's own prefetching is slow to pick up.
// With Raw the row still holds its colour pixels and is grey-encoded on the way (flag 1, grey
// level (b + g + r) / 3).
template <bool Raw>
LUMO_AVX2 int32_t writeRowAvx2(uint8_t* p, int32_t n, const uint8_t* orBytes, const uint8_t* setBytes,
                               const uint8_t* next) {
    const PixelMerge merge = pixelMerge();
    const __m256i flag = _mm256_set1_epi8(Raw ? 1 : 0);
    int32_t i = 0;
    for (; i + 32 <= n; i += 32) {
        uint8_t* a = p + 3 * int64_t{i};
        _mm_prefetch(reinterpret_cast<const char*>(next + 3 * int64_t{i}), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(next + 3 * int64_t{i} + 64), _MM_HINT_T0);
        const __m256i o = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(orBytes + i));
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(setBytes + i));
        __m256i raw[3];
        simd::load96(a, raw);
        mergePixels32<Raw>(a, raw, _mm256_or_si256(o, flag), s, merge);
    }
    return i;
}

// ---- Erase Grid Lines ---------------------------------------------------------------------------
// One pass over the rows: the marker, the horizontal classes of the row's runs, and the vertical
// runs that end above this row (open runs are tracked per column), whose pixels are revisited
// only when the run unmarks some of them.
void eraseGridLines(const Image& im, RowMarks& marks, const EffectParams& pr, EffectScratch& sc) {
    const int32_t w = im.width, h = im.height;
    const int64_t words = wordsOf(w);
    const uint64_t* zero = sc.bits.data();
    std::fill_n(sc.bits.data(), words, 0);
    const uint64_t* prev = zero;
    int32_t* runStart = sc.runStart.data();
    uint8_t* top = im.top();
    const int64_t step = im.rowStep();
    for (int32_t y = 0; y <= h; ++y) {
        const uint64_t* cur = zero;
        if (y < h) {
            uint8_t* row = im.row(y);
            cur = marks.row(y);
            forEachRun(cur, w, [&](int64_t s, int64_t e) {
                const int64_t len = e - s;
                const uint8_t cls = len <= pr.thickness ? 1 : len < pr.hLength ? 2 : 3;
                for (int64_t i = s; i < e; ++i) {
                    row[3 * i] |= 0x02;
                    row[3 * i + 2] = cls;
                }
            });
        }
        for (int64_t k = 0; k < words; ++k) {
            const uint64_t was = prev[k], is = cur[k];
            if (!(was | is)) continue;
            forEachBit(is & ~was, k, [&](int64_t x) { runStart[x] = y; });
            forEachBit(was & ~is, k, [&](int64_t x) {
                const int32_t start = runStart[x];
                const int64_t len = y - start;
                uint8_t victim = 0;  // class of the pixels this run unmarks
                if (len <= pr.thickness) victim = 3;
                else if (len >= pr.vLength) victim = 1;
                if (!victim) return;
                uint8_t* p = top + start * step + 3 * x;
                for (int32_t r = start; r < y; ++r, p += step)
                    if (p[2] == victim) p[0] &= static_cast<uint8_t>(~0x02);
            });
        }
        prev = cur;
    }
}

// The same in one streamed pass, for short line lengths (the usual settings): a pixel's vertical
// run is settled once the run has ended or has grown to the long length L, so with a ring of the
// last L rows (their marks, horizontal classes and unmark bits, one bit per pixel) every row is
// final L - 1 rows after it was read and is written once, with vector stores, while it is still
// in the cache. Per column a byte counts the open run (saturating); all columns go at once.
constexpr int32_t kGridRing = 64;  // rows of the ring: the longest L streamed

struct GridRing {
    int64_t words = 0;
    uint64_t* planes = nullptr;  // [5][kGridRing][words]: marks, class 1, class 3, unmark 1, unmark 3
    static_assert((kGridRing & (kGridRing - 1)) == 0, "the ring's rows are taken by a mask");
    uint64_t* plane(int kind, int64_t y) const { return planes + (kind * kGridRing + (y & (kGridRing - 1))) * words; }
};

// Masks that keep byte 2 of each pixel of output vector v.
struct KeepRedMasks {
    alignas(16) uint8_t keep2[3][16];
    constexpr KeepRedMasks() : keep2{} {
        for (int v = 0; v < 3; ++v)
            for (int j = 0; j < 16; ++j) keep2[v][j] = (16 * v + j) % 3 == 2 ? 0xFF : 0;
    }
};
constexpr KeepRedMasks kKeepRed;

inline uint32_t bits32(const uint64_t* bits, int64_t x) { return static_cast<uint32_t>(bits[x >> 6] >> (x & 63)); }
inline void orBits32(uint64_t* bits, int64_t x, uint32_t m) { bits[x >> 6] |= uint64_t{m} << (x & 63); }

// Column counters of one row: counts = the open run's length (saturating at 255), from the
// row's marks. Bits where a run reached L at this row (reach), where the run is at least L long
// (longNow), and where a run of at most t rows ended just above this row (ended, with its length
// in endLen).
LUMO_AVX2 void gridCounts(const uint64_t* cur, uint8_t* counts, int64_t w, int L, int t, uint64_t* longNow,
                          uint64_t* reach, uint64_t* ended, uint8_t* endLen) {
    const __m256i one = _mm256_set1_epi8(1), vL = _mm256_set1_epi8(static_cast<char>(L));
    const __m256i vt = _mm256_set1_epi8(static_cast<char>(std::max(t, 0)));
    const __m256i z = _mm256_setzero_si256();
    for (int64_t x = 0; x < w; x += 32) {
        const uint32_t m = bits32(cur, x);
        auto* at = reinterpret_cast<__m256i*>(counts + x);
        const __m256i was = _mm256_loadu_si256(at);
        if (!m && _mm256_testz_si256(was, was)) continue;
        const __m256i on = bitsToBytes(m);
        const __m256i now = _mm256_and_si256(_mm256_adds_epu8(was, one), on);
        _mm256_storeu_si256(at, now);
        const auto atLeast = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_max_epu8(now, vL), now)));
        orBits32(longNow, x, atLeast & m);
        orBits32(reach, x, static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(now, vL))) & m);
        if (t > 0) {
            // Runs that ended here (open above, unmarked now) no longer than t.
            const __m256i shortRun = _mm256_andnot_si256(
                _mm256_or_si256(on, _mm256_cmpeq_epi8(was, z)), _mm256_cmpeq_epi8(_mm256_min_epu8(was, vt), was));
            const auto e = static_cast<uint32_t>(_mm256_movemask_epi8(shortRun));
            if (e) {
                orBits32(ended, x, e);
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(endLen + x), _mm256_and_si256(was, shortRun));
            }
        }
    }
}

// gridCounts a word of columns at a time.
LUMO_AVX512 void gridCountsAvx512(const uint64_t* cur, uint8_t* counts, int64_t words, int L, int t, uint64_t* longNow,
                                  uint64_t* reach, uint64_t* ended, uint8_t* endLen) {
    const __m512i one = _mm512_set1_epi8(1), vL = _mm512_set1_epi8(static_cast<char>(L));
    const __m512i vt = _mm512_set1_epi8(static_cast<char>(std::max(t, 0)));
    for (int64_t k = 0; k < words; ++k) {
        const uint64_t m = cur[k];
        uint8_t* at = counts + 64 * k;
        const __m512i was = _mm512_loadu_si512(at);
        const uint64_t open = _mm512_test_epi8_mask(was, was);
        if (!(m | open)) continue;
        const __m512i now = _mm512_maskz_adds_epu8(m, was, one);
        _mm512_storeu_si512(at, now);
        longNow[k] |= _mm512_mask_cmpge_epu8_mask(m, now, vL);
        reach[k] |= _mm512_mask_cmpeq_epu8_mask(m, now, vL);
        if (t > 0) {
            // Runs that ended here (open above, unmarked now) no longer than t.
            const uint64_t e = _mm512_mask_cmple_epu8_mask(open & ~m, was, vt);
            if (e) {
                ended[k] |= e;
                _mm512_storeu_si512(endLen + 64 * k, _mm512_maskz_mov_epi8(e, was));
            }
        }
    }
}

// Bit i set where byte i of the 64 at b is at least j.
LUMO_AVX2 inline uint64_t bytesAtLeast(const uint8_t* b, int j) {
    const __m256i v = _mm256_set1_epi8(static_cast<char>(j));
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 32));
    const auto l = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_max_epu8(lo, v), lo)));
    const auto h = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_max_epu8(hi, v), hi)));
    return uint64_t{l} | uint64_t{h} << 32;
}

// Writes row p (n pixels) from its planes: byte 0 gains 0x02 where marked and kept, byte 2
// becomes the class where marked; unmarked pixels stay as they are. With Raw the row still
// holds its colour pixels and is grey-encoded on the way (flag 1, grey level (b + g + r) / 3).
template <bool Raw>
LUMO_AVX2 void writeGridRow(uint8_t* p, int64_t n, const uint64_t* mk, const uint64_t* c1, const uint64_t* c3,
                            const uint64_t* u1, const uint64_t* u3, const uint8_t* next, int64_t from = 0) {
    __m256i mergeO[3], mergeS[3], mergeG[3], keepRed[3];
    for (int v = 0; v < 3; ++v) {
        mergeO[v] = simd::mask2(simd::kMasks.merge[v][0]);
        mergeS[v] = simd::mask2(simd::kMasks.merge[v][2]);
        mergeG[v] = simd::mask2(simd::kMasks.merge[v][1]);
        keepRed[v] = simd::mask2(kKeepRed.keep2[v]);
    }
    const __m256i two = _mm256_set1_epi8(2), three = _mm256_set1_epi8(3), one = _mm256_set1_epi8(1);
    const __m256i third = _mm256_set1_epi16(21846);
    int64_t x = from;
    for (; x + 32 <= n; x += 32) {
        _mm_prefetch(reinterpret_cast<const char*>(next + 3 * x), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(next + 3 * x + 64), _MM_HINT_T0);
        const uint32_t m = bits32(mk, x);
        if constexpr (Raw) {
            if (!m) {
                uint8_t* a = p + 3 * x;
                __m256i raw[3], out[3], low, high;
                simd::load96(a, raw);
                simd::rawSums2(simd::Raw2{raw[0], raw[1], raw[2]}, low, high);
                const __m256i grey = _mm256_packus_epi16(_mm256_mulhi_epu16(low, third), _mm256_mulhi_epu16(high, third));
#pragma GCC unroll 3
                for (int v = 0; v < 3; ++v)
                    out[v] = _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(raw[v], keepRed[v]), _mm256_shuffle_epi8(one, mergeO[v])),
                                             _mm256_shuffle_epi8(grey, mergeG[v]));
                simd::store96(a, out);
                continue;
            }
        } else {
            if (!m) continue;
        }
        const uint32_t k1 = bits32(c1, x), k3 = bits32(c3, x);
        const uint32_t keep = m & ~(bits32(u1, x) & k1) & ~(bits32(u3, x) & k3);
        const __m256i on = bitsToBytes(m), b1 = bitsToBytes(k1), b3 = bitsToBytes(k3);
        // Class 1, 3 or (neither) 2, on marked pixels only.
        const __m256i cls = _mm256_and_si256(
            on, _mm256_or_si256(_mm256_and_si256(b1, one), _mm256_or_si256(_mm256_and_si256(b3, three),
                                                                           _mm256_andnot_si256(_mm256_or_si256(b1, b3), two))));
        const __m256i ors = _mm256_and_si256(bitsToBytes(keep), two);
        uint8_t* a = p + 3 * x;
        __m256i raw[3], out[3];
        simd::load96(a, raw);
        if constexpr (Raw) {
            __m256i low, high;
            simd::rawSums2(simd::Raw2{raw[0], raw[1], raw[2]}, low, high);
            const __m256i grey = _mm256_packus_epi16(_mm256_mulhi_epu16(low, third), _mm256_mulhi_epu16(high, third));
            const __m256i flags = _mm256_or_si256(ors, one);
#pragma GCC unroll 3
            for (int v = 0; v < 3; ++v)
                out[v] = _mm256_or_si256(
                    _mm256_or_si256(_mm256_andnot_si256(_mm256_shuffle_epi8(on, mergeS[v]), _mm256_and_si256(raw[v], keepRed[v])),
                                    _mm256_shuffle_epi8(flags, mergeO[v])),
                    _mm256_or_si256(_mm256_shuffle_epi8(cls, mergeS[v]), _mm256_shuffle_epi8(grey, mergeG[v])));
        } else {
#pragma GCC unroll 3
            for (int v = 0; v < 3; ++v)
                out[v] = _mm256_or_si256(_mm256_or_si256(_mm256_andnot_si256(_mm256_shuffle_epi8(on, mergeS[v]), raw[v]),
                                                         _mm256_shuffle_epi8(ors, mergeO[v])),
                                         _mm256_shuffle_epi8(cls, mergeS[v]));
        }
        simd::store96(a, out);
    }
    if constexpr (Raw) encodeGrey(p + 3 * x, n - x);
    for (; x < n; ++x) {
        const auto bit = [x](const uint64_t* b) { return (b[x >> 6] >> (x & 63)) & 1; };
        if (!bit(mk)) continue;
        const bool k1 = bit(c1), k3 = bit(c3);
        uint8_t* q = p + 3 * x;
        if (!((bit(u1) && k1) || (bit(u3) && k3))) q[0] |= 0x02;
        q[2] = k1 ? 1 : k3 ? 3 : 2;
    }
}

// Byte 2 positions of output vector v whose pixels' bits are set in m (bit k for pixel k).
LUMO_AVX512 inline __mmask64 byte2Of(int v, uint64_t m) {
    constexpr int first[3] = {0, 21, 42};  // the first pixel whose byte 2 lies in vector v
    return _pdep_u64(m >> first[v], simd::kWide.redBytes[v]);
}

// writeGridRow<true> sixty-four pixels a step (whole words); returns the pixels done.
LUMO_AVX512 int64_t writeGridRowAvx512(uint8_t* p, int64_t n, const uint64_t* mk, const uint64_t* c1,
                                       const uint64_t* c3, const uint64_t* u1, const uint64_t* u3, const uint8_t* next) {
    const __m512i one = _mm512_set1_epi8(1), two = _mm512_set1_epi8(2), three = _mm512_set1_epi8(3);
    int64_t k = 0;
    for (; 64 * k + 64 <= n; ++k) {
        uint8_t* a = p + 192 * k;
        _mm_prefetch(reinterpret_cast<const char*>(next + 192 * k), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(next + 192 * k + 64), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(next + 192 * k + 128), _MM_HINT_T0);
        const simd::Raw3 raw = simd::load192(a);
        const __m512i grey = simd::grey64(raw);
        const uint64_t m = mk[k];
        if (!m) {  // nothing marked: flag 1, the grey level, byte 2 kept
            simd::store192(a, {simd::placeGrey(0, grey, raw.a0), simd::placeGrey(1, grey, raw.a1),
                               simd::placeGrey(2, grey, raw.a2)});
            continue;
        }
        const uint64_t k1 = c1[k] & m, k3 = c3[k] & m;
        const uint64_t keep = m & ~(u1[k] & k1) & ~(u3[k] & k3);
        // Class 1, 3 or (neither) 2 on marked pixels; byte 0 gains 2 where marked and kept.
        const __m512i cls = _mm512_mask_mov_epi8(_mm512_mask_mov_epi8(two, k1, one), k3, three);
        const __m512i flags = _mm512_mask_blend_epi8(keep, one, three);
        simd::Raw3 out;
        out.a0 = _mm512_mask_permutexvar_epi8(simd::placeEncoded(0, grey, flags, raw.a0), byte2Of(0, m),
                                              simd::table(simd::kWide.place[0]), cls);
        out.a1 = _mm512_mask_permutexvar_epi8(simd::placeEncoded(1, grey, flags, raw.a1), byte2Of(1, m),
                                              simd::table(simd::kWide.place[1]), cls);
        out.a2 = _mm512_mask_permutexvar_epi8(simd::placeEncoded(2, grey, flags, raw.a2), byte2Of(2, m),
                                              simd::table(simd::kWide.place[2]), cls);
        simd::store192(a, out);
    }
    return 64 * k;
}

// Horizontal classes without walking runs: on bit rows, "in a run at least k long" is an erosion
// (AND of the row shifted by 0..k-1) followed by a dilation (OR of that shifted back), each done
// by doubling in a few whole-row steps. Rows are padded with a zero word before and kRowPad after
// and processed four words at a time; shifts stay below 64 (k <= 64).
constexpr int64_t kRowPad = 8;

// dst &= src >> s (bit x takes bit x + s), in place allowed.
LUMO_AVX2 void andShiftedDown(uint64_t* dst, const uint64_t* src, int64_t n, int s) {
    const __m128i r = _mm_cvtsi32_si128(s), l = _mm_cvtsi32_si128(64 - s);
    for (int64_t k = 0; k < n; k += 4) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + k));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + k + 1));
        const __m256i v = _mm256_or_si256(_mm256_srl_epi64(a, r), _mm256_sll_epi64(b, l));
        auto* at = reinterpret_cast<__m256i*>(dst + k);
        _mm256_storeu_si256(at, _mm256_and_si256(_mm256_loadu_si256(at), v));
    }
}

// dst |= src << s (bit x takes bit x - s), in place allowed.
LUMO_AVX2 void orShiftedUp(uint64_t* dst, const uint64_t* src, int64_t n, int s) {
    const __m128i l = _mm_cvtsi32_si128(s), r = _mm_cvtsi32_si128(64 - s);
    for (int64_t k = n - 4; k >= 0; k -= 4) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + k));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + k - 1));
        const __m256i v = _mm256_or_si256(_mm256_sll_epi64(a, l), _mm256_srl_epi64(b, r));
        auto* at = reinterpret_cast<__m256i*>(dst + k);
        _mm256_storeu_si256(at, _mm256_or_si256(_mm256_loadu_si256(at), v));
    }
}

// out = the bits of m that lie in a run at least k long (1 <= k <= 64); p and e are work rows.
// n is the row's words rounded up to four; m's padding words are zero.
LUMO_AVX2 void runsAtLeast(const uint64_t* m, int k, uint64_t* out, uint64_t* p, uint64_t* e, int64_t n) {
    if (k <= 1) {
        std::memcpy(out, m, size_t(n) * 8);
        return;
    }
    // e = AND of m >> j for j < k: p covers lengths c = 1, 2, 4, ..., e the lengths taken so far.
    std::memcpy(p, m, size_t(n + kRowPad) * 8);
    std::fill_n(e, n, ~uint64_t{0});
    int taken = 0, c = 1;
    for (int kk = k; kk;) {
        if (kk & 1) {
            andShiftedDown(e, p, n, taken);
            taken += c;
        }
        kk >>= 1;
        if (kk) {
            andShiftedDown(p, p, n, c);
            c *= 2;
        }
    }
    // out = OR of e << j for j < k, the same way.
    std::memcpy(p, e, size_t(n) * 8);
    std::fill_n(out, n, 0);
    taken = 0, c = 1;
    for (int kk = k; kk;) {
        if (kk & 1) {
            orShiftedUp(out, p, n, taken);
            taken += c;
        }
        kk >>= 1;
        if (kk) {
            orShiftedUp(p, p, n, c);
            c *= 2;
        }
    }
    for (int64_t i = 0; i < n; ++i) out[i] &= m[i];
}

// Class bits of one marked row: c1 = runs no longer than t, c3 = runs at least hL long (and
// longer than t). work holds five padded rows.
LUMO_AVX2 void gridClasses(const uint64_t* cur, int64_t words, int t, int hL, uint64_t* c1, uint64_t* c3,
                           uint64_t* work) {
    const int64_t n = roundUp(words, 4), stride = n + kRowPad + 1;
    uint64_t* m = work + 1;
    uint64_t* p = m + stride;
    uint64_t* e = p + stride;
    uint64_t* r1 = e + stride;
    uint64_t* r3 = r1 + stride;
    std::memcpy(m, cur, size_t(words) * 8);
    const int k1 = std::max(t + 1, 1), k3 = std::max(hL, 1);
    runsAtLeast(m, k1, r1, p, e, n);
    runsAtLeast(m, k3, r3, p, e, n);
    for (int64_t i = 0; i < words; ++i) {
        c1[i] = m[i] & ~r1[i];
        c3[i] = r3[i] & ~c1[i];
    }
}

// gridClasses for rows of up to 8 C words, held in registers: the shifts across words are
// funnel shifts with the neighbouring lane (clear beyond the row's ends).
template <int C>
LUMO_AVX512 inline __m512i bitsDown(const __m512i (&p)[C], int i, int s) {  // bit x takes bit x + s
    const __m512i after = i + 1 < C ? p[i + 1] : _mm512_setzero_si512();
    return _mm512_shrdv_epi64(p[i], _mm512_maskz_alignr_epi64(0xFF, after, p[i], 1), _mm512_set1_epi64(s));
}
template <int C>
LUMO_AVX512 inline __m512i bitsUp(const __m512i (&p)[C], int i, int s) {  // bit x takes bit x - s
    const __m512i before = i > 0 ? p[i - 1] : _mm512_setzero_si512();
    return _mm512_shldv_epi64(p[i], _mm512_maskz_alignr_epi64(0xFF, p[i], before, 7), _mm512_set1_epi64(s));
}

// runsAtLeast on held rows.
template <int C>
LUMO_AVX512 void runsAtLeastHeld(const __m512i (&m)[C], int k, __m512i (&out)[C]) {
    __m512i p[C], e[C], t[C];
    for (int i = 0; i < C; ++i) p[i] = m[i], e[i] = _mm512_set1_epi64(-1);
    if (k <= 1) {
        for (int i = 0; i < C; ++i) out[i] = m[i];
        return;
    }
    int taken = 0, c = 1;
    for (int kk = k; kk;) {
        if (kk & 1) {
            for (int i = 0; i < C; ++i) e[i] = _mm512_and_si512(e[i], bitsDown(p, i, taken));
            taken += c;
        }
        kk >>= 1;
        if (kk) {
            for (int i = 0; i < C; ++i) t[i] = _mm512_and_si512(p[i], bitsDown(p, i, c));
            for (int i = 0; i < C; ++i) p[i] = t[i];
            c *= 2;
        }
    }
    for (int i = 0; i < C; ++i) p[i] = e[i], out[i] = _mm512_setzero_si512();
    taken = 0, c = 1;
    for (int kk = k; kk;) {
        if (kk & 1) {
            for (int i = 0; i < C; ++i) out[i] = _mm512_or_si512(out[i], bitsUp(p, i, taken));
            taken += c;
        }
        kk >>= 1;
        if (kk) {
            for (int i = 0; i < C; ++i) t[i] = _mm512_or_si512(p[i], bitsUp(p, i, c));
            for (int i = 0; i < C; ++i) p[i] = t[i];
            c *= 2;
        }
    }
    for (int i = 0; i < C; ++i) out[i] = _mm512_and_si512(out[i], m[i]);
}

template <int C>
LUMO_AVX512 void gridClassesHeld(const uint64_t* cur, int64_t words, int t, int hL, uint64_t* c1, uint64_t* c3) {
    __m512i m[C], r1[C], r3[C];
    for (int i = 0; i < C; ++i) m[i] = loadChunk(cur, words, i);
    runsAtLeastHeld(m, std::max(t + 1, 1), r1);
    runsAtLeastHeld(m, std::max(hL, 1), r3);
    for (int i = 0; i < C; ++i) {
        const __m512i one = _mm512_maskz_andnot_epi64(0xFF, r1[i], m[i]);
        _mm512_mask_storeu_epi64(c1 + 8 * i, chunkLanes(words, i), one);
        _mm512_mask_storeu_epi64(c3 + 8 * i, chunkLanes(words, i), _mm512_maskz_andnot_epi64(0xFF, one, r3[i]));
    }
}

// gridClasses on held rows where the row fits; false when it does not.
LUMO_AVX512 bool gridClassesAvx512(const uint64_t* cur, int64_t words, int t, int hL, uint64_t* c1, uint64_t* c3) {
    switch ((words + 7) / 8) {
    case 1: gridClassesHeld<1>(cur, words, t, hL, c1, c3); return true;
    case 2: gridClassesHeld<2>(cur, words, t, hL, c1, c3); return true;
    case 3: gridClassesHeld<3>(cur, words, t, hL, c1, c3); return true;
    case 4: gridClassesHeld<4>(cur, words, t, hL, c1, c3); return true;
    default: return false;
    }
}

// Work rows of gridClasses for a row of `words` words: five rows with their padding.
size_t gridClassWords(int64_t words) { return size_t(5 * (roundUp(words, 4) + kRowPad + 1) + 1); }

// True when the streamed pass can take these parameters.
bool gridStreams(const EffectParams& pr) {
    const int64_t L = std::max<int64_t>(pr.vLength, int64_t{pr.thickness} + 1);
    return L <= kGridRing && pr.thickness < 64 && pr.hLength <= 64;
}

void eraseGridLinesStreamed(const Image& im, RowMarks& marks, const EffectParams& pr, EffectScratch& sc, bool raw,
                            bool wide) {
    const int32_t w = im.width, h = im.height;
    const int64_t words = wordsOf(w);
    const int t = pr.thickness;
    const int L = static_cast<int>(std::max<int64_t>({pr.vLength, int64_t{t} + 1, 1}));
    GridRing ring{words, sc.gridPlanes.data()};
    uint64_t* classWork = sc.gridPlanes.data() + 5 * kGridRing * words;
    std::fill_n(classWork, gridClassWords(words), 0);
    uint8_t* counts = sc.gridBytes.data();
    uint8_t* endLen = counts + roundUp(w, 32) + 32;
    // Row-local bits: long now, reached L now, short runs ended now.
    uint64_t* longNow = sc.bits.data();
    uint64_t* reach = longNow + words + 1;
    uint64_t* ended = reach + words + 1;
    std::memset(counts, 0, size_t(2 * (roundUp(w, 32) + 32)));
    std::fill_n(ring.planes, 5 * kGridRing * words, 0);
    auto finalRow = [&](int64_t r) {
        const uint8_t* next = r + 1 < h ? im.row(static_cast<int32_t>(r + 1)) : im.row(static_cast<int32_t>(r));
        uint8_t* row = im.row(static_cast<int32_t>(r));
        const int64_t done = wide && raw ? writeGridRowAvx512(row, w, ring.plane(0, r), ring.plane(1, r), ring.plane(2, r),
                                                              ring.plane(3, r), ring.plane(4, r), next)
                                         : 0;
        if (done < w)
            (raw ? writeGridRow<true> : writeGridRow<false>)(row, w, ring.plane(0, r), ring.plane(1, r), ring.plane(2, r),
                                                              ring.plane(3, r), ring.plane(4, r), next, done);
        for (int kind = 0; kind < 5; ++kind) std::fill_n(ring.plane(kind, r), words, 0);
    };
    for (int64_t y = 0; y <= h; ++y) {
        std::fill_n(longNow, 3 * (words + 1), 0);
        uint64_t* cur = nullptr;
        if (y < h) {
            cur = ring.plane(0, y);
            std::memcpy(cur, marks.row(static_cast<int32_t>(y)), size_t(words) * 8);
            if (!wide || !gridClassesAvx512(cur, words, t, pr.hLength, ring.plane(1, y), ring.plane(2, y)))
                gridClasses(cur, words, t, pr.hLength, ring.plane(1, y), ring.plane(2, y), classWork);
        } else {
            cur = sc.bits.data() + 3 * (words + 1);  // the row after the last: nothing marked
            std::fill_n(cur, words + 1, 0);
        }
        if (wide) gridCountsAvx512(cur, counts, words, L, t, longNow, reach, ended, endLen);
        else gridCounts(cur, counts, w, L, t, longNow, reach, ended, endLen);
        for (int64_t k = 0; k < words; ++k) {
            if (longNow[k]) ring.plane(3, y)[k] |= longNow[k];
            if (reach[k])
                for (int64_t r = std::max<int64_t>(0, y - L + 1); r < y; ++r) ring.plane(3, r)[k] |= reach[k];
            // Short runs that ended above this row: their rows get the class-3 unmark, a whole
            // word of columns at a time (row y - j for the runs at least j rows long).
            if (const uint64_t e = ended[k]) {
                ring.plane(4, y - 1)[k] |= e;
                for (int j = 2; j <= t; ++j) {
                    const uint64_t longer = e & bytesAtLeast(endLen + 64 * k, j);
                    if (!longer) break;
                    ring.plane(4, y - j)[k] |= longer;
                }
            }
        }
        if (y - L + 1 >= 0 && y < h) finalRow(y - L + 1);
    }
    for (int64_t r = std::max<int64_t>(0, int64_t{h} - L + 1); r < h; ++r) finalRow(r);
}

// ---- Outline Mode -------------------------------------------------------------------------------

// Outline Mode's row p (colour pixels, grey-encoded on the way) from the marks of the rows above,
// at and below it, sixty-four pixels a step, with no byte rows in between; returns the pixels
// done (whole words). The flags come straight from the mark words as byte masks.
LUMO_AVX512 int64_t outlineRowAvx512(uint8_t* p, int64_t w, const uint64_t* up, const uint64_t* cur,
                                     const uint64_t* down, const uint64_t* inner, bool horizontal, int64_t words,
                                     const uint8_t* next) {
    const __m512i one = _mm512_set1_epi8(1), two = _mm512_set1_epi8(2), three = _mm512_set1_epi8(3);
    const __m512i four = _mm512_set1_epi8(4), eight = _mm512_set1_epi8(8);
    int64_t k = 0;
    for (; 64 * k + 64 <= w; ++k) {
        uint8_t* a = p + 192 * k;
        _mm_prefetch(reinterpret_cast<const char*>(next + 192 * k), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(next + 192 * k + 64), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(next + 192 * k + 128), _MM_HINT_T0);
        const uint64_t f1 = up[k] & inner[k], f2 = down[k] & inner[k];
        uint64_t f4 = 0, f8 = 0;
        if (horizontal) {
            f4 = (cur[k] << 1) | (k > 0 ? cur[k - 1] >> 63 : 0);
            f8 = (cur[k] >> 1) | (k + 1 < words ? cur[k + 1] << 63 : 0);
        }
        const uint64_t keep = cur[k] & ~(f1 & f2 & f4 & f8);
        const simd::Raw3 raw = simd::load192(a);
        const __m512i grey = simd::grey64(raw);
        if (!(f1 | f2 | f4 | f8 | keep)) {
            // Nothing marked near these pixels: flag 1, the grey level, byte 2 cleared.
            simd::store192(a, {simd::placeGreyOnly(0, grey), simd::placeGreyOnly(1, grey), simd::placeGreyOnly(2, grey)});
            continue;
        }
        __m512i flags = _mm512_maskz_mov_epi8(f1, one);
        flags = _mm512_mask_add_epi8(flags, f2, flags, two);
        flags = _mm512_mask_add_epi8(flags, f4, flags, four);
        flags = _mm512_mask_add_epi8(flags, f8, flags, eight);
        const __m512i b0 = _mm512_mask_blend_epi8(keep, one, three);
        simd::store192(a, {simd::interleave3(0, b0, grey, flags), simd::interleave3(1, b0, grey, flags), simd::interleave3(2, b0, grey, flags)});
    }
    return 64 * k;
}

// The marker runs one row ahead (row y's flags need the marks of row y + 1); the flags of a row
// come from the bits of three rows, and the row is written once: byte 2 = flags, byte 0 gains
// the mark unless all four neighbours are marked.
void outline(const Image& im, RowMarks& marks, EffectScratch& sc, int level, int parts, bool raw) {
    const int32_t w = im.width, h = im.height;
    const int64_t words = wordsOf(w);
    uint64_t* inner = sc.bits.data();   // columns 1 .. w-2
    uint64_t* zero = sc.bits.data() + words;
    std::fill_n(inner, words, 0);
    std::fill_n(zero, words, 0);
    for (int64_t x = 1; x + 1 < w; ++x) inner[x >> 6] |= uint64_t{1} << (x & 63);
    // Rows depend only on the marks, so parts of the image can be written at once.
    auto rowsOfPart = [&](int part, int n) {
        uint8_t* orBytes = sc.rowsFor(part);
        uint8_t* flagBytes = orBytes + roundUp(w, 64) + 64;
        int32_t first, end;
        partRange(h, 1, part, n, first, end);
        for (int32_t y = first; y < end; ++y) {
            const uint64_t* up = y > 0 ? marks.row(y - 1) : zero;
            const uint64_t* cur = marks.row(y);
            const uint64_t* down = y + 1 < h ? marks.row(y + 1) : zero;
            const bool horizontal = y >= 1 && y + 2 <= h;
            const uint8_t* next = im.row(y + 1 < end ? y + 1 : y);
            const int64_t done = level >= 3 && raw ? outlineRowAvx512(im.row(y), w, up, cur, down, inner, horizontal, words, next) : 0;
            if (done == w) continue;
            for (int64_t k = done / 64; k < words; ++k) {
                const uint64_t f1 = up[k] & inner[k], f2 = down[k] & inner[k];
                uint64_t f4 = 0, f8 = 0;
                if (horizontal) {
                    f4 = (cur[k] << 1) | (k > 0 ? cur[k - 1] >> 63 : 0);
                    f8 = (cur[k] >> 1) | (k + 1 < words ? cur[k + 1] << 63 : 0);
                }
                const uint64_t keep = cur[k] & ~(f1 & f2 & f4 & f8);
                if (!(f1 | f2 | f4 | f8 | keep)) {  // nothing marked near these 64 pixels
                    std::memset(flagBytes + 64 * k, 0, 64);
                    std::memset(orBytes + 64 * k, 0, 64);
                    continue;
                }
                for (int b = 0; b < 8; ++b) {
                    const uint64_t flags = spread(f1, b) | spread(f2, b) << 1 | spread(f4, b) << 2 | spread(f8, b) << 3;
                    std::memcpy(flagBytes + 64 * k + 8 * b, &flags, 8);
                    const uint64_t ors = spread(keep, b) << 1;
                    std::memcpy(orBytes + 64 * k + 8 * b, &ors, 8);
                }
            }
            writeRow(im.row(y) + 3 * done, static_cast<int32_t>(w - done), orBytes + done, flagBytes + done, std::min(level, 2), next, raw);
        }
    };
    inParts(parts, rowsOfPart);
}

}  // namespace

namespace fx {

// The widest vector level the processor has, up to maxLevel: 0 scalar, 1 SSSE3, 2 AVX2, 3 AVX-512.
int levelUpTo(int maxLevel) {
    const int have = simd::hasAvx512() ? 3 : simd::hasAvx2() ? 2 : simd::hasSsse3() ? 1 : 0;
    return std::min(maxLevel, have);
}

MarkFn markerFor(int m) {
    switch (m) {
    case 1: return markRow<1>;
    case 2: return markRow<2>;
    case 3: return markRow<3>;
    case 4: return markRow<4>;
    case 5: return markRow<5>;
    default: return markRow<6>;
    }
}

// Grey encoding of n colour pixels in place: byte 0 = 1, byte 1 = (b + g + r) / 3.
void encodeGrey(uint8_t* p, int64_t n) {
    for (int64_t i = 0; i < n; ++i, p += 3) {
        const int sum = p[0] + p[1] + p[2];
        p[0] = 1;
        p[1] = static_cast<uint8_t>(sum / 3);
    }
}

// n pixels of row p; next is the row written after it (p itself when none). With raw (vector
// level 2 only) the row holds colour pixels and is grey-encoded first.
void writeRow(uint8_t* p, int32_t n, const uint8_t* orBytes, const uint8_t* setBytes, int level, const uint8_t* next,
              bool raw) {
    int32_t done = 0;
    if (raw) {
        done = writeRowAvx2<true>(p, n, orBytes, setBytes, next);
        encodeGrey(p + 3 * int64_t{done}, n - done);
    } else if (level >= 2) {
        done = writeRowAvx2<false>(p, n, orBytes, setBytes, next);
    }
    if (level >= 1) done = writeRowSsse3(p, done, n, orBytes, setBytes);
    writeRowScalar(p, done, n, orBytes, setBytes);
}

}  // namespace fx

bool EffectScratch::reserve(int32_t width, int32_t /*height*/, int parts) {
    const int64_t w = std::max(width, 1);
    const int64_t words = wordsOf(w);
    const size_t rowBytes = rowBytesFor(width);
    try {
        if (bits.size() < size_t((10 + kMaxParts) * words)) bits.resize(size_t((10 + kMaxParts) * words));
        if (runStart.size() < size_t(w)) runStart.resize(size_t(w));
        if (rows.size() < rowBytes) rows.resize(rowBytes);
        if (parts > 1 && partRows.size() < rowBytes * size_t(parts - 1)) partRows.resize(rowBytes * size_t(parts - 1));
        partRowBytes_ = rowBytes;
        partsReady_ = parts > 1 ? 1 + int(partRows.size() / rowBytes) : 1;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

uint8_t* EffectScratch::rowsFor(int part) {
    return part == 0 ? rows.data() : partRows.data() + size_t(part - 1) * partRowBytes_;
}

void EffectScratch::release() {
    std::vector<uint64_t>().swap(bits);
    std::vector<int32_t>().swap(runStart);
    std::vector<uint8_t>().swap(rows);
    std::vector<uint8_t>().swap(partRows);
    partsReady_ = 1;
    depthWork.release();
    std::vector<uint64_t>().swap(marks);
    std::vector<uint64_t>().swap(gridPlanes);
    std::vector<uint64_t>().swap(depthLevels);
    std::vector<uint8_t>().swap(gridBytes);
}

EffectScratch& threadScratch() {
    thread_local EffectScratch scratch;
    return scratch;
}

void markRowBits(const uint8_t* row, int32_t n, int m, int lo, int hi, uint64_t* bits, int maxLevel) {
    markerFor(m)(row, n, lo, hi, bits, std::min(levelUpTo(maxLevel), 2));
}

bool EffectScratch::reserveFor(int32_t width, int32_t height, uint16_t mode, bool premarked) {
    if (!reserve(width, height, partsFor(width, height, premarked)) || (premarked && !reserveMarks(width, height)))
        return false;
    if (mode & BIN_ERASE_GRID) {
        try {
            const size_t words = size_t(wordsOf(std::max(width, 1)));
            const size_t planes = 5 * kGridRing * words + gridClassWords(int64_t(words));
            if (gridPlanes.size() < planes) gridPlanes.resize(planes);
            const size_t bytes = size_t(2 * (roundUp(std::max(width, 1), 32) + 32));
            if (gridBytes.size() < bytes) gridBytes.resize(bytes);
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    if (mode & BIN_OUTLINE) return true;
    try {
        const size_t need = characterModeBytes(width, height);
        if (depthWork.size() < need) depthWork.resize(need);
        const size_t levels = 256 * size_t(wordsOf(std::max(width, 1)) + 1);
        if (depthLevels.size() < levels) depthLevels.resize(levels);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool markAndApplyEffect(const Image& im, uint16_t mode, int m, int lo, int hi, const EffectParams& params,
                        EffectScratch& scratch, int maxLevel, bool premarked, bool rawGrey) {
    const int level = levelUpTo(maxLevel);
    if (!scratch.reserveFor(im.width, im.height, mode, premarked)) return false;
    // Character Mode and streamed Erase Grid Lines with marks made beforehand encode the rows as
    // they write them; the other cases take encoded rows.
    if (rawGrey && !(premarked && encodesRows(mode, params, level))) {
        for (int32_t y = 0; y < im.height; ++y) encodeGrey(im.row(y), im.width);
        rawGrey = false;
    }
    // Never more parts than the scratch holds rows for (the setting may have changed since).
    const int parts = std::min(partsFor(im.width, im.height, premarked), scratch.partsReady());
    RowMarks marks(im, m, lo, hi, scratch, level, premarked);
    if (mode & BIN_ERASE_GRID) {
        if (level >= 2 && gridStreams(params)) eraseGridLinesStreamed(im, marks, params, scratch, rawGrey, level >= 3);
        else eraseGridLines(im, marks, params, scratch);
    }
    else if (mode & BIN_OUTLINE) outline(im, marks, scratch, level, parts, rawGrey);
    else characterMode(im, marks, params, scratch, level, rawGrey);
    return true;
}

bool encodesRows(uint16_t mode, const EffectParams& params, int maxLevel) {
    if (!(mode & (BIN_ERASE_GRID | BIN_OUTLINE))) return true;
    const int level = levelUpTo(maxLevel);
    if (mode & BIN_ERASE_GRID) return level >= 2 && gridStreams(params);
    return level >= 2;  // Outline Mode
}

bool EffectScratch::reserveMarks(int32_t width, int32_t height) {
    try {
        const size_t need = size_t(wordsOf(std::max(width, 1))) * size_t(std::max(height, 1));
        if (marks.size() < need) marks.resize(need);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace lumo
