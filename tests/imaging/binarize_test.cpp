// Binarization rules: every comparison (single threshold and range, colour pixels and the
// pre-scan encoding), every colour filter, scan limits, storage order, the automatic threshold
// and the preview bitmap.
#include <gtest/gtest.h>

#include <random>

#include "tests/imaging/image_fixture.h"

using namespace lumotest;

namespace {

// Reference of the comparison table, written from the grey level itself.
bool meets(int m, bool range, int g, int t, int lo, int hi) {
    if (m == 0 || m > 6) m = 5;
    if (!range) {
        switch (m) {
        case 1: return g > t;
        case 2: return g == t;
        case 3: return g >= t;
        case 4: return g < t;
        case 5: return g != t;
        default: return g <= t;
        }
    }
    switch (m) {
    case 1: return g > hi;
    case 2: return lo <= g && g <= hi;
    case 3: return g >= lo;
    case 4: return g < lo;
    case 5: return g < lo || g > hi;
    default: return g <= hi;
    }
}

// One pin per pixel of a one-row image.
std::vector<bool> pins(Opened& o) {
    DotPanel* p = lumoNewPanel(o.ctx.dib.nWidth, 1);
    lumoSetPanel(&o.ctx, p);
    std::vector<bool> out;
    for (int x = 0; x < p->nWidth; ++x) out.push_back(p->lpData[x] & 1);
    lumoFreePanel(p);
    return out;
}

}  // namespace

TEST(Comparisons, EveryModeMatchesTheTableOnColourAndEncodedPixels) {
    // Sums that are and are not multiples of 3 around the thresholds used below.
    Pixels img(0, 1);
    std::vector<uint32_t> row;
    for (int g : {0, 1, 10, 11, 12, 49, 50, 51, 100, 199, 200, 201, 254, 255})
        for (int extra : {0, 1, 2}) {
            const int s = std::min(3 * g + extra, 765);
            const int b = s / 3, gg = (s - b) / 2, r = s - b - gg;
            row.push_back(rgb(r, gg, b));
        }
    Pixels line(int(row.size()), 1);
    line.px = row;
    EXPECT_EQ((10 + 11 + 13) / 3, 11);

    const int thresholds[][3] = {{11, 11, 11}, {0, 50, 200}, {255, 200, 50}, {100, 0, 255}};
    for (bool prescanned : {false, true})
        for (int m = 0; m < 16; ++m)
            for (bool range : {false, true})
                for (const auto& t : thresholds) {
                    Opened o(line);
                    ASSERT_TRUE(o.ok);
                    if (prescanned) {
                        o.cond.bMode = 0;
                        lumoPreScan(&o.ctx);
                    }
                    o.cond.bMode = uint16_t((prescanned ? BIN_PRESCANNED : 0) | m | (range ? BIN_RANGE : 0));
                    o.cond.bThreshfold = uint8_t(t[0]);
                    o.cond.bThreshfoldMin = uint8_t(t[1]);
                    o.cond.bThreshfoldMax = uint8_t(t[2]);
                    const auto got = pins(o);
                    for (size_t i = 0; i < row.size(); ++i) {
                        const uint32_t c = row[i];
                        const int g = int(((c >> 16) & 255) + ((c >> 8) & 255) + (c & 255)) / 3;
                        EXPECT_EQ(got[i], meets(m, range, g, t[0], t[1], t[2]))
                            << "m=" << m << " range=" << range << " prescanned=" << prescanned << " g=" << g
                            << " T=" << t[0] << " Min=" << t[1] << " Max=" << t[2];
                    }
                }
}

