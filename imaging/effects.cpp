// The marker and the three effects as row-streaming passes. The marker turns each row into bits
// (one per pixel, set where the pixel meets the condition); runs are then found with bit scans,
// and the rows that change are rewritten with vector stores. Character Mode keeps one byte per
// pixel of depths and walks all columns at once, row by row, or with AVX-512 strip by strip.
#include "imaging/effects.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "imaging/simd_pixels.h"
#include "imaging/simd_wide.h"
#include "imaging/workers.h"

namespace lumo {

namespace {

int64_t wordsOf(int64_t n) { return (n + 63) / 64; }

// The widest vector level the processor has, up to maxLevel: 0 scalar, 1 SSSE3, 2 AVX2, 3 AVX-512.
int levelUpTo(int maxLevel) {
    const int have = simd::hasAvx512() ? 3 : simd::hasAvx2() ? 2 : simd::hasSsse3() ? 1 : 0;
    return std::min(maxLevel, have);
}
int64_t roundUp(int64_t n, int64_t to) { return (n + to - 1) / to * to; }

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

// The lanes of chunk c (eight words) that lie within a row of `words` words.
inline __mmask8 chunkLanes(int64_t words, int64_t c) {
    return static_cast<__mmask8>(words - 8 * c >= 8 ? 0xFF : (1u << (words - 8 * c)) - 1);
}

// Chunk c of a row of `words` words, clear beyond the row.
LUMO_AVX512 inline __m512i loadChunk(const uint64_t* row, int64_t words, int64_t c) {
    return 8 * c < words ? _mm512_maskz_loadu_epi64(chunkLanes(words, c), row + 8 * c) : _mm512_setzero_si512();
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

using MarkFn = void (*)(const uint8_t*, int32_t, int, int, uint64_t*, int);

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

// 8 bits to 8 bytes of 0 or 1.
struct Spread {
    uint64_t v[256];
    constexpr Spread() : v{} {
        for (int b = 0; b < 256; ++b)
            for (int k = 0; k < 8; ++k)
                if (b & (1 << k)) v[b] |= uint64_t{1} << (8 * k);
    }
};
constexpr Spread kSpread;

inline uint64_t spread(uint64_t word, int byte) { return kSpread.v[(word >> (8 * byte)) & 0xFF]; }

// Grey encoding of n colour pixels in place: byte 0 = 1, byte 1 = (b + g + r) / 3.
void encodeGrey(uint8_t* p, int64_t n) {
    for (int64_t i = 0; i < n; ++i, p += 3) {
        const int sum = p[0] + p[1] + p[2];
        p[0] = 1;
        p[1] = static_cast<uint8_t>(sum / 3);
    }
}

// ---- Writing rows -------------------------------------------------------------------------------

// Masks that keep bytes 0 and 1 of each pixel of output vector v.
struct KeepMasks {
    alignas(16) uint8_t keep01[3][16];
    constexpr KeepMasks() : keep01{} {
        for (int v = 0; v < 3; ++v)
            for (int j = 0; j < 16; ++j) keep01[v][j] = (16 * v + j) % 3 == 2 ? 0 : 0xFF;
    }
};
constexpr KeepMasks kKeep;

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
    int32_t i = 0;
    __m256i keep[3], mergeO[3], mergeS[3], mergeG[3];
    for (int v = 0; v < 3; ++v) {
        keep[v] = simd::mask2(kKeep.keep01[v]);
        mergeO[v] = simd::mask2(simd::kMasks.merge[v][0]);
        mergeS[v] = simd::mask2(simd::kMasks.merge[v][2]);
        mergeG[v] = simd::mask2(simd::kMasks.merge[v][1]);
    }
    const __m256i flag = _mm256_set1_epi8(1), third = _mm256_set1_epi16(21846);
    for (; i + 32 <= n; i += 32) {
        uint8_t* a = p + 3 * int64_t{i};
        _mm_prefetch(reinterpret_cast<const char*>(next + 3 * int64_t{i}), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(next + 3 * int64_t{i} + 64), _MM_HINT_T0);
        const __m256i o = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(orBytes + i));
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(setBytes + i));
        __m256i raw[3];
        simd::load96(a, raw);
        __m256i out[3];
        if constexpr (Raw) {
            __m256i low, high;
            simd::rawSums2(simd::Raw2{raw[0], raw[1], raw[2]}, low, high);
            const __m256i grey = _mm256_packus_epi16(_mm256_mulhi_epu16(low, third), _mm256_mulhi_epu16(high, third));
            const __m256i flags = _mm256_or_si256(o, flag);
#pragma GCC unroll 3
            for (int v = 0; v < 3; ++v)
                out[v] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(grey, mergeG[v]), _mm256_shuffle_epi8(flags, mergeO[v])),
                                         _mm256_shuffle_epi8(s, mergeS[v]));
        } else {
#pragma GCC unroll 3
            for (int v = 0; v < 3; ++v)
                out[v] = _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(raw[v], keep[v]), _mm256_shuffle_epi8(o, mergeO[v])),
                                         _mm256_shuffle_epi8(s, mergeS[v]));
        }
        simd::store96(a, out);
    }
    return i;
}

// n pixels of row p; next is the row written after it (p itself when none). With raw (vector
// level 2 only) the row holds colour pixels and is grey-encoded first.
void writeRow(uint8_t* p, int32_t n, const uint8_t* orBytes, const uint8_t* setBytes, int level, const uint8_t* next,
              bool raw = false) {
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

// 32 bits to 32 bytes of 0 or 0xFF.
LUMO_AVX2 inline __m256i bitsToBytes(uint32_t m) {
    const __m256i spread = _mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int>(m)),
                                               _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1,  //
                                                                2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3));
    const __m256i sel = _mm256_set1_epi64x(static_cast<int64_t>(0x8040201008040201ull));
    return _mm256_cmpeq_epi8(_mm256_and_si256(spread, sel), sel);
}

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

// ---- Character Mode -----------------------------------------------------------------------------
// Three passes over byte arrays with one byte per pixel (rows padded to kLanes columns), each row
// by row with all columns handled at once in vectors. The columns are independent: the walk's
// carried counter is back at 0 after the last segment of every column that holds a mark.
//   1. Down: horizontal depths from the marker bits, and where each vertical segment starts
//      (a valley, where a descent turns upward, is known one row later).
//   2. Up: B, the bottom pointer's counter before it reaches each pixel, restarting at every
//      segment's last pixel with the depth of the pixel after it.
//   3. Down: A, the top pointer's counter. Both counters only grow, so a pixel is the top
//      pointer's while A < B and the pointers meet at the first pixel where A >= B. New depths,
//      the centre marks where the pointers met (decided one row late, once the pixel below is
//      known), and each image row written once its depths are final, two rows behind.

constexpr int64_t kLanes = 64;  // columns per widest vector step; the arrays' rows are padded to it

// Byte vectors of the generic kind: the same kernels compile to AVX2 inside functions built for
// it and to SSE2 elsewhere. `At` is the unaligned, aliasing view used to read and write memory.
struct Lanes32 {
    typedef uint8_t V __attribute__((vector_size(32)));
    typedef uint8_t At __attribute__((vector_size(32), aligned(1), may_alias));
    typedef uint64_t Q __attribute__((vector_size(32)));
};
struct Lanes16 {
    typedef uint8_t V __attribute__((vector_size(16)));
    typedef uint8_t At __attribute__((vector_size(16), aligned(1), may_alias));
    typedef uint64_t Q __attribute__((vector_size(16)));
};

