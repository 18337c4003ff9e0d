// The effects against the reference copy of their previous implementation: random screen-like
// pictures of odd sizes in both storage orders, every effect, comparison and parameter range, at
// every vector level, from encoded rows and (grey) from colour rows; every stored byte (flags,
// grey level and the work byte) must be the same.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "imaging/effects.h"
#include "tests/imaging/image_fixture.h"
#include "tests/imaging/reference_effects.h"

using namespace lumotest;

namespace {

// Strokes, bars, ruled lines and filled boxes of a few dark levels on a light background, with
// some noise, so that runs of every length (and crossings) occur in both directions.
Pixels randomPicture(std::mt19937& rng, int w, int h) {
    auto pick = [&](int n) { return int(rng() % uint32_t(n)); };
    const uint32_t levels[] = {rgb(250, 250, 250), rgb(20, 20, 20), rgb(90, 60, 40), rgb(128, 128, 128), rgb(200, 30, 30)};
    Pixels p(w, h, levels[0]);
    auto fill = [&](int x0, int y0, int cw, int ch, uint32_t c) {
        p.fillRect(x0, y0, std::min(cw, w - x0), std::min(ch, h - y0), c);
    };
    const int shapes = 1 + pick(12);
    for (int s = 0; s < shapes; ++s) {
        const uint32_t c = levels[1 + pick(4)];
        switch (pick(4)) {
        case 0: fill(pick(w), 0, 1 + pick(3), h, c); break;  // vertical line
        case 1: fill(0, pick(h), w, 1 + pick(3), c); break;  // horizontal line
        default: fill(pick(w), pick(h), 1 + pick(w), 1 + pick(h), c);
        }
    }
    const int noise = pick(w * h / 4 + 1);
    for (int i = 0; i < noise; ++i) p.at(pick(w), pick(h)) = levels[pick(5)];
    return p;
}

std::vector<uint8_t> storedBytes(Opened& o) {
    const size_t n = size_t(o.ctx.dib.nStride) * size_t(o.ctx.dib.nHeight);
    return {o.ctx.dib.lpBits, o.ctx.dib.lpBits + n};
}

// The effect of mode run on the colour rows `colour` taken as grey-encoded (rawGrey), at every
// vector level, once with marks made beforehand from the encoded rows `encoded` and once with
// marks made on demand: each run's stored bytes. im gives the shape (its bits are not used).
std::vector<std::vector<uint8_t>> fromColourRows(const std::vector<uint8_t>& colour, const std::vector<uint8_t>& encoded,
                                                 lumo::Image im, uint16_t mode, int lo, int hi,
                                                 const lumo::EffectParams& ep) {
    std::vector<std::vector<uint8_t>> out;
    const int m = lumo::comparisonOf(mode);
    const size_t words = (size_t(im.width) + 63) / 64;
    for (int premarked = 0; premarked < 2; ++premarked)
        for (int level = 0; level <= 3; ++level) {
            lumo::EffectScratch scratch;
            if (premarked) {
                EXPECT_TRUE(scratch.reserveMarks(im.width, im.height));
                std::vector<uint8_t> rows = encoded;
                im.bits = rows.data();
                for (int32_t y = 0; y < im.height; ++y)
                    lumo::markRowBits(im.row(y), im.width, m, lo, hi, scratch.marks.data() + size_t(y) * words);
            }
            out.push_back(colour);
            im.bits = out.back().data();
            EXPECT_TRUE(lumo::markAndApplyEffect(im, mode, m, lo, hi, ep, scratch, level, premarked, true));
        }
    return out;
}

}  // namespace

