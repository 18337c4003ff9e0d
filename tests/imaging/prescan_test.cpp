// The pre-scan: pixel encoding, its pin images, the three effects on the shapes they are made
// for, and lumoFindDot.
#include <gtest/gtest.h>

#include <random>

#include "tests/imaging/image_fixture.h"

using namespace lumotest;

namespace {

const uint32_t kWhite = rgb(255, 255, 255);

// Pre-scans a black-on-white picture with comparison Dark (T 128) and the given effect.
std::unique_ptr<Opened> effect(const Pixels& img, uint16_t bits, bool topDown = false) {
    auto o = std::make_unique<Opened>(img, topDown);
    o->cond.bMode = uint16_t(BIN_DARK | bits);
    o->cond.bThreshfold = 128;
    EXPECT_EQ(lumoPreScan(&o->ctx), 1);
    return o;
}

int countFlag(Opened& o, uint8_t flag) {
    int n = 0;
    for (int y = 0; y < o.ctx.dib.nHeight; ++y)
        for (int x = 0; x < o.ctx.dib.nWidth; ++x) n += (o.pixel(x, y)[0] & flag) != 0;
    return n;
}

}  // namespace

TEST(PreScan, EncodingAndPinsEqualThoseOfTheColourImage) {
    Pixels img(24, 16);
    for (int y = 0; y < img.h; ++y)
        for (int x = 0; x < img.w; ++x) img.at(x, y) = rgb((x * 37 + y * 11) % 256, (x * 5) % 256, (y * 29) % 256);
    Opened raw(img), pre(img, true);
    for (Opened* o : {&raw, &pre}) {
        o->cond.bMode = BIN_LIGHT;
        o->cond.bThreshfold = 90;
        o->ctx.nCellWidth = 3;
        o->ctx.nCellHeight = 2;
    }
    ASSERT_EQ(lumoPreScan(&pre.ctx), 1);
    EXPECT_TRUE(pre.cond.bMode & BIN_PRESCANNED);
    EXPECT_EQ(pre.cond.dwPixelCount, uint32_t(24 * 16));
    for (int y = 0; y < img.h; ++y)
        for (int x = 0; x < img.w; ++x) {
            const uint32_t c = img.at(x, y);
            ASSERT_EQ(pre.pixel(x, y)[0], 1);
            ASSERT_EQ(pre.pixel(x, y)[1], (((c >> 16) & 255) + ((c >> 8) & 255) + (c & 255)) / 3);
            ASSERT_EQ(pre.pixel(x, y)[2], (c >> 16) & 255);  // red kept before any effect
        }
    DotPanel* a = lumoNewPanel(8, 8);
    DotPanel* b = lumoNewPanel(8, 8);
    for (int t : {0, 50, 90, 200}) {
        raw.cond.bThreshfold = pre.cond.bThreshfold = uint8_t(t);
        lumoSetPanel(&raw.ctx, a);
        lumoSetPanel(&pre.ctx, b);
        EXPECT_EQ(std::vector<uint8_t>(a->lpData, a->lpData + a->nSize), std::vector<uint8_t>(b->lpData, b->lpData + b->nSize)) << t;
    }
    lumoFreePanel(a);
    lumoFreePanel(b);
}

