// Position strips and pen events (see strips_pen.h).
#include "screenviewer/keys/strips_pen.h"

#include <cstdlib>

namespace tavik::lumo {

namespace {

KeyAction act(KeyAct a, int value = 0, int32_t x = 0, int32_t y = 0) {
    KeyAction k;
    k.act = a;
    k.value = value;
    k.x = x;
    k.y = y;
    return k;
}

int clampPin(int v, int count) {
    if (v < 0 || (v & 0x80)) return 0;
    if (count < 1) return 0;
    return v >= count ? count - 1 : v;
}

}  // namespace

int stripPosition(int code, int byte) {
    const int v = byte & 0x7F;
    switch (code) {
    case 1: return (6096 - 48 * v) >> 7;
    case 2: return ((7112 - 56 * v) >> 7) + 4;
    case 3: return (48 * v) >> 7;
    default: return 0;
    }
}

ActionList onStripData(StripState& st, int code, std::span<const uint8_t> bytes, const KeyContext& c) {
    ActionList out;
    if (c.locked || c.recordExcluded || code < 1 || code > 3 || bytes.empty()) return out;
    int& previous = st.previous[code - 1];
    const int first = previous >= 0 ? previous : bytes.front();
    const int last = bytes.back();
    previous = (last & 0x80) ? -1 : last;
    const int oldPos = stripPosition(code, first);
    int newPos = stripPosition(code, last);
    if (std::abs(newPos - oldPos) >= 10) newPos = oldPos;
    const bool column = code == 2;
    if (c.emu()) {
        out.push(act(KeyAct::MouseToViewPin, column ? 1 : 0, newPos));
        return out;
    }
    int diff = newPos - oldPos;
    if (diff == 0) return out;
    if (!c.overview) diff = -diff;
    KeyAction p = act(KeyAct::PanBy);
    (column ? p.x : p.y) = diff;
    out.push(p);
    return out;
}

ActionList onPen(int e, int x, int y, int buttons, const KeyContext& c) {
    ActionList out;
    if (c.recordExcluded) return out;
    const int64_t px = static_cast<int64_t>(clampPin(x, c.pinColumns)) * c.cellWidth + c.baseX;
    const int64_t py = static_cast<int64_t>(clampPin(y, c.pinRows)) * c.cellHeight + c.baseY;
    const auto sx = static_cast<int32_t>(px), sy = static_cast<int32_t>(py);
    const int b = buttons & 3;
    switch (e) {
    case 1:
        out.push(act(KeyAct::PenDrag, 1));
        out.push(act(KeyAct::MouseRelease, 0, sx, sy));
        out.push(act(KeyAct::MouseMove, 0, sx, sy));
        if (b) out.push(act(KeyAct::MouseHold, b, sx, sy));
        break;
    case 2:
        if (c.penDrag) out.push(act(KeyAct::MouseMove, 0, sx, sy));
        out.push(act(KeyAct::Publish));
        break;
    case 3:
        out.push(act(KeyAct::MouseRelease, 0, sx, sy));
        if (!c.mouseEmulation) out.push(act(KeyAct::SaveMousePosition, 0, sx, sy));
        out.push(act(KeyAct::PenDrag, 0));
        break;
    case 4: case 6:
        if (c.penDrag && b) out.push(act(KeyAct::MouseHold, b, sx, sy));
        break;
    case 5: case 7:
        if (c.penDrag && b) out.push(act(KeyAct::MouseClick, b, sx, sy));
        break;
    default:
        break;
    }
    return out;
}

}  // namespace tavik::lumo