TEST(EffectsAgainstReference, RandomPicturesOfOddSizesGiveTheSameBytes) {
    std::mt19937 rng(20261208);
    const uint16_t effects[] = {BIN_ERASE_GRID, BIN_OUTLINE, BIN_CHARACTER, BIN_ERASE_GRID | BIN_CHARACTER};
    int ran[3] = {};
    for (int round = 0; round < 900; ++round) {
        const int w = 1 + int(rng() % (round < 300 ? 9u : 140u));
        const int h = 1 + int(rng() % (round < 300 ? 9u : 110u));
        const bool topDown = rng() & 1;
        const Pixels pic = randomPicture(rng, w, h);
        const uint16_t effect = effects[rng() % 4];
        BinCondition cond{};
        cond.bMode = uint16_t((rng() % 16) | ((rng() % 8) << 4) | ((rng() & 1) ? BIN_RANGE : 0) | effect);
        cond.fAutoThreshfold = (rng() % 4) == 0;
        cond.bThreshfold = uint8_t(rng());
        cond.bThreshfoldMin = uint8_t(rng() % 128);
        cond.bThreshfoldMax = uint8_t(128 + rng() % 128);
        const int32_t params[4] = {int32_t(rng() % 5), int32_t(rng() % 40), int32_t(rng() % 40),
                                   int32_t(rng() % 24) - 2};

        // Half the rounds count a window of the picture only (empty at times), so the rows are
        // encoded and marked in pieces that start anywhere.
        const bool window = rng() & 1;
        const int32_t left = int32_t(rng() % uint32_t(w + 1)), top = int32_t(rng() % uint32_t(h + 1));
        const int32_t right = left + int32_t(rng() % uint32_t(w + 1)), bottom = top + int32_t(rng() % uint32_t(h + 1));

        Opened fast(pic, topDown), ref(pic, topDown);
        ASSERT_TRUE(fast.ok && ref.ok);
        const std::vector<uint8_t> colour = storedBytes(ref);
        for (Opened* o : {&fast, &ref}) {
            if (window) {
                o->ctx.nHistLeft = left;
                o->ctx.nHistRight = right;
                o->ctx.nHistTop = top;
                o->ctx.nHistBottom = bottom;
            }
            o->cond = cond;
            o->ctx.nLineThickness = params[0];
            o->ctx.nHLineLength = params[1];
            o->ctx.nVLineLength = params[2];
            o->ctx.nDepthLimit = params[3];
        }
        ref.cond.bMode = uint16_t(cond.bMode & ~(BIN_ERASE_GRID | BIN_OUTLINE | BIN_CHARACTER));
        const int32_t got = lumoPreScan(&fast.ctx);
        const int32_t want = lumoPreScan(&ref.ctx);
        ASSERT_EQ(got, want);
        // The narrower vector paths start from the encoded picture the reference starts from.
        std::vector<std::vector<uint8_t>> narrow;
        if (want) {
            lumo::Image im;
            im.stride = ref.ctx.dib.nStride;
            im.width = w;
            im.height = h;
            im.topDown = topDown;
            const uint16_t mode = uint16_t(ref.cond.bMode | effect);
            const bool range = mode & BIN_RANGE;
            const lumo::EffectParams ep{params[0], params[1], params[2], params[3]};
            lumo::EffectScratch scratch;
            for (int level = 0; level < 3; ++level) {
                narrow.push_back(storedBytes(ref));
                im.bits = narrow.back().data();
                ASSERT_TRUE(lumo::markAndApplyEffect(im, mode, lumo::comparisonOf(mode),
                                                     range ? ref.cond.bThreshfoldMin : ref.cond.bThreshfold,
                                                     range ? ref.cond.bThreshfoldMax : ref.cond.bThreshfold, ep, scratch, level));
            }
            // Without a colour box the effects also start from the colour rows, encoding them.
            if (lumo::colourOf(mode) == 0)
                for (auto& bytes : fromColourRows(colour, storedBytes(ref), im, mode,
                                                  range ? ref.cond.bThreshfoldMin : ref.cond.bThreshfold,
                                                  range ? ref.cond.bThreshfoldMax : ref.cond.bThreshfold, ep))
                    narrow.push_back(std::move(bytes));
        }
        if (want) {
            const uint16_t mode = ref.cond.bMode;
            const bool range = mode & BIN_RANGE;
            const int lo = range ? ref.cond.bThreshfoldMin : ref.cond.bThreshfold;
            const int hi = range ? ref.cond.bThreshfoldMax : ref.cond.bThreshfold;
            lumo::Image im;
            im.bits = ref.ctx.dib.lpBits;
            im.stride = ref.ctx.dib.nStride;
            im.width = w;
            im.height = h;
            im.topDown = topDown;
            lumoref::markImage(im, lumo::comparisonOf(mode), lo, hi);
            if (effect & BIN_ERASE_GRID) lumoref::eraseGridLines(im, params[0], params[1], params[2]), ++ran[0];
            else if (effect & BIN_OUTLINE) lumoref::outline(im), ++ran[1];
            else lumoref::characterMode(im, params[3]), ++ran[2];
        }
        const std::vector<uint8_t> a = storedBytes(fast), b = storedBytes(ref);
        for (size_t i = 0; i < a.size(); ++i)
            ASSERT_EQ(int(a[i]), int(b[i])) << "round " << round << " effect " << effect << " size " << w << "x" << h
                                            << (topDown ? " top-down" : " bottom-up") << " byte " << i << " (pixel "
                                            << i % size_t(fast.ctx.dib.nStride) / 3 << ", stored row "
                                            << i / size_t(fast.ctx.dib.nStride) << ")";
        for (size_t level = 0; level < narrow.size(); ++level)
            ASSERT_TRUE(narrow[level] == b) << "round " << round << " effect " << effect << " vector level " << level;
        ASSERT_EQ(fast.cond.bMode & 0x1FFF, ref.cond.bMode & 0x1FFF);
        ASSERT_EQ(fast.cond.dwPixelCount, ref.cond.dwPixelCount);
        ASSERT_EQ(0, std::memcmp(fast.cond.adwHistogram, ref.cond.adwHistogram, sizeof cond.adwHistogram));
    }
    // Each effect ran often enough to mean something.
    for (int n : ran) EXPECT_GT(n, 100);
}

