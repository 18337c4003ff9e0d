// The marker and the three effects as row-streaming passes. The marker turns each row into bits
// (one per pixel, set where the pixel meets the condition); runs are then found with bit scans,
// and the rows that change are rewritten with vector stores. Character Mode keeps the depths in
// column order (16-row bands of 16 x 16 tiles) for its column walk.
#include "imaging/effects.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "imaging/simd_pixels.h"
#include "imaging/workers.h"

namespace lumo {

namespace {

constexpr int32_t kTile = 16;  // rows and columns of one transposed tile

int64_t wordsOf(int64_t n) { return (n + 63) / 64; }
int64_t roundUp(int64_t n, int64_t to) { return (n + to - 1) / to * to; }

constexpr int kMaxParts = 8;  // helper threads of one effect pass, caller included

// Bytes of one part's byte rows: Character Mode's 16 staged rows and one mark row, each with
// padding, then one column; Outline Mode needs less.
size_t rowBytesFor(int64_t width, int64_t height) {
    const int64_t wp = roundUp(std::max<int64_t>(width, 1), kTile);
    return size_t((kTile + 1) * (wp + 64) + 128 + roundUp(std::max<int64_t>(height, 1), kTile) + 64);
}

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

LUMO_AVX2 int32_t writeRowAvx2(uint8_t* p, int32_t n, const uint8_t* orBytes, const uint8_t* setBytes) {
    int32_t i = 0;
    __m256i keep[3], mergeO[3], mergeS[3];
    for (int v = 0; v < 3; ++v) {
        keep[v] = simd::mask2(kKeep.keep01[v]);
        mergeO[v] = simd::mask2(simd::kMasks.merge[v][0]);
        mergeS[v] = simd::mask2(simd::kMasks.merge[v][2]);
    }
    for (; i + 32 <= n; i += 32) {
        uint8_t* a = p + 3 * int64_t{i};
        const __m256i o = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(orBytes + i));
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(setBytes + i));
        __m256i raw[3];
        simd::load96(a, raw);
        __m256i out[3];
        for (int v = 0; v < 3; ++v)
            out[v] = _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(raw[v], keep[v]), _mm256_shuffle_epi8(o, mergeO[v])),
                                     _mm256_shuffle_epi8(s, mergeS[v]));
        simd::store96(a, out);
    }
    return i;
}

void writeRow(uint8_t* p, int32_t n, const uint8_t* orBytes, const uint8_t* setBytes, int level) {
    int32_t done = 0;
    if (level >= 2) done = writeRowAvx2(p, n, orBytes, setBytes);
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

// ---- Outline Mode -------------------------------------------------------------------------------
// The marker runs one row ahead (row y's flags need the marks of row y + 1); the flags of a row
// come from the bits of three rows, and the row is written once: byte 2 = flags, byte 0 gains
// the mark unless all four neighbours are marked.
void outline(const Image& im, RowMarks& marks, EffectScratch& sc, int level, int parts) {
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
            for (int64_t k = 0; k < words; ++k) {
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
            writeRow(im.row(y), w, orBytes, flagBytes, level);
        }
    };
    inParts(parts, rowsOfPart);
}

// ---- Character Mode -----------------------------------------------------------------------------

// 16 x 16 bytes: dst row r, byte c = src row c, byte r.
LUMO_SSSE3 void transposeTile(const uint8_t* src, int64_t srcStride, uint8_t* dst, int64_t dstStride) {
    __m128i r[16];
    for (int i = 0; i < 16; ++i) r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i * srcStride));
    __m128i t[16];
    for (int i = 0; i < 8; ++i) {
        t[2 * i] = _mm_unpacklo_epi8(r[2 * i], r[2 * i + 1]);
        t[2 * i + 1] = _mm_unpackhi_epi8(r[2 * i], r[2 * i + 1]);
    }
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 2; ++j) {
            r[4 * i + j] = _mm_unpacklo_epi16(t[4 * i + j], t[4 * i + 2 + j]);
            r[4 * i + 2 + j] = _mm_unpackhi_epi16(t[4 * i + j], t[4 * i + 2 + j]);
        }
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 4; ++j) {
            t[8 * i + j] = _mm_unpacklo_epi32(r[8 * i + j], r[8 * i + 4 + j]);
            t[8 * i + 4 + j] = _mm_unpackhi_epi32(r[8 * i + j], r[8 * i + 4 + j]);
        }
    for (int j = 0; j < 8; ++j) {
        r[j] = _mm_unpacklo_epi64(t[j], t[8 + j]);
        r[8 + j] = _mm_unpackhi_epi64(t[j], t[8 + j]);
    }
    // After the four stages r[k] holds source column order[k] (k's four bits reversed).
    static constexpr int order[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    for (int k = 0; k < 16; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + order[k] * dstStride), r[k]);
}

