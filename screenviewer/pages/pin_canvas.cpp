// Drawing on banded pin panels (see pin_canvas.h).
#include "screenviewer/pages/pin_canvas.h"

#include <algorithm>
#include <utility>

namespace tavik::lumo {

PinCanvas::PinCanvas(std::span<uint8_t> data, int width, int height, int stride)
    : data_(data), width_(std::max(0, width)), height_(std::max(0, height)), stride_(std::max(0, stride)) {
    if (stride_ < width_) width_ = stride_;
}

PinCanvas::PinCanvas(DotPanel& p)
    : PinCanvas(p.lpData ? std::span<uint8_t>(p.lpData, static_cast<size_t>(std::max(0, p.nSize)))
                         : std::span<uint8_t>(),
                p.nWidth, p.nHeight, p.nStride) {}

uint8_t* PinCanvas::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return nullptr;
    const size_t index = static_cast<size_t>(y / 8) * static_cast<size_t>(stride_) + static_cast<size_t>(x);
    return index < data_.size() ? &data_[index] : nullptr;
}

void PinCanvas::clear() { std::fill(data_.begin(), data_.end(), uint8_t{0}); }

void PinCanvas::raise(int x, int y) {
    if (uint8_t* b = at(x, y)) *b = static_cast<uint8_t>(*b | (1u << (y % 8)));
}

void PinCanvas::lower(int x, int y) {
    if (uint8_t* b = at(x, y)) *b = static_cast<uint8_t>(*b & ~(1u << (y % 8)));
}

bool PinCanvas::raised(int x, int y) const {
    const uint8_t* b = at(x, y);
    return b && ((*b >> (y % 8)) & 1u);
}

void PinCanvas::rowRun(int y, int x0, int x1) {
    if (x0 > x1) std::swap(x0, x1);
    for (int x = std::max(0, x0); x <= x1 && x < width_; ++x) raise(x, y);
}

void PinCanvas::columnRun(int x, int y0, int y1) {
    if (y0 > y1) std::swap(y0, y1);
    for (int y = std::max(0, y0); y <= y1 && y < height_; ++y) raise(x, y);
}

int PinCanvas::cells(int x, int y, std::span<const uint8_t> cells) {
    for (uint8_t cell : cells) {
        if (cell == 0 || x + 1 > width_ - 2) break;
        if (cell != 0x80) {
            for (int k = 0; k < 3; ++k) {
                if (cell & (0x10 << k)) raise(x, y + k);      // dots 1, 2, 3
                if (cell & (0x01 << k)) raise(x + 1, y + k);  // dots 4, 5, 6
            }
        }
        x += 3;
    }
    return x;
}

}  // namespace tavik::lumo
