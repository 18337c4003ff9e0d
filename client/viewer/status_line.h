// The viewer's line of 32 status cells: mode letters, a page label and the
// values of the status page (size, modes, position, relative position,
// condition). Pure: built from a snapshot of the viewer's state.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tavik::viewer {

constexpr int kStatusCells = 32;
constexpr int kStatusPages = 5;
constexpr int kStatusValueCell = 12;  // index of the first value cell (cell 13 counted from 1)

struct StatusSnapshot {
    bool overview = false;
    bool frame = false;
    bool pointer = false;
    int page = 0;    // 0..4
    int layout = 0;  // 0..2
    int imageWidth = 1, imageHeight = 1;
    // Position shown: the view (or detail view, or the pointer as first == last).
    int firstX = 0, lastX = 0, firstY = 0, lastY = 0, division = 1;
    bool single = false;  // a point (the pointer) rather than a range
    uint16_t mode = 0;
    bool autoThreshold = false;
    int threshold = 0;
    bool japanese = false;
};

struct StatusLine {
    std::array<uint8_t, kStatusCells> cells{};  // internal cell form
    std::string mirror;                         // ASCII of the same line
};

// The ASCII text of the page's values (from cell 13 on).
std::string statusPageText(const StatusSnapshot& s);
StatusLine buildStatusLine(const StatusSnapshot& s);

}  // namespace tavik::viewer
