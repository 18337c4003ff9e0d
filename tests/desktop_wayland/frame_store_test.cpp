// The Wayland capture's frame handling without a session: each source byte order lands as
// 0x00RRGGBB (distinct channel values, so a swap shows), bad geometry is refused without touching
// the held frame, changes are found where they are and nowhere else, the producer's damage list
// is honoured, copies put black beyond the screen, and damage is gathered per asker.
#include <gtest/gtest.h>

#include <vector>

#include "platform/desktop/wayland/frame_store.h"

namespace dt = tavik::desktop;
using namespace tavik::desktop::wayland;

namespace {

// A w x h source in `order` whose pixel (x, y) is 0x00RRGGBB `rgb(x, y)`, rows `stride` bytes apart.
template <typename F>
std::vector<uint8_t> source(int w, int h, int stride, PixelOrder order, F rgb) {
    std::vector<uint8_t> s(size_t(stride) * size_t(h), 0xEE);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t v = rgb(x, y);
            const uint8_t r = uint8_t(v >> 16), g = uint8_t(v >> 8), b = uint8_t(v);
            uint8_t* p = &s[size_t(y) * size_t(stride) + size_t(x) * 4];
            switch (order) {
            case PixelOrder::BGRx: p[0] = b, p[1] = g, p[2] = r, p[3] = 0x7F; break;
            case PixelOrder::RGBx: p[0] = r, p[1] = g, p[2] = b, p[3] = 0x7F; break;
            case PixelOrder::xRGB: p[0] = 0x7F, p[1] = r, p[2] = g, p[3] = b; break;
            case PixelOrder::xBGR: p[0] = 0x7F, p[1] = b, p[2] = g, p[3] = r; break;
            }
        }
    return s;
}

uint32_t at(const FrameStore& f, int x, int y) { return f.data()[size_t(y) * f.stride() + size_t(x)]; }

TEST(FrameStore, EveryByteOrderLandsAsRgbWithPaddingIgnored) {
    const auto rgb = [](int x, int y) { return uint32_t(0x102030 + x * 0x010000 + y * 0x000100 + 1); };
    for (PixelOrder order : {PixelOrder::BGRx, PixelOrder::RGBx, PixelOrder::xRGB, PixelOrder::xBGR}) {
        // Rows padded beyond the pixels (stride 5 pixels for 3).
        const auto src = source(3, 2, 20, order, rgb);
        FrameStore f;
        std::vector<dt::Rect> changed;
        ASSERT_TRUE(f.put(src, 20, 3, 2, order, changed));
        EXPECT_EQ(f.size(), (dt::Size{3, 2}));
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) EXPECT_EQ(at(f, x, y), rgb(x, y)) << int(order) << " " << x << "," << y;
        EXPECT_EQ(changed, (std::vector<dt::Rect>{{0, 0, 3, 2}}));  // a new size: all of it
    }
}

TEST(FrameStore, RefusesGeometryTheBytesDoNotHold) {
    FrameStore f;
    std::vector<dt::Rect> changed;
    const auto good = source(4, 4, 16, PixelOrder::BGRx, [](int, int) { return 0xABCDEFu; });
    ASSERT_TRUE(f.put(good, 16, 4, 4, PixelOrder::BGRx, changed));
    const std::vector<uint8_t> shortSrc(good.begin(), good.end() - 1);
    EXPECT_FALSE(f.put(shortSrc, 16, 4, 4, PixelOrder::BGRx, changed));  // last pixel missing
    EXPECT_FALSE(f.put(good, 12, 4, 4, PixelOrder::BGRx, changed));      // stride shorter than a row
    EXPECT_FALSE(f.put(good, 16, 0, 4, PixelOrder::BGRx, changed));
    EXPECT_FALSE(f.put(good, 16, 4, -1, PixelOrder::BGRx, changed));
    EXPECT_FALSE(f.put(good, int64_t(1) << 40, 4, 4, PixelOrder::BGRx, changed));  // rows beyond the bytes
    EXPECT_FALSE(f.put(good, 16, kMaxFrameSide + 1, 1, PixelOrder::BGRx, changed));
    // The frame held before is untouched.
    EXPECT_EQ(f.size(), (dt::Size{4, 4}));
    EXPECT_EQ(at(f, 3, 3), 0xABCDEFu);
    // A last row shorter than the stride is enough.
    const std::vector<uint8_t> tight(size_t(16) * 3 + 16, 0);
    EXPECT_TRUE(f.put(tight, 16, 4, 4, PixelOrder::BGRx, changed));
}

TEST(FrameStore, ChangesAreFoundWhereTheyAre) {
    const int w = 200, h = 100;
    FrameStore f;
    std::vector<dt::Rect> changed;
    auto base = [](int, int) { return 0x404040u; };
    ASSERT_TRUE(f.put(source(w, h, w * 4, PixelOrder::BGRx, base), w * 4, w, h, PixelOrder::BGRx, changed));
    changed.clear();
    // The same picture again: nothing changed.
    ASSERT_TRUE(f.put(source(w, h, w * 4, PixelOrder::BGRx, base), w * 4, w, h, PixelOrder::BGRx, changed));
    EXPECT_TRUE(changed.empty());
    // Two pixels change: (150, 70) and (151, 71). Only the band holding them reports, from column 150 to 151.
    auto two = [](int x, int y) { return (x == 150 && y == 70) || (x == 151 && y == 71) ? 0x404041u : 0x404040u; };
    ASSERT_TRUE(f.put(source(w, h, w * 4, PixelOrder::BGRx, two), w * 4, w, h, PixelOrder::BGRx, changed));
    ASSERT_EQ(changed.size(), 1u);
    const dt::Rect r = changed[0];
    EXPECT_EQ(r.left, 150);
    EXPECT_EQ(r.width, 2);
    EXPECT_LE(r.top, 70);
    EXPECT_GE(r.top + r.height, 72);
    EXPECT_LT(r.height, h);  // not the whole frame
    EXPECT_EQ(at(f, 151, 71), 0x404041u);
}

