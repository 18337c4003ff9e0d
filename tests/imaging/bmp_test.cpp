// BMP reading and writing, DIB handles and bitmap pixels: every file kind against its 24-bit
// picture, the written file layout, and files with hostile sizes, offsets and codes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>

#include <filesystem>
#include <fstream>
#include <string>

#include "imaging/bmp_read.h"
#include "tests/imaging/bmp_encode.h"

using namespace lumotest;

namespace {

class BmpFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("lumo_bmp_" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const auto path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    std::vector<uint8_t> read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Loads bytes as a file; null when refused.
    LumoHBITMAP load(const std::vector<uint8_t>& bytes, int32_t* size = nullptr) {
        return lumoLoadBmp(write("f.bmp", bytes).c_str(), size);
    }

    std::filesystem::path dir_;
};

void expectSame(const Pixels& want, LumoHBITMAP got, const std::string& what) {
    ASSERT_NE(got, nullptr) << what;
    ASSERT_EQ(got->nWidth, want.w) << what;
    ASSERT_EQ(got->nHeight, want.h) << what;
    for (int y = 0; y < want.h; ++y)
        for (int x = 0; x < want.w; ++x)
            ASSERT_EQ(got->lpPixels[size_t(y) * want.w + x], want.px[size_t(y) * want.w + x])
                << what << " at " << x << "," << y;
}

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

}  // namespace

TEST_F(BmpFiles, EveryKindLoadsWithTheColoursOfItsTwentyFourBitPicture) {
    const Pixels colours = eightColours();
    Pixels mono(19, 5);
    for (int y = 0; y < mono.h; ++y)
        for (int x = 0; x < mono.w; ++x) mono.at(x, y) = (x * 7 + y) % 3 ? rgb(255, 255, 255) : rgb(10, 20, 30);

    struct Case {
        const char* name;
        BmpKind kind;
        const Pixels* img;
    };
    auto kind = [](int bits, uint32_t comp = 0) {
        BmpKind k;
        k.bits = bits;
        k.compression = comp;
        return k;
    };
    BmpKind core8 = kind(8), core4 = kind(4), core1 = kind(1), core24 = kind(24);
    core8.header = core4.header = core1.header = core24.header = HeaderKind::Core;
    BmpKind bare8 = kind(8), bare24 = kind(24), down24 = kind(24), down8 = kind(8), down32 = kind(32);
    bare8.fileHeader = bare24.fileHeader = false;
    down24.topDown = down8.topDown = down32.topDown = true;
    BmpKind f565 = kind(16, 3), f32 = kind(32, 3), f32low = kind(32, 3);
    f565.masks[0] = 0xF800, f565.masks[1] = 0x07E0, f565.masks[2] = 0x001F;
    f32.masks[0] = 0x0000FF00, f32.masks[1] = 0x00FF0000, f32.masks[2] = 0xFF000000;
    f32low.masks[0] = 0x3FF00000, f32low.masks[1] = 0x000FFC00, f32low.masks[2] = 0x000003FF;  // 10 bits each

    const Case cases[] = {
        {"24", kind(24), &colours},        {"24 core", core24, &colours},   {"24 no file header", bare24, &colours},
        {"24 top-down", down24, &colours}, {"1", kind(1), &mono},            {"1 core", core1, &mono},
        {"4", kind(4), &colours},          {"4 core", core4, &colours},     {"8", kind(8), &colours},
        {"8 core", core8, &colours},       {"8 no file header", bare8, &colours}, {"8 top-down", down8, &colours},
        {"16", kind(16), &colours},        {"16 565", f565, &colours},      {"32", kind(32), &colours},
        {"32 top-down", down32, &colours}, {"32 masks", f32, &colours},     {"32 10-bit masks", f32low, &colours},
        {"rle8", kind(8, 1), &colours},    {"rle4", kind(4, 2), &colours},
    };
    for (const Case& c : cases) {
        int32_t size[2] = {-1, -1};
        LumoHBITMAP bm = load(encodeBmp(*c.img, c.kind), size);
        expectSame(*c.img, bm, c.name);
        EXPECT_EQ(size[0], c.img->w) << c.name;
        EXPECT_EQ(size[1], c.img->h) << c.name;  // |height| also for top-down files
        lumoDeleteBitmap(bm);
    }
}

