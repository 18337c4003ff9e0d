// Drawing of the monitor picture: a small digit font for the numbers, the grid
// lines, the filled ellipse of a dot, and the composition of the three.
#include "drivers/core/monitor_picture.h"

#include <algorithm>
#include <array>
#include <string>

namespace tavik::drv {

namespace {

using namespace monitor;

// Digits 0..9, 4 pixels wide and 7 high; bit 3 of a row is the leftmost pixel.
constexpr int kGlyphWidth = 4;
constexpr int kGlyphHeight = 7;
constexpr int kGlyphAdvance = kGlyphWidth + 1;
constexpr std::array<std::array<uint8_t, kGlyphHeight>, 10> kDigits{{
    {0x6, 0x9, 0x9, 0x9, 0x9, 0x9, 0x6},  // 0
    {0x2, 0x6, 0x2, 0x2, 0x2, 0x2, 0x7},  // 1
    {0x6, 0x9, 0x1, 0x2, 0x4, 0x8, 0xF},  // 2
    {0xE, 0x1, 0x1, 0x6, 0x1, 0x1, 0xE},  // 3
    {0x2, 0x6, 0xA, 0xA, 0xF, 0x2, 0x2},  // 4
    {0xF, 0x8, 0xE, 0x1, 0x1, 0x9, 0x6},  // 5
    {0x6, 0x8, 0x8, 0xE, 0x9, 0x9, 0x6},  // 6
    {0xF, 0x1, 0x2, 0x2, 0x4, 0x4, 0x4},  // 7
    {0x6, 0x9, 0x9, 0x6, 0x9, 0x9, 0x6},  // 8
    {0x6, 0x9, 0x9, 0x7, 0x1, 0x1, 0x6},  // 9
}};

// Height of a number's box; the text is centred in it.
constexpr int kLabelBoxWidth = 20;
constexpr int kLabelBoxHeight = 15;

struct Canvas {
    std::vector<uint32_t>& pixels;
    int width;
    int height;
    void set(int x, int y, uint32_t colour) {
        if (x >= 0 && y >= 0 && x < width && y < height) pixels[static_cast<std::size_t>(y) * width + x] = colour;
    }
};

// Draws `number` in white centred in the box [left, left + 20) x [top, top + 15).
void drawNumber(Canvas& c, int number, int left, int top) {
    const std::string text = std::to_string(number);
    const int textWidth = static_cast<int>(text.size()) * kGlyphAdvance - 1;
    int x = left + (kLabelBoxWidth - textWidth) / 2;
    const int y = top + (kLabelBoxHeight - kGlyphHeight) / 2;
    for (char ch : text) {
        const auto& glyph = kDigits[static_cast<std::size_t>(ch - '0')];
        for (int row = 0; row < kGlyphHeight; ++row)
            for (int col = 0; col < kGlyphWidth; ++col)
                if (glyph[row] & (0x8 >> col)) c.set(x + col, y + row, kWhite);
        x += kGlyphAdvance;
    }
}

}  // namespace

bool MonitorPicture::rebuild(int cellSize, int dotsWide, int dotsHigh) {
    const bool valid = isCellSize(cellSize) && dotsWide >= 0 && dotsHigh >= 0 &&
                       static_cast<int64_t>(dotsWide) * dotsHigh <= kMaxDots && dotsWide <= kMaxDots &&
                       dotsHigh <= kMaxDots;
    if (!valid) {
        cellSize_ = dotsWide_ = dotsHigh_ = width_ = height_ = 0;
        frame_.clear();
        grid_.clear();
        dot_.clear();
        composed_.clear();
        return false;
    }
    cellSize_ = cellSize;
    dotsWide_ = dotsWide;
    dotsHigh_ = dotsHigh;
    const Size size = clientSize(cellSize, dotsWide, dotsHigh);
    width_ = size.width;
    height_ = size.height;
    const std::size_t count = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    frame_.assign(count, kBlack);
    grid_.assign(count, kBlack);
    composed_.assign(count, kBlack);
    dot_.assign(static_cast<std::size_t>(cellSize) * cellSize, kBlack);
    drawFrame();
    drawGrid();
    drawDot();
    compose({});
    return true;
}

void MonitorPicture::drawFrame() {
    Canvas c{frame_, width_, height_};
    const int step = 10 * cellSize_;
    // Column n's box ends at x = 30 + n x step, so it is centred on line 10 n.
    for (int n = 0; n * 10 <= dotsWide_; ++n) drawNumber(c, n * 10, 30 + n * step - kLabelBoxWidth, 0);
    // Row n's box ends at y = 22 + n x step: its text sits on line 10 n.
    for (int n = 0; n * 10 <= dotsHigh_; ++n) drawNumber(c, n * 10, 0, 22 + n * step - kLabelBoxHeight);
}

void MonitorPicture::drawGrid() {
    Canvas c{grid_, width_, height_};
    const int bottom = kDotAreaTop + cellSize_ * dotsHigh_;
    const int right = kDotAreaLeft + cellSize_ * dotsWide_;
    for (int i = 0; i <= dotsWide_; ++i) {
        const uint32_t colour = i % 10 == 0 ? kGreen : kRed;
        const int x = kDotAreaLeft + i * cellSize_;
        for (int y = kDotAreaTop; y <= bottom; ++y) c.set(x, y, colour);
    }
    for (int j = 0; j <= dotsHigh_; ++j) {
        const uint32_t colour = j % 10 == 0 ? kGreen : kRed;
        const int y = kDotAreaTop + j * cellSize_;
        // Drawn after the vertical lines: a crossing takes the row's colour.
        for (int x = kDotAreaLeft; x <= right; ++x) c.set(x, y, colour);
    }
}

void MonitorPicture::drawDot() {
    // A filled ellipse in the bounding box [a, b] x [a, b], sampled at pixel
    // centres: the whole cell for small cells, one pixel in from each side
    // from 7 pixels up.
    const int a = cellSize_ < 7 ? 0 : 1;
    const int b = cellSize_ < 7 ? cellSize_ - 1 : cellSize_ - 2;
    const double centre = (a + b + 1) / 2.0;
    const double radius = (b - a + 1) / 2.0;
    for (int y = 0; y < cellSize_; ++y)
        for (int x = 0; x < cellSize_; ++x) {
            const double dx = (x + 0.5 - centre) / radius;
            const double dy = (y + 0.5 - centre) / radius;
            if (dx * dx + dy * dy <= 1.0) dot_[static_cast<std::size_t>(y) * cellSize_ + x] = kWhite;
        }
}

void MonitorPicture::compose(std::span<const uint8_t> dots) {
    if (composed_.empty()) return;
    std::copy(frame_.begin(), frame_.end(), composed_.begin());
    // The grid's dot area, lines included, over the frame.
    const int right = kDotAreaLeft + cellSize_ * dotsWide_;
    const int bottom = kDotAreaTop + cellSize_ * dotsHigh_;
    for (int y = kDotAreaTop; y <= bottom && y < height_; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * width_;
        std::copy(grid_.begin() + row + kDotAreaLeft, grid_.begin() + row + std::min(right + 1, width_),
                  composed_.begin() + row + kDotAreaLeft);
    }
    // Each raised dot: the dot picture's first cellSize - 1 rows and columns,
    // inside the grid lines of its cell.
    const std::size_t total = static_cast<std::size_t>(dotsWide_) * static_cast<std::size_t>(dotsHigh_);
    const std::size_t n = std::min(total, dots.size());
    const int inner = cellSize_ - 1;
    for (std::size_t i = 0; i < n; ++i) {
        if (dots[i] == 0) continue;
        const int x0 = kDotAreaLeft + 1 + static_cast<int>(i % dotsWide_) * cellSize_;
        const int y0 = kDotAreaTop + 1 + static_cast<int>(i / dotsWide_) * cellSize_;
        for (int y = 0; y < inner; ++y) {
            const uint32_t* src = dot_.data() + static_cast<std::size_t>(y) * cellSize_;
            std::copy(src, src + inner, composed_.begin() + static_cast<std::size_t>(y0 + y) * width_ + x0);
        }
    }
}

}  // namespace tavik::drv
