// A view onto a banded pin panel (byte b * stride + x holds column x of pin
// rows 8b..8b+7, bit k = row 8b + k), the layout of DotPanel and of the
// display's graphic planes, with the drawing the information pages and the
// mouse marker need: single pins, braille cells, runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "imaging/lumoutil.h"

namespace tavik::lumo {

class PinCanvas {
public:
    // `data` must hold stride * ceil(height / 8) bytes; a shorter span makes
    // the rows it lacks unreachable (never written past).
    PinCanvas(std::span<uint8_t> data, int width, int height, int stride);
    explicit PinCanvas(DotPanel& panel);

    int width() const { return width_; }
    int height() const { return height_; }

    void clear();
    // Pins outside the panel are ignored.
    void raise(int x, int y);
    void lower(int x, int y);
    bool raised(int x, int y) const;
    // Raises columns x0..x1 (inclusive, either order) of row y.
    void rowRun(int y, int x0, int x1);
    // Raises rows y0..y1 (inclusive, either order) of column x.
    void columnRun(int x, int y0, int y1);
    // Draws braille cells from pin (x, y), three columns per cell, up to a 0
    // cell or the end of the span; stops before a cell that would reach past
    // the panel's last-but-one column. 0x80 is an empty cell. Returns the
    // column after the last cell drawn.
    int cells(int x, int y, std::span<const uint8_t> cells);

private:
    uint8_t* at(int x, int y) const;
    std::span<uint8_t> data_;
    int width_ = 0, height_ = 0, stride_ = 0;
};

}  // namespace tavik::lumo
