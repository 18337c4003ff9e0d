// Pictures into the image library's bitmaps: one picture saved as BMP, PNG and
// JPEG gives the same pixels (JPEG within a tolerance) and the same pins in a
// two-level and a red-channel condition; transparency lies over white; SVG is
// rendered at the chosen size; BMP data never reaches the Qt reader; files no
// reader takes come back with their reason.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "bitmapviewer/picture_loader.h"
#include "bitmapviewer/ui/main_window.h"
#include "bitmapviewer/ui/qt_picture_decoder.h"
#include "tests/support/temp_dir.h"

using bitora::BitmapPtr;
using bitora::LoadProblem;
using bitora::LoadResult;
using bitora::loadPicture;
using bitora::PictureDecoder;
using bitora::ui::QtPictureDecoder;

namespace {

std::unique_ptr<QApplication> gApp;

class Environment : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "picture_decoder_test";
        static char* argv[] = {name, nullptr};
        gApp = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { gApp.reset(); }
};
[[maybe_unused]] auto* const gEnv = ::testing::AddGlobalTestEnvironment(new Environment);

// Counts the files handed to the Qt reader.
class CountingDecoder : public PictureDecoder {
public:
    explicit CountingDecoder(int svgSize = QtPictureDecoder::kDefaultSvgSize) : inner_(svgSize) {}
    LoadResult decode(const std::string& path) override {
        ++calls;
        return inner_.decode(path);
    }
    int calls = 0;

private:
    QtPictureDecoder inner_;
};

constexpr int kBlock = 16, kCols = 6, kRowsOfBlocks = 4;
constexpr int kW = kBlock * kCols, kH = kBlock * kRowsOfBlocks;

// Blocks of 16 x 16 (whole JPEG blocks and chroma cells) in grey levels far
// from the middle: black, white, 60 and 200, 68 levels from a threshold of 128.
// With `colour`, pure red and pure blue too: they tell a swapped byte order
// from the right one in the red channel's pins (not for JPEG, whose halved
// colour resolution bleeds strong colours across block edges).
QImage blocks(bool colour) {
    static const QRgb kLevels[] = {qRgb(0, 0, 0),       qRgb(255, 255, 255), qRgb(60, 60, 60),
                                   qRgb(200, 200, 200), qRgb(255, 0, 0),     qRgb(0, 0, 255)};
    const int n = colour ? 6 : 4;
    QImage img(kW, kH, QImage::Format_RGB32);
    for (int by = 0; by < kRowsOfBlocks; ++by)
        for (int bx = 0; bx < kCols; ++bx)
            for (int y = 0; y < kBlock; ++y)
                for (int x = 0; x < kBlock; ++x)
                    img.setPixel(bx * kBlock + x, by * kBlock + y, kLevels[(bx + by * (n - 1)) % n]);
    return img;
}

uint32_t at(const LumoBitmap& b, int x, int y) { return b.lpPixels[size_t(y) * size_t(b.nWidth) + size_t(x)]; }

// The two-level picture for a fixed threshold of 128 in `mode`, 4 pixels a pin.
std::vector<uint32_t> pins(LumoBitmap* b, uint16_t mode) {
    BinCondition c{};
    c.bMode = mode;
    c.fAutoThreshfold = 0;
    c.bThreshfold = c.bThreshfoldMin = c.bThreshfoldMax = 128;
    ScanContext ctx{};
    ctx.dib.hBitmap = b;
    if (!lumoOpenDib(&ctx.dib)) return {};
    ctx.lpCondition = &c;
    ctx.nLimitX = ctx.nLimitY = -1;
    ctx.nCellWidth = ctx.nCellHeight = 4;
    ctx.nHistRight = ctx.nHistBottom = -1;
    ctx.nLineThickness = 2;
    ctx.nHLineLength = 64;
    ctx.nVLineLength = 40;
    ctx.nDepthLimit = 10;
    lumoPreScan(&ctx);
    BitmapPtr out(lumoCreateBinaryBitmap(&ctx));
    lumoCloseDib(&ctx.dib);
    if (!out) return {};
    return std::vector<uint32_t>(out->lpPixels, out->lpPixels + size_t(out->nWidth) * size_t(out->nHeight));
}

class PictureDecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = folder_.emplace("bitora-decoder").path();
    }
    void TearDown() override { folder_.reset(); }
    std::string file(const char* name) const { return (dir_ / name).string(); }
    void write(const char* name, const std::string& bytes) const {
        std::ofstream(file(name), std::ios::binary) << bytes;
    }

    std::optional<tavik::test::TempDir> folder_;
    std::filesystem::path dir_;
};

// Loads `name` through the decoder and checks its size.
#define LOAD(var, name, decoder)                                   \
    LoadResult var = loadPicture(file(name), &decoder);            \
    ASSERT_TRUE(var.bitmap) << name << ": " << var.problem.detail; \
    ASSERT_EQ(var.bitmap->nWidth, kW);                             \
    ASSERT_EQ(var.bitmap->nHeight, kH)

TEST_F(PictureDecoderTest, BmpPngAndJpegOfOnePictureGiveTheSamePixelsAndPins) {
    const QImage grey = blocks(false);
    ASSERT_TRUE(grey.save(QString::fromStdString(file("p.bmp")), "BMP"));
    ASSERT_TRUE(grey.save(QString::fromStdString(file("p.png")), "PNG"));
    ASSERT_TRUE(grey.save(QString::fromStdString(file("p.jpg")), "JPEG", 90));

    CountingDecoder decoder;
    LOAD(bmp, "p.bmp", decoder);
    EXPECT_EQ(decoder.calls, 0) << "BMP goes through the image library's reader";
    LOAD(png, "p.png", decoder);
    LOAD(jpg, "p.jpg", decoder);
    EXPECT_EQ(decoder.calls, 2);

    int worst = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const uint32_t want = grey.pixel(x, y) & 0xFFFFFFu;
            ASSERT_EQ(at(*bmp.bitmap, x, y), want) << x << "," << y;
            ASSERT_EQ(at(*png.bitmap, x, y), want) << x << "," << y;  // lossless, top byte clear
            const uint32_t j = at(*jpg.bitmap, x, y);
            ASSERT_EQ(j >> 24, 0u);
            for (int shift : {0, 8, 16})
                worst = std::max(worst, std::abs(int((j >> shift) & 0xFF) - int((want >> shift) & 0xFF)));
        }
    EXPECT_LE(worst, 40) << "JPEG further from the picture than its loss explains";

    for (uint16_t mode : {uint16_t{BIN_DARK}, uint16_t{BIN_LIGHT}}) {
        const std::vector<uint32_t> ref = pins(bmp.bitmap.get(), mode);
        ASSERT_EQ(ref.size(), size_t(kW) * size_t(kH));
        // Both levels appear, so equal pin pictures say something.
        EXPECT_NE(std::count(ref.begin(), ref.end(), ref[0]), std::ptrdiff_t(ref.size())) << "mode " << mode;
        EXPECT_EQ(pins(png.bitmap.get(), mode), ref) << "mode " << mode;
        EXPECT_EQ(pins(jpg.bitmap.get(), mode), ref) << "mode " << mode;
    }
}

