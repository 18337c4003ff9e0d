// Key tables of the bitmap viewer (see key_decode.h).
#include "client/viewer/key_decode.h"

namespace tavik::viewer {

namespace {

Action make(Act a) { return Action{.act = a}; }
Action consumed() { return make(Act::Consumed); }
Action scrollDots(int dx, int dy) { return Action{.act = Act::ScrollDots, .dx = dx, .dy = dy}; }
Action scrollSteps(int dx, int dy) { return Action{.act = Act::ScrollSteps, .dx = dx, .dy = dy}; }
Action digitAct(Act a, int digit, bool big = false) { return Action{.act = a, .digit = digit, .big = big}; }
Action valueAct(Act a, int value) { return Action{.act = a, .value = value}; }
Action buttonsAct(Act a, int buttons) { return Action{.act = a, .buttons = buttons}; }

Action cond(CondOp op, Walk walk = Walk::Plain, int value = 0) {
    return Action{.act = Act::Condition, .cond = ConditionOp{op, walk, value}};
}
// An operation of a group that a filter may switch off.
Action gated(bool allowed, Action a) { return allowed ? a : consumed(); }

constexpr int kL = BIN_LIGHT, kE = BIN_EQUAL, kD = BIN_DARK;

// Scroll by a step, or move the pointer by a big step while the pointer keys act.
Action stepOrPointer(const KeyState& s, int dx, int dy, int digit) {
    return s.pointerKeys() ? digitAct(Act::MovePointer, digit, true) : scrollSteps(dx, dy);
}
Action dotOrPointer(const KeyState& s, int dx, int dy, int digit) {
    return s.pointerKeys() ? digitAct(Act::MovePointer, digit, false) : scrollDots(dx, dy);
}
Action jumpOrPointer(const KeyState& s, int digit) {
    return digitAct(s.pointerKeys() ? Act::JumpPointer : Act::JumpView, digit);
}

}  // namespace

Action conditionTable(int code, const KeyState& s) {
    const OperationFilter& f = s.filters;
    switch (code) {
    case 0x0001: case 0x0080: return gated(f.manualThreshold, cond(CondOp::ThresholdUp));
    case 0x0002: case 0x0010: return gated(f.manualThreshold, cond(CondOp::ThresholdDown));
    case 0x0003: return cond(CondOp::AutoOn);
    case 0x0004: return gated(f.manualThreshold, cond(CondOp::LessFrequent));
    case 0x0005: return gated(f.thresholdRange, cond(CondOp::UpperUp));
    case 0x0006: return gated(f.thresholdRange, cond(CondOp::UpperDown));
    case 0x0008: return gated(f.manualThreshold, cond(CondOp::MoreFrequent));
    case 0x0009: return gated(f.thresholdRange, cond(CondOp::LowerDown));
    case 0x000A: return gated(f.thresholdRange, cond(CondOp::LowerUp));
    case 0x000C: return gated(f.manualThreshold, cond(CondOp::MostFrequent));
    case 0x0020: return gated(f.manualThreshold, cond(CondOp::HighestLevel));
    case 0x0040: return gated(f.manualThreshold, cond(CondOp::LowestLevel));
    case 0x2000: return gated(f.manualThreshold, cond(CondOp::CollapseEqual));
    case 0x2001: return cond(CondOp::SetComparison, Walk::Plain, kL);
    case 0x2002: return cond(CondOp::SetComparison, Walk::Plain, kD);
    case 0x2003: return cond(CondOp::SetComparison, Walk::Plain, kL | kD);
    case 0x2005: return gated(f.manualThreshold, valueAct(Act::RestoreMemory, 1));
    case 0x2006: return gated(f.manualThreshold, valueAct(Act::RestoreMemory, 2));
    case 0x200A: return gated(f.manualThreshold, valueAct(Act::RestoreMemory, 3));
    case 0x2009: return gated(f.manualThreshold, valueAct(Act::RestoreMemory, 4));
    case 0x200C: return cond(CondOp::SetColour, Walk::Plain, 0);
    case 0x8001: case 0x8080: return gated(f.manualThreshold, cond(CondOp::ThresholdUp, Walk::Jump));
    case 0x8002: case 0x8010: return gated(f.manualThreshold, cond(CondOp::ThresholdDown, Walk::Jump));
    case 0x8003: return cond(CondOp::AutoOff);
    case 0x8005: return gated(f.thresholdRange, cond(CondOp::UpperUp, Walk::Jump));
    case 0x8006: return gated(f.thresholdRange, cond(CondOp::UpperDown, Walk::Jump));
    case 0x8009: return gated(f.thresholdRange, cond(CondOp::LowerDown, Walk::Jump));
    case 0x800A: return gated(f.thresholdRange, cond(CondOp::LowerUp, Walk::Jump));
    case 0x8020: return gated(f.thresholdRange, cond(CondOp::UpperTo255));
    case 0x8040: return gated(f.thresholdRange, cond(CondOp::LowerTo0));
    case 0x8008: return gated(f.colorMask, cond(CondOp::SetColour, Walk::Plain, 0x10));
    case 0xA000: return gated(f.colorMask, cond(CondOp::SetColour, Walk::Plain, 0x20));
    case 0x8004: return gated(f.colorMask, cond(CondOp::SetColour, Walk::Plain, 0x40));
    case 0xA008: return gated(f.colorMask, cond(CondOp::SetColour, Walk::Plain, 0x30));
    case 0x800C: return gated(f.colorMask, cond(CondOp::SetColour, Walk::Plain, 0x50));
    case 0xA004: return gated(f.colorMask, cond(CondOp::SetColour, Walk::Plain, 0x60));
    case 0xA00C: return gated(f.colorMask, cond(CondOp::SetColour, Walk::Plain, 0x70));
    case 0xA001: return cond(CondOp::SetComparison, Walk::Plain, kL | kE);
    case 0xA002: return cond(CondOp::SetComparison, Walk::Plain, kE | kD);
    case 0xA003: return cond(CondOp::SetComparison, Walk::Plain, kE);
    case 0xA005: return gated(f.conditionMemory, valueAct(Act::SaveMemory, 1));
    case 0xA006: return gated(f.conditionMemory, valueAct(Act::SaveMemory, 2));
    case 0xA00A: return gated(f.conditionMemory, valueAct(Act::SaveMemory, 3));
    case 0xA009: return gated(f.conditionMemory, valueAct(Act::SaveMemory, 4));
    default: return make(Act::Unhandled);
    }
}

Action commandTable(int code, const KeyState& s) {
    const bool pointer = s.pointerKeys();
    const ModelTraits* model = modelAt(s.modelIndex);
    const bool oneDotModel = model && model->oneDotArrows;
    switch (code) {
    case 0x0001: return stepOrPointer(s, 0, -1, 8);
    case 0x0002: return stepOrPointer(s, 0, 1, 2);
    case 0x0008: return stepOrPointer(s, -1, 0, 4);
    case 0x0004: return stepOrPointer(s, 1, 0, 6);
    case 0x0003: return cond(CondOp::AutoOn);
    case 0x0005: return make(Act::OverviewFrameOrOff);
    case 0x0009: return make(Act::OverviewFrameToggle);
    case 0x000C: return gated(s.filters.mouseEmulation, make(Act::PointerOn));
    case 0x0010: case 0x2000: return make(Act::ZoomIn);
    case 0x0080: case 0xA000: return make(Act::ZoomOut);
    case 0x2001: return cond(CondOp::SetComparison, Walk::Plain, kL);
    case 0x2002: return cond(CondOp::SetComparison, Walk::Plain, kD);
    case 0x2003: return cond(CondOp::SetComparison, Walk::Plain, kL | kD);
    case 0x2004: return pointer ? buttonsAct(Act::PointerClick, 2) : consumed();
    case 0x2008: return pointer ? buttonsAct(Act::PointerClick, 1) : consumed();
    case 0xA008: return pointer ? buttonsAct(Act::PointerDrag, 1) : consumed();
    case 0xA004: return pointer ? buttonsAct(Act::PointerDrag, 2) : consumed();
    case 0x2005: return valueAct(Act::Effect, 0);
    case 0x2006: return valueAct(Act::Effect, BIN_ERASE_GRID);
    case 0x200A: return valueAct(Act::Effect, BIN_OUTLINE);
    case 0x2009: return valueAct(Act::Effect, BIN_CHARACTER);
    case 0x2007: return make(Act::ChimeRestoreView);
    case 0x200B: return make(Act::ChimeSaveView);
    case 0x200C: case 0xA00C: return consumed();
    case 0x200F: return make(Act::Reset);
    case 0x8001: return oneDotModel ? dotOrPointer(s, 0, -1, 8) : jumpOrPointer(s, 8);
    case 0x8002: return oneDotModel ? dotOrPointer(s, 0, 1, 2) : jumpOrPointer(s, 2);
    case 0x8008: return oneDotModel ? dotOrPointer(s, -1, 0, 4) : jumpOrPointer(s, 4);
    case 0x8004: return oneDotModel ? dotOrPointer(s, 1, 0, 6) : jumpOrPointer(s, 6);
    case 0x8020: return jumpOrPointer(s, 8);
    case 0x8040: return jumpOrPointer(s, 2);
    case 0x0020: return jumpOrPointer(s, 4);
    case 0x0040: return jumpOrPointer(s, 6);
    case 0x8003: return cond(CondOp::AutoOff);
    case 0x800C: return make(Act::PointerOff);
    case 0x8010: return make(Act::ZoomInByOne);
    case 0x8080: return make(Act::ZoomOutByOne);
    case 0xA001: return cond(CondOp::SetComparison, Walk::Plain, kL | kE);
    case 0xA002: return cond(CondOp::SetComparison, Walk::Plain, kE | kD);
    case 0xA003: return cond(CondOp::SetComparison, Walk::Plain, kE);
    default: return make(Act::Unhandled);
    }
}

namespace {

Action keypad(int k, int n, const KeyState& s) {
    if (n != 0 && n != 1) return make(Act::Unhandled);
    const bool up = n == 1;
    switch (k) {
    case 1: case 3: case 7: case 9: {
        Action a = make(up ? Act::ZoomCornerOut : Act::ZoomCornerIn);
        a.corner = k == 1 ? Corner::BottomLeft : k == 3 ? Corner::BottomRight : k == 7 ? Corner::TopLeft
                                                                                       : Corner::TopRight;
        return a;
    }
    case 2: return up ? scrollSteps(0, 1) : scrollDots(0, 1);
    case 8: return up ? scrollSteps(0, -1) : scrollDots(0, -1);
    case 4: return up ? scrollSteps(-1, 0) : scrollDots(-1, 0);
    case 6: return up ? scrollSteps(1, 0) : scrollDots(1, 0);
    case 5: return make(up ? Act::ZoomOut : Act::ZoomIn);
    case 10: return gated(s.filters.manualThreshold, cond(up ? CondOp::ThresholdDown : CondOp::ThresholdUp));
    case 11: return cond(CondOp::InvertComparison, Walk::Plain, n);
    case 12: return cond(up ? CondOp::AutoOff : CondOp::AutoOn);
    case 13: return make(up ? Act::OverviewFrameToggle : Act::OverviewFrameOrOff);
    default: return make(Act::Unhandled);
    }
}

}  // namespace

Action decodeDisplayKey(int t, int k, int m, const KeyState& s) {
    if (t == 2) return valueAct(Act::StatusCell, k);

    if (t == 4 || (m & 0x20)) {
        if (s.statusScreen == -1 || (m & 0xC0) == 0x40) {
            Action a = conditionTable((m & 0xBF) * 256 + k, s);
            if (a.act != Act::Unhandled) return a;
        } else if (s.statusScreen >= 1 && s.statusScreen <= 3) {
            const int m2 = (m & 0x40) ? (m & 0x3F) : m;
            const bool stepScreen = s.statusScreen == 3;
            if (m2 == 0x20 && k == 0 && stepScreen) return make(Act::StepsHalf);
            if (m2 == 0) {
                if (k == 1) return stepScreen ? make(Act::StepsOne) : consumed();
                if (k == 2) return stepScreen ? make(Act::StepsFull) : consumed();
                if (k == 4) return make(Act::NextScreen);
                if (k == 8) return make(Act::PreviousScreen);
            }
        }
        return commandTable(m * 256 + k, s);
    }

    if (t == 5) {
        if (s.statusScreen == 3) {
            switch (k) {
            case 8: return make(Act::StepYDown);
            case 4: return make(Act::StepYUp);
            case 16: return make(Act::StepXDown);
            case 2: return make(Act::StepXUp);
            default: return make(Act::Unhandled);
            }
        }
        switch (m * 256 + k) {
        case 0x0002: case 0x8002: return dotOrPointer(s, 1, 0, 6);
        case 0x0004: case 0x8004: return dotOrPointer(s, 0, 1, 2);
        case 0x0008: case 0x8008: return dotOrPointer(s, 0, -1, 8);
        case 0x0010: case 0x8010: return dotOrPointer(s, -1, 0, 4);
        default: return make(Act::Unhandled);
        }
    }

    if (t == 1) {
        if (m == 4) {
            switch (k) {
            case 1: return make(Act::PointerOff);
            case 3: return make(Act::RestoreView);
            case 9: return make(Act::Reset);
            case 10: return cond(CondOp::SetComparison, Walk::Plain, kL);
            case 11: return cond(CondOp::SetComparison, Walk::Plain, kE);
            case 12: return cond(CondOp::SetComparison, Walk::Plain, kD);
            default: break;
            }
        } else if (m == 6) {
            switch (k) {
            case 1: return gated(s.filters.mouseEmulation, make(Act::PointerOn));
            case 3: return make(Act::SaveView);
            case 10: return cond(CondOp::SetComparison, Walk::Plain, kE | kD);
            case 11: return cond(CondOp::SetComparison, Walk::Plain, kL | kD);
            case 12: return cond(CondOp::SetComparison, Walk::Plain, kL | kE);
            default: break;
            }
        } else if (m == 8 && k == 10) {
            return make(Act::HistogramSwitch);
        }
    }

    if (s.pointerKeys()) {
        if (t == 1) {
            if (k == 5) return make((m & 1) ? Act::ZoomOut : Act::ZoomIn);
            if (k >= 1 && k <= 9) return digitAct(Act::MovePointer, k, m == 8);
        } else if (t == 0) {
            if (m & 3) return buttonsAct((m & 4) ? Act::PointerDrag : Act::PointerClick, m & 3);
            return make(Act::Unhandled);
        } else {
            return make(Act::Unhandled);
        }
    }
    if (t == 1) return keypad(k, m, s);
    return make(Act::Unhandled);
}

Action decodeNoteTakerKey(int t, int k, int m, const KeyState& s) {
    if (t == 3) {
        switch (k) {
        case 1: return dotOrPointer(s, 1, 0, 6);
        case 2: return dotOrPointer(s, -1, 0, 4);
        case 4: return dotOrPointer(s, 0, -1, 8);
        case 8: return dotOrPointer(s, 0, 1, 2);
        case 5: return jumpOrPointer(s, 6);
        case 6: return jumpOrPointer(s, 8);
        case 9: return jumpOrPointer(s, 2);
        case 10: return jumpOrPointer(s, 4);
        default: return make(Act::Unhandled);
        }
    }
    if (t == 0) {
        switch (m) {
        case 1: return stepOrPointer(s, 0, -1, 8);
        case 2: return stepOrPointer(s, 0, 1, 2);
        case 64: return make(Act::ZoomIn);
        case 128: return make(Act::ZoomOut);
        default: return make(Act::Unhandled);
        }
    }
    return make(Act::Unhandled);
}

}  // namespace tavik::viewer