void transposeTileScalar(const uint8_t* src, int64_t srcStride, uint8_t* dst, int64_t dstStride) {
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) dst[c * dstStride + r] = src[r * srcStride + c];
}

// Horizontal depths of one row from its marker bits: 0 where unmarked, each run counted from
// both ends at once, capped at limit.
void rowDepths(const uint64_t* bits, int32_t w, int limit, uint8_t* out) {
    if (w <= 0) return;
    std::memset(out, 0, size_t(w));
    forEachRun(bits, w, [&](int64_t s, int64_t e) {
        const int64_t len = e - s;
        if (len / 2 > limit) {
            // Long run: both ends climb to the cap, and everything between them is the cap
            // (the last pixel set, in the middle, takes the cap as well).
            for (int k = 0; k < limit; ++k) out[s + k] = out[e - 1 - k] = static_cast<uint8_t>(k + 1);
            std::memset(out + s + limit, limit, size_t(len - 2 * limit));
            return;
        }
        int64_t left = s, right = e - 1;
        int d = 1;
        while (left < right) {
            out[left] = out[right] = static_cast<uint8_t>(d);
            if (d < limit) ++d;
            ++left;
            --right;
        }
        out[right] = static_cast<uint8_t>(d);
    });
}

// The depths column by column, in bands of 16 rows: the 16 bytes of column x in band b lie at
// b * bandStride + x * 16, so a tile of 16 x 16 pixels is 256 contiguous bytes and a column
// walk reads 16 contiguous bytes per band. tileOn says which tiles hold any marked pixel (the
// others are all zero).
struct Columns {
    uint8_t* data;
    int64_t bandStride;     // paddedWidth * 16 + 64: one spare line, so a column's bands do not
                            // all fall into the same few cache sets
    const uint8_t* tileOn;  // band * tilesPerRow + tile
    int64_t tilesPerRow;
    uint8_t* chunk(int64_t band, int64_t x) const { return data + band * bandStride + x * kTile; }
    static int64_t strideFor(int64_t paddedWidth) { return paddedWidth * kTile + 64; }
};