TEST_F(PictureDecoderTest, ColoursKeepTheirChannels) {
    const QImage colour = blocks(true);
    ASSERT_TRUE(colour.save(QString::fromStdString(file("c.bmp")), "BMP"));
    ASSERT_TRUE(colour.save(QString::fromStdString(file("c.png")), "PNG"));
    CountingDecoder decoder;
    LOAD(bmp, "c.bmp", decoder);
    LOAD(png, "c.png", decoder);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) ASSERT_EQ(at(*png.bitmap, x, y), colour.pixel(x, y) & 0xFFFFFFu) << x << "," << y;
    const std::vector<uint32_t> red = pins(png.bitmap.get(), BIN_RED);
    EXPECT_EQ(red, pins(bmp.bitmap.get(), BIN_RED));
    // Red and blue differ in the red channel's pins: a swapped byte order would show.
    const size_t redBlock = size_t(kBlock / 2) * kW + size_t(4 * kBlock + kBlock / 2);   // block (4, 0)
    const size_t blueBlock = size_t(kBlock / 2) * kW + size_t(5 * kBlock + kBlock / 2);  // block (5, 0)
    ASSERT_EQ(red.size(), size_t(kW) * size_t(kH));
    EXPECT_NE(red[redBlock], red[blueBlock]);
}

