// The viewer behind a recording display, beyond moving the view: condition
// memories with the pre-scanned pixels, the effect keys, a new bitmap and a
// new scan of the source, the status screens in both languages, the large
// histogram of the 64 x 48 model, displays too low for the histogram, and
// view moves by values no image reaches.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "client/viewer/braille_cells.h"
#include "client/viewer/status_screens.h"
#include "client/viewer/viewer.h"
#include "tests/viewer/viewer_fixture.h"

using namespace tavik::viewer;
using namespace viewer_fixture;

namespace {

// The cells lettered on plane `plane` from dot (x, y), read back at 3-dot spacing.
std::vector<uint8_t> readCells(const RecordingSink& s, const std::vector<uint8_t>& plane, int x, int y, size_t n) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < n; ++i, x += 3) {
        uint8_t cell = 0;
        for (int k = 0; k < 3; ++k) {
            if (s.pin(plane, x, y + k)) cell |= static_cast<uint8_t>(0x10 << k);
            if (s.pin(plane, x + 1, y + k)) cell |= static_cast<uint8_t>(0x01 << k);
        }
        out.push_back(cell == 0 ? kBlankCell : cell);
    }
    return out;
}

// A label, a blank and a number, as one line of a status screen holds them.
std::vector<uint8_t> line(std::vector<uint8_t> label, int value) {
    label.push_back(kBlankCell);
    const auto number = numberCells(value);
    label.insert(label.end(), number.begin(), number.end());
    return label;
}

void fill(LumoHBITMAP b, int x0, int y0, int w, int h, uint32_t rgb) {
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) b->lpPixels[y * b->nWidth + x] = rgb;
}

// Key codes as the display sends them: t = 4 with the modifier and key bytes.
constexpr int kCommand = 4;
constexpr int kCondition = 0x40;  // modifier bit that reaches the condition table from any screen

}  // namespace

// A memory restored with the same colour, effect and automatic flag as the
// condition in force must still be applied to pre-scanned pixels by the
// pre-scanned rule: a pixel of grey 200 stored as (1, 200, 200) would read as
// grey 133 under the raw-colour rule and lose its pin at threshold 150.
TEST_F(ViewerCore, RestoredMemoryKeepsThePinsOfThePreScannedImage) {
    OperationFilter filters;
    filters.conditionMemory = true;
    rec_.condition.bThreshfold = rec_.condition.bThreshfoldMin = rec_.condition.bThreshfoldMax = 150;
    Viewer& v = open("Pinora PX-2", filters);
    ASSERT_TRUE(sink_.pin(sink_.plane1, 10, 5));  // grey 200 is lighter than 150
    conditionScreen(v);
    EXPECT_EQ(v.displayKey(kCommand, 0x05, 0xA0), 1);  // save memory 1
    v.displayKey(kCommand, 0x01, 0);                    // threshold up: the next level is 200
    ASSERT_EQ(rec_.condition.bThreshfold, 200);
    v.broadcast(0, 0, 0);
    v.broadcast(0x40, 0, 0);
    v.broadcast(0, 0, 0);  // the same chord again: back to the image
    ASSERT_EQ(v.statusScreen(), 0);
    EXPECT_EQ(sink_.raised(sink_.plane1), 0);
    EXPECT_EQ(v.displayKey(kCommand, 0x05, 0x20 | kCondition), 1);  // restore memory 1
    EXPECT_EQ(rec_.condition.bThreshfold, 150);
    EXPECT_TRUE(rec_.condition.bMode & BIN_PRESCANNED);
    EXPECT_TRUE(sink_.pin(sink_.plane1, 10, 5));
    EXPECT_EQ(sink_.raised(sink_.plane1), 1);

    // The saved view restores its condition the same way.
    v.displayKey(1, 3, 6);  // save view (threshold 150)
    v.displayKey(kCommand, 0x01, kCondition);
    ASSERT_EQ(sink_.raised(sink_.plane1), 0);
    v.displayKey(1, 3, 4);  // restore view
    EXPECT_TRUE(sink_.pin(sink_.plane1, 10, 5));
}