// The vertical walk of every column, L carried from one to the next: each column is gathered
// into `column` (h rounded up to 16 bytes), walked there and put back; centre marks go straight
// into byte 0 of the image (they are few).
void verticalDepth(const Image& im, const Columns& cols, uint8_t* column) {
    constexpr int32_t kAhead = 4;
    const int32_t w = im.width, h = im.height;
    uint8_t* top = im.top();
    const int64_t step = im.rowStep();
    const int64_t bandStride = cols.bandStride;
    const int64_t bands = (int64_t{h} + kTile - 1) / kTile;
    int L = 0;  // carried from segment to segment and from column to column
    for (int32_t x = 0; x < w; ++x) {
        uint8_t* base = cols.data + int64_t{x} * kTile;
        const uint8_t* on = cols.tileOn + (x / kTile);
        if ((x & 3) == 0 && x + kAhead < w) {
            // Four columns share each cache line of a band: fetch the lines of the columns kAhead
            // further on, for every band that holds marks, all at once rather than one miss at a
            // time.
            const uint8_t* next = base + kAhead * kTile;
            const uint8_t* nextOn = cols.tileOn + (x + kAhead) / kTile;
            for (int64_t band = 0; band < bands; ++band)
                if (nextOn[band * cols.tilesPerRow]) __builtin_prefetch(next + band * bandStride);
        }
        // The column gathered into one contiguous run of bytes (zero in bands without marks),
        // walked there, and the marked bands put back.
        for (int64_t band = 0; band < bands; ++band) {
            const __m128i c = on[band * cols.tilesPerRow]
                                  ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + band * bandStride))
                                  : _mm_setzero_si128();
            _mm_storeu_si128(reinterpret_cast<__m128i*>(column + band * kTile), c);
        }
        uint8_t* const d = column;
        // First non-zero depth at or after y, or h; bands without marks are passed whole.
        auto nextNonZero = [&](int32_t y) {
            while (y < h) {
                const int64_t band = y >> 4;
                if (!on[band * cols.tilesPerRow]) {
                    y = int32_t((band + 1) * kTile);
                    continue;
                }
                const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + band * kTile));
                const uint32_t nonZero = ~uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(c, _mm_setzero_si128()))) & 0xFFFF;
                const uint32_t from = nonZero & (0xFFFFu << (y & 15));
                if (from) return std::min(h, int32_t(band * kTile + std::countr_zero(from)));
                y = int32_t((band + 1) * kTile);
            }
            return h;
        };
        auto markAt = [&](int32_t y) { top[y * step + 3 * int64_t{x}] |= 0x04; };
        int32_t y = nextNonZero(0);
        while (y < h) {
            const int32_t S = y;
            if (S + 1 < h && d[S + 1] == 0 && (S == 0 || d[S - 1] == 0)) {
                // A lone pixel (a thin horizontal stroke crossing the column), the commonest
                // segment: the walk below gives it depth 1 and a centre mark, and resets L.
                d[S] = 1;
                markAt(S);
                L = 0;
                y = nextNonZero(S + 1);
                continue;
            }
            int32_t e = S;
            while (e + 1 < h && d[e + 1] >= d[e]) ++e;
            int32_t E, N;
            int F = 0;
            if (e + 1 >= h) {
                E = h - 1;
                N = h;
            } else if (d[e + 1] == 0) {
                E = e;
                N = e + 1;
            } else {
                int32_t q = e + 1;  // descending: non-zero and not greater than the previous
                for (;;) {
                    if (q + 1 >= h) { E = q; N = h; break; }
                    if (d[q + 1] == 0) { E = q; N = q + 1; break; }
                    if (d[q + 1] > d[q]) { E = q - 1; N = q; F = d[q]; break; }  // q is a valley
                    ++q;
                }
            }
            int32_t P = S, Q = E;
            int M = F;
            while (P <= Q) {
                if (L < M) {
                    if (L < d[P]) d[P] = static_cast<uint8_t>(++L);
                    ++P;
                } else {
                    if (M < d[Q]) d[Q] = static_cast<uint8_t>(++M);
                    --Q;
                }
            }
            if (P < N) {
                const int32_t U = Q;  // directly above P
                L = F;
                if (U < 0 || d[U] < d[P]) {
                    if (P < h - 1 && d[P + 1] < d[P]) markAt(P);
                } else if (U > 0 && P < h - 1 && d[U - 1] < d[U] && d[P + 1] < d[U]) {
                    markAt(U);
                    d[U] = static_cast<uint8_t>(d[U] + 1);
                }
            }
            y = nextNonZero(N);
        }
        for (int64_t band = 0; band < bands; ++band)
            if (on[band * cols.tilesPerRow])
                _mm_storeu_si128(reinterpret_cast<__m128i*>(base + band * bandStride),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(column + band * kTile)));
    }
}

// Byte 0 additions of one row from its final depths (padded with 255 at d[-1], d[w], d[w+1]):
// 0x02 where marked (depth non-zero), 0x04 for a horizontal centre mark.
void rowMarks(const uint8_t* d, int32_t w, bool inner, uint8_t* out) {
    for (int32_t x = 0; x < w; ++x) {
        const int c = d[x];
        uint8_t v = c ? 0x02 : 0;
        if (inner && c && d[x - 1] < c && (d[x + 1] < c || (d[x + 1] == c && d[x + 2] < c))) v |= 0x04;
        out[x] = v;
    }
}

LUMO_SSSE3 int32_t rowMarksSsse3(const uint8_t* d, int32_t w, bool inner, uint8_t* out) {
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
        const __m128i v = _mm_or_si128(_mm_and_si128(on, two), _mm_and_si128(centre, four));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), v);
    }
    return x;
}