#define LUMO_LOAD(T, p) (*reinterpret_cast<const typename T::At*>(p))
#define LUMO_STORE(T, p) (*reinterpret_cast<typename T::At*>(p))

// True when every byte of v is zero.
template <class T>
[[gnu::always_inline]] inline bool allZero(const typename T::V& v) {
    const typename T::Q q = reinterpret_cast<const typename T::Q&>(v);
    uint64_t any = 0;
    for (size_t k = 0; k < sizeof(q) / 8; ++k) any |= q[k];
    return any == 0;
}

// Pass 1 for one row: d = its depths, p = the row above's; phase per column (0 outside a
// segment, 1 rising, 2 falling) is carried from row to row. starts gets 0xFF where a segment
// starts below an unmarked pixel; startsAbove (the row above) gains 0xFF where that row is a
// valley. Packed: depths stay below 128 and the starts are bit 7 of the depths (starts is d,
// startsAbove is p).
template <class T, bool Packed>
[[gnu::always_inline]] inline void segmentStarts(const uint8_t* d, const uint8_t* p, uint8_t* phase,
                                                 uint8_t* startsAbove, uint8_t* starts, int64_t n) {
    using V = typename T::V;
    for (int64_t x = 0; x < n; x += int64_t(sizeof(V))) {
        const V vd = LUMO_LOAD(T, d + x), rawUp = LUMO_LOAD(T, p + x);
        const V vp = Packed ? (rawUp & 0x7F) : rawUp;
        if (allZero<T>(vd | vp)) {  // no segment here or above: the phase is already 0
            if (!Packed) LUMO_STORE(T, starts + x) = V{};
            continue;
        }
        const V ph = LUMO_LOAD(T, phase + x);
        const V marked = V(vd != 0), down = V(vd < vp), up = V(vd > vp);
        const V valley = V(ph == 2) & up, start = marked & V(vp == 0);
        if (Packed) {
            LUMO_STORE(T, startsAbove + x) = rawUp | (valley & 0x80);
            LUMO_STORE(T, starts + x) = vd | (start & 0x80);
        } else {
            LUMO_STORE(T, startsAbove + x) = LUMO_LOAD(T, startsAbove + x) | valley;
            LUMO_STORE(T, starts + x) = start;
        }
        LUMO_STORE(T, phase + x) = marked & ((down & 2) | (up & 1) | (~(down | up) & ph));
    }
}

// Pass 2 for one row from the row below it (depths dn, starts sn, counters bn): B = the depth
// below where this pixel ends a segment, else the counter below, raised by one when it was
// under the depth below.
// The depths and starts of the row above this one (the next to be done) are fetched on the way:
// rows are taken from the bottom up, which the processor's own prefetching does not foresee.
// B is read only where this row is marked (by pass 3, and by this pass for the row above, which
// takes the depth below instead wherever this row is not marked), so unmarked stretches are not
// written at all.
template <class T, bool Packed>
[[gnu::always_inline]] inline void belowCounts(const uint8_t* d, const uint8_t* dn, const uint8_t* sn, const uint8_t* bn,
                                               uint8_t* b, const uint8_t* nextD, const uint8_t* nextS, int64_t n) {
    using V = typename T::V;
    for (int64_t x = 0; x < n; x += int64_t(sizeof(V))) {
        __builtin_prefetch(nextD + x);
        if (!Packed) __builtin_prefetch(nextS + x);
        const V here = LUMO_LOAD(T, d + x);
        if (allZero<T>(here)) continue;
        const V raw = LUMO_LOAD(T, dn + x);
        const V vd = Packed ? (raw & 0x7F) : raw;
        const V vs = Packed ? V((raw & 0x80) != 0) : LUMO_LOAD(T, sn + x), vb = LUMO_LOAD(T, bn + x);
        const V end = vs | V(vd == 0);
        LUMO_STORE(T, b + x) = (end & vd) | (~end & (vb - V(vb < vd)));
    }
}

// Pass 3 for row r: the rows it reads and the rows and column state it updates.
struct WalkRow {
    const uint8_t* d;   // depths of row r
    const uint8_t* b;   // B of row r
    const uint8_t* s;   // segment starts of row r
    uint8_t* a;         // per column: the top counter carried into row r
    uint8_t* met;       // per column: 0xFF once the current segment has a bottom-pointer pixel
    uint8_t* bottom;    // per column: row r - 1 was a bottom-pointer pixel
    uint8_t* f0;        // new depths of rows r, r-1, r-2, r-3 (r-2 may still rise by one)
    uint8_t* f1;
    uint8_t* f2;
    const uint8_t* f3;
    uint8_t* m0;        // 0xFF where the pointers met (first bottom-pointer pixel), rows r, r-1
    const uint8_t* m1;
    uint8_t* v0;        // vertical centre marks (0 or 4) of rows r, r-1, r-2
    uint8_t* v1;
    uint8_t* v2;
    int64_t ahead;      // from row r's depths, starts and B to the next row's (fetched on the way)
    uint8_t firstRow;   // 0xFF when row r - 1 is the image's first row
    uint8_t uInside;    // 0xFF when row r - 2 is below the first row
};

template <class T, bool Packed>
[[gnu::always_inline]] inline void walkRow(const WalkRow& w, int64_t n) {
    using V = typename T::V;
    // Locals, so that the stores through the aliasing views do not reload the row pointers.
    const uint8_t *const rd = w.d, *const rb = w.b, *const rs = w.s, *const rf3 = w.f3, *const rm1 = w.m1;
    uint8_t *const ra = w.a, *const rmet = w.met, *const rbottom = w.bottom, *const rf0 = w.f0, *const rf1 = w.f1;
    uint8_t *const rf2 = w.f2, *const rm0 = w.m0, *const rv0 = w.v0, *const rv1 = w.v1, *const rv2 = w.v2;
    const V first = V{} + w.firstRow, uInside = V{} + w.uInside;
    for (int64_t x = 0; x < n; x += int64_t(sizeof(V))) {
        __builtin_prefetch(rd + w.ahead + x);
        if (!Packed) __builtin_prefetch(rs + w.ahead + x);
        __builtin_prefetch(rb + w.ahead + x);
        const V raw = LUMO_LOAD(T, rd + x), carried = LUMO_LOAD(T, ra + x), met = LUMO_LOAD(T, rmet + x);
        const V wasBottom = LUMO_LOAD(T, rbottom + x), m1 = LUMO_LOAD(T, rm1 + x);
        if (allZero<T>(raw | carried | met | wasBottom | m1)) {
            // No mark here, none in the segment above, and no meeting to judge: nothing changes.
            LUMO_STORE(T, rf0 + x) = V{};
            LUMO_STORE(T, rm0 + x) = V{};
            LUMO_STORE(T, rv0 + x) = V{};
            continue;
        }
        const V d = Packed ? (raw & 0x7F) : raw;
        const V b = LUMO_LOAD(T, rb + x), s = Packed ? V((raw & 0x80) != 0) : LUMO_LOAD(T, rs + x);
        const V marked = V(d != 0);
        // A segment that starts at a valley takes the valley's depth as its counter when the
        // pointers met in the segment above; otherwise the counter runs on (met is clear, and
        // the counter 0, after an unmarked pixel).
        const V restart = s & met;
        const V a = (restart & d) | (~restart & carried);
        const V top = marked & V(a < b);
        const V bottom = marked & ~top;
        const V a1 = a + 1, b1 = b + 1;
        const V f0 = (top & (d < a1 ? d : a1)) | (~top & (d < b1 ? d : b1));
        LUMO_STORE(T, ra + x) = marked & (a - V(a < d));
        LUMO_STORE(T, rmet + x) = marked & ((met & ~s) | bottom);
        LUMO_STORE(T, rm0 + x) = bottom & (s | ~wasBottom);
        LUMO_STORE(T, rbottom + x) = bottom;
        LUMO_STORE(T, rf0 + x) = f0;
        LUMO_STORE(T, rv0 + x) = V{};
        if (allZero<T>(m1)) continue;
        // Where the pointers met at P = r - 1, with U = r - 2 above it: the pixel below P is
        // this row's (its original depth when it starts the next segment).
        const V below = (s & d) | (~s & f0);
        const V dp = LUMO_LOAD(T, rf1 + x), du = LUMO_LOAD(T, rf2 + x), duu = LUMO_LOAD(T, rf3 + x);
        const V lower = first | V(du < dp);
        const V markP = m1 & lower & V(below < dp);
        const V markU = m1 & ~lower & uInside & V(duu < du) & V(below < du);
        LUMO_STORE(T, rv1 + x) = LUMO_LOAD(T, rv1 + x) | (markP & 4);
        LUMO_STORE(T, rv2 + x) = LUMO_LOAD(T, rv2 + x) | (markU & 4);
        LUMO_STORE(T, rf2 + x) = du - markU;
    }
}

