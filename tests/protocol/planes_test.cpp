// Dot layouts: banded planes, multi-level rows and the note-taker's cells,
// checked bit by bit and through their inverses.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "planes.h"

using namespace tavik::proto;

namespace {

std::vector<uint8_t> image(int w, int h) { return std::vector<uint8_t>(static_cast<size_t>(w * h), 0); }

std::vector<uint8_t> randomImage(int w, int h, unsigned maxValue, unsigned seed) {
    std::mt19937 rng(seed);
    auto img = image(w, h);
    for (auto& d : img) d = static_cast<uint8_t>(rng() % (maxValue + 1));
    return img;
}

}  // namespace

TEST(Planes, PlaneSelectionAndBitLayout) {
    const int w = 64, h = 48;
    auto img = image(w, h);
    img[0 * w + 0] = 1;    // band 0, column 0, bit 0
    img[9 * w + 5] = 3;    // band 1, column 5, bit 1: plane 2 only
    img[47 * w + 63] = 2;  // band 5, column 63, bit 7
    img[7 * w + 1] = 1;    // band 0, column 1, bit 7
    std::vector<uint8_t> p1(planeSize(w, h)), p2(planeSize(w, h));
    ASSERT_EQ(packPlane(img, w, h, 1, p1), 384u);
    ASSERT_EQ(packPlane(img, w, h, 2, p2), 384u);
    std::vector<uint8_t> e1(384, 0), e2(384, 0);
    e1[0] = 0x01;
    e1[1] = 0x80;
    e2[1 * 64 + 5] = 0x02;
    e2[5 * 64 + 63] = 0x80;
    EXPECT_EQ(p1, e1);
    EXPECT_EQ(p2, e2);
}

TEST(Planes, SecondPlaneParameterNeverReadsAsPlaneOne) {
    EXPECT_EQ(secondPlaneParameter(0), 10);
    EXPECT_EQ(secondPlaneParameter(7), 7);
    EXPECT_EQ(secondPlaneParameter(256), 255);
    EXPECT_EQ(secondPlaneParameter(-3), 1);
}

TEST(Planes, PartialBandIsCutAtWidthTimesHeightOver8) {
    // 10 x 4: 5 bytes; columns 5..9 of the only band have no byte.
    const int w = 10, h = 4;
    auto img = image(w, h);
    for (auto& d : img) d = 1;
    std::vector<uint8_t> out(16, 0xEE);
    ASSERT_EQ(packPlane(img, w, h, 1, out), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i], 0x0F);
    EXPECT_EQ(out[5], 0xEE);
    auto back = image(w, h);
    ASSERT_TRUE(unpackPlane(std::span(out).first(5), w, h, back));
    EXPECT_EQ(back[0], 1);
    EXPECT_EQ(back[4], 1);
    EXPECT_EQ(back[5], 0);
}

TEST(Planes, RejectsBadArguments) {
    std::vector<uint8_t> img(64 * 48), out(384);
    EXPECT_EQ(packPlane(img, 64, 48, 3, out), 0u);
    EXPECT_EQ(packPlane(img, 64, 0, 1, out), 0u);
    EXPECT_EQ(packPlane(std::span(img).first(100), 64, 48, 1, out), 0u);
    EXPECT_EQ(packPlane(img, 64, 48, 1, std::span(out).first(383)), 0u);
    EXPECT_FALSE(unpackPlane(out, 64, 48, std::span(img).first(10)));
}

TEST(Planes, RoundTripBothPlanes) {
    for (auto [w, h] : {std::pair{64, 48}, std::pair{48, 32}, std::pair{32, 24}, std::pair{16, 12}}) {
        const auto img = randomImage(w, h, 4, static_cast<unsigned>(w));
        std::vector<uint8_t> p1(planeSize(w, h)), p2(planeSize(w, h));
        packPlane(img, w, h, 1, p1);
        packPlane(img, w, h, 2, p2);
        auto m1 = image(w, h), m2 = image(w, h);
        ASSERT_TRUE(unpackPlane(p1, w, h, m1));
        ASSERT_TRUE(unpackPlane(p2, w, h, m2));
        const int fullRows = static_cast<int>(planeSize(w, h) / static_cast<size_t>(w)) * 8;
        for (int y = 0; y < std::min(h, fullRows); ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t d = img[y * w + x];
                EXPECT_EQ(m1[y * w + x], d == 1 ? 1 : 0);
                EXPECT_EQ(m2[y * w + x], d >= 2 ? 1 : 0);
            }
    }
}

TEST(MultiLevel, PackingPerFormat) {
    const int w = 5, h = 2;
    const std::vector<uint8_t> img = {1, 0, 1, 1, 0, /**/ 0, 1, 0, 0, 1};
    std::vector<uint8_t> out(16);
    ASSERT_EQ(packMultiLevel(img, w, h, 1, out), 2u);
    EXPECT_EQ(out[0], 0x0D);  // bit 0 = leftmost
    EXPECT_EQ(out[1], 0x12);

    const std::vector<uint8_t> img2 = {3, 1, 2, 0, 1, /**/ 0, 0, 0, 0, 0xFE};
    ASSERT_EQ(packMultiLevel(img2, w, h, 2, out), 4u);
    EXPECT_EQ(out[0], 3 | (1 << 2) | (2 << 4));
    EXPECT_EQ(out[1], 1);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 2);  // only value bits 0..1 of 0xFE

    const std::vector<uint8_t> img4 = {0x1, 0xF, 0x7, 0, 0x3A, /**/ 0, 0, 0, 0, 0};
    ASSERT_EQ(packMultiLevel(img4, w, h, 4, out), 6u);
    EXPECT_EQ(out[0], 0xF1);  // even x low nibble, odd x high nibble
    EXPECT_EQ(out[1], 0x07);
    EXPECT_EQ(out[2], 0x0A);

    ASSERT_EQ(packMultiLevel(img4, w, h, 8, out), 10u);
    EXPECT_EQ(out[4], 0x3A);

    EXPECT_EQ(multiLevelPackedSize(64, 48, 1), 384u);
    EXPECT_EQ(multiLevelPackedSize(63, 48, 2), 16u * 48);
    EXPECT_EQ(multiLevelPackedSize(64, 48, 3), 0u);
    EXPECT_EQ(packMultiLevel(img, w, h, 3, out), 0u);
    EXPECT_EQ(packMultiLevel(img, w, h, 8, std::span(out).first(9)), 0u);
}