TEST_F(BmpFiles, RunLengthEscapesAbsoluteRunsAndDeltas) {
    // 6 x 3, 8-bit RLE: palette 0 black, 1 red, 2 green, 3 blue. Stored rows go bottom-up.
    ByteWriter w;
    w.u32(40); w.u32(6); w.u32(3); w.u16(1); w.u16(8); w.u32(1); w.u32(0); w.u32(0); w.u32(0); w.u32(4); w.u32(0);
    w.u32(rgb(0, 0, 0)); w.u32(rgb(255, 0, 0)); w.u32(rgb(0, 255, 0)); w.u32(rgb(0, 0, 255));
    const uint8_t stream[] = {
        0, 3, 1, 2, 3, 0,  // bottom row: absolute run of 3 (padded), then ...
        2, 1,              // ... two red pixels
        0, 0,              // end of line
        0, 2, 2, 1,        // delta: right 2, up 1 (to the top row, x = 2)
        1, 3, 0xFF, 0x40,  // one blue pixel, then a run far beyond the width (clipped)
        0, 1};
    std::vector<uint8_t> bytes = w.out;
    bytes.insert(bytes.end(), std::begin(stream), std::end(stream));
    put32(bytes, 20, sizeof stream);  // biSizeImage
    LumoHBITMAP bm = load(bytes);
    ASSERT_NE(bm, nullptr);
    auto px = [&](int x, int y) { return bm->lpPixels[y * 6 + x]; };
    EXPECT_EQ(px(0, 2), rgb(255, 0, 0));
    EXPECT_EQ(px(1, 2), rgb(0, 255, 0));
    EXPECT_EQ(px(2, 2), rgb(0, 0, 255));
    EXPECT_EQ(px(3, 2), rgb(255, 0, 0));
    EXPECT_EQ(px(4, 2), rgb(255, 0, 0));
    EXPECT_EQ(px(5, 2), 0u);
    EXPECT_EQ(px(1, 1), 0u);  // skipped by nothing: middle row never written
    EXPECT_EQ(px(2, 0), rgb(0, 0, 255));
    EXPECT_EQ(px(0, 0), 0u);  // left of the delta target
    lumoDeleteBitmap(bm);

    // 4-bit absolute run of 5 nibbles (3 bytes, padded to 4).
    ByteWriter w4;
    w4.u32(40); w4.u32(5); w4.u32(1); w4.u16(1); w4.u16(4); w4.u32(2); w4.u32(8); w4.u32(0); w4.u32(0); w4.u32(2); w4.u32(0);
    w4.u32(rgb(0, 0, 0)); w4.u32(rgb(255, 255, 255));
    const uint8_t s4[] = {0, 5, 0x10, 0x10, 0x10, 0, 0, 1};
    std::vector<uint8_t> b4 = w4.out;
    b4.insert(b4.end(), std::begin(s4), std::end(s4));
    bm = load(b4);
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(bm->lpPixels[0], rgb(255, 255, 255));
    EXPECT_EQ(bm->lpPixels[1], 0u);
    EXPECT_EQ(bm->lpPixels[4], rgb(255, 255, 255));
    lumoDeleteBitmap(bm);
}

TEST_F(BmpFiles, ShortPixelArrayLoadsWithTheRestBlack) {
    const Pixels img = eightColours();
    std::vector<uint8_t> bytes = encodeBmp(img, BmpKind{});
    const size_t stride = 40;  // 13 * 3 padded
    bytes.resize(bytes.size() - 2 * stride - 5);  // the top two rows and a bit are missing
    LumoHBITMAP bm = load(bytes);
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(bm->lpPixels[0], 0u);
    EXPECT_EQ(bm->lpPixels[13 * 1 + 12], 0u);
    EXPECT_EQ(bm->lpPixels[13 * 6 + 3], img.px[13 * 6 + 3]);  // bottom row intact
    lumoDeleteBitmap(bm);

    // Pixel offset beyond the end of the file: every pixel black.
    bytes = encodeBmp(img, BmpKind{});
    put32(bytes, 10, 0x7FFFFFF0);
    bm = load(bytes);
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(bm->lpPixels[40], 0u);
    lumoDeleteBitmap(bm);
}