#undef LUMO_LOAD
#undef LUMO_STORE

// ---- Character Mode with AVX-512 -----------------------------------------------------------------
// The same passes with every per-pixel flag kept as a bit (a word per 64 columns) and the lanes'
// conditions in mask registers: the segment starts and the vertical marks are bit rows, and the
// phase a bit per column. With a depth cap below 16, B goes into the high half of each depth
// byte, so passes 2 and 3 move one array rather than two.

constexpr int kNibbleLimit = 15;  // the largest cap whose depths and B share a byte

// Passes 2 and 3 go down one column strip of 64 pixels at a time rather than along the rows: a
// strip's bytes of every row (64 x height) stay in the second-level cache from pass 2 to pass 3,
// and the walk keeps its column state and the rows it looks back at in registers. The walk
// leaves each row's final depths in place of its depths and its vertical marks in a bit row; the
// image rows are written afterwards.

// Where the strip passes find their rows: `stride` bytes from one image row to the next.
struct StripRows {
    uint8_t* depths;          // row 0's depths (the final depths once the walk has passed)
    uint8_t* counts;          // row 0's B, when B does not share the depth bytes
    const uint64_t* starts;   // row 0's start bits
    uint64_t* vertical;       // row 0's vertical-mark bits
    int64_t stride, words, height;
};

// Pass 2 (see belowCounts) for S strips from column x, from the bottom row up. Each row depends
// on the one below, so S strips are taken together to give the processor independent work.
template <bool Nibbles, int S>
LUMO_AVX512 void belowCountsStrips(const StripRows& rows, int64_t x) {
    const StripRows at = rows;  // a copy the stores below cannot reach, so nothing is read again
    const int64_t stride = at.stride, words = at.words;
    const __m512i one = _mm512_set1_epi8(1);
    __m512i vd[S], vb[S];  // the row below's depths and B
    uint64_t startsBelow[S];
    for (int i = 0; i < S; ++i) vd[i] = vb[i] = _mm512_setzero_si512(), startsBelow[i] = 0;
    for (int64_t y = at.height - 1; y >= 0; --y) {
        uint8_t* d = at.depths + y * stride + x;
        uint8_t* counts = at.counts + y * stride + x;
        const uint64_t* starts = at.starts + y * words + (x >> 6);
        // Rows are taken upwards, which the processor's prefetching does not foresee.
        const uint8_t* ahead = d - std::min<int64_t>(y, 64) * stride;
        for (int i = 0; i < S; ++i) __builtin_prefetch(ahead + 64 * i);
#pragma GCC unroll 4
        for (int i = 0; i < S; ++i) {
            const __m512i here = _mm512_loadu_si512(d + 64 * i);
            const __mmask64 marked = _mm512_test_epi8_mask(here, here);
            const __mmask64 end = startsBelow[i] | _mm512_testn_epi8_mask(vd[i], vd[i]);
            const __m512i counted = _mm512_mask_add_epi8(vb[i], _mm512_cmplt_epu8_mask(vb[i], vd[i]), vb[i], one);
            // B is read only where the row is marked; kept at 0 elsewhere, unmarked bytes stay 0.
            const __m512i count = _mm512_maskz_mov_epi8(marked, _mm512_mask_mov_epi8(counted, end, vd[i]));
            if (Nibbles) _mm512_storeu_si512(d + 64 * i, _mm512_or_si512(here, _mm512_slli_epi16(count, 4)));  // count <= 15
            else _mm512_storeu_si512(counts + 64 * i, count);
            vd[i] = here;
            vb[i] = count;
            startsBelow[i] = starts[i];
        }
    }
}

// Row y's final depths and vertical marks in the strip at column x.
LUMO_AVX512 inline void finishStripRow(const StripRows& at, int64_t y, int64_t x, __m512i f, __mmask64 v) {
    _mm512_storeu_si512(at.depths + y * at.stride + x, f);
    at.vertical[y * at.words + (x >> 6)] = v;
}

// Pass 3 (see walkRow) for S strips from column x, from the top row down. Row r - 2's depths are
// final once row r is walked (the meeting at r - 1 may raise them by one): they are stored then.
template <bool Nibbles, int S>
LUMO_AVX512 void walkStrips(const StripRows& rows, int64_t x) {
    const StripRows at = rows;  // a copy the stores below cannot reach, so nothing is read again
    const int64_t h = at.height, stride = at.stride, words = at.words;
    // Row r's depths, B and starts, and the row whose final depths and marks are stored (r - 2).
    const uint8_t* row = at.depths + x;
    const uint8_t* counts = at.counts + x;
    const uint64_t* starts = at.starts + (x >> 6);
    uint8_t* done = at.depths + x;
    uint64_t* doneMarks = at.vertical + (x >> 6);
    const __m512i zero = _mm512_setzero_si512(), one = _mm512_set1_epi8(1), low = _mm512_set1_epi8(0x0F);
    __m512i carried[S], f1[S], f2[S], f3[S];  // new depths of rows r-1, r-2, r-3
    __mmask64 met[S], wasBottom[S], m1[S], v1[S], v2[S];  // v1, v2: vertical marks of r-1, r-2
    for (int i = 0; i < S; ++i) {
        carried[i] = f1[i] = f2[i] = f3[i] = zero;
        met[i] = wasBottom[i] = m1[i] = v1[i] = v2[i] = 0;
    }
    for (int64_t r = 0; r < h; ++r, row += stride, counts += stride, starts += words) {
        const __mmask64 firstRow = r == 1 ? ~__mmask64{0} : 0, uInside = r >= 3 ? ~__mmask64{0} : 0;
#pragma GCC unroll 4
        for (int i = 0; i < S; ++i) {
            const __m512i raw = _mm512_loadu_si512(row + 64 * i);
            const __m512i d = Nibbles ? _mm512_and_si512(raw, low) : raw;
            const __m512i b = Nibbles ? _mm512_and_si512(_mm512_srli_epi16(raw, 4), low) : _mm512_loadu_si512(counts + 64 * i);
            const __mmask64 s = starts[i];
            const __mmask64 marked = _mm512_test_epi8_mask(d, d);
            // The counter restarts at the valley's depth where the pointers met in the segment above.
            const __m512i a = _mm512_mask_mov_epi8(carried[i], s & met[i], d);
            const __mmask64 top = marked & _mm512_cmplt_epu8_mask(a, b), bottom = marked & ~top;
            const __m512i f0 = _mm512_min_epu8(d, _mm512_add_epi8(_mm512_mask_mov_epi8(b, top, a), one));
            const __m512i kept = _mm512_maskz_mov_epi8(marked, a);
            carried[i] = _mm512_mask_add_epi8(kept, marked & _mm512_cmplt_epu8_mask(a, d), kept, one);
            const __mmask64 m0 = bottom & (s | ~wasBottom[i]);
            met[i] = marked & ((met[i] & ~s) | bottom);
            wasBottom[i] = bottom;
            if (m1[i]) {
                // Where the pointers met at P = r - 1, with U = r - 2 above it: the pixel below P
                // is this row's (its original depth when it starts the next segment).
                const __m512i below = _mm512_mask_mov_epi8(f0, s, d);
                const __mmask64 lower = firstRow | _mm512_cmplt_epu8_mask(f2[i], f1[i]);
                const __mmask64 markP = m1[i] & lower & _mm512_cmplt_epu8_mask(below, f1[i]);
                const __mmask64 markU = m1[i] & ~lower & uInside & _mm512_cmplt_epu8_mask(f3[i], f2[i]) &
                                        _mm512_cmplt_epu8_mask(below, f2[i]);
                v1[i] |= markP;
                v2[i] |= markU;
                f2[i] = _mm512_mask_add_epi8(f2[i], markU, f2[i], one);
            }
            if (r >= 2) {
                _mm512_storeu_si512(done + 64 * i, f2[i]);
                doneMarks[i] = v2[i];
            }
            f3[i] = f2[i], f2[i] = f1[i], f1[i] = f0;
            v2[i] = v1[i], v1[i] = 0;
            m1[i] = m0;
        }
        if (r >= 2) done += stride, doneMarks += words;
    }
    for (int i = 0; i < S; ++i) {
        if (h >= 2) finishStripRow(at, h - 2, x + 64 * i, f2[i], v2[i]);
        finishStripRow(at, h - 1, x + 64 * i, f1[i], v1[i]);
    }
}