// Unsigned a < b, byte by byte.
LUMO_AVX2 inline __m256i lt(__m256i a, __m256i b) { return simd::gtU8x2(b, a); }

// AVX2: rowMarks and writeRow in one loop, thirty-two pixels per step; returns the pixels done.
LUMO_AVX2 int32_t writeDepthRowAvx2(uint8_t* p, int32_t n, const uint8_t* d, bool inner) {
    const __m256i z = _mm256_setzero_si256(), two = _mm256_set1_epi8(2), four = _mm256_set1_epi8(inner ? 4 : 0);
    __m256i keep[3], mergeO[3], mergeS[3];
    for (int v = 0; v < 3; ++v) {
        keep[v] = simd::mask2(kKeep.keep01[v]);
        mergeO[v] = simd::mask2(simd::kMasks.merge[v][0]);
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
        const __m256i o = _mm256_or_si256(_mm256_and_si256(on, two), _mm256_and_si256(centre, four));
        uint8_t* a = p + 3 * int64_t{i};
        __m256i raw[3];
        simd::load96(a, raw);
        __m256i out[3];
        for (int v = 0; v < 3; ++v)
            out[v] = _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(raw[v], keep[v]), _mm256_shuffle_epi8(o, mergeO[v])),
                                     _mm256_shuffle_epi8(c, mergeS[v]));
        simd::store96(a, out);
    }
    return i;
}

bool characterMode(const Image& im, RowMarks& marks, const EffectParams& pr, EffectScratch& sc, int level, int parts) {
    const int32_t w = im.width, h = im.height;
    // Depths live in one byte; the cap keeps every later increase inside it.
    const int limit = std::clamp(pr.depthLimit, 1, 254);
    const int64_t words = wordsOf(w);
    const int64_t wp = roundUp(w, kTile);
    const int64_t stageStride = wp + 64;  // 16 bytes of padding either side of each staged row
    const int64_t tilesPerRow = wp / kTile;
    uint8_t* tileOn = sc.tiles.data();
    const Columns cols{sc.columns.data(), Columns::strideFor(wp), tileOn, tilesPerRow};
    const bool vec = level >= 1;

    // Rows in bands of 16: marker bits, horizontal depths, then the band's tiles into columns.
    // Bands are independent, so parts of them can be done at once.
    auto depthBands = [&](int part, int n) {
        uint8_t* stage = sc.rowsFor(part) + 16;
        uint64_t* bandOr = sc.bits.data() + (10 + part) * words;
        int32_t first, end;
        partRange(h, kTile, part, n, first, end);
        for (int32_t y0 = first; y0 < end; y0 += kTile) {
            const int32_t rows = std::min<int32_t>(kTile, h - y0);
            std::fill_n(bandOr, words, 0);
            for (int32_t r = 0; r < kTile; ++r) {
                uint8_t* out = stage + r * stageStride;
                if (r < rows) {
                    const uint64_t* bits = marks.row(y0 + r);
                    for (int64_t k = 0; k < words; ++k) bandOr[k] |= bits[k];
                    rowDepths(bits, w, limit, out);
                    std::memset(out + w, 0, size_t(wp - w));
                } else {
                    std::memset(out, 0, size_t(wp));
                }
            }
            const int64_t band = y0 / kTile;
            for (int64_t t = 0; t < tilesPerRow; ++t) {
                const bool any = ((bandOr[t >> 2] >> (16 * (t & 3))) & 0xFFFF) != 0;
                tileOn[band * tilesPerRow + t] = any;
                uint8_t* dst = cols.chunk(band, t * kTile);
                if (!any) std::memset(dst, 0, kTile * kTile);
                else if (vec) transposeTile(stage + t * kTile, stageStride, dst, kTile);
                else transposeTileScalar(stage + t * kTile, stageStride, dst, kTile);
            }
        }
    };
    inParts(parts, depthBands);

    verticalDepth(im, cols, sc.rowsFor(0) + kTile * stageStride + 16 + wp + 64);

    // Rows in bands of 16 again: the final depths back into rows, the horizontal centre marks, and
    // each row written once (byte 0 gains the marks, byte 2 takes the depth).
    auto writeBands = [&](int part, int n) {
        uint8_t* stage = sc.rowsFor(part) + 16;
        uint8_t* orBytes = sc.rowsFor(part) + kTile * stageStride + 16;
        int32_t first, end;
        partRange(h, kTile, part, n, first, end);
        for (int32_t y0 = first; y0 < end; y0 += kTile) {
            const int32_t rows = std::min<int32_t>(kTile, h - y0);
            const int64_t band = y0 / kTile;
            for (int64_t t = 0; t < tilesPerRow; ++t) {
                uint8_t* dst = stage + t * kTile;
                if (!tileOn[band * tilesPerRow + t]) {
                    for (int r = 0; r < kTile; ++r) std::memset(dst + r * stageStride, 0, kTile);
                } else if (vec) {
                    transposeTile(cols.chunk(band, t * kTile), kTile, dst, stageStride);
                } else {
                    transposeTileScalar(cols.chunk(band, t * kTile), kTile, dst, stageStride);
                }
            }
            for (int32_t r = 0; r < rows; ++r) {
                const int32_t y = y0 + r;
                uint8_t* d = stage + r * stageStride;
                d[-1] = d[w] = d[w + 1] = 255;
                const bool inner = y >= 1 && y + 2 <= h;
                uint8_t* row = im.row(y);
                const int32_t fused = level >= 2 ? writeDepthRowAvx2(row, w, d, inner) : 0;
                const int32_t done = vec ? fused + rowMarksSsse3(d + fused, w - fused, inner, orBytes + fused) : fused;
                rowMarks(d + done, w - done, inner, orBytes + done);
                // rowMarks judged d[w - 1]'s right side on the padding; write byte 2 with real zeros.
                d[w] = d[w + 1] = 0;
                writeRow(row + 3 * int64_t{fused}, w - fused, orBytes + fused, d + fused, level);
            }
        }
    };
    inParts(parts, writeBands);
    return true;
}

}  // namespace

