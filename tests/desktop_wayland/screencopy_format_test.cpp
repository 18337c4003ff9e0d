// Screen-copy buffers without a compositor: each readable wl_shm format lands as 0x00RRGGBB
// through the frame store (distinct channel values and a non-zero alpha, so a swap or a kept
// alpha shows), other formats are refused, bad buffer descriptions are refused, and bottom-up
// buffers are turned the right way up with their row padding.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "platform/desktop/wayland/frame_store.h"
#include "platform/desktop/wlroots/screencopy_format.h"

namespace dt = tavik::desktop;
using namespace tavik::desktop::wayland;

namespace {

constexpr uint32_t kArgb8888 = 0, kXrgb8888 = 1;
constexpr uint32_t kXbgr8888 = 0x34324258;  // "XB24"
constexpr uint32_t kAbgr8888 = 0x34324241;  // "AB24"
constexpr uint32_t kRgb565 = 0x36314752;    // "RG16"

// One pixel as the compositor stores it: a native 32-bit word of the format.
uint32_t word(uint32_t format, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    if (format == kXbgr8888 || format == kAbgr8888) return uint32_t{a} << 24 | uint32_t{b} << 16 | uint32_t{g} << 8 | r;
    return uint32_t{a} << 24 | uint32_t{r} << 16 | uint32_t{g} << 8 | b;
}

}  // namespace

TEST(ScreencopyFormat, ReadableFormatsLandAsRgb) {
    for (uint32_t format : {kArgb8888, kXrgb8888, kXbgr8888, kAbgr8888}) {
        const auto order = shmPixelOrder(format);
        ASSERT_TRUE(order) << format;
        // 2 x 2 pixels, stride 3 pixels; red, green and blue all differ, and so does the alpha.
        std::vector<uint32_t> words(6, 0xDEADBEEF);
        words[0] = word(format, 0x11, 0x22, 0x33, 0xFF);
        words[1] = word(format, 0x44, 0x55, 0x66, 0x80);
        words[3] = word(format, 0x77, 0x88, 0x99, 0x00);
        words[4] = word(format, 0xAA, 0xBB, 0xCC, 0x01);
        std::vector<uint8_t> bytes(words.size() * 4);
        std::memcpy(bytes.data(), words.data(), bytes.size());
        FrameStore f;
        std::vector<dt::Rect> changed;
        ASSERT_TRUE(f.put(bytes, 12, 2, 2, *order, changed));
        const uint32_t* p = f.data();
        EXPECT_EQ(p[0], 0x112233u) << format;
        EXPECT_EQ(p[1], 0x445566u) << format;
        EXPECT_EQ(p[f.stride()], 0x778899u) << format;
        EXPECT_EQ(p[f.stride() + 1], 0xAABBCCu) << format;
    }
    EXPECT_FALSE(shmPixelOrder(kRgb565));
    EXPECT_FALSE(shmPixelOrder(2));  // a legacy code that is not a 32-bit RGB layout
}

TEST(ScreencopyFormat, BufferDescriptionsAreChecked) {
    EXPECT_EQ(shmBufferBytes(1024, 768, 4096), 4096u * 768u);
    EXPECT_EQ(shmBufferBytes(3, 2, 16), 32u);    // padded rows
    EXPECT_EQ(shmBufferBytes(3, 2, 11), 0u);     // a row does not fit its stride
    EXPECT_EQ(shmBufferBytes(0, 2, 16), 0u);
    EXPECT_EQ(shmBufferBytes(3, 0, 16), 0u);
    EXPECT_EQ(shmBufferBytes(uint32_t(kMaxFrameSide) + 1, 1, 0xFFFFFFFFu), 0u);
    EXPECT_EQ(shmBufferBytes(1, 0x80000000u, 4), 0u);  // would wrap in 32 bits
    // The largest accepted buffer is counted in 64 bits.
    EXPECT_EQ(shmBufferBytes(uint32_t(kMaxFrameSide), uint32_t(kMaxFrameSide), uint32_t(kMaxFrameSide) * 4),
              uint64_t(kMaxFrameSide) * kMaxFrameSide * 4);
}

TEST(ScreencopyFormat, FlipRowsTurnsABottomUpBufferOver) {
    for (int32_t height : {1, 2, 3, 4, 5}) {
        const int64_t stride = 6;  // rows of 6 bytes: padding moves with its row
        std::vector<uint8_t> bytes(size_t(stride * height));
        std::iota(bytes.begin(), bytes.end(), uint8_t{0});
        std::vector<uint8_t> expected;
        for (int32_t r = height - 1; r >= 0; --r)
            expected.insert(expected.end(), bytes.begin() + r * stride, bytes.begin() + (r + 1) * stride);
        flipRows(bytes, stride, height);
        EXPECT_EQ(bytes, expected) << height;
    }
    // Rows that do not fit, or nonsense sizes: the bytes stay as they are.
    std::vector<uint8_t> bytes{1, 2, 3, 4, 5, 6, 7, 8};
    const auto before = bytes;
    flipRows(bytes, 4, 3);
    flipRows(bytes, -4, 2);
    flipRows(bytes, 4, -2);
    EXPECT_EQ(bytes, before);
    // Only the first `height` rows take part.
    flipRows(bytes, 2, 2);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{3, 4, 1, 2, 5, 6, 7, 8}));
}