// Passes 2 and 3 over S strips from column x.
template <bool Nibbles, int S>
void stripGroup(const StripRows& at, int64_t x) {
    belowCountsStrips<Nibbles, S>(at, x);
    walkStrips<Nibbles, S>(at, x);
}

// Passes 2 and 3 over every strip, three at a time (as many as keep the walk's state in registers).
template <bool Nibbles>
void stripPasses(const StripRows& at, int64_t n) {
    int64_t x = 0;
    for (; x + 3 * 64 <= n; x += 3 * 64) stripGroup<Nibbles, 3>(at, x);
    if (x + 2 * 64 <= n) stripGroup<Nibbles, 2>(at, x);
    else if (x < n) stripGroup<Nibbles, 1>(at, x);
}

// Vertical marks as bytes (0 or 4) from their bit row, for the writers that read bytes.
LUMO_AVX512 void verticalBytes(const uint64_t* bits, int64_t words, uint8_t* out) {
    const __m512i four = _mm512_set1_epi8(4);
    for (int64_t k = 0; k < words; ++k) _mm512_storeu_si512(out + 64 * k, _mm512_maskz_mov_epi8(bits[k], four));
}

template <bool Packed>
LUMO_AVX2 void segmentStartsAvx2(const uint8_t* d, const uint8_t* p, uint8_t* phase, uint8_t* above, uint8_t* starts,
                                 int64_t n) {
    segmentStarts<Lanes32, Packed>(d, p, phase, above, starts, n);
}
template <bool Packed>
void segmentStartsSse2(const uint8_t* d, const uint8_t* p, uint8_t* phase, uint8_t* above, uint8_t* starts, int64_t n) {
    segmentStarts<Lanes16, Packed>(d, p, phase, above, starts, n);
}
template <bool Packed>
LUMO_AVX2 void belowCountsAvx2(const uint8_t* d, const uint8_t* dn, const uint8_t* sn, const uint8_t* bn, uint8_t* b,
                               const uint8_t* nextD, const uint8_t* nextS, int64_t n) {
    belowCounts<Lanes32, Packed>(d, dn, sn, bn, b, nextD, nextS, n);
}
template <bool Packed>
void belowCountsSse2(const uint8_t* d, const uint8_t* dn, const uint8_t* sn, const uint8_t* bn, uint8_t* b,
                     const uint8_t* nextD, const uint8_t* nextS, int64_t n) {
    belowCounts<Lanes16, Packed>(d, dn, sn, bn, b, nextD, nextS, n);
}
template <bool Packed>
LUMO_AVX2 void walkRowAvx2(const WalkRow& w, int64_t n) { walkRow<Lanes32, Packed>(w, n); }
template <bool Packed>
void walkRowSse2(const WalkRow& w, int64_t n) { walkRow<Lanes16, Packed>(w, n); }

// The three passes' kernels for one vector width and one way of keeping the starts.
struct CharacterKernels {
    void (*starts)(const uint8_t*, const uint8_t*, uint8_t*, uint8_t*, uint8_t*, int64_t);
    void (*below)(const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*, const uint8_t*,
                  const uint8_t*, int64_t);
    void (*walk)(const WalkRow&, int64_t);
};

CharacterKernels characterKernels(int level, bool packed) {
    if (level >= 2) {
        if (packed) return {segmentStartsAvx2<true>, belowCountsAvx2<true>, walkRowAvx2<true>};
        return {segmentStartsAvx2<false>, belowCountsAvx2<false>, walkRowAvx2<false>};
    }
    if (packed) return {segmentStartsSse2<true>, belowCountsSse2<true>, walkRowSse2<true>};
    return {segmentStartsSse2<false>, belowCountsSse2<false>, walkRowSse2<false>};
}

// Horizontal depths of one row from its marker bits: 0 where unmarked, each run counted from
// both ends at once, capped at limit. out holds n >= w bytes (n a multiple of 32); those past w
// become 0 as well. Done on bit rows rather than run by run (a screen row holds many short runs):
// a pixel's depth before the cap is min(i, j) + 1 for i, j its distances to the run's ends, that
// is the number of k for which it lies in the row eroded k - 1 times by one pixel either side
// (level E_k), plus one for the left one of the two middle pixels of a run of even length (the
// pair at the top level k, both in E_k and not in E_k+1). levels holds limit + 1 rows of
// wordsOf(w) + 1 words: the levels, then those left pixels.
template <class AddLevels>
void rowDepthsBy(const uint64_t* bits, int32_t w, int64_t n, int limit, uint8_t* out, uint64_t* levels,
                 AddLevels addLevels) {
    const int64_t words = wordsOf(w), stride = words + 1;
    uint64_t* pairs = levels;
    std::fill_n(pairs, words, 0);
    uint64_t* e = levels + stride;
    std::memcpy(e, bits, size_t(words) * 8);
    int count = 0;
    for (int level = 1; level <= limit; ++level, e += stride) {
        uint64_t any = 0;
        for (int64_t i = 0; i < words; ++i) any |= e[i];
        if (!any) break;
        count = level;
        if (level == limit) break;
        // E_k+1: in E_k with both neighbours in it (the neighbours of the row's ends are clear).
        uint64_t* next = e + stride;
        for (int64_t i = 0; i < words; ++i) {
            const uint64_t left = (e[i] << 1) | (i > 0 ? e[i - 1] >> 63 : 0);
            const uint64_t right = (e[i] >> 1) | (i + 1 < words ? e[i + 1] << 63 : 0);
            next[i] = e[i] & left & right;
        }
        // The top pairs at this level: their left pixel gains one.
        for (int64_t i = 0; i < words; ++i) {
            const uint64_t top = e[i] & ~next[i];
            const uint64_t topNext = i + 1 < words ? e[i + 1] & ~next[i + 1] : 0;
            pairs[i] |= top & ((top >> 1) | (topNext << 63));
        }
    }
    addLevels(levels, stride, count, words, n, out);
}