TEST_F(BmpFiles, HostileOrUnsupportedHeadersAreRefused) {
    const std::vector<uint8_t> good = encodeBmp(eightColours(), BmpKind{});
    auto patched = [&](size_t at, uint32_t v, size_t width = 4) {
        std::vector<uint8_t> b = good;
        for (size_t i = 0; i < width; ++i) b[at + i] = uint8_t(v >> (8 * i));
        return b;
    };
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> bad = {
        {"header size 41", patched(14, 41)},
        {"header size 64", patched(14, 64)},
        {"width 0", patched(18, 0)},
        {"negative width", patched(18, 0xFFFFFFF0)},
        {"height 0", patched(22, 0)},
        {"height INT_MIN", patched(22, 0x80000000)},
        {"huge area", [&] { auto b = patched(18, 100000); put32(b, 22, 100000); return b; }()},
        {"overflowing width", patched(18, 0x7FFFFFFF)},
        {"2 bits", patched(28, 2, 2)},
        {"64 bits", patched(28, 64, 2)},
        {"jpeg", patched(30, 4)},
        {"rle8 on 24 bits", patched(30, 1)},
        {"absurd colour count", patched(46, 0xFFFFFFFF)},
        {"rle top-down", [&] { auto b = encodeBmp(eightColours(), BmpKind{8, 1}); put32(b, 22, uint32_t(-7)); return b; }()},
        {"empty", {}},
        {"file header only", std::vector<uint8_t>(good.begin(), good.begin() + 14)},
        {"header cut short", std::vector<uint8_t>(good.begin(), good.begin() + 40)},
    };
    for (const auto& [name, bytes] : bad) {
        int32_t size[2] = {0, 0};
        LumoHBITMAP bm = load(bytes, size);
        EXPECT_EQ(bm, nullptr) << name;
        lumoDeleteBitmap(bm);
        EXPECT_EQ(lumoGetDibProperties(write("p.bmp", bytes).c_str(), nullptr), nullptr) << name;
    }
    EXPECT_EQ(lumoLoadBmp((dir_ / "missing.bmp").c_str(), nullptr), nullptr);
    EXPECT_EQ(lumoLoadBmp(dir_.c_str(), nullptr), nullptr);  // a folder is no file
    EXPECT_EQ(lumoLoadBmp(nullptr, nullptr), nullptr);
}

TEST_F(BmpFiles, SavedFilesAreTwentyFourBitBottomUpWithExactSizes) {
    const Pixels img = eightColours();
    LumoHBITMAP src = lumoCreateBitmap(img.w, img.h);
    ASSERT_NE(src, nullptr);
    std::copy(img.px.begin(), img.px.end(), src->lpPixels);
    const std::string path = (dir_ / "saved.bmp").string();
    ASSERT_EQ(lumoSaveBmp(src, path.c_str()), 1);
    const std::vector<uint8_t> f = read(path);
    ASSERT_EQ(f.size(), 14u + 40u + 40u * 7u);
    auto u32 = [&](size_t at) { return uint32_t(f[at]) | uint32_t(f[at + 1]) << 8 | uint32_t(f[at + 2]) << 16 | uint32_t(f[at + 3]) << 24; };
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    EXPECT_EQ(u32(2), f.size());  // bfSize
    EXPECT_EQ(u32(6), 0u);
    EXPECT_EQ(u32(10), 54u);      // bfOffBits
    EXPECT_EQ(u32(14), 40u);
    EXPECT_EQ(int32_t(u32(22)), 7);  // positive height: bottom-up
    EXPECT_EQ(f[28], 24);
    // First stored row is the picture's bottom row.
    const uint32_t bottomLeft = img.px[13 * 6];
    EXPECT_EQ(f[54], uint8_t(bottomLeft));
    EXPECT_EQ(f[56], uint8_t(bottomLeft >> 16));
    LumoHBITMAP back = lumoLoadBmp(path.c_str(), nullptr);
    expectSame(img, back, "round trip");
    lumoDeleteBitmap(back);

    EXPECT_EQ(lumoSaveBmp(src, (dir_ / "no" / "such" / "dir.bmp").c_str()), 0);
    EXPECT_EQ(lumoSaveBmp(nullptr, path.c_str()), 0);
    lumoDeleteBitmap(src);
}

TEST_F(BmpFiles, PropertiesGiveTheHeaderAndTheMemoryEstimate) {
    const std::string path = write("p.bmp", encodeBmp(eightColours(), BmpKind{8}));
    int32_t estimate = 0;
    const LumoBitmapInfoHeader* h = lumoGetDibProperties(path.c_str(), &estimate);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->biWidth, 13);
    EXPECT_EQ(h->biHeight, 7);
    EXPECT_EQ(h->biBitCount, 8);
    EXPECT_EQ(h->biClrUsed, 8u);
    EXPECT_EQ(h->biSizeImage, 16u * 7u);  // filled in from the stride
    // F = 112 + 40 + 32 = 184 < S + H = 280 + 40, so F + S + H.
    EXPECT_EQ(estimate, 184 + 280 + 40);

    const std::string core = write("c.bmp", [] {
        BmpKind k{8};
        k.header = HeaderKind::Core;
        return encodeBmp(eightColours(), k);
    }());
    h = lumoGetDibProperties(core.c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->biSize, 40u);
    EXPECT_EQ(h->biClrUsed, 256u);
}