TEST(Colours, EachFilterQualifiesTheRightPixels) {
    const uint32_t px[] = {rgb(128, 128, 128), rgb(200, 10, 10), rgb(10, 200, 10), rgb(10, 10, 200),
                           rgb(200, 200, 10),  rgb(10, 200, 200), rgb(200, 10, 200), rgb(255, 255, 255)};
    // Expected qualification per colour value c (rows) for the pixels above (columns).
    const bool want[8][8] = {
        {1, 1, 1, 1, 1, 1, 1, 1},  // no box
        {0, 1, 0, 0, 0, 0, 0, 0},  // R
        {0, 0, 1, 0, 0, 0, 0, 0},  // G
        {0, 1, 0, 0, 0, 0, 0, 0},  // R+G acts as R
        {0, 0, 0, 1, 0, 0, 0, 0},  // B
        {0, 1, 0, 0, 0, 0, 0, 0},  // R+B acts as R
        {0, 0, 1, 0, 0, 0, 0, 0},  // G+B acts as G
        {1, 0, 0, 0, 0, 0, 0, 1},  // R+G+B: grey only
    };
    Pixels line(8, 1);
    std::copy(std::begin(px), std::end(px), line.px.begin());
    for (int c = 0; c < 8; ++c) {
        for (bool prescanned : {false, true}) {
            Opened o(line);
            o.cond.bMode = uint16_t(c << 4 | 3);  // g >= 0: only the colour decides
            o.cond.bThreshfold = 0;
            if (prescanned) lumoPreScan(&o.ctx);
            const auto got = pins(o);
            for (int i = 0; i < 8; ++i) EXPECT_EQ(got[i], want[c][i]) << "c=" << c << " pixel " << i << " prescanned=" << prescanned;
        }
    }
}

TEST(Cells, LimitsCutCellsAndStorageOrderDoesNotMatter) {
    Pixels img(8, 8, rgb(255, 255, 255));
    img.at(5, 5) = 0;
    for (bool topDown : {false, true}) {
        Opened o(img, topDown);
        o.cond.bMode = BIN_DARK;
        o.cond.bThreshfold = 128;
        o.ctx.nCellWidth = o.ctx.nCellHeight = 4;
        DotPanel* p = lumoNewPanel(2, 2);
        lumoSetPanel(&o.ctx, p);
        EXPECT_EQ(p->lpData[0], 0);
        EXPECT_EQ(p->lpData[1], 0x02) << topDown;
        EXPECT_EQ(o.ctx.nLimitX, 8);  // normalised and written back
        EXPECT_EQ(o.ctx.nHistBottom, 8);
        o.ctx.nLimitX = 5;  // the cell straddles the limit: only column 4 is inside
        lumoSetPanel(&o.ctx, p);
        EXPECT_EQ(p->lpData[1], 0);
        o.ctx.nLimitX = 6;
        lumoSetPanel(&o.ctx, p);
        EXPECT_EQ(p->lpData[1], 0x02);
        o.ctx.nLimitX = 99;  // larger than the image: back to the width
        o.ctx.nOriginX = 4;  // the pixel's cell now starts at the origin column
        lumoSetPanel(&o.ctx, p);
        EXPECT_EQ(o.ctx.nLimitX, 8);
        EXPECT_EQ(p->lpData[0], 0x02);
        EXPECT_EQ(p->lpData[1], 0);  // starts at the limit: never raised
        EXPECT_EQ(o.ctx.nCellX, 4);
        EXPECT_EQ(o.ctx.nCellY, 0);
        lumoFreePanel(p);
    }
}