// Sums the levels into bytes: scalar, eight pixels at a time.
void addLevelsScalar(const uint64_t* levels, int64_t stride, int count, int64_t words, int64_t n, uint8_t* out) {
    std::memset(out, 0, size_t(n));
    for (int k = 0; k <= count; ++k)
        for (int64_t i = 0; i < words; ++i) {
            const uint64_t b = levels[k * stride + i];
            for (int j = 0; b && j < 8; ++j) {
                uint64_t v;
                std::memcpy(&v, out + 64 * i + 8 * j, 8);
                v += kSpread.v[(b >> (8 * j)) & 0xFF];
                std::memcpy(out + 64 * i + 8 * j, &v, 8);
            }
        }
}

// The same thirty-two pixels at a time: each level lies within the one before it, so a block
// stops at its first empty level.
LUMO_AVX2 void addLevelsAvx2(const uint64_t* levels, int64_t stride, int count, int64_t words, int64_t n, uint8_t* out) {
    for (int64_t x = 0; x < n; x += 32) {
        __m256i d = _mm256_setzero_si256();
        if (x < 64 * words) {
            const auto bitsAt = [&](int k) { return static_cast<uint32_t>(levels[k * stride + (x >> 6)] >> (x & 63)); };
            d = _mm256_sub_epi8(d, bitsToBytes(bitsAt(0)));
            for (int k = 1; k <= count; ++k) {
                const uint32_t m = bitsAt(k);
                if (!m) break;
                d = _mm256_sub_epi8(d, bitsToBytes(m));
            }
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), d);
    }
}

// The same sixty-four pixels at a time, each level adding one under its bits as a mask.
// Where a row's segment starts go when they are found as its depths are summed (pass 1 of the
// wide Character Mode): one bit per pixel, 64 columns to a word.
struct StartBits {
    const uint8_t* p;   // the row above's depths
    uint64_t* starts;   // this row's starts: below an unmarked pixel (its valleys come one row later)
    uint64_t* above;    // the row above's starts, which gain its valleys (a spare row above the first)
    uint64_t* falling;  // per column: in a segment whose depths have fallen since its highest point
};

// Starts of one 64-column step of the wide pass 1 from its depths d (see StartBits).
LUMO_AVX512 inline void startsOfStep(__m512i d, int64_t x, const StartBits& st) {
    const int64_t k = x >> 6;
    const __m512i vp = _mm512_loadu_si512(st.p + x);
    const __mmask64 marked = _mm512_test_epi8_mask(d, d);
    const __mmask64 down = _mm512_cmplt_epu8_mask(d, vp), up = _mm512_cmplt_epu8_mask(vp, d), flat = ~(down | up);
    const uint64_t falling = st.falling[k];
    st.above[k] |= falling & up;  // a rise after a fall: the row above is a valley
    st.starts[k] = marked & _mm512_testn_epi8_mask(vp, vp);
    st.falling[k] = marked & (down | (flat & falling));
}

LUMO_AVX512 void addLevelsAvx512(const uint64_t* levels, int64_t stride, int count, int64_t words, int64_t n,
                                 uint8_t* out, const StartBits& at) {
    const StartBits st = at;  // a copy the stores below cannot reach
    const __m512i one = _mm512_set1_epi8(1);
    for (int64_t x = 0; x < n; x += 64) {
        const int64_t k = x >> 6;
        __m512i d = _mm512_setzero_si512();
        if (k < words) {
            d = _mm512_maskz_mov_epi8(levels[k], one);
            for (int lv = 1; lv <= count; ++lv) {
                const uint64_t m = levels[lv * stride + k];
                if (!m) break;
                d = _mm512_mask_add_epi8(d, m, d, one);
            }
        }
        _mm512_storeu_si512(out + x, d);
        startsOfStep(d, x, st);
    }
}

// rowDepthsBy eight words at a time: funnel shifts carry the bits across words, and a word's
// neighbours come from the vectors either side by one lane (clear beyond the row's ends).

// The pixels of depth exactly k (set, C chunks of 8 words) join the planes (rows of 8 C words) of k's bits.
template <int C>
LUMO_AVX512 inline void addDepth(uint64_t* planeRows, int planes, int k, const __m512i* set) {
    for (int j = 0; j < planes; ++j) {
        if (!((k >> j) & 1)) continue;
        uint64_t* row = planeRows + j * 8 * C;
#pragma GCC unroll 4
        for (int c = 0; c < C; ++c) _mm512_storeu_si512(row + 8 * c, _mm512_or_si512(_mm512_loadu_si512(row + 8 * c), set[c]));
    }
}

// The depths of n pixels from P bit planes (rows rowWords apart) and the pairs' left pixels,
// with the row's starts found on the way.
template <int P>
LUMO_AVX512 void depthsFromPlanes(const uint64_t* planeRows, int64_t rowWords, const uint64_t* pairs, int64_t n,
                                  uint8_t* out, const StartBits& at) {
    const StartBits st = at;  // a copy the stores below cannot reach
    const __m512i one = _mm512_set1_epi8(1);
    __m512i weight[P];
    for (int j = 0; j < P; ++j) weight[j] = _mm512_set1_epi8(char(1 << j));
    for (int64_t x = 0; x < n; x += 64) {
        const int64_t k = x >> 6;
        __m512i d = _mm512_maskz_mov_epi8(planeRows[k], one);
#pragma GCC unroll 8
        for (int j = 1; j < P; ++j) d = _mm512_mask_add_epi8(d, planeRows[j * rowWords + k], d, weight[j]);
        d = _mm512_mask_add_epi8(d, pairs[k], d, one);
        _mm512_storeu_si512(out + x, d);
        startsOfStep(d, x, st);
    }
}