// Effects on a filled 10 x 10 square and a bar 5 high and 40 wide: the square
// keeps only its 36 border pins in outline mode; character mode keeps the
// bar's middle row from its third to its third-last column.
TEST_F(ViewerCore, EffectKeysThinTheShapes) {
    const int32_t params[10] = {2, 30, 20, 10};  // line thickness, line lengths, depth limit
    std::copy(std::begin(params), std::end(params), rec_.scanParams);
    fill(bitmap_, 100, 100, 10, 10, 0xFFFFFF);
    fill(bitmap_, 100, 130, 40, 5, 0xFFFFFF);
    Viewer& v = open();
    v.setViewPosition(100, 100);
    v.setViewPosition(139, 134);
    v.setViewPosition(100, 100);
    const int left = rec_.viewLeft, top = rec_.viewTop;
    const auto square = [&] {
        int n = 0;
        for (int y = 100; y < 110; ++y)
            for (int x = 100; x < 110; ++x) n += sink_.pin(sink_.plane1, x - left, y - top);
        return n;
    };
    EXPECT_EQ(square(), 100);

    EXPECT_EQ(v.displayKey(kCommand, 0x0A, 0x20), 1);  // outline
    EXPECT_EQ(rec_.condition.bMode & 0xE000, BIN_OUTLINE);
    EXPECT_EQ(square(), 36);
    EXPECT_FALSE(sink_.pin(sink_.plane1, 105 - left, 105 - top));
    EXPECT_TRUE(sink_.pin(sink_.plane1, 100 - left, 105 - top));

    v.displayKey(kCommand, 0x09, 0x20);  // character
    EXPECT_EQ(rec_.condition.bMode & 0xE000, BIN_CHARACTER);
    for (int x = 100; x < 140; ++x)
        for (int y = 130; y < 135; ++y)
            EXPECT_EQ(sink_.pin(sink_.plane1, x - left, y - top), y == 132 && x >= 102 && x <= 137) << x << "," << y;

    v.displayKey(kCommand, 0x06, 0x20);  // erase grid lines: shapes thick both ways stay whole
    EXPECT_EQ(rec_.condition.bMode & 0xE000, BIN_ERASE_GRID);
    EXPECT_EQ(square(), 100);

    v.displayKey(kCommand, 0x05, 0x20);  // no effect
    EXPECT_EQ(rec_.condition.bMode & 0xE000, 0);
    EXPECT_EQ(square(), 100);
    EXPECT_TRUE(sink_.pin(sink_.plane1, 120 - left, 130 - top));
}

// A new bitmap keeps the view settings (brought inside it) and shows its own
// pixels; one that cannot be opened marks the viewer failed.
TEST_F(ViewerCore, ChangeBitmapKeepsTheViewAndShowsTheNewImage) {
    Viewer& v = open();
    v.changeDivision(2);
    v.setViewPosition(500, 400);
    LumoHBITMAP small = lumoCreateBitmap(200, 100);
    ASSERT_NE(small, nullptr);
    small->lpPixels[50 * 200 + 60] = 0xFFFFFF;
    ASSERT_TRUE(v.changeBitmap(small));
    EXPECT_EQ(rec_.imageWidth, 200);
    EXPECT_EQ(rec_.imageHeight, 100);
    EXPECT_EQ(v.maxDivision(), 4);
    EXPECT_EQ(rec_.cellWidth, 2);  // kept
    EXPECT_LT(rec_.viewLeft, 200);
    EXPECT_LT(rec_.viewTop, 100);
    v.setViewPosition(0, 0);
    v.moveViewPosition(-100, -100, false);
    EXPECT_EQ(sink_.raised(sink_.plane1), 1);
    EXPECT_TRUE(sink_.pin(sink_.plane1, 30, 25));
    EXPECT_FALSE(v.failed());

    EXPECT_FALSE(v.changeBitmap(nullptr));
    EXPECT_TRUE(v.failed());
    viewer_.reset();
    lumoDeleteBitmap(small);
}