TEST(FrameStore, ProducerDamageIsReadAndReportedAlone) {
    const int w = 16, h = 8;
    FrameStore f;
    std::vector<dt::Rect> changed;
    ASSERT_TRUE(f.put(source(w, h, w * 4, PixelOrder::RGBx, [](int, int) { return 0u; }), w * 4, w, h,
                      PixelOrder::RGBx, changed));
    changed.clear();
    // The whole new picture is white, but the producer says only (2, 1, 3, 2) changed and
    // (14, 6, 10, 10) reaches beyond the frame: the rest of the held frame stays.
    const auto white = source(w, h, w * 4, PixelOrder::RGBx, [](int, int) { return 0xFFFFFFu; });
    const std::vector<dt::Rect> regions{{2, 1, 3, 2}, {14, 6, 10, 10}, {-5, -5, 2, 2}};
    ASSERT_TRUE(f.putRegions(white, w * 4, w, h, PixelOrder::RGBx, regions, changed));
    EXPECT_EQ(changed, (std::vector<dt::Rect>{{2, 1, 3, 2}, {14, 6, 2, 2}}));
    EXPECT_EQ(at(f, 2, 1), 0xFFFFFFu);
    EXPECT_EQ(at(f, 4, 2), 0xFFFFFFu);
    EXPECT_EQ(at(f, 5, 2), 0u);
    EXPECT_EQ(at(f, 1, 1), 0u);
    EXPECT_EQ(at(f, 15, 7), 0xFFFFFFu);
    // A new size cannot be patched: the whole frame is read.
    changed.clear();
    const auto wide = source(w + 1, h, (w + 1) * 4, PixelOrder::RGBx, [](int, int) { return 0x010203u; });
    ASSERT_TRUE(f.putRegions(wide, (w + 1) * 4, w + 1, h, PixelOrder::RGBx, regions, changed));
    EXPECT_EQ(changed, (std::vector<dt::Rect>{{0, 0, w + 1, h}}));
    EXPECT_EQ(at(f, 0, 0), 0x010203u);
}

TEST(FrameStore, CopiesPutBlackBeyondTheScreenAndCheckTheBuffer) {
    const int w = 4, h = 3;
    FrameStore f;
    std::vector<uint32_t> out(9, 0x55555555);
    EXPECT_EQ(f.copy({0, 0, 1, 1}, out, 1), dt::DesktopStatus::NoDisplay);  // nothing held yet
    std::vector<dt::Rect> changed;
    ASSERT_TRUE(f.put(source(w, h, w * 4, PixelOrder::BGRx, [](int x, int y) { return uint32_t(0x100 * y + x + 1); }),
                      w * 4, w, h, PixelOrder::BGRx, changed));
    // A 3 x 3 area from (-1, 1): column 0 and row 2 are off the screen.
    ASSERT_EQ(f.copy({-1, 1, 3, 3}, out, 3), dt::DesktopStatus::Ok);
    EXPECT_EQ(out, (std::vector<uint32_t>{0, 0x101, 0x102, 0, 0x201, 0x202, 0, 0, 0}));
    // Entirely off the screen: all black.
    std::vector<uint32_t> off(4, 7);
    ASSERT_EQ(f.copy({100, 100, 2, 2}, off, 2), dt::DesktopStatus::Ok);
    EXPECT_EQ(off, (std::vector<uint32_t>(4, 0)));
    // A stride wider than the area leaves the gaps alone.
    std::vector<uint32_t> wide(2 * 5, 9);
    ASSERT_EQ(f.copy({2, 0, 2, 2}, wide, 5), dt::DesktopStatus::Ok);
    EXPECT_EQ(wide, (std::vector<uint32_t>{3, 4, 9, 9, 9, 0x103, 0x104, 9, 9, 9}));
    // Too small a buffer, a stride below the width, a negative size.
    EXPECT_EQ(f.copy({0, 0, 3, 3}, std::span<uint32_t>(out.data(), 8), 3), dt::DesktopStatus::Failed);
    EXPECT_EQ(f.copy({0, 0, 3, 3}, out, 2), dt::DesktopStatus::Failed);
    EXPECT_EQ(f.copy({0, 0, -1, 3}, out, 3), dt::DesktopStatus::Failed);
    EXPECT_EQ(visiblePart({-1, 1, 3, 3}, {4, 3}), (dt::Rect{1, 0, 2, 2}));
    EXPECT_EQ(visiblePart({INT32_MAX, 0, 5, 5}, {4, 3}), (dt::Rect{}));
}

TEST(DamageLog, FirstAskIsTrueThenOnlyWhatIntersects) {
    DamageLog d;
    EXPECT_TRUE(d.take({0, 0, 1, 1}));  // the first call
    EXPECT_FALSE(d.take({0, 0, 100, 100}));
    d.add({50, 50, 10, 10});
    EXPECT_FALSE(d.take({0, 0, 50, 50}));  // touching the corner is not inside
    d.add({50, 50, 10, 10});
    EXPECT_TRUE(d.take({59, 59, 5, 5}));
    EXPECT_FALSE(d.take({59, 59, 5, 5}));  // forgotten after the ask
    d.addAll();
    EXPECT_TRUE(d.take({1000, 1000, 1, 1}));
    // Many small rectangles merge into their box: still reported where they were.
    for (int i = 0; i < 200; ++i) d.add({i * 10, 0, 1, 1});
    EXPECT_TRUE(d.take({1990, 0, 1, 1}));
}

}  // namespace