TEST(AutoThreshold, PeakDecidesBetweenDifferentLightAndDark) {
    auto run = [](const std::vector<std::pair<int, int>>& levels, uint16_t mode = 0) {
        int total = 0;
        for (auto [g, n] : levels) total += n;
        Pixels img(total, 1);
        int x = 0;
        for (auto [g, n] : levels)
            for (int i = 0; i < n; ++i) img.at(x++, 0) = rgb(g, g, g);
        auto o = std::make_unique<Opened>(img);
        o->cond.bMode = mode;
        o->cond.fAutoThreshfold = 1;
        EXPECT_EQ(lumoSetValidThreshfold(&o->ctx), 1);
        return o;
    };
    auto o = run({{255, 60}, {0, 40}}, uint16_t(BIN_RANGE | BIN_LIGHT | BIN_CHARACTER | BIN_PRESCANNED));
    EXPECT_EQ(o->cond.bThreshfold, 255);
    EXPECT_EQ(o->cond.bThreshfoldMin, 255);
    EXPECT_EQ(o->cond.bThreshfoldMax, 255);
    EXPECT_EQ(o->cond.dwPeakCount, 60u);
    EXPECT_EQ(o->cond.dwPixelCount, 100u);
    EXPECT_EQ(o->cond.bMode, BIN_CHARACTER | 5);  // range and comparison cleared, pre-scan bit cleared

    std::vector<std::pair<int, int>> dark = {{200, 30}, {220, 10}, {240, 10}};
    for (int g = 0; g < 50; ++g) dark.push_back({g * 4, 1});
    o = run(dark);
    EXPECT_EQ(o->cond.bThreshfold, 200);
    EXPECT_EQ(o->cond.bMode & 15, 4);

    o = run({{100, 30}, {10, 20}, {150, 25}, {160, 25}});
    EXPECT_EQ(o->cond.bMode & 15, 1);

    o = run({{90, 30}, {30, 30}, {60, 20}, {200, 20}});
    EXPECT_EQ(o->cond.bThreshfold, 30);  // equal peaks: the darker level

    // Colour filter: only red pixels count, the peak is among them.
    Pixels img(10, 1, rgb(255, 255, 255));
    for (int x = 0; x < 3; ++x) img.at(x, 0) = rgb(90, 0, 0);
    Opened red(img);
    red.cond.bMode = BIN_RED;
    red.cond.fAutoThreshfold = 1;
    ASSERT_EQ(lumoSetValidThreshfold(&red.ctx), 1);
    EXPECT_EQ(red.cond.dwPixelCount, 3u);
    EXPECT_EQ(red.cond.bThreshfold, 30);
}

TEST(AutoThreshold, NoQualifyingPixelGivesFalseAndKeepsTheThresholds) {
    Pixels grey(6, 4, rgb(100, 100, 100));
    Opened o(grey);
    o.cond.bMode = BIN_GREEN | BIN_LIGHT;
    o.cond.fAutoThreshfold = 1;
    o.cond.bThreshfold = 77;
    o.cond.dwPixelCount = 999;
    o.cond.adwHistogram[3] = 5;
    EXPECT_EQ(lumoSetValidThreshfold(&o.ctx), 0);
    EXPECT_EQ(o.cond.dwPixelCount, 1u);
    EXPECT_EQ(o.cond.bThreshfold, 77);
    EXPECT_EQ(o.cond.adwHistogram[3], 0u);

    // An empty histogram window counts nothing either.
    o.cond.bMode = BIN_LIGHT;
    o.ctx.nHistLeft = 3;
    o.ctx.nHistRight = 3;
    EXPECT_EQ(lumoSetValidThreshfold(&o.ctx), 0);
    o.ctx.nHistRight = -1;
    o.ctx.nHistTop = 2;
    EXPECT_EQ(lumoSetValidThreshfold(&o.ctx), 1);
    EXPECT_EQ(o.cond.dwPixelCount, 6u);  // 3 columns x 2 rows
}

TEST(Preview, QualifyingPixelsGreyOthersWhiteMatchingCellsOutlined) {
    Pixels img(6, 6, rgb(255, 255, 255));
    img.at(4, 4) = rgb(30, 60, 90);  // grey level 60
    img.at(1, 1) = rgb(200, 0, 0);
    Opened o(img);
    o.cond.bMode = BIN_BLUE | BIN_DARK;
    o.cond.bThreshfold = 128;
    o.ctx.nCellWidth = o.ctx.nCellHeight = 3;
    LumoHBITMAP bm = lumoCreateBinaryBitmap(&o.ctx);
    ASSERT_NE(bm, nullptr);
    auto at = [&](int x, int y) { return bm->lpPixels[y * 6 + x]; };
    // The cell (3..5, 3..5) holds the blue-ish dark pixel: its outline is black, its centre grey.
    EXPECT_EQ(at(3, 3), 0u);
    EXPECT_EQ(at(5, 5), 0u);
    EXPECT_EQ(at(3, 5), 0u);
    const uint32_t grey = (30 + 60 + 90) / 6 + 64;
    EXPECT_EQ(at(4, 4), grey * 0x010101u);
    EXPECT_EQ(at(1, 1), 0xFFFFFFu);  // red pixel does not qualify under the blue box
    EXPECT_EQ(at(0, 0), 0xFFFFFFu);
    EXPECT_EQ(o.ctx.nCellX, 0);
    EXPECT_EQ(o.ctx.nCellY, 0);
    lumoDeleteBitmap(bm);
}