// A new scan starts from the source bitmap: a pixel the application painted
// since shows, and the histogram counts it; a source that is gone fails.
TEST_F(ViewerCore, RealizeFromSourceScansTheSourceAgain) {
    Viewer& v = open();
    ASSERT_EQ(rec_.condition.adwHistogram[150], 0u);
    paint(30, 20, 150);
    v.refreshView();
    EXPECT_FALSE(sink_.pin(sink_.plane1, 30, 20));  // the opened image is the one scanned before
    ASSERT_TRUE(v.realizeFromSource());
    EXPECT_TRUE(sink_.pin(sink_.plane1, 30, 20));
    EXPECT_EQ(rec_.condition.adwHistogram[150], 1u);
    EXPECT_TRUE(rec_.condition.bMode & BIN_PRESCANNED);

    rec_.hSourceBitmap = nullptr;
    EXPECT_FALSE(v.realizeFromSource());
    EXPECT_TRUE(v.failed());
}

// Position, size, colour and scroll-step screens hold the viewer's values,
// lettered in English or Japanese labels.
TEST_F(ViewerCore, StatusScreensShowTheValuesInEitherLanguage) {
    for (const bool japanese : {false, true}) {
        SCOPED_TRACE(japanese ? "Japanese" : "English");
        const auto label = [&](const char* en, const char* ja) {
            return japanese ? kanaCells(ja) : toBrailleCells(en);
        };
        paintRgb(37, 26, 0xC84000);  // red 200, green 64, blue 0 under the pointer later
        Viewer& v = open("Pinora PX-2", {}, japanese);
        v.changeDivision(2);
        v.setViewPosition(300, 250);
        const View view = v.mainView();
        v.broadcast(0xC0, 0, 0);  // chord: the position screen
        ASSERT_EQ(v.statusScreen(), 1);
        const auto x = line(label("x", "yo ko"), view.left);
        const auto y = line(label("y", "ta te"), view.top);
        const auto d = line(label("d", "ba i"), 2);
        EXPECT_EQ(readCells(sink_, sink_.plane1, 0, 0, x.size()), x);
        EXPECT_EQ(readCells(sink_, sink_.plane1, 0, 4, y.size()), y);
        EXPECT_EQ(readCells(sink_, sink_.plane1, 0, 8, d.size()), d);

        v.displayKey(kCommand, 4, 0);  // next screen: size
        ASSERT_EQ(v.statusScreen(), 2);
        const auto r = line(label("r", "mi gi"), view.left + 2 * W - 1);
        const auto w = line(label("w", "ha ba"), 640);
        EXPECT_EQ(readCells(sink_, sink_.plane1, 0, 0, r.size()), r);
        EXPECT_EQ(readCells(sink_, sink_.plane1, 0, 8, w.size()), w);

        v.displayKey(1, 1, 6);  // pointer on
        rec_.pointerX = 37;     // then to the painted pixel, by the strip's rule
        rec_.pointerY = 26;
        v.refreshView();
        const auto red = line(label("r", "a ka"), 200);
        const auto green = line(label("g", "mi do"), 64);
        const auto average = line(label("a", "he i"), (200 + 64) / 3);
        EXPECT_EQ(readCells(sink_, sink_.plane1, 0, 0, red.size()), red);
        EXPECT_EQ(readCells(sink_, sink_.plane1, 0, 4, green.size()), green);
        EXPECT_EQ(readCells(sink_, sink_.plane1, 0, 12, average.size()), average);

        v.displayKey(kCommand, 4, 0);  // the scroll-step screen, then full steps
        v.displayKey(kCommand, 2, 0);
        ASSERT_EQ(v.statusScreen(), 3);
        const auto sx = line(label("sx", "yo ko"), W);
        const auto sy = line(label("sy", "ta te"), H);
        EXPECT_EQ(readCells(sink_, sink_.plane1, 0, 0, sx.size()), sx);
        EXPECT_EQ(readCells(sink_, sink_.plane1, 0, 4, sy.size()), sy);
        viewer_.reset();
        paint(37, 26, 0);
    }
}