TEST(EffectsAgainstReference, HelperThreadsGiveTheSameBytesAndHistogram) {
    std::mt19937 rng(77);
    const Pixels pic = randomPicture(rng, 701, 413);  // large enough to be split
    // With the red box and without one (grey rows are marked, and left for Character Mode to
    // encode, by the scan's own kernels).
    for (uint16_t colour : {uint16_t(BIN_RED), uint16_t(0)})
        for (uint16_t effect : {uint16_t(0), uint16_t(BIN_ERASE_GRID), uint16_t(BIN_OUTLINE), uint16_t(BIN_CHARACTER)})
            for (int autoThreshold = 0; autoThreshold < 2; ++autoThreshold) {
                Opened one(pic), two(pic);
                for (Opened* o : {&one, &two}) {
                    o->cond.bMode = uint16_t(BIN_DARK | colour | effect);
                    o->cond.bThreshfold = 100;
                    o->cond.fAutoThreshfold = autoThreshold;
                    o->ctx.nHistLeft = 13;
                    o->ctx.nHistTop = 7;
                }
                ASSERT_EQ(lumoSetScanThreads(1), 1);
                const int32_t a = lumoPreScan(&one.ctx);
                lumoSetScanThreads(3);
                const int32_t b = lumoPreScan(&two.ctx);
                EXPECT_EQ(lumoSetScanThreads(1), 3);
                ASSERT_EQ(a, b);
                EXPECT_TRUE(storedBytes(one) == storedBytes(two))
                    << "colour " << colour << " effect " << effect << " auto " << autoThreshold;
                EXPECT_EQ(0, std::memcmp(one.cond.adwHistogram, two.cond.adwHistogram, sizeof one.cond.adwHistogram));
                EXPECT_EQ(one.cond.dwPixelCount, two.cond.dwPixelCount);
                EXPECT_EQ(one.cond.bMode, two.cond.bMode);
            }
}

namespace {

// Strokes whose edges wander from row to row (so column profiles rise, level off and fall again,
// with valleys where two strokes meet), tall bars crossing many rows, and filled discs, on a
// light background; widths up to wide enough for depths above 126.
Pixels strokePicture(std::mt19937& rng, int w, int h, bool wide) {
    auto pick = [&](int n) { return int(rng() % uint32_t(std::max(n, 1))); };
    Pixels p(w, h, rgb(250, 250, 250));
    const uint32_t ink = rgb(20, 20, 20);
    const int strokes = 1 + pick(6);
    for (int s = 0; s < strokes; ++s) {
        int x = pick(w), width = 1 + pick(wide ? w : std::min(w, 40));
        const int y0 = pick(h / 2 + 1), y1 = std::min(h, y0 + h / 2 + pick(h));
        for (int y = y0; y < y1; ++y) {
            for (int i = std::max(0, x); i < std::min(w, x + width); ++i) p.at(i, y) = ink;
            x += pick(3) - 1;
            width = std::clamp(width + pick(5) - 2, 1, w);
        }
    }
    const int discs = pick(4);
    for (int d = 0; d < discs; ++d) {
        const int cx = pick(w), cy = pick(h), r = 1 + pick(std::max(w, h) / 2);
        for (int y = std::max(0, cy - r); y < std::min(h, cy + r + 1); ++y)
            for (int x = std::max(0, cx - r); x < std::min(w, cx + r + 1); ++x)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) p.at(x, y) = ink;
    }
    if (pick(2)) {  // a bar from the top row to the bottom
        const int x = pick(w);
        p.fillRect(x, 0, std::min(1 + pick(3), w - x), h, ink);
    }
    return p;
}

}  // namespace