TEST(PreScan, ColourBoxExcludesWhiteAndEmptyWindowFails) {
    Pixels img(4, 1, kWhite);
    img.at(1, 0) = rgb(200, 20, 20);
    Opened o(img);
    o.cond.bMode = BIN_RED | BIN_LIGHT | BIN_EQUAL | BIN_DARK;  // everything but the colour test passes... 7 acts as 5
    o.cond.bThreshfold = 0;
    ASSERT_EQ(lumoPreScan(&o.ctx), 1);
    EXPECT_EQ(o.pixel(0, 0)[0], 0);
    EXPECT_EQ(o.pixel(1, 0)[0], 1);
    EXPECT_EQ(o.cond.dwPixelCount, 1u);
    DotPanel* p = lumoNewPanel(4, 1);
    o.cond.bMode = uint16_t(BIN_PRESCANNED | BIN_RED | BIN_LIGHT);
    lumoSetPanel(&o.ctx, p);
    EXPECT_EQ(p->lpData[0], 0);  // white never raises a pin under the red box
    EXPECT_EQ(p->lpData[1], 1);
    lumoFreePanel(p);

    Pixels grey(3, 3, rgb(50, 50, 50));
    Opened g(grey);
    g.cond.bMode = BIN_BLUE;
    EXPECT_EQ(lumoPreScan(&g.ctx), 0);
    EXPECT_TRUE(g.cond.bMode & BIN_PRESCANNED);
    EXPECT_EQ(g.cond.dwPixelCount, 1u);
    EXPECT_EQ(g.pixel(1, 1)[1], 50);  // converted all the same
}

TEST(Effects, EraseGridLinesRemovesThinLongLinesAndKeepsShapes) {
    Pixels img(140, 80, kWhite);
    img.fillRect(10, 5, 100, 1, 0);   // horizontal line, 100 long
    img.fillRect(5, 20, 1, 25, 0);    // vertical line, 25 long
    img.fillRect(125, 20, 1, 15, 0);  // vertical line, 15 long
    img.fillRect(60, 40, 10, 10, 0);  // filled square
    img.fillRect(30, 52, 100, 1, 0);  // horizontal line crossed by ...
    img.fillRect(50, 40, 1, 25, 0);   // ... a vertical line
    for (bool topDown : {false, true}) {
        auto o = effect(img, BIN_ERASE_GRID, topDown);
        auto on = [&](int x, int y) { return (o->pixel(x, y)[0] & 0x02) != 0; };
        for (int x = 10; x < 110; ++x) EXPECT_FALSE(on(x, 5)) << x;
        for (int y = 20; y < 45; ++y) EXPECT_FALSE(on(5, y)) << y;
        for (int y = 20; y < 35; ++y) EXPECT_TRUE(on(125, y)) << y;
        for (int y = 40; y < 50; ++y)
            for (int x = 60; x < 70; ++x) EXPECT_TRUE(on(x, y));
        EXPECT_TRUE(on(50, 52));  // the crossing stays
        EXPECT_EQ(countFlag(*o, 0x02), 15 + 100 + 1);

        DotPanel* p = lumoNewPanel(140, 80);
        o->ctx.nCellWidth = o->ctx.nCellHeight = 1;
        lumoSetPanel(&o->ctx, p);
        EXPECT_EQ((p->lpData[(52 / 8) * 140 + 50] >> (52 % 8)) & 1, 1);
        EXPECT_EQ((p->lpData[(5 / 8) * 140 + 50] >> 5) & 1, 0);
        lumoFreePanel(p);
    }
}

TEST(Effects, OutlineKeepsBordersOfFilledAreas) {
    Pixels img(30, 30, kWhite);
    img.fillRect(10, 8, 10, 10, 0);
    auto o = effect(img, BIN_OUTLINE);
    EXPECT_EQ(countFlag(*o, 0x02), 36);
    EXPECT_TRUE(o->pixel(10, 8)[0] & 0x02);
    EXPECT_TRUE(o->pixel(19, 12)[0] & 0x02);
    EXPECT_FALSE(o->pixel(11, 9)[0] & 0x02);
    EXPECT_EQ(o->pixel(11, 9)[2], 15);

    Pixels black(12, 7, 0);
    auto all = effect(black, BIN_OUTLINE, true);
    EXPECT_EQ(countFlag(*all, 0x02), 2 * 12 + 2 * 5);  // the image's border ring
    // Border pixels flag only inward: the left column hears only from its right neighbour.
    EXPECT_EQ(all->pixel(0, 3)[2], 8);
    EXPECT_EQ(all->pixel(5, 0)[2], 2);  // top row: only from below
    EXPECT_EQ(all->pixel(0, 0)[2], 0);
}