TEST_F(PictureDecoderTest, TransparencyIsLaidOverWhite) {
    QImage img(4, 1, QImage::Format_ARGB32);
    img.setPixel(0, 0, qRgba(0, 0, 0, 0));        // clear
    img.setPixel(1, 0, qRgba(0, 0, 0, 128));      // half black
    img.setPixel(2, 0, qRgba(255, 0, 0, 255));    // opaque red
    img.setPixel(3, 0, qRgba(0, 0, 255, 64));     // a quarter blue
    ASSERT_TRUE(img.save(QString::fromStdString(file("a.png")), "PNG"));
    QtPictureDecoder decoder;
    LoadResult r = loadPicture(file("a.png"), &decoder);
    ASSERT_TRUE(r.bitmap) << r.problem.detail;
    EXPECT_EQ(at(*r.bitmap, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(at(*r.bitmap, 1, 0), 0x7F7F7Fu);
    EXPECT_EQ(at(*r.bitmap, 2, 0), 0xFF0000u);
    EXPECT_EQ(at(*r.bitmap, 3, 0), 0xBFBFFFu);
}

TEST_F(PictureDecoderTest, SvgIsRenderedAtTheChosenSize) {
    // Black on the left half, nothing (white) on the right.
    write("s.svg",
          "<svg xmlns='http://www.w3.org/2000/svg' width='200' height='100' viewBox='0 0 200 100'>"
          "<rect x='0' y='0' width='100' height='100' fill='#000'/></svg>");
    for (int side : {QtPictureDecoder::kDefaultSvgSize, 300}) {
        QtPictureDecoder decoder(side);
        LoadResult r = loadPicture(file("s.svg"), &decoder);
        ASSERT_TRUE(r.bitmap) << r.problem.detail;
        EXPECT_EQ(r.bitmap->nWidth, side);
        EXPECT_EQ(r.bitmap->nHeight, side / 2);
        EXPECT_EQ(at(*r.bitmap, side / 4, side / 4), 0x000000u);
        EXPECT_EQ(at(*r.bitmap, side * 3 / 4, side / 4), 0xFFFFFFu);
    }
}

TEST_F(PictureDecoderTest, FilesNoReaderTakesComeBackWithTheirReason) {
    CountingDecoder decoder;
    {
        static const char kGarbage[] = "\x01\x02this is not a picture at all\x7f\xfe";
        write("garbage.png", std::string(kGarbage, sizeof kGarbage - 1));
    }
    LoadResult r = loadPicture(file("garbage.png"), &decoder);
    EXPECT_FALSE(r.bitmap);
    EXPECT_TRUE(r.problem.reason == LoadProblem::Reason::Undecodable ||
                r.problem.reason == LoadProblem::Reason::Unsupported);
    EXPECT_FALSE(r.problem.detail.empty());

    // A PNG cut short after its signature and header start.
    const QImage src = blocks(false);
    ASSERT_TRUE(src.save(QString::fromStdString(file("full.png")), "PNG"));
    std::ifstream in(file("full.png"), std::ios::binary);
    std::string png((std::istreambuf_iterator<char>(in)), {});
    write("cut.png", png.substr(0, 40));
    r = loadPicture(file("cut.png"), &decoder);
    EXPECT_FALSE(r.bitmap);
    EXPECT_EQ(r.problem.reason, LoadProblem::Reason::Undecodable);

    r = loadPicture(file("missing.png"), &decoder);
    EXPECT_EQ(r.problem.reason, LoadProblem::Reason::NotFound);
    r = loadPicture(dir_.string(), &decoder);
    EXPECT_EQ(r.problem.reason, LoadProblem::Reason::NotAFile);
    write("empty.png", "");
    r = loadPicture(file("empty.png"), &decoder);
    EXPECT_EQ(r.problem.reason, LoadProblem::Reason::Undecodable);

    // A damaged BMP stays with the image library's reader.
    const int before = decoder.calls;
    write("bad.bmp", std::string("BM\x10\x00\x00\x00garbage", 13));
    r = loadPicture(file("bad.bmp"), &decoder);
    EXPECT_FALSE(r.bitmap);
    EXPECT_EQ(r.problem.reason, LoadProblem::Reason::BadBmp);
    EXPECT_EQ(decoder.calls, before);

    // Without a decoder only BMP is read.
    r = loadPicture(file("full.png"), nullptr);
    EXPECT_EQ(r.problem.reason, LoadProblem::Reason::Unsupported);
}

TEST_F(PictureDecoderTest, TheOpenDialogListsTheInstalledFormats) {
    const QString patterns = QtPictureDecoder::namePatterns();
    for (const char* p : {"*.bmp", "*.BMP", "*.png", "*.PNG", "*.jpg", "*.jpeg", "*.gif"})
        EXPECT_TRUE(patterns.split(QLatin1Char(' ')).contains(QLatin1String(p))) << p;
}

// The window's message: the load sentence with the file's name, the reason in
// the user's language, and the reader's own words.
TEST_F(PictureDecoderTest, TheFailureMessageNamesTheFileAndTheReasonInBothLanguages) {
    struct Case {
        bool japanese;
        const char* sentence;
        const char* reason;
    };
    const Case cases[] = {
        {false, "File /pictures/bad.png couldn't be loaded.", "The picture data could not be read."},
        {true, "ファイル /pictures/bad.png を読み込めませんでした。", "画像データを読み込めませんでした。"},
    };
    for (const Case& c : cases) {
        const bitora::ui::Texts texts(c.japanese);
        bitora::ui::MainWindow window(texts, bitora::DeviceSize{32, 64, 48});
        QString shown;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text();
                box->close();
            }
        });
        poll.start(10);
        window.reportFailure(bitora::WindowHost::Failure::Load, "/pictures/bad.png",
                             LoadProblem{LoadProblem::Reason::Undecodable, "Unable to read image data"});
        const QStringList lines = shown.split(QLatin1Char('\n'));
        ASSERT_EQ(lines.size(), 3) << shown.toStdString();
        EXPECT_EQ(lines[0], QString::fromUtf8(c.sentence));
        EXPECT_EQ(lines[1], QString::fromUtf8(c.reason));
        EXPECT_EQ(lines[2], QStringLiteral("(Unable to read image data)"));
    }
}

// Every text the program shows exists in both languages.
TEST(BitoraTexts, EveryEnglishTextHasAJapaneseOne) {
    const char* src = std::getenv("TAVIK_SOURCE_DIR");
    if (!src) GTEST_SKIP() << "TAVIK_SOURCE_DIR not set";
    auto keys = [&](const char* name) {
        std::vector<std::string> out;
        std::ifstream in(std::string(src) + "/resources/bitora/" + name);
        for (std::string line; std::getline(in, line);)
            if (!line.empty() && line[0] != '#' && line.find('=') != std::string::npos)
                out.push_back(line.substr(0, line.find('=')));
        return out;
    };
    const std::vector<std::string> en = keys("bitora_en.txt"), ja = keys("bitora_ja.txt");
    ASSERT_FALSE(en.empty());
    EXPECT_EQ(en, ja);
}

}  // namespace