TEST(DibHandles, OpenLockAndCloseFollowTheRecordRules) {
    LumoHBITMAP one = lumoCreateBitmap(1, 1);
    one->lpPixels[0] = rgb(1, 2, 3);
    DibHandle d{};
    d.hBitmap = one;
    ASSERT_EQ(lumoOpenDib(&d), 1);
    EXPECT_EQ(d.nStride, 4);
    EXPECT_EQ(d.nWidth, 1);
    EXPECT_EQ(d.nHeight, 1);
    EXPECT_EQ(d.lpBits, reinterpret_cast<uint8_t*>(d.lpbi) + 40);
    EXPECT_EQ(d.lpBits[0], 3);
    EXPECT_EQ(d.lpBits[2], 1);
    lumoUnlockDib(&d);
    ASSERT_EQ(lumoLockDib(&d), 1);
    lumoCloseDib(&d);
    EXPECT_EQ(d.hDib, nullptr);
    EXPECT_EQ(lumoLockDib(&d), 0);
    lumoCloseDib(&d);  // closing twice is harmless
    lumoDeleteBitmap(one);

    DibHandle empty{};
    EXPECT_EQ(lumoOpenDib(&empty), 0);
    EXPECT_EQ(lumoOpenDib(nullptr), 0);
    EXPECT_EQ(lumoCreateBitmap(0, 5), nullptr);
    EXPECT_EQ(lumoCreateBitmap(1 << 30, 1 << 30), nullptr);
}

TEST(DibHandles, BitmapPixelsInsideAndOutside) {
    LumoHBITMAP bm = lumoCreateBitmap(4, 3);
    bm->lpPixels[2 * 4 + 3] = rgb(200, 100, 50);
    uint8_t bgr[3] = {};
    ASSERT_EQ(lumoGetPixelFromBmp(bgr, bm, 3, 2), 1);
    EXPECT_EQ(bgr[0], 50);
    EXPECT_EQ(bgr[1], 100);
    EXPECT_EQ(bgr[2], 200);
    ASSERT_EQ(lumoGetPixelFromBmp(bgr, bm, 4, 0), 1);
    EXPECT_EQ(bgr[0], 255);
    EXPECT_EQ(bgr[1], 255);
    EXPECT_EQ(bgr[2], 255);
    EXPECT_EQ(lumoGetPixelFromBmp(bgr, nullptr, 0, 0), 0);
    lumoDeleteBitmap(bm);
}

namespace {

// A file written byte by byte: file header, a 108- or 124-byte header with the given masks,
// an optional colour table, then the pixel bytes.
std::vector<uint8_t> longHeaderFile(uint32_t headerSize, int32_t w, int32_t h, uint16_t bits, uint32_t compression,
                                    std::array<uint32_t, 4> masks, const std::vector<uint8_t>& table,
                                    const std::vector<uint8_t>& pixels) {
    ByteWriter b;
    const uint32_t offBits = 14 + headerSize + uint32_t(table.size());
    b.u8('B'), b.u8('M'), b.u32(offBits + uint32_t(pixels.size())), b.u32(0), b.u32(offBits);
    b.u32(headerSize), b.u32(uint32_t(w)), b.u32(uint32_t(h)), b.u16(1), b.u16(bits), b.u32(compression);
    b.u32(uint32_t(pixels.size())), b.u32(2835), b.u32(2835), b.u32(uint32_t(table.size() / 4)), b.u32(0);
    for (uint32_t m : masks) b.u32(m);                // red, green, blue, alpha masks
    b.u32(0x73524742);                                 // colour space "sRGB"
    for (int i = 0; i < 9 + 3; ++i) b.u32(0);          // end points and gamma
    if (headerSize == 124) b.u32(4), b.u32(0), b.u32(0), b.u32(0);  // intent, profile, reserved
    EXPECT_EQ(b.out.size(), 14u + headerSize);
    b.out.insert(b.out.end(), table.begin(), table.end());
    b.out.insert(b.out.end(), pixels.begin(), pixels.end());
    return b.out;
}

}  // namespace

