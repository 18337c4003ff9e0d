// The pre-scan, each effect and the pin panel on a desktop-like picture, pinned byte for byte: a
// digest of every stored byte (in image order) and of the panels built from them. The digests
// were taken from the straightforward passes; they must hold in both storage orders and with
// helper threads, so a faster pass that changes a single byte or pin shows here.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>

#include "tests/imaging/desktop_picture.h"
#include "tests/imaging/image_fixture.h"

using namespace lumotest;

namespace {

constexpr int kW = 1920, kH = 1080;

const Pixels& picture() {
    static const Pixels p = [] {
        Pixels q(kW, kH);
        q.px = desktopPicture(kW, kH);
        return q;
    }();
    return p;
}

struct Digest {
    uint64_t h = 0xCBF29CE484222325ull;  // FNV-1a
    void add(const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
    }
};

// Digest of the stored pixels in image order, then of 64 x 48 panels at divisions 30 and 8.
uint64_t digestOf(Opened& o) {
    Digest d;
    for (int y = 0; y < o.ctx.dib.nHeight; ++y) d.add(o.pixel(0, y), size_t(3) * size_t(o.ctx.dib.nWidth));
    DotPanel* panel = lumoNewPanel(64, 48);
    for (int32_t div : {30, 8}) {
        o.ctx.nCellWidth = o.ctx.nCellHeight = div;
        lumoSetPanel(&o.ctx, panel);
        d.add(panel->lpData, size_t(panel->nSize));
    }
    lumoFreePanel(panel);
    return d.h;
}

struct Case {
    const char* name;
    uint16_t mode;
    int32_t autoThreshold;
    uint8_t t, lo, hi;
    bool prescan;
    uint64_t digest;
};

std::string hex(uint64_t v) {
    char s[24];
    std::snprintf(s, sizeof s, "0x%016" PRIX64, v);
    return s;
}

}  // namespace

TEST(DesktopPicture, EveryPassGivesThePinnedBytesInBothOrdersAndWithThreads) {
    const Case cases[] = {
        {"panel of the colour pixels", BIN_DARK, 0, 128, 0, 0, false, 0x1FE4FD9112A745B5ull},
        {"panel of the colour pixels, red box", BIN_RED | BIN_LIGHT, 0, 60, 0, 0, false, 0xF60EEFAFB648289Aull},
        {"encoding only", BIN_DARK, 0, 128, 0, 0, true, 0x3F2F3174D4867546ull},
        {"encoding, automatic threshold", 0, 1, 0, 0, 0, true, 0xF18C895AD7B2F587ull},
        {"grid lines", BIN_DARK | BIN_ERASE_GRID, 0, 128, 0, 0, true, 0x9829788187DEFF27ull},
        {"outline", BIN_DARK | BIN_OUTLINE, 0, 128, 0, 0, true, 0x6E9EFB52C3429D06ull},
        {"character", BIN_DARK | BIN_CHARACTER, 0, 128, 0, 0, true, 0x8B3D6D39B0FCB619ull},
        {"grid lines, automatic threshold", BIN_ERASE_GRID, 1, 0, 0, 0, true, 0x4E08FD4D42F80DFBull},
        {"outline, automatic threshold", BIN_OUTLINE, 1, 0, 0, 0, true, 0xD04A7817D819311Dull},
        {"character, automatic threshold", BIN_CHARACTER, 1, 0, 0, 0, true, 0xBDB205E533DF8D8Eull},
        {"character, red box", BIN_RED | BIN_LIGHT | BIN_CHARACTER, 0, 60, 0, 0, true, 0xEC943EDF3E4CD6CEull},
        {"outline, range", BIN_RANGE | BIN_EQUAL | BIN_OUTLINE, 0, 0, 20, 100, true, 0x89E25892C39EADF8ull},
    };
    for (const Case& c : cases) {
        // Bottom-up on one thread, top-down on one thread, bottom-up with helper threads.
        uint64_t got[3] = {};
        for (int run = 0; run < 3; ++run) {
            lumoSetScanThreads(run == 2 ? 2 : 1);
            Opened o(picture(), run == 1);
            ASSERT_TRUE(o.ok);
            o.cond.bMode = c.mode;
            o.cond.fAutoThreshfold = c.autoThreshold;
            o.cond.bThreshfold = c.t;
            o.cond.bThreshfoldMin = c.lo;
            o.cond.bThreshfoldMax = c.hi;
            if (c.prescan) {
                ASSERT_EQ(lumoPreScan(&o.ctx), 1) << c.name;
            }
            got[run] = digestOf(o);
        }
        lumoSetScanThreads(1);
        EXPECT_EQ(hex(got[0]), hex(c.digest)) << c.name;
        EXPECT_EQ(hex(got[1]), hex(c.digest)) << c.name << " (top-down)";
        EXPECT_EQ(hex(got[2]), hex(c.digest)) << c.name << " (two threads)";
    }
}