// Character Mode's vertical walk on long columns: runs crossing many rows, profiles with plateaus
// and valleys, widths on either side of the vector widths, and depth caps up to past one byte's
// half; every vector level gives the reference's bytes, from encoded rows or from colour rows.
TEST(EffectsAgainstReference, CharacterModeOnTallStrokesGivesTheSameBytes) {
    std::mt19937 rng(4421);
    const int widths[] = {1, 2, 15, 16, 17, 31, 32, 33, 63, 65, 97, 130, 257};
    int64_t centreMarks = 0, deepPixels = 0;
    for (int round = 0; round < 120; ++round) {
        // One round in four has wide strokes and a cap past 126.
        const bool deep = round % 4 == 0;
        // One round in ten is wider than 32 words of 64 pixels, which the wide row pass takes apart.
        const bool wide = round % 10 == 5;
        const int w = deep ? 601 : wide ? 2113 : widths[rng() % std::size(widths)];
        const int h = 1 + int(rng() % (round % 3 == 0 && !wide ? 300u : 60u));
        const bool topDown = rng() & 1;
        const Pixels pic = strokePicture(rng, w, h, deep);
        const int32_t limit = deep ? int32_t(120 + rng() % 200) : int32_t(1 + rng() % 30);

        Opened fast(pic, topDown), ref(pic, topDown);
        ASSERT_TRUE(fast.ok && ref.ok);
        const std::vector<uint8_t> colour = storedBytes(ref);
        for (Opened* o : {&fast, &ref}) {
            o->cond.bMode = uint16_t(BIN_DARK | BIN_CHARACTER);
            o->cond.bThreshfold = 128;
            o->ctx.nDepthLimit = limit;
        }
        ref.cond.bMode = BIN_DARK;
        const int32_t got = lumoPreScan(&fast.ctx);
        ASSERT_EQ(got, lumoPreScan(&ref.ctx));
        if (!got) continue;

        lumo::Image im;
        im.stride = ref.ctx.dib.nStride;
        im.width = w;
        im.height = h;
        im.topDown = topDown;
        std::vector<std::vector<uint8_t>> narrow;
        lumo::EffectScratch scratch;
        const lumo::EffectParams ep{2, 30, 20, limit};
        for (int level = 0; level < 3; ++level) {
            narrow.push_back(storedBytes(ref));
            im.bits = narrow.back().data();
            ASSERT_TRUE(lumo::markAndApplyEffect(im, uint16_t(BIN_DARK | BIN_CHARACTER), lumo::comparisonOf(BIN_DARK), 128,
                                                 128, ep, scratch, level));
        }
        for (auto& bytes : fromColourRows(colour, storedBytes(ref), im, uint16_t(BIN_DARK | BIN_CHARACTER), 128, 128, ep))
            narrow.push_back(std::move(bytes));
        im.bits = ref.ctx.dib.lpBits;
        lumoref::markImage(im, lumo::comparisonOf(BIN_DARK), 128, 128);
        lumoref::characterMode(im, limit);

        const std::vector<uint8_t> a = storedBytes(fast), b = storedBytes(ref);
        for (size_t i = 0; i < a.size(); ++i)
            ASSERT_EQ(int(a[i]), int(b[i])) << "round " << round << " size " << w << "x" << h << " limit " << limit
                                            << (topDown ? " top-down" : " bottom-up") << " byte " << i;
        for (size_t level = 0; level < narrow.size(); ++level)
            ASSERT_TRUE(narrow[level] == b) << "round " << round << " vector level " << level;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                centreMarks += (ref.pixel(x, y)[0] & 0x04) != 0;
                deepPixels += ref.pixel(x, y)[2] > 126;
            }
    }
    // The pictures made centre lines, and depths past 126 occurred.
    EXPECT_GT(centreMarks, 1000);
    EXPECT_GT(deepPixels, 0);
}

namespace {

// Rows handed to the pre-scan as it goes: 32-bit pixels of columns left .. left + count - 1
// (black elsewhere), as a capture gives them, or the same as 24-bit rows.
struct SpanSource {
    const Pixels* pic;
    int32_t left, count;
    static void fill(const void* self, int32_t y, uint8_t* row) {
        const auto& s = *static_cast<const SpanSource*>(self);
        for (int x = 0; x < s.pic->w; ++x) {
            const uint32_t c = x >= s.left && x < s.left + s.count ? s.pic->px[size_t(y) * s.pic->w + x] : 0;
            row[3 * x] = uint8_t(c), row[3 * x + 1] = uint8_t(c >> 8), row[3 * x + 2] = uint8_t(c >> 16);
        }
    }
    static const uint32_t* pixels(const void* self, int32_t y, int32_t& left, int32_t& count) {
        const auto& s = *static_cast<const SpanSource*>(self);
        left = s.left;
        count = s.count;
        return s.pic->px.data() + size_t(y) * s.pic->w + s.left;
    }
};

}  // namespace

