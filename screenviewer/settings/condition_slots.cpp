// Store and Recall of condition slots (see condition_slots.h).
#include "screenviewer/settings/condition_slots.h"

namespace tavik::lumo {

void storeCondition(ConditionSlot& slot, const BinCondition& c) {
    slot.fData = 1;
    slot.fAutoThreshfold = c.fAutoThreshfold != 0 ? 1 : 0;
    slot.bThreshfold = c.bThreshfold;
    slot.bThreshfoldMin = c.bThreshfoldMin;
    slot.bThreshfoldMax = c.bThreshfoldMax;
    slot.mode = c.bMode & kStorableModeBits;
}

bool recallCondition(const ConditionSlot& slot, BinCondition& c) {
    if (slot.fData == 0) return false;
    c.bThreshfold = slot.bThreshfold;
    c.bThreshfoldMin = slot.bThreshfoldMin;
    c.bThreshfoldMax = slot.bThreshfoldMax;
    const uint32_t mode = (slot.mode & ~kStorableModeBits) == 0 ? slot.mode : kFreshMode;
    c.bMode = static_cast<uint16_t>(mode);
    c.fAutoThreshfold = slot.fAutoThreshfold != 0 ? 1 : 0;
    return true;
}

}  // namespace tavik::lumo
