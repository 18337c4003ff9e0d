// The monitor window's picture as plain pixels, independent of any toolkit:
// row and column numbers, the red grid with a green line every tenth dot, and
// a white round dot in every cell whose dot byte is not 0. Pixels are 32-bit
// 0xFFRRGGBB, rows top to bottom, as a toolkit's RGB32 image expects them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tavik::drv {

namespace monitor {

constexpr uint32_t kBlack = 0xFF000000u;
constexpr uint32_t kWhite = 0xFFFFFFFFu;
constexpr uint32_t kRed = 0xFFFF0000u;
constexpr uint32_t kGreen = 0xFF00FF00u;
constexpr uint32_t kYellow = 0xFFFFFF00u;

// Where the dot area starts in the client area, and the margins that make the
// client area: cellSize x dots + 30 wide, cellSize x dots + 25 high.
constexpr int kDotAreaLeft = 20;
constexpr int kDotAreaTop = 15;
constexpr int kExtraWidth = 30;
constexpr int kExtraHeight = 25;

// The three sizes of a dot cell in pixels ("Small", "Middle", "Large").
constexpr int kSmallCell = 5;
constexpr int kMiddleCell = 10;
constexpr int kLargeCell = 15;
inline bool isCellSize(int cellSize) {
    return cellSize == kSmallCell || cellSize == kMiddleCell || cellSize == kLargeCell;
}

// Largest dot matrix drawn: the slot's graphic holds at most 10000 dots.
constexpr int kMaxDots = 10000;

struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
};

// The client area for a dot matrix of dotsWide x dotsHigh at cellSize.
inline Size clientSize(int cellSize, int dotsWide, int dotsHigh) {
    return {cellSize * dotsWide + kExtraWidth, cellSize * dotsHigh + kExtraHeight};
}

// One coordinate of the window's position: a saved value of 0 or less becomes
// 0; a window that would pass the screen's far edge is moved back so that it
// ends there (never before 0).
inline int clampPosition(int saved, int windowExtent, int screenExtent) {
    int64_t v = saved > 0 ? saved : 0;
    if (v + windowExtent > screenExtent) v = static_cast<int64_t>(screenExtent) - windowExtent;
    return v > 0 ? static_cast<int>(v) : 0;
}

}  // namespace monitor

// The three pictures of the monitor window (frame with numbers, grid, one dot)
// and the composed client-area picture. Not thread-safe: the owner serialises
// rebuild, compose and reading the pixels.
class MonitorPicture {
public:
    // Rebuilds the frame, grid and dot pictures for a new cell size or dot
    // matrix. False (picture emptied) for a cell size other than 5, 10 or 15,
    // a negative size or more than 10000 dots.
    bool rebuild(int cellSize, int dotsWide, int dotsHigh);

    // Composes the client-area picture from the dot bytes (dotsWide x dotsHigh,
    // row by row; any byte other than 0 is a raised dot). Fewer bytes than dots
    // leave the remaining cells empty; an empty span draws the bare grid.
    void compose(std::span<const uint8_t> dots);

    int cellSize() const { return cellSize_; }
    int dotsWide() const { return dotsWide_; }
    int dotsHigh() const { return dotsHigh_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // The composed picture, width() x height() pixels, rows top to bottom.
    std::span<const uint32_t> pixels() const { return composed_; }
    uint32_t pixel(int x, int y) const { return composed_[static_cast<std::size_t>(y) * width_ + x]; }

    // The single-dot picture (cellSize x cellSize), for tests.
    std::span<const uint32_t> dotPicture() const { return dot_; }

private:
    void drawFrame();
    void drawGrid();
    void drawDot();

    int cellSize_ = 0, dotsWide_ = 0, dotsHigh_ = 0;
    int width_ = 0, height_ = 0;
    std::vector<uint32_t> frame_, grid_, dot_, composed_;
};

}  // namespace tavik::drv