// The 64 x 48 model shows the large histogram while its switch is on: 32 bars
// of 8 levels standing on the bottom row, the tallest 40 dots, the selected
// bars filled on the row above the bars, the threshold's bar marked.
TEST_F(ViewerCore, LargeHistogramScreenOfThe64x48Model) {
    Viewer& v = open("QX-64X48");
    EXPECT_EQ(v.displayKey(1, 10, 8), 1);  // the histogram switch
    ASSERT_TRUE(v.histogramSwitch());
    // Levels 0 (nearly every pixel), 40 and 200 (one each); threshold 100, Light.
    for (int y = 8; y < 48; ++y) EXPECT_TRUE(sink_.pin(sink_.plane1, 0, y)) << y;  // bar 0, 40 dots
    EXPECT_FALSE(sink_.pin(sink_.plane1, 0, 7));
    EXPECT_TRUE(sink_.pin(sink_.plane1, 10, 47));   // bar 5 (levels 40..47): one dot
    EXPECT_FALSE(sink_.pin(sink_.plane1, 10, 46));
    EXPECT_TRUE(sink_.pin(sink_.plane1, 50, 47));   // bar 25 (levels 200..207)
    EXPECT_FALSE(sink_.pin(sink_.plane1, 2, 47));   // bar 1: no pixels
    EXPECT_TRUE(sink_.pin(sink_.plane1, 26, 7));    // bar 13 lies above 100: filled
    EXPECT_FALSE(sink_.pin(sink_.plane1, 20, 7));   // bar 10 does not
    EXPECT_TRUE(sink_.pin(sink_.plane1, 25, 46));   // the threshold's bar (12) is marked
    // The threshold in the top line.
    const auto t = numberCells(100);
    const auto top = readCells(sink_, sink_.plane1, 6, 0, t.size());
    EXPECT_EQ(top, t);
    v.displayKey(1, 10, 8);
    EXPECT_TRUE(sink_.pin(sink_.plane1, 10, 5));  // the picture again
}

// Displays with fewer than 5 pin rows have no room for the histogram: the
// condition screen shows its top line alone (and returns).
TEST_F(ViewerCore, ConditionScreenOnDisplaysTooLowForTheHistogram) {
    for (int rows : {3, 4, 5}) {
        SCOPED_TRACE(rows);
        sink_.height = rows;
        Viewer& v = open("Pinora PX-1");
        conditionScreen(v);
        // "-" (no colour filter), a blank, the threshold: no bar dot stands in the line.
        const auto t = numberCells(100);
        EXPECT_EQ(readCells(sink_, sink_.plane1, 0, 0, 2), (std::vector<uint8_t>{toBrailleCells("-")[0], kBlankCell}));
        EXPECT_EQ(readCells(sink_, sink_.plane1, 6, 0, t.size()), t);
        if (rows == 5) {
            EXPECT_TRUE(sink_.pin(sink_.plane1, 0, 4));  // one dot of bar 0
        } else if (rows == 4) {
            EXPECT_FALSE(sink_.pin(sink_.plane1, 0, 3));
        }
        viewer_.reset();
    }
    Canvas tiny(std::span<uint8_t>(), 0, 0);
    BinCondition cond{};
    drawLargeHistogramScreen(tiny, cond, false);
}

// Moves by counts that no image needs stop at the edges instead of wrapping.
TEST_F(ViewerCore, HugeMovesStopAtTheEdges) {
    Viewer& v = open();
    v.changeDivision(10);
    v.changeDivision(3);
    v.moveViewPosition(2000000000, 2000000000, true);
    EXPECT_EQ(rec_.viewLeft, 640 - 3 * W);
    EXPECT_EQ(rec_.viewTop, 480 - 3 * H);
    v.moveViewPosition(-2000000000, -2000000000, true);
    EXPECT_EQ(rec_.viewLeft, 0);
    EXPECT_EQ(rec_.viewTop, 0);
    v.moveViewPosition(1500000000, 0, false);
    EXPECT_EQ(rec_.viewLeft, 640 - 3 * W);
    EXPECT_EQ(scrollDistance(2000000000, 64, 10), int32_t{1} << 30);
    EXPECT_EQ(scrollDistance(-2000000000, 64, 10), -(int32_t{1} << 30));
}