TEST_F(BmpFiles, LongHeadersLoadWithTheirMasksAndTables) {
    // 16 bits, 5-6-5 masks (a plain 16-bit file would be 5-5-5): 2 x 1 pixels, one row of 4 bytes.
    // 0x0400 is green 32 of 63 under 5-6-5, but a dark red under 5-5-5.
    std::vector<uint8_t> px16 = {0x00, 0xF8, 0x00, 0x04};
    LumoHBITMAP bm = load(longHeaderFile(108, 2, 1, 16, 3, {0xF800, 0x07E0, 0x001F, 0}, {}, px16));
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(bm->lpPixels[0], rgb(255, 0, 0));
    EXPECT_EQ(bm->lpPixels[1], rgb(0, 130, 0));
    lumoDeleteBitmap(bm);

    // 32 bits with the bytes in red, green, blue, alpha order (masks swap red and blue).
    std::vector<uint8_t> px32 = {10, 20, 30, 255, 200, 100, 50, 0};
    bm = load(longHeaderFile(124, 2, 1, 32, 3, {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000}, {}, px32));
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(bm->lpPixels[0], rgb(10, 20, 30));
    EXPECT_EQ(bm->lpPixels[1], rgb(200, 100, 50));
    lumoDeleteBitmap(bm);

    // Without bit fields the masks of the header are ignored: blue, green, red, unused.
    bm = load(longHeaderFile(124, 2, 1, 32, 0, {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000}, {}, px32));
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(bm->lpPixels[0], rgb(30, 20, 10));
    lumoDeleteBitmap(bm);

    // 8 bits with a two-colour table right behind the 124-byte header; with bfOffBits 0 the
    // pixels follow the table, bottom-up: row 0 of the file is the picture's bottom row.
    std::vector<uint8_t> table = {1, 2, 3, 0, 250, 128, 7, 0};
    std::vector<uint8_t> px8 = {1, 0, 0, 0, 0, 1, 0, 0};
    std::vector<uint8_t> f = longHeaderFile(124, 2, 2, 8, 0, {}, table, px8);
    put32(f, 10, 0);
    bm = load(f);
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(bm->lpPixels[0], rgb(3, 2, 1));       // top row: indexes 0, 1
    EXPECT_EQ(bm->lpPixels[1], rgb(7, 128, 250));
    EXPECT_EQ(bm->lpPixels[2], rgb(7, 128, 250));   // bottom row: indexes 1, 0
    EXPECT_EQ(bm->lpPixels[3], rgb(3, 2, 1));
    lumoDeleteBitmap(bm);
    const LumoBitmapInfoHeader* props = lumoGetDibProperties(write("v5.bmp", f).c_str(), nullptr);
    ASSERT_NE(props, nullptr);
    EXPECT_EQ(props->biSize, 40u);
    EXPECT_EQ(props->biClrUsed, 2u);

    // A long header cut inside its own fields is refused.
    f.resize(14 + 100);
    EXPECT_EQ(load(f), nullptr);
}

