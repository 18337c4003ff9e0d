// Shift combinations of the broadcast callback (see shift_chords.h).
#include "screenviewer/keys/shift_chords.h"

namespace tavik::lumo {

namespace {
KeyAction act(KeyAct a, int value = 0) {
    KeyAction k;
    k.act = a;
    k.value = value;
    return k;
}
}  // namespace

ActionList onShiftBroadcast(ShiftState& st, int byte0, int hold, int byte3, const KeyContext& c) {
    ActionList out;
    if (c.recordExcluded || c.locked) return out;
    byte0 &= 0xFF;
    hold &= 0xFFFF;
    byte3 &= 0xFF;
    const int s = byte0 & ~kShiftCenter;
    if (s == st.lastBits && byte0 != 0) {
        if (c.infoPage == kPageHistogram && (byte0 & (kShiftUp | kShiftCenter)) == (kShiftUp | kShiftCenter))
            st.resetOnRelease = true;
        return out;
    }
    st.lastBits = s;
    if (byte0 == 0) {
        const int held = st.held;
        st.held = 0;
        if (held == 0 || held == kShiftDown) {
            if (held != 0) out.push(act(KeyAct::Publish));  // the marker takes its normal shape again
            return out;
        }
        if (hold >= 100 || byte3 != 0 || st.resetOnRelease || held == st.latched) {
            st.latched = 0;
            st.resetOnRelease = false;
            out.push(act(KeyAct::SetInfoPage, kPageImage));
            if (c.cursorShape) out.push(act(KeyAct::SetCursorShape, 0));
        } else {
            st.latched = held;
        }
        return out;
    }
    const int before = st.held;
    st.held |= s;
    if (st.held == kShiftUp) {
        if (c.infoPage != kPageHistogram) out.push(act(KeyAct::SetInfoPage, kPageHistogram));
    } else if (st.held == (kShiftUp | kShiftDown)) {
        if (c.infoPage != kPagePosition) out.push(act(KeyAct::SetInfoPage, kPagePosition));
    }
    if (out.empty() && st.held != before) out.push(act(KeyAct::Publish));
    return out;
}

}  // namespace tavik::lumo