bool EffectScratch::reserve(int32_t width, int32_t height, int parts) {
    const int64_t w = std::max(width, 1);
    const int64_t words = wordsOf(w);
    const size_t rowBytes = rowBytesFor(width, height);
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
    std::vector<uint8_t>().swap(columns);
    std::vector<uint8_t>().swap(tiles);
    std::vector<uint64_t>().swap(marks);
}

EffectScratch& threadScratch() {
    thread_local EffectScratch scratch;
    return scratch;
}

void markRowBits(const uint8_t* row, int32_t n, int m, int lo, int hi, uint64_t* bits, int maxLevel) {
    const int level = std::min(maxLevel, simd::hasAvx2() ? 2 : simd::hasSsse3() ? 1 : 0);
    markerFor(m)(row, n, lo, hi, bits, level);
}

bool EffectScratch::reserveFor(int32_t width, int32_t height, uint16_t mode, bool premarked) {
    if (!reserve(width, height, partsFor(width, height, premarked)) || (premarked && !reserveMarks(width, height)))
        return false;
    if (mode & (BIN_ERASE_GRID | BIN_OUTLINE)) return true;
    const int64_t wp = roundUp(std::max(width, 1), kTile), bands = roundUp(std::max(height, 1), kTile) / kTile;
    const size_t need = size_t(Columns::strideFor(wp) * bands);
    const size_t tileCount = size_t(wp / kTile * bands);
    try {
        if (columns.size() < need) columns.resize(need);
        if (tiles.size() < tileCount) tiles.resize(tileCount);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool markAndApplyEffect(const Image& im, uint16_t mode, int m, int lo, int hi, const EffectParams& params,
                        EffectScratch& scratch, int maxLevel, bool premarked) {
    const int level = std::min(maxLevel, simd::hasAvx2() ? 2 : simd::hasSsse3() ? 1 : 0);
    if (!scratch.reserveFor(im.width, im.height, mode, premarked)) return false;
    // Never more parts than the scratch holds rows for (the setting may have changed since).
    const int parts = std::min(partsFor(im.width, im.height, premarked), scratch.partsReady());
    RowMarks marks(im, m, lo, hi, scratch, level, premarked);
    if (mode & BIN_ERASE_GRID) eraseGridLines(im, marks, params, scratch);
    else if (mode & BIN_OUTLINE) outline(im, marks, scratch, level, parts);
    else characterMode(im, marks, params, scratch, level, parts);
    return true;
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