TEST_F(BmpFiles, ClaimedSizeIsBoundByWhatTheFileHolds) {
    // 60 bytes claiming 16384 x 8192 at 32 bits (512 MiB): refused before anything is allocated.
    ByteWriter b;
    b.u8('B'), b.u8('M'), b.u32(60), b.u32(0), b.u32(54);
    b.u32(40), b.u32(16384), b.u32(8192), b.u16(1), b.u16(32), b.u32(0), b.u32(0), b.u32(0), b.u32(0), b.u32(0), b.u32(0);
    b.u32(0), b.u16(0);
    ASSERT_EQ(b.out.size(), 60u);
    EXPECT_EQ(load(b.out), nullptr);
    EXPECT_EQ(lumoGetDibProperties(write("p.bmp", b.out).c_str(), nullptr), nullptr);

    // 3000 x 3000 at 8 bits (9 M pixels) backed by 100 000 bytes: loaded, missing rows are
    // colour 0 of the table; the pixel block holds only what the file has.
    auto big = [](size_t keep) {
        ByteWriter w;
        w.u8('B'), w.u8('M'), w.u32(0), w.u32(0), w.u32(14 + 40 + 8);
        w.u32(40), w.u32(3000), w.u32(3000), w.u16(1), w.u16(8), w.u32(0), w.u32(0), w.u32(0), w.u32(0), w.u32(2), w.u32(0);
        w.u32(0x000010), w.u32(0xFFFFFF);  // colour 0 dark blue, colour 1 white
        while (w.out.size() < keep) w.u8(1);
        return w.out;
    };
    const std::vector<uint8_t> held = big(100000);
    lumo::MemorySource src(held);
    std::unique_ptr<LumoDibBlock, void (*)(LumoDibBlock*)> block(lumo::readPackedDib(src, true), lumo::freeBlock);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->size, 40u + 8u + (100000u - 62u));
    LumoHBITMAP bm = load(held);
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(bm->lpPixels[size_t(2999) * 3000], rgb(255, 255, 255));  // bottom row from the file
    EXPECT_EQ(bm->lpPixels[0], rgb(0, 0, 16));                         // top row missing: colour 0
    lumoDeleteBitmap(bm);
    // The same claim backed by 60 000 bytes (150 pixels per byte) is too much.
    EXPECT_EQ(load(big(60000)), nullptr);

    // A 50 x 7 run-length file claiming a 400 MB stream whose pixels start past its end: the block
    // holds the header and table only (it once grew to the claimed size), and the image still loads.
    ByteWriter r;
    r.u8('B'), r.u8('M'), r.u32(0), r.u32(0), r.u32(4096);
    r.u32(40), r.u32(50), r.u32(7), r.u16(1), r.u16(8), r.u32(1), r.u32(0x18010070), r.u32(0), r.u32(0), r.u32(2), r.u32(0);
    r.u32(0x000010), r.u32(0xFFFFFF);
    lumo::MemorySource rsrc(r.out);
    std::unique_ptr<LumoDibBlock, void (*)(LumoDibBlock*)> rle(lumo::readPackedDib(rsrc, true), lumo::freeBlock);
    ASSERT_NE(rle, nullptr);
    EXPECT_EQ(rle->size, 40u + 8u);
    LumoHBITMAP empty = load(r.out);
    ASSERT_NE(empty, nullptr);
    lumoDeleteBitmap(empty);
}

TEST_F(BmpFiles, AFailedSaveLeavesTheOldFileWhole) {
    const Pixels img = eightColours();
    LumoHBITMAP small = lumoCreateBitmap(img.w, img.h);
    std::copy(img.px.begin(), img.px.end(), small->lpPixels);
    const std::string path = (dir_ / "keep.bmp").string();
    ASSERT_EQ(lumoSaveBmp(small, path.c_str()), 1);
    ::chmod(path.c_str(), 0640);
    const std::vector<uint8_t> before = read(path);

    // A picture larger than the file-size limit: the write fails part way.
    LumoHBITMAP large = lumoCreateBitmap(200, 200);
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &old), 0);
    rlimit lim{}, saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    lim = saved;
    lim.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lim), 0);
    const int32_t result = lumoSaveBmp(large, path.c_str());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &old, nullptr);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(read(path), before);
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_)) ++entries;
    EXPECT_EQ(entries, 1u);  // no temporary file left behind

    // A successful save over it replaces the contents and keeps the file's mode.
    ASSERT_EQ(lumoSaveBmp(large, path.c_str()), 1);
    EXPECT_EQ(read(path).size(), 54u + 600u * 200u);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    lumoDeleteBitmap(small);
    lumoDeleteBitmap(large);
}

// The 32-to-24-bit row conversion behind DIBs and captures: every length (the vector loops and
// the scalar tail), the top byte ignored, and not a byte written past 3 * n.
TEST(DibHandles, PixelRowsConvertToBgrWithoutWritingPastTheRow) {
    std::vector<uint32_t> in(70);
    for (size_t i = 0; i < in.size(); ++i) in[i] = uint32_t(0xA5000000u ^ (i * 0x9E3779B1u));
    for (int32_t n = 0; n <= 70; ++n) {
        std::vector<uint8_t> out(3 * size_t(n) + 40, 0xEE);
        lumo::pixelsToBgr(in.data(), out.data(), n);
        for (int32_t i = 0; i < n; ++i) {
            ASSERT_EQ(out[3 * i], uint8_t(in[i])) << n << " " << i;
            ASSERT_EQ(out[3 * i + 1], uint8_t(in[i] >> 8)) << n << " " << i;
            ASSERT_EQ(out[3 * i + 2], uint8_t(in[i] >> 16)) << n << " " << i;
        }
        for (size_t k = 3 * size_t(n); k < out.size(); ++k) ASSERT_EQ(out[k], 0xEE) << "n " << n << " byte " << k;
    }
}
