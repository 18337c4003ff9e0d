// Touch-strip position reports (see position_strips.h).
#include "client/viewer/position_strips.h"

#include <cstdlib>

namespace tavik::viewer {

int stripDot(int code, int byte) {
    const int v = byte & 0x7F;
    switch (code) {
    case 1: return ((127 - v) * 48) >> 7;
    case 2: return (((127 - v) * 56) >> 7) + 4;
    case 3: return (v * 48) >> 7;
    default: return 0;
    }
}

StripReport onPositionReport(StripMemory& mem, int code, std::span<const uint8_t> bytes) {
    if (code < 1 || code > 3 || bytes.empty()) return {};
    int& remembered = mem.remembered[code - 1];
    const int first = remembered >= 0 ? remembered : bytes.front();
    const int last = bytes.back();
    remembered = (last & 0x80) ? -1 : last;
    StripReport r;
    r.valid = true;
    r.horizontal = code == 2;
    r.start = stripDot(code, first);
    r.end = stripDot(code, last);
    if (std::abs(r.end - r.start) >= 10) r.end = r.start;
    return r;
}

}  // namespace tavik::viewer
