// Binarization condition operations (see condition_ops.h).
#include "client/viewer/condition_ops.h"

#include <algorithm>
#include <numeric>

namespace tavik::viewer {

int walkLevels(const uint32_t* h, int start, int limit, Walk walk) {
    const int dir = limit >= start ? 1 : -1;
    if (start < 0 || start > 255 || limit < 0 || limit > 255) return -1;
    int found = -1;
    int steps = 0;
    for (int level = start;; level += dir, ++steps) {
        if (h[level] != 0) {
            if (walk == Walk::Plain) return level;
            if (steps < 16) found = level;                 // farthest within the first 16 steps
            else if (found < 0) return level;              // none near: the first one after them
            else return found;
        }
        if (level == limit) break;
    }
    return found;
}

std::array<uint8_t, 256> levelsByFrequency(const uint32_t* h) {
    std::array<uint8_t, 256> order{};
    std::iota(order.begin(), order.end(), uint8_t{0});
    std::stable_sort(order.begin(), order.end(), [h](uint8_t a, uint8_t b) { return h[a] > h[b]; });
    return order;
}

void setSingleLevel(BinCondition& c, int v) {
    c.bThreshfold = c.bThreshfoldMin = c.bThreshfoldMax = static_cast<uint8_t>(v);
    c.bMode = static_cast<uint16_t>(c.bMode & ~BIN_RANGE);
}

namespace {
void setRangeBit(BinCondition& c, bool on) {
    c.bMode = static_cast<uint16_t>(on ? (c.bMode | BIN_RANGE) : (c.bMode & ~BIN_RANGE));
}
}  // namespace

void setUpperBound(BinCondition& c, int v) {
    if (v < c.bThreshfoldMin) c.bThreshfoldMin = static_cast<uint8_t>(v);
    c.bThreshfoldMax = static_cast<uint8_t>(v);
    setRangeBit(c, c.bThreshfoldMin != v);
}

void setLowerBound(BinCondition& c, int v) {
    c.bThreshfoldMin = static_cast<uint8_t>(v);
    if (c.bThreshfoldMax < v) c.bThreshfoldMax = static_cast<uint8_t>(v);
    setRangeBit(c, v != c.bThreshfoldMax);
}

void pullUnderUpper(BinCondition& c, int v) {
    c.bThreshfoldMax = static_cast<uint8_t>(v);
    if (c.bThreshfold > v) c.bThreshfold = static_cast<uint8_t>(v);
    setRangeBit(c, c.bThreshfoldMin != v);
}

void pullOverLower(BinCondition& c, int v) {
    c.bThreshfoldMin = static_cast<uint8_t>(v);
    if (c.bThreshfold < v) c.bThreshfold = static_cast<uint8_t>(v);
    setRangeBit(c, v != c.bThreshfoldMax);
}

void selectEqualTo(BinCondition& c) {
    c.fAutoThreshfold = 0;
    c.bMode = static_cast<uint16_t>((c.bMode & 0xFFF2) | BIN_EQUAL);
}

namespace {

Outcome single(BinCondition& c, int v) {
    setSingleLevel(c, v);
    c.fAutoThreshfold = 0;
    return Outcome::Refresh;
}

Outcome singleEqual(BinCondition& c, int v) {
    setSingleLevel(c, v);
    selectEqualTo(c);
    return Outcome::Refresh;
}

void setUpper(BinCondition& c, int v, BoundRule rule) {
    if (rule == BoundRule::PullThreshold) pullUnderUpper(c, v);
    else setUpperBound(c, v);
}

void setLower(BinCondition& c, int v, BoundRule rule) {
    if (rule == BoundRule::PullThreshold) pullOverLower(c, v);
    else setLowerBound(c, v);
}

Outcome upperEqual(BinCondition& c, int v, BoundRule rule) {
    setUpper(c, v, rule);
    selectEqualTo(c);
    return Outcome::Refresh;
}

Outcome lowerEqual(BinCondition& c, int v, BoundRule rule) {
    setLower(c, v, rule);
    selectEqualTo(c);
    return Outcome::Refresh;
}

}  // namespace

Outcome applyConditionOp(BinCondition& c, const ConditionOp& op, BoundRule rule) {
    const uint32_t* h = c.adwHistogram;
    const int lo = c.bThreshfoldMin, hi = c.bThreshfoldMax;
    switch (op.op) {
    case CondOp::ThresholdUp:
    case CondOp::ThresholdDown: {
        const bool up = op.op == CondOp::ThresholdUp;
        const int bound = up ? hi : lo;
        const int found = up ? walkLevels(h, hi + 1, 255, op.walk) : walkLevels(h, lo - 1, 0, op.walk);
        if (found >= 0) return single(c, found);
        if (op.walk == Walk::Plain && lo == hi) return Outcome::NoChange;
        return single(c, bound);
    }
    case CondOp::LowestLevel: {
        const int found = walkLevels(h, 0, 255, Walk::Plain);
        return found < 0 ? Outcome::NoChange : single(c, found);
    }
    case CondOp::HighestLevel: {
        const int found = walkLevels(h, 255, 0, Walk::Plain);
        return found < 0 ? Outcome::NoChange : single(c, found);
    }
    case CondOp::UpperUp: {
        if (hi == 255) return Outcome::NoChange;
        int found = walkLevels(h, hi + 1, 255, op.walk);
        if (found < 0) {
            if (op.walk == Walk::Plain) return Outcome::NoChange;
            found = hi;
        }
        return upperEqual(c, found, rule);
    }
    case CondOp::UpperDown: {
        if (lo >= hi) return Outcome::NoChange;
        const int found = hi - 1 > lo ? walkLevels(h, hi - 1, lo + 1, op.walk) : -1;
        return upperEqual(c, found < 0 ? lo : found, rule);
    }
    case CondOp::UpperTo255:
        return upperEqual(c, 255, rule);
    case CondOp::LowerDown: {
        if (lo == 0) return Outcome::NoChange;
        const int found = walkLevels(h, lo - 1, 0, op.walk);
        return found < 0 ? Outcome::NoChange : lowerEqual(c, found, rule);
    }
    case CondOp::LowerUp: {
        if (lo >= hi) return Outcome::NoChange;
        const int found = lo + 1 < hi ? walkLevels(h, lo + 1, hi - 1, op.walk) : -1;
        return lowerEqual(c, found < 0 ? hi : found, rule);
    }
    case CondOp::LowerTo0:
        return lowerEqual(c, 0, rule);
    case CondOp::MostFrequent:
        return singleEqual(c, levelsByFrequency(h)[0]);
    case CondOp::MoreFrequent:
    case CondOp::LessFrequent: {
        const auto order = levelsByFrequency(h);
        const auto at = std::find(order.begin(), order.end(), c.bThreshfold) - order.begin();
        if (op.op == CondOp::MoreFrequent) {
            for (auto i = at - 1; i >= 0; --i)
                if (h[order[i]] > 0) return singleEqual(c, order[i]);
            return Outcome::NoChange;
        }
        if (at + 1 >= 256 || h[order[at + 1]] == 0) return Outcome::NoChange;
        return singleEqual(c, order[at + 1]);
    }
    case CondOp::CollapseRange:
        setLower(c, c.bThreshfold, rule);
        setUpper(c, c.bThreshfold, rule);
        return Outcome::Refresh;
    case CondOp::CollapseEqual:
        setLower(c, c.bThreshfold, rule);
        setUpper(c, c.bThreshfold, rule);
        selectEqualTo(c);
        return Outcome::Refresh;
    case CondOp::ToggleComparison:
        c.fAutoThreshfold = 0;
        c.bMode = static_cast<uint16_t>(c.bMode ^ (op.value & 0x07));
        return Outcome::Refresh;
    case CondOp::SetComparison:
        c.fAutoThreshfold = 0;
        c.bMode = static_cast<uint16_t>((c.bMode & ~0x07) | (op.value & 0x07));
        return Outcome::Refresh;
    case CondOp::InvertComparison: {
        const bool equal = (c.bMode & BIN_EQUAL) != 0;
        if (equal != (op.value == 0)) return Outcome::NoChange;
        c.fAutoThreshfold = 0;
        c.bMode = static_cast<uint16_t>(c.bMode ^ 0x07);
        return Outcome::Refresh;
    }
    case CondOp::ToggleAuto:
        if (c.fAutoThreshfold == 1) {
            c.fAutoThreshfold = 0;
            return Outcome::Refresh;
        }
        c.fAutoThreshfold = 1;
        return Outcome::Realize;
    case CondOp::AutoOn:
        c.fAutoThreshfold = 1;
        return Outcome::Realize;
    case CondOp::AutoOff:
        c.fAutoThreshfold = 0;
        return Outcome::Refresh;
    case CondOp::ToggleColour:
    case CondOp::SetColour: {
        const int colour = op.op == CondOp::ToggleColour ? ((c.bMode & 0xFF) ^ (op.value & 0x70)) : op.value;
        c.fAutoThreshfold = 0;
        c.bMode = static_cast<uint16_t>((c.bMode & 0xFF8F) | (colour & 0x70));
        return Outcome::Realize;
    }
    }
    return Outcome::NoChange;
}

}  // namespace tavik::viewer
