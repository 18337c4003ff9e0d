// The status screens drawn into the image plane instead of the image: the
// condition screen with its 16-bar histogram, the position, size and
// scroll-step screens, and the large histogram of the 64 x 48 model. Braille
// lettering is drawn at 3-dot spacing (a cell is 2 x 3 dots), lines 4 dots apart.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "imaging/lumoutil.h"

namespace tavik::viewer {

// A banded dot plane (column x of rows 8b..8b+7 in byte b * width + x).
class Canvas {
public:
    Canvas(std::span<uint8_t> data, int width, int height) : data_(data), width_(width), height_(height) {}
    explicit Canvas(DotPanel& p) : Canvas({p.lpData, static_cast<size_t>(p.nSize)}, p.nWidth, p.nHeight) {}
    int width() const { return width_; }
    int height() const { return height_; }
    void clear();
    void set(int x, int y);  // outside the plane: nothing
    bool get(int x, int y) const;
    // Draws cells from dot (x, y); a cell that would pass the right edge ends the line.
    // Returns the column after the last cell drawn.
    int cells(int x, int y, std::span<const uint8_t> cells);

private:
    std::span<uint8_t> data_;
    int width_, height_;
};

// Cells of a number: number sign and digit cells, the minus cell first when negative.
std::vector<uint8_t> numberCells(int value);

void drawConditionScreen(Canvas& c, const BinCondition& cond, bool japanese);
void drawLargeHistogramScreen(Canvas& c, const BinCondition& cond, bool japanese);
// First column and row of the view (or the pointer), the division, the mode marks.
void drawPositionScreen(Canvas& c, int x, int y, int division, bool overview, bool frame, bool pointer,
                        bool japanese);
// Last column and row of the view and the image size.
void drawSizeScreen(Canvas& c, int lastX, int lastY, int imageWidth, int imageHeight, bool japanese);
// The colour of the pixel under the pointer and the average of its components.
void drawColourScreen(Canvas& c, int red, int green, int blue, bool japanese);
void drawScrollStepScreen(Canvas& c, int stepX, int stepY, bool japanese);

}  // namespace tavik::viewer
