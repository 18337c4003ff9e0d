// Position reports of the display's touch strips (data blocks with codes 1, 2
// and 3): each report becomes a start and an end dot along one strip.
#pragma once

#include <cstdint>
#include <span>

namespace tavik::viewer {

struct StripMemory {
    int remembered[3] = {-1, -1, -1};  // last byte of the previous report per code, -1: none
};

struct StripReport {
    bool valid = false;   // codes 1..3 with at least one byte
    bool horizontal = false;  // code 2 (a column); codes 1 and 3 give rows
    int start = 0;
    int end = 0;
};

// Maps the low 7 bits of a strip byte to a dot: code 1 row ((127 - v) * 48) >> 7,
// code 2 column (((127 - v) * 56) >> 7) + 4, code 3 row (v * 48) >> 7.
int stripDot(int code, int byte);
// One report; an end 10 or more dots from the start is replaced by the start.
StripReport onPositionReport(StripMemory& memory, int code, std::span<const uint8_t> bytes);

}  // namespace tavik::viewer