TEST(Cells, RowSweepEqualsTestingEveryCellAlone) {
    std::mt19937 rng(7);
    Pixels img(61, 47);
    for (auto& p : img.px) p = (rng() % 40 == 0) ? 0 : rgb(255, 255, 255);
    for (bool topDown : {false, true}) {
        Opened o(img, topDown);
        o.cond.bMode = BIN_DARK;
        o.cond.bThreshfold = 100;
        for (int div : {1, 2, 3, 7, 30}) {
            for (int origin : {-5, 0, 4}) {
                o.ctx.nCellWidth = div;
                o.ctx.nCellHeight = div + 1;
                o.ctx.nOriginX = origin;
                o.ctx.nOriginY = -origin;
                o.ctx.nLimitX = 50;
                o.ctx.nLimitY = -1;
                DotPanel* p = lumoNewPanel(20, 13);
                lumoSetPanel(&o.ctx, p);
                for (int x = 0; x < 20; ++x)
                    for (int r = 0; r < 16; ++r) {
                        bool want = false;
                        for (int y = r * (div + 1) - origin; y < (r + 1) * (div + 1) - origin; ++y)
                            for (int xx = x * div + origin; xx < (x + 1) * div + origin; ++xx)
                                if (xx >= 0 && y >= 0 && xx < 50 && y < 47 && img.at(xx, y) == 0) want = true;
                        const bool got = (p->lpData[(r / 8) * 20 + x] >> (r % 8)) & 1;
                        ASSERT_EQ(got, want) << "div " << div << " origin " << origin << " pin " << x << "," << r;
                    }
                lumoFreePanel(p);
            }
        }
    }
}

#include "imaging/scan.h"

// The vector loops must answer exactly as the scalar ones for every rule, on segments of every
// length (shorter than a block, one block, overlapping last blocks, many blocks).
TEST(Cells, VectorAndScalarRulesAgree) {
    std::mt19937 rng(11);
    Pixels img(97, 9);
    for (auto& p : img.px) {
        const int base = int(rng() % 256);
        // Near-grey pixels with small channel differences exercise the colour rules' ties.
        p = rgb(std::clamp(base + int(rng() % 5) - 2, 0, 255), std::clamp(base + int(rng() % 5) - 2, 0, 255),
                std::clamp(base + int(rng() % 5) - 2, 0, 255));
    }
    for (int stage = 0; stage < 3; ++stage) {
        Opened o(img);
        if (stage > 0) {
            o.cond.bMode = uint16_t(stage == 2 ? (BIN_LIGHT | BIN_OUTLINE) : BIN_RED);
            o.cond.bThreshfold = 120;
            lumoPreScan(&o.ctx);
        }
        lumo::Image im;
        ASSERT_TRUE(lumo::openScan(&o.ctx, im));
        for (int mode = 0; mode < 256; ++mode) {
            if (stage == 2 && mode % 64) continue;  // the mark rule ignores comparison and colour
            o.cond.bMode = uint16_t(mode | (stage ? BIN_PRESCANNED : 0) | (stage == 2 ? BIN_OUTLINE : 0));
            o.cond.bThreshfold = uint8_t(rng() % 256);
            o.cond.bThreshfoldMin = uint8_t(rng() % 256);
            o.cond.bThreshfoldMax = uint8_t(rng() % 256);
            const lumo::PixelRule slow = lumo::selectRule(o.cond, 0);
            for (int level : {1, 2}) {
                const lumo::PixelRule fast = lumo::selectRule(o.cond, level);
                for (int width : {5, 16, 17, 30, 31, 32, 33, 47, 48, 97}) {
                    for (int x = 0; x + width <= 97; x += 23)
                        for (int y = 0; y < 9; ++y) {
                            const uint8_t* p = im.row(y) + 3 * x;
                            ASSERT_EQ(fast.test(fast.params, p, width), slow.test(slow.params, p, width))
                                << "level " << level << " stage " << stage << " mode " << mode << " width " << width
                                << " at " << x << "," << y;
                        }
                }
            }
        }
    }
}
