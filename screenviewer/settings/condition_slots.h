// Stored binarization conditions: the four slots "Condition1".."Condition4"
// kept in Lumo.ini and the three bookmark slots of every view record share
// this 16-byte layout. Store and Recall copy between a slot and a condition.
//
// Core use: Store(slot) on a store key / ConditionStore action with the
// current ViewRecord's condition; Recall on a recall key, then PublishView.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/lumoutil.h"

namespace tavik::lumo {

struct ConditionSlot {
    int32_t fData = 0;            // 1: the slot holds a condition
    int32_t fAutoThreshfold = 0;
    uint8_t bThreshfold = 0;
    uint8_t bThreshfoldMin = 0;
    uint8_t bThreshfoldMax = 0;
    uint8_t spare = 0;
    uint32_t mode = 0;            // the condition's bMode ("bBinMode" in the file)
    bool operator==(const ConditionSlot&) const = default;
};
static_assert(sizeof(ConditionSlot) == 16);
static_assert(offsetof(ConditionSlot, fAutoThreshfold) == 4);
static_assert(offsetof(ConditionSlot, bThreshfold) == 8);
static_assert(offsetof(ConditionSlot, bThreshfoldMin) == 9);
static_assert(offsetof(ConditionSlot, bThreshfoldMax) == 10);
static_assert(offsetof(ConditionSlot, mode) == 12);

// Comparison, colour, range and effect bits a stored mode may carry.
constexpr uint32_t kStorableModeBits = 0xE0F7;
// The mode of a fresh view record (Light and Dark).
constexpr uint32_t kFreshMode = BIN_LIGHT | BIN_DARK;

// Fills the slot from the condition (fData := 1).
void storeCondition(ConditionSlot& slot, const BinCondition& condition);
// Copies the slot into the condition when it holds one; false (condition
// untouched) when fData is 0. A mode with bits outside kStorableModeBits (a
// slot filled by another process through the shared records) is not copied
// as it stands: the condition takes kFreshMode instead.
bool recallCondition(const ConditionSlot& slot, BinCondition& condition);

}  // namespace tavik::lumo