TEST(Effects, CharacterModeMarksTheCentreLineOfABar) {
    Pixels img(60, 20, kWhite);
    img.fillRect(10, 6, 40, 5, 0);
    for (bool topDown : {false, true}) {
        auto o = effect(img, BIN_CHARACTER, topDown);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 60; ++x) {
                const bool want = y == 8 && x >= 12 && x <= 47;
                ASSERT_EQ((o->pixel(x, y)[0] & 0x04) != 0, want) << x << "," << y << " topDown " << topDown;
            }
        DotPanel* p = lumoNewPanel(60, 20);
        lumoSetPanel(&o->ctx, p);
        int raised = 0;
        for (int i = 0; i < p->nSize; ++i) raised += __builtin_popcount(p->lpData[i]);
        EXPECT_EQ(raised, 36);
        lumoFreePanel(p);
    }
}

TEST(FindDot, MovesTheOriginToTheTopLeftOfTheKeyColour) {
    Pixels img(20, 15, 0);
    img.at(12, 7) = kWhite;
    img.at(4, 9) = kWhite;
    img.at(2, 3) = kWhite;  // outside the window (left of the origin)
    for (bool topDown : {false, true}) {
        Opened o(img, topDown);
        o.ctx.nOriginX = 3;
        o.ctx.nOriginY = 1;
        ASSERT_EQ(lumoFindDot(&o.ctx, 0xFFFFFF), 1);
        EXPECT_EQ(o.ctx.nOriginX, 4);
        EXPECT_EQ(o.ctx.nOriginY, 7);
        EXPECT_EQ(lumoFindDot(&o.ctx, 0x123456), 0);
        EXPECT_EQ(o.ctx.nOriginX, 4);
        EXPECT_EQ(o.ctx.nOriginY, 7);
    }
}

TEST(PreScan, EncodingAndHistogramOverAWindowMatchTheDefinition) {
    std::mt19937 rng(5);
    Pixels img(75, 11);
    for (int y = 0; y < img.h; ++y)
        for (int x = 0; x < img.w; ++x)
            img.at(x, y) = y >= 6   ? rgb(77, 77, 77)  // uniform rows: whole blocks of one level
                           : (x / 20 == 1) ? rgb(200, 30, 30)
                                           : rgb(rng() % 256, rng() % 256, rng() % 256);
    for (int c : {0, 1, 2, 4, 7}) {
        Opened o(img, c % 2 == 0);
        o.cond.bMode = uint16_t(c << 4);
        o.ctx.nHistLeft = 5;
        o.ctx.nHistRight = 58;  // segments of 5, 53 and 17 pixels: every loop width is used
        o.ctx.nHistTop = 2;
        o.ctx.nHistBottom = 99;  // beyond the image: the height
        const int ok = lumoPreScan(&o.ctx);
        EXPECT_EQ(o.ctx.nHistBottom, 11);
        uint32_t hist[256] = {};
        uint32_t n = 0;
        for (int y = 0; y < img.h; ++y)
            for (int x = 0; x < img.w; ++x) {
                const uint32_t v = img.at(x, y);
                const int r = (v >> 16) & 255, g = (v >> 8) & 255, b = v & 255;
                bool q = true;
                if (c == 1) q = r > g && r > b;
                if (c == 2) q = g > b && g > r;
                if (c == 4) q = b > g && b > r;
                if (c == 7) q = r == g && g == b;
                ASSERT_EQ(o.pixel(x, y)[0], q ? 1 : 0) << c << " " << x << "," << y;
                ASSERT_EQ(o.pixel(x, y)[1], (r + g + b) / 3);
                ASSERT_EQ(o.pixel(x, y)[2], r);
                if (x >= 5 && x < 58 && y >= 2 && q) ++hist[(r + g + b) / 3], ++n;
            }
        EXPECT_EQ(ok, n ? 1 : 0);
        EXPECT_EQ(o.cond.dwPixelCount, n ? n : 1u);
        for (int g = 0; g < 256; ++g) ASSERT_EQ(o.cond.adwHistogram[g], hist[g]) << "c " << c << " level " << g;
    }
}