// Without a colour box and with fixed thresholds the rows are marked while they are encoded (in
// place, from 24-bit rows handed over, or from 32-bit pixels), in pieces split at a histogram
// window that may start at any column. Every row's marks must equal the marker's bits on the
// encoded row, for every comparison and both kinds of bounds; and Character Mode must give the
// same bytes whichever way the rows came.
TEST(EffectsAgainstReference, MarksMadeWhileEncodingEqualTheMarkersBits) {
    std::mt19937 rng(9127);
    const int widths[] = {1, 7, 31, 32, 33, 63, 64, 65, 97, 150, 203};
    int compared = 0;
    for (int round = 0; round < 300; ++round) {
        const int w = widths[rng() % std::size(widths)], h = 1 + int(rng() % 4);
        Pixels pic(w, h);
        for (uint32_t& c : pic.px) {
            const int g = int(rng() % 256);
            c = rng() % 4 ? rgb(g, g, g) : (rng() & 0xFFFFFF);  // every grey level, some colours
        }
        // Columns outside the source's span are black in every variant.
        const int32_t spanLeft = int32_t(rng() % uint32_t(w)), spanCount = int32_t(rng() % uint32_t(w - spanLeft + 1));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (x < spanLeft || x >= spanLeft + spanCount) pic.at(x, y) = 0;
        const int offsets[] = {0, 1, 13, 31, 33, 40, 63, 65, w / 2};
        const int32_t left = std::min(offsets[rng() % std::size(offsets)], w - 1);
        const int32_t right = left + 1 + int32_t(rng() % uint32_t(w));
        BinCondition cond{};
        const int m = 1 + int(rng() % 6);
        const bool range = rng() & 1;
        const uint8_t edges[] = {0, 1, 127, 254, 255};
        cond.bThreshfold = rng() % 3 ? uint8_t(rng()) : edges[rng() % 5];
        cond.bThreshfoldMin = rng() % 3 ? uint8_t(rng()) : edges[rng() % 5];
        cond.bThreshfoldMax = rng() % 3 ? uint8_t(rng()) : edges[rng() % 5];
        const int lo = range ? cond.bThreshfoldMin : cond.bThreshfold, hi = range ? cond.bThreshfoldMax : cond.bThreshfold;

        // The encoded rows and the marker's bits on them.
        Opened ref(pic);
        ref.cond = cond;
        ref.cond.bMode = uint16_t(m | (range ? BIN_RANGE : 0));
        ref.ctx.nHistLeft = left;
        ref.ctx.nHistRight = right;
        ASSERT_EQ(lumoPreScan(&ref.ctx), 1);
        const size_t words = (size_t(w) + 63) / 64;
        std::vector<uint64_t> want(words * size_t(h));
        lumo::Image im;
        im.bits = ref.ctx.dib.lpBits;
        im.stride = ref.ctx.dib.nStride;
        im.width = w;
        im.height = h;
        for (int y = 0; y < h; ++y) lumo::markRowBits(im.row(y), w, m, lo, hi, want.data() + size_t(y) * words);

        std::vector<uint8_t> firstBytes;
        for (int way = 0; way < 4; ++way) {  // in place, 24-bit rows handed over, 32-bit pixels; Outline in place
            const uint16_t effect = way == 3 ? BIN_OUTLINE : BIN_CHARACTER;
            Opened o(pic);
            o.cond = cond;
            o.cond.bMode = uint16_t(m | (range ? BIN_RANGE : 0) | effect);
            o.ctx.nHistLeft = left;
            o.ctx.nHistRight = right;
            SpanSource span{&pic, spanLeft, spanCount};
            const lumo::RowSource source{&SpanSource::fill, way == 2 ? &SpanSource::pixels : nullptr, &span};
            ASSERT_EQ(lumo::preScan(&o.ctx, way == 1 || way == 2 ? &source : nullptr), 1);
            const std::vector<uint64_t>& got = lumo::threadScratch().marks;
            ASSERT_GE(got.size(), want.size());
            for (size_t k = 0; k < want.size(); ++k)
                ASSERT_EQ(got[k], want[k]) << "round " << round << " way " << way << " width " << w << " left " << left
                                           << " m " << m << " range " << range << " row " << k / words << " word "
                                           << k % words;
            ++compared;
            if (way == 0) {
                firstBytes = storedBytes(o);
            } else if (way < 3) {
                ASSERT_TRUE(storedBytes(o) == firstBytes) << "round " << round << " way " << way;
            }
        }
    }
    EXPECT_EQ(compared, 1200);
}
