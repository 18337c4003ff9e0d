// The pre-scan's marker and its three effects (Erase Grid Lines, Outline Mode, Character Mode) as
// row-streaming passes over an encoded image: the marker yields one bit per pixel, runs are found
// in those bits, and each row is rewritten once with vector stores.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/large_buffer.h"
#include "imaging/scan.h"

namespace lumo {

// Work memory of the effects, sized for the largest image seen and reused: after the first
// call on an image of a given size no pass allocates.
class EffectScratch {
public:
    // Makes room for an image of width x height, with byte rows for parts threads; false when
    // memory runs out.
    bool reserve(int32_t width, int32_t height, int parts = 1);
    // Frees everything (the next call allocates again).
    void release();
    // The byte rows of part (0 = the calling thread) and how many parts the last reserve sized.
    uint8_t* rowsFor(int part);
    int partsReady() const { return partsReady_; }

    std::vector<uint64_t> bits;      // marker bits: a few rows of words
    std::vector<int32_t> runStart;   // per column: first row of the open vertical run
    std::vector<uint8_t> rows;       // byte rows: flags and OR masks
    std::vector<uint8_t> partRows;   // the same for helper threads 1, 2, ...
    LargeBuffer depthWork;           // Character Mode: depths and counters, a byte per pixel
    std::vector<uint64_t> marks;     // marker bits of every row, made during the encoding
    std::vector<uint64_t> gridPlanes;  // Erase Grid Lines: bit rows of the last rows read
    std::vector<uint8_t> gridBytes;    // Erase Grid Lines: per column run counters
    std::vector<uint64_t> depthLevels; // Character Mode: bit rows of one row's depth levels

    // Makes room for the marker bits of every row; false when memory runs out.
    bool reserveMarks(int32_t width, int32_t height);
    // Everything the effect of mode needs on an image of width x height (with premarked, the
    // bits of every row too); false when memory runs out. Once it succeeded for a size, the
    // effect runs without allocating.
    bool reserveFor(int32_t width, int32_t height, uint16_t mode, bool premarked);

private:
    size_t partRowBytes_ = 0;
    int partsReady_ = 1;
};

// The work memory of the calling thread (kept until the thread ends).
EffectScratch& threadScratch();

struct EffectParams {
    int32_t thickness = 2;
    int32_t hLength = 30;
    int32_t vLength = 20;
    int32_t depthLimit = 10;
};

// Marks the pixels meeting comparison m (1..6) with bounds lo/hi and runs the effect chosen by
// mode (grid, else outline, else character). maxLevel caps the vector width (0 scalar, 1 SSSE3,
// 2 AVX2, 3 AVX-512 with byte permutes) for tests; Character Mode's counter passes use 16-byte SSE2 vectors (present on every
// x86-64 processor) below 2. False (the image unchanged) only when the scratch could not be sized; a
// caller that reserved it first (reserveFor) never meets that.
// With premarked, scratch.marks already holds every row's bits (made by markRowBits while the
// rows were encoded), so the effect does not read the rows again for them.
// With rawGrey, the rows still hold their 24-bit colour pixels and are taken as grey-encoded
// (flag 1, grey level (b + g + r) / 3): where encodesRows says so, with premarked bits, each row is
// encoded as it is rewritten; every other case encodes all rows first.
bool markAndApplyEffect(const Image& im, uint16_t mode, int m, int lo, int hi, const EffectParams& params,
                        EffectScratch& scratch, int maxLevel = 3, bool premarked = false, bool rawGrey = false);

// True when the effect of mode, run on premarked rows at vector level maxLevel, takes its rows
// as colour pixels (rawGrey) and encodes them as it writes them.
bool encodesRows(uint16_t mode, const EffectParams& params, int maxLevel = 3);

// Marker bits of one row (the image is not changed): bit x set where the qualify flag is set and
// the grey level meets comparison m. bits holds (n + 63) / 64 words.
void markRowBits(const uint8_t* row, int32_t n, int m, int lo, int hi, uint64_t* bits, int maxLevel = 2);

}  // namespace lumo