// The same for rows of up to 8 C words, with the row's levels held in registers. The depths are
// gathered as bit planes while the levels are made: the pixels whose depth is exactly k (in E_k
// and not in E_k+1) join plane j for every bit j of k, and the pairs' left pixels are added
// last. Turning the planes into bytes costs the same at every depth, with no loop whose length
// varies from step to step.
template <int C>
LUMO_AVX512 void rowDepthsHeld(const uint64_t* bits, int64_t words, int64_t n, int limit, uint8_t* out, uint64_t* levels,
                               const StartBits& st) {
    const __m512i zero = _mm512_setzero_si512();
    const int planes = std::bit_width(unsigned(limit));
    // Rows of C full chunks: the pairs, then the planes (levels holds 256 rows of words + 1).
    constexpr int64_t kRow = 8 * C;
    uint64_t* const pairRow = levels;
    uint64_t* const planeRows = levels + kRow;
    __m512i e[C], pairs[C];
    __mmask8 any = 0;
#pragma GCC unroll 4
    for (int c = 0; c < C; ++c) {
        e[c] = loadChunk(bits, words, c);
        pairs[c] = zero;
        any |= _mm512_test_epi64_mask(e[c], e[c]);
    }
    for (int j = 0; j < planes; ++j)
#pragma GCC unroll 4
        for (int c = 0; c < C; ++c) _mm512_storeu_si512(planeRows + j * kRow + 8 * c, zero);
    for (int level = 1; level <= limit && any; ++level) {
        if (level == limit) {  // what is left is capped here
            addDepth<C>(planeRows, planes, level, e);
            break;
        }
        __m512i kept[C], top[C];
        any = 0;
#pragma GCC unroll 4
        for (int c = 0; c < C; ++c) {
            const __m512i before = c > 0 ? e[c - 1] : zero, after = c + 1 < C ? e[c + 1] : zero;
            const __m512i left = _mm512_shldi_epi64(e[c], _mm512_maskz_alignr_epi64(0xFF, e[c], before, 7), 1);
            const __m512i right = _mm512_shrdi_epi64(e[c], _mm512_maskz_alignr_epi64(0xFF, after, e[c], 1), 1);
            kept[c] = _mm512_ternarylogic_epi64(e[c], left, right, 0x80);
            top[c] = _mm512_maskz_andnot_epi64(0xFF, kept[c], e[c]);
            any |= _mm512_test_epi64_mask(kept[c], kept[c]);
        }
        addDepth<C>(planeRows, planes, level, top);
#pragma GCC unroll 4
        for (int c = 0; c < C; ++c) {
            const __m512i after = c + 1 < C ? top[c + 1] : zero;
            pairs[c] = _mm512_ternarylogic_epi64(
                pairs[c], top[c], _mm512_shrdi_epi64(top[c], _mm512_maskz_alignr_epi64(0xFF, after, top[c], 1), 1),
                0xF8);  // pairs | (top & top's right neighbour)
            e[c] = kept[c];
        }
    }
#pragma GCC unroll 4
    for (int c = 0; c < C; ++c) _mm512_storeu_si512(pairRow + 8 * c, pairs[c]);
    switch (planes) {
    case 1: return depthsFromPlanes<1>(planeRows, kRow, pairRow, n, out, st);
    case 2: return depthsFromPlanes<2>(planeRows, kRow, pairRow, n, out, st);
    case 3: return depthsFromPlanes<3>(planeRows, kRow, pairRow, n, out, st);
    case 4: return depthsFromPlanes<4>(planeRows, kRow, pairRow, n, out, st);
    case 5: return depthsFromPlanes<5>(planeRows, kRow, pairRow, n, out, st);
    case 6: return depthsFromPlanes<6>(planeRows, kRow, pairRow, n, out, st);
    case 7: return depthsFromPlanes<7>(planeRows, kRow, pairRow, n, out, st);
    default: return depthsFromPlanes<8>(planeRows, kRow, pairRow, n, out, st);
    }
}

// Depths and segment starts of one row: pass 1 of the wide Character Mode.
LUMO_AVX512 void rowDepthsAvx512(const uint64_t* bits, int32_t w, int64_t n, int limit, uint8_t* out, uint64_t* levels,
                                 const StartBits& st) {
    const int64_t words = wordsOf(w), stride = words + 1, chunks = (words + 7) / 8;
    switch (chunks) {
    case 1: return rowDepthsHeld<1>(bits, words, n, limit, out, levels, st);
    case 2: return rowDepthsHeld<2>(bits, words, n, limit, out, levels, st);
    case 3: return rowDepthsHeld<3>(bits, words, n, limit, out, levels, st);
    case 4: return rowDepthsHeld<4>(bits, words, n, limit, out, levels, st);
    default: break;
    }
    uint64_t* pairs = levels;
    std::fill_n(pairs, words, 0);
    uint64_t* e = levels + stride;
    std::memcpy(e, bits, size_t(words) * 8);
    bool any = false;
    for (int64_t i = 0; i < words; ++i) any |= bits[i] != 0;
    int count = 0;
    for (int level = 1; level <= limit && any; ++level, e += stride) {
        count = level;
        if (level == limit) break;
        // E_k+1: in E_k with both neighbours in it.
        uint64_t* next = e + stride;
        __m512i before = _mm512_setzero_si512(), cur = loadChunk(e, words, 0);
        __mmask8 nonzero = 0;
        for (int64_t c = 0; c < chunks; ++c) {
            const __m512i after = loadChunk(e, words, c + 1);
            const __m512i left = _mm512_shldi_epi64(cur, _mm512_maskz_alignr_epi64(0xFF, cur, before, 7), 1);
            const __m512i right = _mm512_shrdi_epi64(cur, _mm512_maskz_alignr_epi64(0xFF, after, cur, 1), 1);
            const __m512i kept = _mm512_ternarylogic_epi64(cur, left, right, 0x80);  // all three
            _mm512_mask_storeu_epi64(next + 8 * c, chunkLanes(words, c), kept);
            nonzero |= _mm512_test_epi64_mask(kept, kept);
            before = cur;
            cur = after;
        }
        // The top pairs at this level: their left pixel gains one.
        __m512i top = _mm512_maskz_andnot_epi64(0xFF, loadChunk(next, words, 0), loadChunk(e, words, 0));
        for (int64_t c = 0; c < chunks; ++c) {
            const __m512i topAfter = _mm512_maskz_andnot_epi64(0xFF, loadChunk(next, words, c + 1), loadChunk(e, words, c + 1));
            const __m512i pair = _mm512_and_si512(top, _mm512_shrdi_epi64(top, _mm512_maskz_alignr_epi64(0xFF, topAfter, top, 1), 1));
            _mm512_mask_storeu_epi64(pairs + 8 * c, chunkLanes(words, c), _mm512_or_si512(loadChunk(pairs, words, c), pair));
            top = topAfter;
        }
        any = nonzero != 0;
    }
    addLevelsAvx512(levels, stride, count, words, n, out, st);
}

void rowDepths(const uint64_t* bits, int32_t w, int64_t n, int limit, uint8_t* out, uint64_t* levels, int level) {
    if (level >= 2) rowDepthsBy(bits, w, n, limit, out, levels, addLevelsAvx2);
    else rowDepthsBy(bits, w, n, limit, out, levels, addLevelsScalar);
}

// Byte 0 additions of one row from its final depths (padded with 255 at d[-1], d[w], d[w+1]) and
// its vertical marks: 0x02 where marked (depth non-zero), 0x04 for a centre mark.
void rowMarks(const uint8_t* d, const uint8_t* vertical, int32_t w, bool inner, uint8_t* out) {
    for (int32_t x = 0; x < w; ++x) {
        const int c = d[x];
        uint8_t v = static_cast<uint8_t>((c ? 0x02 : 0) | vertical[x]);
        if (inner && c && d[x - 1] < c && (d[x + 1] < c || (d[x + 1] == c && d[x + 2] < c))) v |= 0x04;
        out[x] = v;
    }
}

LUMO_SSSE3 int32_t rowMarksSsse3(const uint8_t* d, const uint8_t* vertical, int32_t w, bool inner, uint8_t* out) {
    const __m128i z = _mm_setzero_si128(), two = _mm_set1_epi8(2), four = _mm_set1_epi8(inner ? 4 : 0);
    auto lt = [](__m128i a, __m128i b) {  // unsigned a < b
        return _mm_andnot_si128(_mm_cmpeq_epi8(a, b), _mm_cmpeq_epi8(_mm_max_epu8(a, b), b));
    };
    int32_t x = 0;
    for (; x + 16 <= w; x += 16) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + x));
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + x - 1));
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + x + 1));
        const __m128i r2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + x + 2));
        const __m128i on = _mm_andnot_si128(_mm_cmpeq_epi8(c, z), _mm_set1_epi8(-1));
        const __m128i centre = _mm_and_si128(
            _mm_and_si128(on, lt(l, c)), _mm_or_si128(lt(r, c), _mm_and_si128(_mm_cmpeq_epi8(r, c), lt(r2, c))));
        const __m128i v = _mm_or_si128(_mm_or_si128(_mm_and_si128(on, two), _mm_and_si128(centre, four)),
                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(vertical + x)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), v);
    }
    return x;
}