// Rows of runs, as text gives them: levels that repeat in runs of 1 to 17 pixels crossing the
// sixteen-pixel blocks, two levels alternating (strokes on a background), and whole blocks of one
// level; the histogram counts every pixel of the window once.
TEST(PreScan, HistogramOfRunsMatchesTheDefinition) {
    std::mt19937 rng(11);
    Pixels img(213, 12);
    for (int y = 0; y < img.h; ++y) {
        int x = 0;
        while (x < img.w) {
            const int run = 1 + int(rng() % (y % 3 == 0 ? 17 : 6));
            const int level = y % 3 == 1 ? ((x / 7) % 2 ? 20 : 235) : int(rng() % 256);
            for (int k = 0; k < run && x < img.w; ++k, ++x) img.at(x, y) = rgb(level, level, level);
        }
    }
    img.fillRect(40, 8, 100, 4, rgb(9, 9, 9));
    for (const int left : {0, 3}) {
        Opened o(img);
        o.cond.bMode = 0;
        o.ctx.nHistLeft = left;
        o.ctx.nHistRight = img.w - left;
        o.ctx.nHistTop = 0;
        o.ctx.nHistBottom = img.h;
        ASSERT_EQ(lumoPreScan(&o.ctx), 1);
        uint32_t hist[256] = {};
        for (int y = 0; y < img.h; ++y)
            for (int x = left; x < img.w - left; ++x) ++hist[img.at(x, y) & 255];
        EXPECT_EQ(o.cond.dwPixelCount, uint32_t((img.w - 2 * left) * img.h));
        for (int g = 0; g < 256; ++g) ASSERT_EQ(o.cond.adwHistogram[g], hist[g]) << "left " << left << " level " << g;
    }
}

// The marker applies the comparison of the mode (single or range) to the grey level; isolated
// pixels keep their marks through Erase Grid Lines, so the marks show the marker's verdict.
TEST(PreScan, MarkerFollowsEveryComparison) {
    // Isolated blue-tinted grey pixels on black; under the blue box only they qualify.
    Pixels img(31, 3, 0);
    for (int x = 0; x < img.w; x += 2) img.at(x, 1) = rgb(x * 8, x * 8, x * 8 + 3);
    for (int m = 1; m <= 6; ++m)
        for (bool range : {false, true}) {
            Opened t(img);
            t.cond.bMode = uint16_t(m | (range ? BIN_RANGE : 0) | BIN_ERASE_GRID | BIN_BLUE);
            t.cond.bThreshfold = 80;
            t.cond.bThreshfoldMin = 40;
            t.cond.bThreshfoldMax = 160;
            ASSERT_EQ(lumoPreScan(&t.ctx), 1);
            for (int x = 0; x < img.w; x += 2) {
                const int g = (3 * x * 8 + 3) / 3;
                bool want;
                const int T = 80, lo = 40, hi = 160;
                switch (m) {
                case 1: want = range ? g > hi : g > T; break;
                case 2: want = range ? (g >= lo && g <= hi) : g == T; break;
                case 3: want = range ? g >= lo : g >= T; break;
                case 4: want = range ? g < lo : g < T; break;
                case 5: want = range ? (g < lo || g > hi) : g != T; break;
                default: want = range ? g <= hi : g <= T; break;
                }
                EXPECT_EQ((t.pixel(x, 1)[0] & 0x02) != 0, want) << "m " << m << " range " << range << " g " << g;
            }
            EXPECT_EQ(t.pixel(1, 1)[0], 0);  // black, not blue: neither qualified nor marked
        }
}