TEST(MultiLevel, RoundTripAndHeader) {
    for (int f : {1, 2, 4, 8}) {
        const int w = 61, h = 47;
        const auto img = randomImage(w, h, (1u << f) - 1, static_cast<unsigned>(f));
        std::vector<uint8_t> packed(multiLevelPackedSize(w, h, f));
        ASSERT_EQ(packMultiLevel(img, w, h, f, packed), packed.size());
        auto back = image(w, h);
        ASSERT_TRUE(unpackMultiLevel(packed, w, h, f, back));
        EXPECT_EQ(back, img) << "format " << f;
        EXPECT_FALSE(unpackMultiLevel(std::span(packed).first(packed.size() - 1), w, h, f, back));
    }
    EXPECT_EQ(multiLevelHeader(true, 4, 64, 48), (std::array<uint8_t, 8>{0x23, 4, 1, 0, 0, 0, 64, 48}));
    EXPECT_EQ(multiLevelHeader(false, 1, 64, 48), (std::array<uint8_t, 8>{0x02, 1, 1, 0, 0, 0, 64, 48}));
}

TEST(Braille, LandscapeAndPortraitCells) {
    std::vector<uint8_t> out(32);
    {  // 64 x 4 landscape, top-left dot: bit 0x80 of cell 0, plane 1
        auto img = image(64, 4);
        img[0] = 1;
        img[1 * 64 + 3] = 2;  // odd x, row 1: bit 0x04 of cell 1, plane 2
        ASSERT_EQ(packBrailleGraphic(img, 64, 4, 16, out), 32u);
        EXPECT_EQ(out[0], 0x80);
        EXPECT_EQ(out[16 + 1], 0x04);
        EXPECT_EQ(out[1], 0);
    }
    {  // 4 x 32 portrait, dot (0, 0): bit 0x10 of cell 0 with 16 cells
        auto img = image(4, 32);
        img[0] = 1;
        img[31 * 4 + 3] = 1;  // column 3, row 31 (odd): cell 15, bit 0x08
        ASSERT_EQ(packBrailleGraphic(img, 4, 32, 16, out), 32u);
        EXPECT_EQ(out[0], 0x10);
        EXPECT_EQ(out[15], 0x08);
    }
    {  // 40 cells: portrait fills the last 16 of each plane
        std::vector<uint8_t> out40(80);
        auto img = image(8, 2);
        img[0] = 3;
        ASSERT_EQ(packBrailleGraphic(img, 8, 2, 40, out40), 80u);
        EXPECT_EQ(out40[40 + 24], 0x10);
    }
}

TEST(Braille, OverrunsAreClippedToThePlane) {
    // 64 dots wide with 16 cells covers only x < 32; the rest must not spill into plane 2.
    auto img = image(64, 8);
    for (auto& d : img) d = 1;
    std::vector<uint8_t> out(40, 0xEE);
    ASSERT_EQ(packBrailleGraphic(img, 64, 8, 16, out), 32u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], 0xFF);
    for (int i = 16; i < 32; ++i) EXPECT_EQ(out[i], 0x00);
    for (int i = 32; i < 40; ++i) EXPECT_EQ(out[i], 0xEE);

    // Portrait taller than 32 rows, and fewer than 16 cells (negative cell indexes).
    auto tall = image(2, 40);
    for (auto& d : tall) d = 2;
    std::vector<uint8_t> small(20, 0xEE);
    ASSERT_EQ(packBrailleGraphic(tall, 2, 40, 8, small), 16u);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(small[i], 0);
    for (int i = 8; i < 16; ++i) EXPECT_EQ(small[i], 0x33);  // rows 16..31 only
    EXPECT_EQ(small[16], 0xEE);

    EXPECT_EQ(packBrailleGraphic(img, 64, 8, 0, out), 0u);
    EXPECT_EQ(packBrailleGraphic(img, 64, 8, 129, out), 0u);
    EXPECT_EQ(packBrailleGraphic(img, 64, 8, 16, std::span(out).first(31)), 0u);
}

TEST(Braille, RoundTripInsideThePlane) {
    for (auto [w, h, cells] : {std::tuple{40, 4, 20}, std::tuple{4, 32, 16}, std::tuple{3, 20, 30}}) {
        const auto img = randomImage(w, h, 2, static_cast<unsigned>(w + h));
        std::vector<uint8_t> payload(2 * cells);
        ASSERT_EQ(packBrailleGraphic(img, w, h, cells, payload), payload.size());
        auto back = image(w, h);
        ASSERT_TRUE(unpackBrailleGraphic(payload, w, h, cells, back));
        EXPECT_EQ(back, img) << w << "x" << h;
    }
}
