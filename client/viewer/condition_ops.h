// Operations on a binarization condition shared by the condition dialog and
// the device keys: the basic setters, the walks over the grey-level
// histogram, the frequency order and every step, toggle and set. Pure: they
// change only the BinCondition they are given and say what must follow.
#pragma once

#include <array>
#include <cstdint>

#include "imaging/lumoutil.h"

namespace tavik::viewer {

enum class Walk { Plain, Jump };

// Walks from `start` towards `limit` (inclusive, either direction) over the
// occurring levels (count not 0). Plain: the first one met. Jump: the farthest
// one within the first 16 steps, else the first one met after them. -1: none,
// also when start lies beyond limit or outside 0..255.
int walkLevels(const uint32_t* histogram, int start, int limit, Walk walk);

// The 256 levels by count, highest first; equal counts keep the lower level first.
std::array<uint8_t, 256> levelsByFrequency(const uint32_t* histogram);

void setSingleLevel(BinCondition& c, int v);
void setUpperBound(BinCondition& c, int v);
void setLowerBound(BinCondition& c, int v);

// What moving one bound of the range does to the rest of the condition.
enum class BoundRule : uint8_t {
    MoveOtherBound,  // the other bound follows when passed (setUpperBound / setLowerBound)
    PullThreshold,   // only the threshold follows, into the range (pullUnderUpper / pullOverLower)
};
// Upper bound := v; a threshold above it comes down to v.
void pullUnderUpper(BinCondition& c, int v);
// Lower bound := v; a threshold below it goes up to v.
void pullOverLower(BinCondition& c, int v);
void selectEqualTo(BinCondition& c);

enum class CondOp : uint8_t {
    ThresholdUp,     // walk
    ThresholdDown,   // walk
    LowestLevel,
    HighestLevel,
    UpperUp,         // walk
    UpperDown,       // walk
    UpperTo255,
    LowerDown,       // walk
    LowerUp,         // walk
    LowerTo0,
    MostFrequent,
    MoreFrequent,
    LessFrequent,
    CollapseRange,   // "Clr": bounds to the threshold, automatic flag kept
    CollapseEqual,   // bounds to the threshold, then "Equal to" only
    ToggleComparison,  // value: 0x01, 0x02 or 0x04
    SetComparison,     // value: the three comparison bits
    InvertComparison,  // value 0: only when Equal is set; 1: only when it is clear
    ToggleAuto,
    AutoOn,
    AutoOff,
    ToggleColour,      // value: 0x10, 0x20 or 0x40
    SetColour,         // value: colour bits (0x00..0x70)
};

struct ConditionOp {
    CondOp op;
    Walk walk = Walk::Plain;
    int value = 0;
};

// What the caller does after an operation: nothing, refresh the dialog and
// the view, or realize the condition from the source bitmap first.
enum class Outcome { NoChange, Refresh, Realize };

// `rule` decides what the bound steps and the collapses (Upper*, Lower*,
// Collapse*) do beside the bound they set.
Outcome applyConditionOp(BinCondition& c, const ConditionOp& op, BoundRule rule = BoundRule::MoveOtherBound);

}  // namespace tavik::viewer
