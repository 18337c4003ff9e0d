// Run-length coding of dot planes: the encoder's chunking and the decoder's
// safety on malformed input.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "frame.h"
#include "rle.h"

using namespace tavik::proto;

namespace {

std::vector<uint8_t> encode(const std::vector<uint8_t>& in) {
    std::vector<uint8_t> out(rleMaxEncodedSize(in.size()));
    out.resize(rleEncode(in, out));
    return out;
}

std::vector<uint8_t> decode(const std::vector<uint8_t>& in, size_t cap, bool* ok = nullptr) {
    std::vector<uint8_t> out(cap);
    size_t produced = 0;
    const bool r = rleDecode(in, out, produced);
    if (ok) *ok = r;
    out.resize(produced);
    return out;
}

}  // namespace

TEST(Rle, EncoderChunking) {
    // An all-zero 64 x 48 plane: three runs of 128.
    EXPECT_EQ(encode(std::vector<uint8_t>(384, 0)), (std::vector<uint8_t>{0xFF, 0, 0xFF, 0, 0xFF, 0}));
    // 129 equal bytes: a full run chunk and a run chunk of one.
    EXPECT_EQ(encode(std::vector<uint8_t>(129, 0x5A)), (std::vector<uint8_t>{0xFF, 0x5A, 0x80, 0x5A}));
    // Three equal bytes between different ones stay in the literal.
    EXPECT_EQ(encode({1, 7, 7, 7, 2}), (std::vector<uint8_t>{0x04, 1, 7, 7, 7, 2}));
    // Four equal bytes make a run; the literal before and after is flushed around it.
    EXPECT_EQ(encode({1, 7, 7, 7, 7, 2}), (std::vector<uint8_t>{0x00, 1, 0x83, 7, 0x00, 2}));
    // A literal of 130 bytes splits into 128 + 2.
    std::vector<uint8_t> lit(130);
    for (size_t i = 0; i < lit.size(); ++i) lit[i] = static_cast<uint8_t>(i & 1);
    const auto enc = encode(lit);
    ASSERT_EQ(enc.size(), 132u);
    EXPECT_EQ(enc[0], 0x7F);
    EXPECT_EQ(enc[129], 0x01);
    EXPECT_TRUE(encode({}).empty());
}

TEST(Rle, EncoderRefusesSmallOutput) {
    std::vector<uint8_t> in(10, 1), out(rleMaxEncodedSize(10) - 1, 0xEE);
    EXPECT_EQ(rleEncode(in, out), 0u);
    for (uint8_t b : out) EXPECT_EQ(b, 0xEE);
}

TEST(Rle, RoundTripStaysWithinBound) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 500; ++trial) {
        const size_t n = rng() % 1100;
        std::vector<uint8_t> in(n);
        // Mix of runs and noise with few distinct values, the worst case for the bound.
        for (size_t i = 0; i < n;) {
            const size_t len = 1 + rng() % (trial % 2 ? 5 : 200);
            const uint8_t v = static_cast<uint8_t>(rng() % 3);
            for (size_t k = 0; k < len && i < n; ++k, ++i) in[i] = (trial % 3 == 0) ? static_cast<uint8_t>(rng()) : v;
        }
        const auto enc = encode(in);
        ASSERT_LE(enc.size(), rleMaxEncodedSize(n));
        bool ok = false;
        EXPECT_EQ(decode(enc, n, &ok), in);
        EXPECT_TRUE(ok);
    }
    EXPECT_EQ(rleMaxEncodedSize(512), 516u);
}

TEST(Rle, DecoderRejectsOverrunAndTruncation) {
    bool ok = true;
    // Run longer than the output: nothing of it is written.
    EXPECT_EQ(decode({0x01, 9, 9, 0x85, 4}, 4, &ok), (std::vector<uint8_t>{9, 9}));
    EXPECT_FALSE(ok);
    // Literal longer than the output.
    decode({0x05, 1, 2, 3, 4, 5, 6}, 3, &ok);
    EXPECT_FALSE(ok);
    // Literal cut short by the end of input.
    decode({0x05, 1, 2}, 100, &ok);
    EXPECT_FALSE(ok);
    // Run control byte without its value.
    EXPECT_EQ(decode({0x00, 3, 0x90}, 100, &ok), (std::vector<uint8_t>{3}));
    EXPECT_FALSE(ok);
    // Empty input decodes to nothing, successfully.
    EXPECT_TRUE(decode({}, 0, &ok).empty());
    EXPECT_TRUE(ok);
}

TEST(Frame, HeaderIsLittleEndian) {
    EXPECT_EQ(frameHeader(0x93, 10, 0x0204), (std::array<uint8_t, 6>{0xFF, 0xFF, 0x93, 10, 0x04, 0x02}));
    std::array<uint8_t, 9> out{};
    const uint8_t payload[] = {1, 2, 3};
    EXPECT_EQ(encodeFrame(0x91, 0, payload, out), 9u);
    EXPECT_EQ(out, (std::array<uint8_t, 9>{0xFF, 0xFF, 0x91, 0, 3, 0, 1, 2, 3}));
    EXPECT_EQ(encodeFrame(0x91, 0, payload, std::span(out).first(8)), 0u);
}