// Unsigned a < b, byte by byte.
LUMO_AVX2 inline __m256i lt(__m256i a, __m256i b) { return simd::gtU8x2(b, a); }

// AVX2: rowMarks and writeRow in one loop, thirty-two pixels per step; returns the pixels done.
// The row written next (next) is fetched on the way. With Raw the row still holds its colour
// pixels and is grey-encoded on the way (flag 1, grey level (b + g + r) / 3).
template <bool Raw>
LUMO_AVX2 int32_t writeDepthRowAvx2(uint8_t* p, int32_t n, const uint8_t* d, const uint8_t* vertical, bool inner,
                                    const uint8_t* next) {
    const __m256i z = _mm256_setzero_si256(), two = _mm256_set1_epi8(2), four = _mm256_set1_epi8(inner ? 4 : 0);
    const __m256i flag = _mm256_set1_epi8(Raw ? 1 : 0), third = _mm256_set1_epi16(21846);
    __m256i keep[3], mergeO[3], mergeG[3], mergeS[3];
    for (int v = 0; v < 3; ++v) {
        keep[v] = simd::mask2(kKeep.keep01[v]);
        mergeO[v] = simd::mask2(simd::kMasks.merge[v][0]);
        mergeG[v] = simd::mask2(simd::kMasks.merge[v][1]);
        mergeS[v] = simd::mask2(simd::kMasks.merge[v][2]);
    }
    int32_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        const __m256i l = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i - 1));
        const __m256i r = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i + 1));
        const __m256i r2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i + 2));
        const __m256i on = _mm256_xor_si256(_mm256_cmpeq_epi8(c, z), _mm256_set1_epi8(-1));
        const __m256i centre = _mm256_and_si256(
            _mm256_and_si256(on, lt(l, c)), _mm256_or_si256(lt(r, c), _mm256_and_si256(_mm256_cmpeq_epi8(r, c), lt(r2, c))));
        const __m256i o = _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(on, two), _mm256_and_si256(centre, four)),
                                          _mm256_or_si256(flag, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(vertical + i))));
        uint8_t* a = p + 3 * int64_t{i};
        _mm_prefetch(reinterpret_cast<const char*>(next + 3 * int64_t{i}), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(next + 3 * int64_t{i} + 64), _MM_HINT_T0);
        __m256i raw[3];
        simd::load96(a, raw);
        __m256i out[3];
        if constexpr (Raw) {
            __m256i low, high;
            simd::rawSums2(simd::Raw2{raw[0], raw[1], raw[2]}, low, high);
            const __m256i grey = _mm256_packus_epi16(_mm256_mulhi_epu16(low, third), _mm256_mulhi_epu16(high, third));
#pragma GCC unroll 3
            for (int v = 0; v < 3; ++v)
                out[v] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(grey, mergeG[v]), _mm256_shuffle_epi8(o, mergeO[v])),
                                         _mm256_shuffle_epi8(c, mergeS[v]));
        } else {
#pragma GCC unroll 3
            for (int v = 0; v < 3; ++v)
                out[v] = _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(raw[v], keep[v]), _mm256_shuffle_epi8(o, mergeO[v])),
                                         _mm256_shuffle_epi8(c, mergeS[v]));
        }
        simd::store96(a, out);
    }
    return i;
}

// writeDepthRowAvx2<true> sixty-four pixels a step; returns the pixels done.
LUMO_AVX512 int32_t writeDepthRowAvx512(uint8_t* p, int32_t n, const uint8_t* d, const uint64_t* vertical, bool inner,
                                        const uint8_t* next) {
    const __m512i one = _mm512_set1_epi8(1), two = _mm512_set1_epi8(2), four = _mm512_set1_epi8(4);
    int32_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i c = _mm512_loadu_si512(d + i);
        const uint64_t on = _mm512_test_epi8_mask(c, c);
        uint64_t centre = 0;
        if (inner) {
            const __m512i l = _mm512_loadu_si512(d + i - 1), r = _mm512_loadu_si512(d + i + 1);
            const __m512i r2 = _mm512_loadu_si512(d + i + 2);
            centre = _mm512_mask_cmplt_epu8_mask(on, l, c) &
                     (_mm512_cmplt_epu8_mask(r, c) | _mm512_mask_cmplt_epu8_mask(_mm512_cmpeq_epi8_mask(r, c), r2, c));
        }
        const __m512i o = _mm512_or_si512(_mm512_mask_mov_epi8(one, vertical[i >> 6], _mm512_or_si512(one, four)),
                                          _mm512_or_si512(_mm512_maskz_mov_epi8(on, two), _mm512_maskz_mov_epi8(centre, four)));
        uint8_t* a = p + 3 * int64_t{i};
        _mm_prefetch(reinterpret_cast<const char*>(next + 3 * int64_t{i}), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(next + 3 * int64_t{i} + 64), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(next + 3 * int64_t{i} + 128), _MM_HINT_T0);
        const simd::Raw3 raw = simd::load192(a);
        const __m512i grey = simd::grey64(raw);
        simd::store192(a, {simd::interleave3(0, o, grey, c), simd::interleave3(1, o, grey, c), simd::interleave3(2, o, grey, c)});
    }
    return i;
}

// Where Character Mode's arrays lie in the scratch: the depths, starts and B of every image row
// (one array after the other), the column state, and rings of four rows. Every row is `stride`
// bytes with kPad spare bytes either side.
struct CharacterLayout {
    static constexpr int64_t kPad = 64;
    int64_t width = 0, height = 0, padded = 0, stride = 0;
    explicit CharacterLayout(int64_t w, int64_t h)
        : width(w), height(h), padded(roundUp(std::max<int64_t>(w, 1), kLanes)), stride(padded + 2 * kPad) {
        // An odd number of cache lines from row to row: with a power-of-two stride the rows of a
        // column strip would all fall into a few sets of the cache, which could then hold under
        // half of a strip between the two strip passes.
        if ((stride / 64) % 2 == 0) stride += 64;
    }
    // Rows: depths, starts and B of the image rows; then phase, counter, met, bottom, zero, spare,
    // orBytes, vertical (one each); then the rings of new depths, meeting flags and vertical marks.
    static constexpr int64_t kSingle = 8;
    int64_t rows() const { return 3 * height + kSingle + 3 * 4; }
    size_t bytes() const { return size_t(rows() * stride); }
    uint8_t* row(uint8_t* base, int64_t index) const { return base + index * stride + kPad; }
};

// Writes row y of the image from its final depths f (padded) and vertical marks (bytes,
// or with AVX-512 a bit row that is made into bytes in `vertical` only for the narrower writers);
// with raw, the row still holds its colour pixels and is grey-encoded on the way.
void writeCharacterRow(const Image& im, int32_t y, uint8_t* f, uint8_t* vertical, const uint64_t* verticalBits,
                       uint8_t* orBytes, int level, bool raw, int32_t nextY) {
    const int32_t w = im.width, h = im.height;
    const bool inner = y >= 1 && y + 2 <= h;
    f[-1] = f[w] = f[w + 1] = 255;
    uint8_t* row = im.row(y);
    const uint8_t* next = nextY >= 0 && nextY < h ? im.row(nextY) : row;
    const int32_t wide = level >= 3 && raw ? writeDepthRowAvx512(row, w, f, verticalBits, inner, next) : 0;
    if (wide < w && verticalBits) verticalBytes(verticalBits, wordsOf(w), vertical);
    const int32_t fused = level < 2 ? 0
                          : wide + (raw ? writeDepthRowAvx2<true>(row + 3 * int64_t{wide}, w - wide, f + wide,
                                                                  vertical + wide, inner, next + 3 * int64_t{wide})
                                        : writeDepthRowAvx2<false>(row, w, f, vertical, inner, next));
    if (fused < w) {
        if (raw) encodeGrey(row + 3 * int64_t{fused}, w - fused);
        const int32_t done = level >= 1 ? fused + rowMarksSsse3(f + fused, vertical + fused, w - fused, inner, orBytes + fused) : fused;
        rowMarks(f + done, vertical + done, w - done, inner, orBytes + done);
        writeRow(row + 3 * int64_t{fused}, w - fused, orBytes + fused, f + fused, level, next);
    }
    f[-1] = f[w] = f[w + 1] = 0;
}

