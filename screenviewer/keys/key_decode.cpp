// Key tables of the screen viewer (see key_decode.h).
#include "screenviewer/keys/key_decode.h"

#include <algorithm>

namespace tavik::lumo {

namespace {

using viewer::CondOp;
using viewer::ConditionOp;
using viewer::Walk;

KeyAction act(KeyAct a, int value = 0) {
    KeyAction k;
    k.act = a;
    k.value = value;
    return k;
}

KeyAction pan(int dx, int dy, bool longStep = false) {
    KeyAction k = act(KeyAct::PanBy);
    k.x = dx;
    k.y = dy;
    k.longStep = longStep;
    return k;
}

KeyAction zoom(int out, ZoomAnchor anchor) {
    KeyAction k = act(KeyAct::Zoom, out);
    k.anchor = anchor;
    return k;
}

KeyAction cond(CondOp op, Walk walk = Walk::Plain, int value = 0) {
    KeyAction k = act(KeyAct::Condition);
    k.cond = ConditionOp{op, walk, value};
    return k;
}

KeyAction mouseStep(int direction, MoveKind kind) {
    KeyAction k = act(KeyAct::MouseStep, direction);
    k.kind = kind;
    return k;
}

KeyAction atMouse(KeyAct a, int buttons, const KeyContext& c) {
    KeyAction k = act(a, buttons);
    k.x = c.mouseX;
    k.y = c.mouseY;
    return k;
}

void tone(ActionList& out, Tone t, const KeyContext& c) {
    if (!c.tonesAllowed()) return;
    KeyAction k = act(KeyAct::PlayTone);
    k.tone = t;
    out.push(k);
}

// Sends 277, 278, 279 for each comparison bit that must change.
void comparisonPreset(ActionList& out, int wanted, const KeyContext& c) {
    const int now = c.bMode & (BIN_LIGHT | BIN_EQUAL | BIN_DARK);
    if ((now ^ wanted) & BIN_LIGHT) out.push(act(KeyAct::DialogCommand, kCmdToggleLight));
    if ((now ^ wanted) & BIN_EQUAL) out.push(act(KeyAct::DialogCommand, kCmdToggleEqual));
    if ((now ^ wanted) & BIN_DARK) out.push(act(KeyAct::DialogCommand, kCmdToggleDark));
}

void autoOn(ActionList& out, const KeyContext& c) {
    if (!c.fAutoThreshfold) out.push(act(KeyAct::DialogCommand, kCmdToggleAuto));
}
void autoOff(ActionList& out, const KeyContext& c) {
    if (c.fAutoThreshfold) out.push(act(KeyAct::DialogCommand, kCmdToggleAuto));
}
void mouseSyncTo(ActionList& out, bool on, const KeyContext& c) {
    if (c.mouseSync != on) out.push(act(KeyAct::DialogCommand, kCmdMouseSync));
}

void startEmulation(ActionList& out, int buttons, const KeyContext& c) {
    if (c.filters.mouseEmulation) out.push(act(KeyAct::StartEmulation, buttons));
}

void storeBookmark(ActionList& out, int n, const KeyContext& c, bool chime) {
    if (chime) tone(out, Tone::ChimeB, c);
    out.push(act(KeyAct::BookmarkStore, n));
}

void recallBookmark(ActionList& out, int n, const KeyContext& c, bool chime) {
    if (!c.bookmarkUsed[static_cast<size_t>(n)]) return;
    if (chime) tone(out, Tone::ChimeA, c);
    out.push(act(KeyAct::BookmarkRecall, n));
}

// Table F4 key 9 and N 0x200F.
void reset(ActionList& out, const KeyContext& c) {
    out.push(act(KeyAct::SetLock, 0));
    out.push(act(KeyAct::SetCursorShape, 0));
    out.push(act(KeyAct::SetInfoPage, kPageImage));
    mouseSyncTo(out, false, c);
    if (c.scanningMode == 2) out.push(act(KeyAct::DialogCommand, kCmdApplicationWindow));
    out.push(act(KeyAct::LeaveOverview));
    KeyAction one = act(KeyAct::ZoomTo, 1);
    one.anchor = c.mouseEmulation ? ZoomAnchor::Mouse : ZoomAnchor::Centre;
    out.push(one);
    if (c.mouseEmulation) out.push(act(KeyAct::StopEmulation));
    out.push(act(KeyAct::SetEffect, 0));
    autoOn(out, c);
    out.push(act(KeyAct::DialogCommand, kCmdRefresh02));
}

void toggleEmulation(ActionList& out, const KeyContext& c) {
    if (c.mouseEmulation) out.push(act(KeyAct::StopEmulation));
    else startEmulation(out, 0, c);
}

void toggleDisplayRange(ActionList& out, const KeyContext& c) {
    out.push(act(KeyAct::DialogCommand, c.scanningMode != 0 ? kCmdFullScreen : kCmdApplicationWindow));
}

void clientOverview(ActionList& out, const KeyContext& c) {
    out.push(act(KeyAct::ClientOverview, c.scanningMode == 2 && c.clientRectValid ? 1 : 0));
}

// Pan or mouse step for a direction key: keypad direction d with pins dx, dy.
void moveOne(ActionList& out, int direction, int dx, int dy, MoveKind kind, const KeyContext& c) {
    if (c.emu()) out.push(mouseStep(direction, kind));
    else out.push(pan(dx, dy));
}

void jumpOrMouseJump(ActionList& out, int k, const KeyContext& c) {
    out.push(act(c.emu() ? KeyAct::MouseJump : KeyAct::Jump, k));
}

ActionList tableF4(int k, const KeyContext& c) {
    ActionList out;
    switch (k) {
    case 1: if (c.mouseEmulation) out.push(act(KeyAct::StopEmulation)); break;
    case 2: mouseSyncTo(out, false, c); break;
    case 3: recallBookmark(out, 0, c, false); break;
    case 4: out.push(act(KeyAct::DialogCommand, kCmdApplicationWindow)); break;
    case 5: out.push(act(KeyAct::WholeScreenFromWindow)); break;
    case 6: out.push(act(KeyAct::DialogCommand, kCmdFullScreen)); break;
    case 7: out.push(act(KeyAct::SaveScreenImage, 1)); break;
    case 8: if (c.cursorShape) out.push(act(KeyAct::SetCursorShape, 0)); break;
    case 9: reset(out, c); break;
    case 10: comparisonPreset(out, BIN_LIGHT, c); break;
    case 11: comparisonPreset(out, BIN_EQUAL, c); break;
    case 12: comparisonPreset(out, BIN_DARK, c); break;
    case 13: clientOverview(out, c); break;
    default: break;
    }
    return out;
}

ActionList tableF6(int k, const KeyContext& c) {
    ActionList out;
    switch (k) {
    case 1: startEmulation(out, 0, c); break;
    case 2: mouseSyncTo(out, true, c); break;
    case 3: storeBookmark(out, 0, c, false); break;
    case 4: out.push(act(KeyAct::DialogCommand, kCmdFocusSync)); break;
    case 7: out.push(act(KeyAct::SaveScreenImage, 0)); break;
    case 8: if (!c.cursorShape) out.push(act(KeyAct::SetCursorShape, 1)); break;
    case 10: comparisonPreset(out, BIN_EQUAL | BIN_DARK, c); break;
    case 11: comparisonPreset(out, BIN_LIGHT | BIN_DARK, c); break;
    case 12: comparisonPreset(out, BIN_LIGHT | BIN_EQUAL, c); break;
    default: break;
    }
    return out;
}

// Zoom limits of the keys: halving needs 2 or more, doubling below maxCellPixels.
bool zoomAllowed(int out, const KeyContext& c) {
    return out ? c.zoomCell() < c.maxCellPixels : c.zoomCell() >= 2;
}

ActionList tableF0(int k, int m, const KeyContext& c) {
    ActionList out;
    if (m != 0 && m != 1) return out;
    const bool longStep = m == 1;
    switch (k) {
    case 1: case 3: case 7: case 9: {
        static constexpr ZoomAnchor kAnchor[10] = {ZoomAnchor::Centre, ZoomAnchor::Bottom, ZoomAnchor::Centre,
                                                   ZoomAnchor::RightBottom, ZoomAnchor::Centre, ZoomAnchor::Centre,
                                                   ZoomAnchor::Centre, ZoomAnchor::TopLeft, ZoomAnchor::Centre,
                                                   ZoomAnchor::Right};
        if (zoomAllowed(m, c)) out.push(zoom(m, kAnchor[k]));
        break;
    }
    case 5: if (zoomAllowed(m, c)) out.push(zoom(m, ZoomAnchor::Centre)); break;
    case 2: out.push(longStep ? pan(0, c.stepY, true) : pan(0, 1)); break;
    case 4: out.push(longStep ? pan(-c.stepX, 0, true) : pan(-1, 0)); break;
    case 6: out.push(longStep ? pan(c.stepX, 0, true) : pan(1, 0)); break;
    case 8: out.push(longStep ? pan(0, -c.stepY, true) : pan(0, -1)); break;
    case 10: out.push(act(KeyAct::DialogCommand, m == 0 ? kCmdThresholdUp : kCmdThresholdDown)); break;
    case 11: {
        const bool equal = (c.bMode & BIN_EQUAL) != 0;
        if (equal == (m == 0)) out.push(cond(CondOp::InvertComparison, Walk::Plain, m));
        break;
    }
    case 12: if (m == 0) autoOn(out, c); else autoOff(out, c); break;
    case 13: out.push(act(m == 0 ? KeyAct::ToggleOverview : KeyAct::ToggleViewScope)); break;
    default: break;
    }
    return out;
}

// Group 1 and 0 events that are not F4, F6 or the histogram switch.
ActionList numberedKeys(int g, int k, int m, const KeyContext& c) {
    ActionList out;
    if (!c.emu()) {
        if (g == 1 && m == 8) {
            if (k >= 1 && k <= 9) out.push(act(KeyAct::Jump, k));
            return out;
        }
        return g == 1 ? tableF0(k, m, c) : out;
    }
    if (g == 0) {
        if (m & 3) out.push(atMouse((m & 4) ? KeyAct::MouseHold : KeyAct::MouseClick, m & 3, c));
        return out;
    }
    if (g != 1) return out;
    if (k >= 1 && k <= 9) {
        if (m == 8) {
            out.push(act(KeyAct::MouseJump, k));
        } else if (k == 5) {
            if ((m == 0 || m == 1) && !c.overview) out.push(act(KeyAct::ZoomAtMouse, m));
        } else {
            out.push(mouseStep(k, m == 0 ? MoveKind::OneCell : MoveKind::OneCellScrolling));
        }
        return out;
    }
    return tableF0(k, m, c);
}

}  // namespace

ActionList navigationTable(int code, const KeyContext& c) {
    ActionList out;
    const bool emu = c.emu();
    const bool models14 = c.modelCode == kModelDisplay48 || c.modelCode == kModelUsb48;
    switch (code) {
    case 0x2000: case kKeyDecrease:
        if (emu) { if (!c.overview) out.push(act(KeyAct::ZoomAtMouse, 0)); }
        else if (zoomAllowed(0, c)) out.push(zoom(0, ZoomAnchor::Centre));
        break;
    case 0xA000: case kKeyIncrease:
        if (emu) { if (!c.overview) out.push(act(KeyAct::ZoomAtMouse, 1)); }
        else if (zoomAllowed(1, c)) out.push(zoom(1, ZoomAnchor::Centre));
        break;
    case kKeyUp:
        if (emu) out.push(mouseStep(8, MoveKind::LongScrolling)); else out.push(pan(0, -c.stepY, true));
        break;
    case kKeyDown:
        if (emu) out.push(mouseStep(2, MoveKind::LongScrolling)); else out.push(pan(0, c.stepY, true));
        break;
    case kKeyLeft:
        if (emu) out.push(mouseStep(4, MoveKind::LongScrolling)); else out.push(pan(-c.stepX, 0, true));
        break;
    case kKeyRight:
        if (emu) out.push(mouseStep(6, MoveKind::LongScrolling)); else out.push(pan(c.stepX, 0, true));
        break;
    case kKeyUp | kKeyDown: autoOn(out, c); break;
    case kKeyUp | kKeyRight: out.push(act(KeyAct::ToggleOverview)); break;
    case kKeyUp | kKeyLeft: out.push(act(KeyAct::ToggleViewScope)); break;
    case kKeyDown | kKeyRight: out.push(act(KeyAct::DialogCommand, kCmdFullScreen)); break;
    case kKeyDown | kKeyLeft: out.push(act(KeyAct::DialogCommand, kCmdApplicationWindow)); break;
    case kKeyRight | kKeyLeft: startEmulation(out, 0, c); break;
    case kKeyUp | kKeyRight | kKeyLeft: out.push(act(KeyAct::SaveScreenImage, 1)); break;
    case kKeyDown | kKeyRight | kKeyLeft: out.push(act(KeyAct::WholeScreenFromWindow)); break;
    case kKeyHome: jumpOrMouseJump(out, 4, c); break;
    case kKeyEnd: jumpOrMouseJump(out, 6, c); break;
    case kKeyHome | kKeyEnd: out.push(act(KeyAct::SetCursorShape, c.cursorShape ? 0 : 1)); break;
    case 0x2001: comparisonPreset(out, BIN_LIGHT, c); break;
    case 0x2002: comparisonPreset(out, BIN_DARK, c); break;
    case 0x2003: comparisonPreset(out, BIN_LIGHT | BIN_DARK, c); break;
    case 0x2004: if (emu) out.push(atMouse(KeyAct::MouseClick, 2, c)); break;
    case 0x2008: if (emu) out.push(atMouse(KeyAct::MouseClick, 1, c)); break;
    case 0x2005: out.push(act(KeyAct::SetEffect, 0)); break;
    case 0x2006: out.push(act(KeyAct::SetEffect, BIN_ERASE_GRID)); break;
    case 0x200A: out.push(act(KeyAct::SetEffect, BIN_OUTLINE)); break;
    case 0x2009: out.push(act(KeyAct::SetEffect, BIN_CHARACTER)); break;
    case 0x2007: recallBookmark(out, 0, c, true); break;
    case 0x200B: storeBookmark(out, 0, c, true); break;
    case 0x200C: mouseSyncTo(out, true, c); break;
    case 0x200D: out.push(act(KeyAct::SaveScreenImage, 0)); break;
    case 0x200E:
        if (!c.filters.operationLock) break;
        out.push(act(KeyAct::SetLock, c.locked ? 0 : 1));
        if (!c.locked) tone(out, Tone::LockSignal, c);
        break;
    case 0x200F: reset(out, c); break;
    case 0x8001: case 0x8002: case 0x8004: case 0x8008: {
        const int k = code & 0xFF;
        const int direction = k == kKeyUp ? 8 : k == kKeyDown ? 2 : k == kKeyRight ? 6 : 4;
        if (models14) {
            const int dx = k == kKeyRight ? 1 : k == kKeyLeft ? -1 : 0;
            const int dy = k == kKeyDown ? 1 : k == kKeyUp ? -1 : 0;
            moveOne(out, direction, dx, dy, MoveKind::OneCell, c);
        } else {
            jumpOrMouseJump(out, direction, c);
        }
        break;
    }
    case 0x8020: jumpOrMouseJump(out, 8, c); break;
    case 0x8040: jumpOrMouseJump(out, 2, c); break;
    case 0x8003: autoOff(out, c); break;
    case 0x8009: clientOverview(out, c); break;
    case 0x800A:
        if (c.scanningMode != 2) out.push(act(KeyAct::DialogCommand, kCmdFocusSync));
        out.push(act(KeyAct::PlaceOnFocus));
        break;
    case 0x800C: if (c.mouseEmulation) out.push(act(KeyAct::StopEmulation)); break;
    case 0x8010: case 0x8080: {
        if (c.mouseEmulation && c.overview) break;
        const int delta = code == 0x8010 ? -1 : 1;
        const int32_t cell = c.zoomCell();
        if (delta < 0 ? cell <= 1 : cell + 1 >= c.maxCellPixels) break;
        KeyAction k = act(KeyAct::FineZoom, delta);
        k.anchor = emu ? ZoomAnchor::Mouse : ZoomAnchor::Centre;
        out.push(k);
        break;
    }
    case 0xA001: comparisonPreset(out, BIN_LIGHT | BIN_EQUAL, c); break;
    case 0xA002: comparisonPreset(out, BIN_EQUAL | BIN_DARK, c); break;
    case 0xA003: comparisonPreset(out, BIN_EQUAL, c); break;
    case 0xA004: case 0xA008: {
        const int buttons = code == 0xA004 ? 2 : 1;
        if (!c.mouseEmulation) startEmulation(out, buttons, c);
        else out.push(atMouse(KeyAct::MouseHold, buttons, c));
        break;
    }
    case 0xA005: case 0xA006: {
        const int n = code == 0xA005 ? 1 : 2;
        if (!c.bookmarkUsed[static_cast<size_t>(n)]) break;
        out.push(act(KeyAct::BookmarkStore, 0));
        out.push(act(KeyAct::BookmarkRecall, n));
        tone(out, Tone::ChimeA, c);
        break;
    }
    case 0xA009: storeBookmark(out, 1, c, true); break;
    case 0xA00A: storeBookmark(out, 2, c, true); break;
    case 0xA00C: mouseSyncTo(out, false, c); break;
    default: break;
    }
    return out;
}

namespace {

// The entries of table C; false when the code is not listed there.
bool conditionEntry(int code, const KeyContext& c, ActionList& out) {
    const FunctionFilters& f = c.filters;
    const auto manual = [&](CondOp op, Walk w = Walk::Plain) {
        if (f.manualThreshold) out.push(cond(op, w));
    };
    const auto range = [&](CondOp op, Walk w = Walk::Plain) {
        if (f.thresholdRange) out.push(cond(op, w));
    };
    const auto colour = [&](int bits) {
        if (f.colorMask) out.push(cond(CondOp::SetColour, Walk::Plain, bits));
    };
    const auto recall = [&](int slot) {
        if (!f.manualThreshold || !c.conditionFilled[static_cast<size_t>(slot)]) return;
        out.push(act(KeyAct::ConditionRecall, slot));
        tone(out, Tone::ChimeA, c);
    };
    const auto store = [&](int slot) {
        if (!f.conditionMemory) return;
        out.push(act(KeyAct::ConditionStore, slot));
        tone(out, Tone::ChimeB, c);
    };
    switch (code) {
    case 0x2000: manual(CondOp::CollapseEqual); break;
    case kKeyUp: case kKeyIncrease: manual(CondOp::ThresholdUp); break;
    case kKeyDown: case kKeyDecrease: manual(CondOp::ThresholdDown); break;
    case kKeyUp | kKeyDown: autoOn(out, c); break;
    case kKeyRight: manual(CondOp::LessFrequent); break;
    case kKeyLeft: manual(CondOp::MoreFrequent); break;
    case kKeyRight | kKeyLeft: manual(CondOp::MostFrequent); break;
    case kKeyHome: manual(CondOp::HighestLevel); break;
    case kKeyEnd: manual(CondOp::LowestLevel); break;
    case kKeyUp | kKeyRight: range(CondOp::UpperUp); break;
    case kKeyDown | kKeyRight: range(CondOp::UpperDown); break;
    case kKeyUp | kKeyLeft: range(CondOp::LowerDown); break;
    case kKeyDown | kKeyLeft: range(CondOp::LowerUp); break;
    case 0x2001: comparisonPreset(out, BIN_LIGHT, c); break;
    case 0x2002: comparisonPreset(out, BIN_DARK, c); break;
    case 0x2003: comparisonPreset(out, BIN_LIGHT | BIN_DARK, c); break;
    case 0x2005: recall(0); break;
    case 0x2006: recall(1); break;
    case 0x200A: recall(2); break;
    case 0x2009: recall(3); break;
    case 0x200C: out.push(cond(CondOp::SetColour, Walk::Plain, 0)); break;
    case 0x8001: case 0x8080: manual(CondOp::ThresholdUp, Walk::Jump); break;
    case 0x8002: case 0x8010: manual(CondOp::ThresholdDown, Walk::Jump); break;
    case 0x8003: autoOff(out, c); break;
    case 0x8005: range(CondOp::UpperUp, Walk::Jump); break;
    case 0x8006: range(CondOp::UpperDown, Walk::Jump); break;
    case 0x8009: range(CondOp::LowerDown, Walk::Jump); break;
    case 0x800A: range(CondOp::LowerUp, Walk::Jump); break;
    case 0x8020: range(CondOp::UpperTo255); break;
    case 0x8040: range(CondOp::LowerTo0); break;
    case 0x8008: colour(BIN_RED); break;
    case 0x8004: colour(BIN_BLUE); break;
    case 0xA000: colour(BIN_GREEN); break;
    case 0xA008: colour(BIN_RED | BIN_GREEN); break;
    case 0x800C: colour(BIN_RED | BIN_BLUE); break;
    case 0xA004: colour(BIN_GREEN | BIN_BLUE); break;
    case 0xA00C: colour(BIN_RED | BIN_GREEN | BIN_BLUE); break;
    case 0xA001: comparisonPreset(out, BIN_LIGHT | BIN_EQUAL, c); break;
    case 0xA002: comparisonPreset(out, BIN_EQUAL | BIN_DARK, c); break;
    case 0xA003: comparisonPreset(out, BIN_EQUAL, c); break;
    case 0xA005: store(0); break;
    case 0xA006: store(1); break;
    case 0xA00A: store(2); break;
    case 0xA009: store(3); break;
    default: return false;
    }
    return true;
}

}  // namespace

ActionList conditionTable(int code, int fullCode, const KeyContext& c) {
    ActionList out;
    if (conditionEntry(code, c, out)) return out;
    return navigationTable(fullCode, c);
}

ActionList stickTable(int code, const KeyContext& c) {
    ActionList out;
    const int m = code >> 8, k = code & 0xFF;
    if (m != 0 && m != kShiftDown) return out;
    const MoveKind kind = m == kShiftDown ? MoveKind::OneCellScrolling : MoveKind::OneCell;
    int direction = 0, dx = 0, dy = 0;
    switch (k) {
    case kStickRight: direction = 6; dx = 1; break;
    case kStickDown: direction = 2; dy = 1; break;
    case kStickUp: direction = 8; dy = -1; break;
    case kStickLeft: direction = 4; dx = -1; break;
    case kStickDown | kStickRight: direction = 3; dx = 1; dy = 1; break;
    case kStickUp | kStickRight: direction = 9; dx = 1; dy = -1; break;
    case kStickDown | kStickLeft: direction = 1; dx = -1; dy = 1; break;
    case kStickUp | kStickLeft: direction = 7; dx = -1; dy = -1; break;
    default: return out;
    }
    if (dx != 0 && dy != 0 && !c.filters.eightDirections) return out;
    moveOne(out, direction, dx, dy, kind, c);
    return out;
}

ActionList textLineKey(int k, const KeyContext& c) {
    ActionList out;
    const int page = std::clamp(c.textLinePage, 0, 5);
    if (k >= 1 && k <= 12) {
        switch (k) {
        case 1: toggleDisplayRange(out, c); break;
        case 2: out.push(act(KeyAct::ToggleOverview)); break;
        case 3: toggleEmulation(out, c); break;
        case 4: out.push(act(KeyAct::DialogCommand, kCmdMouseSync)); break;
        default:
            if (c.subSelector != 0) out.push(act(KeyAct::SetSubSelector, 0));
            else out.push(act(KeyAct::SetTextLinePage, (page + (k <= 8 ? 1 : 5)) % 6));
            break;
        }
        return out;
    }
    if (k < 13 || k > 44) return out;
    switch (page) {
    case 0: toggleDisplayRange(out, c); break;
    case 1:
        if (k <= 22) toggleEmulation(out, c);
        else if (k <= 32) out.push(act(KeyAct::ToggleOverview));
        break;
    case 2: case 3: {
        const int half = k <= 19 ? 1 : k <= 26 ? 2 : 0;
        if (half == 0) break;
        out.push(act(KeyAct::SetSubSelector, c.subSelector == half ? 0 : half));
        break;
    }
    case 4:
        if (k == 13) out.push(act(KeyAct::DialogCommand, kCmdToggleLight));
        else if (k == 14) out.push(act(KeyAct::DialogCommand, kCmdToggleEqual));
        else if (k == 15) out.push(act(KeyAct::DialogCommand, kCmdToggleDark));
        else if (k == 17) out.push(act(KeyAct::DialogCommand, kCmdToggleAuto));
        break;
    case 5:
        if (k <= 18) out.push(act(KeyAct::DialogCommand, kCmdRefreshNone));
        else if (k <= 26) out.push(act(KeyAct::DialogCommand, kCmdRefresh01));
        else if (k <= 32) out.push(act(KeyAct::DialogCommand, kCmdRefresh02));
        break;
    default: break;
    }
    return out;
}

ActionList decodeKey(int g, int k, int m, const KeyContext& c) {
    ActionList out;
    if (c.recordExcluded) return out;
    if (g < 0 || g > 255 || k < 0 || k > 255 || m < 0 || m > 255) return out;
    if (g == 2) return c.locked ? out : textLineKey(k, c);

    if (g == 4 || (m & kShiftCenter)) {
        if (c.locked && !(m == kShiftCenter && (k & 0x0E) == 0x0E)) return out;
        const bool shiftUpOnly = (m & kShiftUp) && !(m & kShiftDown);
        if (c.infoPage == kPageHistogram || shiftUpOnly) {
            return conditionTable(((m & ~kShiftUp) << 8) | k, (m << 8) | k, c);
        }
        if (c.infoPage >= kPagePosition && c.infoPage <= kPageStep) {
            const int m2 = (m & kShiftUp) ? (m & ~(kShiftUp | kShiftDown)) : m;
            if (m2 == kShiftCenter && k == 0 && c.infoPage == kPageStep) {
                KeyAction a = act(KeyAct::SetSteps);
                a.x = c.pinColumns / 2;
                a.y = c.pinRows / 2;
                out.push(a);
                return out;
            }
            if (m2 == 0) {
                if (k == kKeyUp && c.infoPage == kPageStep) {
                    KeyAction a = act(KeyAct::SetSteps);
                    a.x = a.y = 1;
                    out.push(a);
                    return out;
                }
                if (k == kKeyDown && c.infoPage == kPageStep) {
                    KeyAction a = act(KeyAct::SetSteps);
                    a.x = c.pinColumns;
                    a.y = c.pinRows;
                    out.push(a);
                    return out;
                }
                if (k == kKeyRight) {
                    out.push(act(KeyAct::SetInfoPage, c.infoPage % 3 + 1));  // 1 -> 2 -> 3 -> 1
                    return out;
                }
                if (k == kKeyLeft) {
                    out.push(act(KeyAct::SetInfoPage, (c.infoPage + 1) % 3 + 1));  // 1 -> 3 -> 2 -> 1
                    return out;
                }
            }
        }
        return navigationTable((m << 8) | k, c);
    }

    if (c.locked) return out;
    if (g == 5) {
        if (c.infoPage == kPageStep) {
            KeyAction a = act(KeyAct::SetSteps);
            a.x = c.stepX;
            a.y = c.stepY;
            switch (k) {
            case kStickUp: a.y = std::max(1, c.stepY - 1); break;
            case kStickDown: a.y = std::min(c.pinRows, c.stepY + 1); break;
            case kStickLeft: a.x = std::max(1, c.stepX - 1); break;
            case kStickRight: a.x = std::min(c.pinColumns, c.stepX + 1); break;
            default: return out;
            }
            if (a.x != c.stepX || a.y != c.stepY) out.push(a);
            return out;
        }
        return stickTable((m << 8) | k, c);
    }
    if (g == 1 && m == 4) return tableF4(k, c);
    if (g == 1 && m == 6) return tableF6(k, c);
    if (g == 1 && m == 8 && k == 10) {
        out.push(act(KeyAct::ToggleLargeHistogram));
        return out;
    }
    return numberedKeys(g, k, m, c);
}

ActionList decodeNoteTakerKey(int b0, int b1, int b2, const KeyContext& c) {
    ActionList out;
    if (c.recordExcluded || c.locked) return out;
    if (b0 < 0 || b0 > 255 || b1 < 0 || b1 > 255 || b2 < 0 || b2 > 255) return out;
    if (b0 == 3) {
        switch (b1) {
        case 1: moveOne(out, 6, 1, 0, MoveKind::OneCell, c); break;
        case 2: moveOne(out, 4, -1, 0, MoveKind::OneCell, c); break;
        case 4: moveOne(out, 8, 0, -1, MoveKind::OneCell, c); break;
        case 8: moveOne(out, 2, 0, 1, MoveKind::OneCell, c); break;
        case 5: jumpOrMouseJump(out, 6, c); break;
        case 6: jumpOrMouseJump(out, 8, c); break;
        case 9: jumpOrMouseJump(out, 2, c); break;
        case 10: jumpOrMouseJump(out, 4, c); break;
        default: break;
        }
        return out;
    }
    if (b0 != 0) return out;
    switch (b2) {
    case 1:
        if (c.emu()) out.push(mouseStep(8, MoveKind::LongScrolling)); else out.push(pan(0, -c.stepY, true));
        break;
    case 2:
        if (c.emu()) out.push(mouseStep(2, MoveKind::LongScrolling)); else out.push(pan(0, c.stepY, true));
        break;
    case 64: case 128: {
        const int zoomOut = b2 == 128 ? 1 : 0;
        if (c.emu()) { if (!c.overview) out.push(act(KeyAct::ZoomAtMouse, zoomOut)); }
        else if (zoomAllowed(zoomOut, c)) out.push(zoom(zoomOut, ZoomAnchor::Centre));
        break;
    }
    default: break;
    }
    return out;
}

}  // namespace tavik::lumo