// Character Mode's arrays in the scratch, as CharacterLayout places them.
struct CharacterRows {
    const CharacterLayout& lay;
    uint8_t* base;
    int64_t h;
    uint8_t* single;
    CharacterRows(const CharacterLayout& layout, uint8_t* b)
        : lay(layout), base(b), h(layout.height), single(layout.row(b, 3 * layout.height)) {
        // The column state, the rings (row -1 of every ring reads as zeros) and the spare rows start clear.
        std::memset(single - CharacterLayout::kPad, 0, size_t((CharacterLayout::kSingle + 12) * lay.stride));
    }
    // Each array's rows follow each other in memory, so every pass walks each array as one
    // stream (the processor's prefetching follows a stream, not rows scattered between others).
    uint8_t* depths(int64_t y) const { return lay.row(base, y); }
    uint8_t* starts(int64_t y) const { return lay.row(base, h + y); }
    uint8_t* counts(int64_t y) const { return lay.row(base, 2 * h + y); }
    uint8_t* one(int index) const { return single + index * lay.stride; }  // phase, counter, met, ...
    uint8_t* ring(int kind, int64_t y) const { return single + (CharacterLayout::kSingle + kind * 4 + (y & 3)) * lay.stride; }
    // With AVX-512 the starts and the vertical marks are bits: their rows of words follow each other
    // where the starts' bytes would be (the starts of every row, then the vertical marks).
    uint64_t* startBits(int64_t y) const { return reinterpret_cast<uint64_t*>(starts(0)) + y * (lay.padded / 64); }
    uint64_t* verticalBits(int64_t y) const { return startBits(h + y); }
    template <class T>
    T* as(uint8_t* p) const { return reinterpret_cast<T*>(p); }
};

enum CharacterRow { kPhase, kCarried, kMet, kBottom, kZero, kSpare, kOrBytes, kVertical };

// The three passes with flags in bits and conditions in mask registers (AVX-512): pass 1 row by
// row, passes 2 and 3 strip by strip (they leave the final depths in place of the depths), then
// the image rows.
template <bool Nibbles>
void characterModeAvx512(const Image& im, RowMarks& marks, EffectScratch& sc, int limit, bool raw, const CharacterRows& at) {
    const int32_t w = im.width, h = im.height;
    const int64_t n = at.lay.padded, words = n / 64;
    uint64_t* const falling = at.as<uint64_t>(at.one(kPhase));
    for (int32_t y = 0; y < h; ++y) {
        const StartBits st{y > 0 ? at.depths(y - 1) : at.one(kZero), at.startBits(y),
                           y > 0 ? at.startBits(y - 1) : at.as<uint64_t>(at.one(kSpare)), falling};
        rowDepthsAvx512(marks.row(y), w, n, limit, at.depths(y), sc.depthLevels.data(), st);
    }
    const StripRows strips{at.depths(0), at.counts(0), at.startBits(0), at.verticalBits(0), at.lay.stride, words, h};
    stripPasses<Nibbles>(strips, n);
    // The image's rows in the order they lie in memory.
    for (int32_t i = 0; i < h; ++i) {
        const int32_t y = im.topDown ? i : h - 1 - i;
        writeCharacterRow(im, y, at.depths(y), at.one(kVertical), at.verticalBits(y), at.one(kOrBytes), 3, raw,
                          im.topDown ? y + 1 : y - 1);
    }
}

bool characterMode(const Image& im, RowMarks& marks, const EffectParams& pr, EffectScratch& sc, int level, bool raw) {
    const int32_t w = im.width, h = im.height;
    // Depths live in one byte; the cap keeps every later increase inside it.
    const int limit = std::clamp(pr.depthLimit, 1, 254);
    const CharacterLayout lay(w, h);
    const CharacterRows at(lay, sc.depthWork.data());
    if (level >= 3) {
        if (limit <= kNibbleLimit) characterModeAvx512<true>(im, marks, sc, limit, raw, at);
        else characterModeAvx512<false>(im, marks, sc, limit, raw, at);
        return true;
    }
    const int64_t n = lay.padded;
    // With a cap below 128 the depths leave bit 7 free for the starts: one array fewer to read.
    const bool packed = limit < 128;
    auto starts = [&](int64_t y) { return packed ? at.depths(y) : at.starts(y); };
    uint8_t* zero = at.one(kZero);
    const CharacterKernels kernels = characterKernels(level, packed);

    for (int32_t y = 0; y < h; ++y) {
        uint8_t* above = y > 0 ? starts(y - 1) : at.one(kSpare);
        const uint8_t* p = y > 0 ? at.depths(y - 1) : zero;
        rowDepths(marks.row(y), w, n, limit, at.depths(y), sc.depthLevels.data(), level);
        kernels.starts(at.depths(y), p, at.one(kPhase), above, starts(y), n);
    }
    for (int32_t y = h - 1; y >= 0; --y) {
        const bool last = y + 1 >= h;
        const uint8_t* dn = last ? zero : at.depths(y + 1);
        const uint8_t* sn = last ? zero : starts(y + 1);
        const uint8_t* bn = last ? zero : at.counts(y + 1);
        kernels.below(at.depths(y), dn, sn, bn, at.counts(y), at.depths(std::max(y - 1, 0)), starts(std::max(y - 1, 0)), n);
    }
    for (int32_t r = 0; r < h; ++r) {
        WalkRow wr;
        wr.d = at.depths(r);
        wr.b = at.counts(r);
        wr.s = starts(r);
        wr.a = at.one(kCarried);
        wr.met = at.one(kMet);
        wr.bottom = at.one(kBottom);
        wr.f0 = at.ring(0, r);
        wr.f1 = at.ring(0, r - 1);
        wr.f2 = at.ring(0, r - 2);
        wr.f3 = at.ring(0, r - 3);
        wr.m0 = at.ring(1, r);
        wr.m1 = at.ring(1, r - 1);
        wr.v0 = at.ring(2, r);
        wr.v1 = at.ring(2, r - 1);
        wr.v2 = at.ring(2, r - 2);
        wr.ahead = r + 1 < h ? at.depths(r + 1) - at.depths(r) : 0;
        wr.firstRow = r == 1 ? 0xFF : 0;
        wr.uInside = r >= 3 ? 0xFF : 0;
        kernels.walk(wr, n);
        if (r >= 2) writeCharacterRow(im, r - 2, at.ring(0, r - 2), at.ring(2, r - 2), nullptr, at.one(kOrBytes), level, raw, r - 1);
    }
    for (int32_t y = std::max(0, h - 2); y < h; ++y)
        writeCharacterRow(im, y, at.ring(0, y), at.ring(2, y), nullptr, at.one(kOrBytes), level, raw, y + 1);
    return true;
}

}  // namespace

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
        const size_t need = CharacterLayout(std::max(width, 1), std::max(height, 1)).bytes();
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
