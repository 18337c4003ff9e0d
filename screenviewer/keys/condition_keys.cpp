// Condition actions of the keys (see condition_keys.h).
#include "screenviewer/keys/condition_keys.h"

#include <algorithm>

namespace tavik::lumo {

viewer::Outcome applyKeyCondition(BinCondition& c, const viewer::ConditionOp& op) {
    using viewer::CondOp;
    const bool walk = op.op == CondOp::MostFrequent || op.op == CondOp::MoreFrequent ||
                      op.op == CondOp::LessFrequent || op.op == CondOp::LowestLevel ||
                      op.op == CondOp::HighestLevel;
    if (walk && std::all_of(std::begin(c.adwHistogram), std::end(c.adwHistogram), [](uint32_t n) { return n == 0; }))
        return viewer::Outcome::NoChange;
    // A bound that moves pulls the threshold into the range (the other bound stays).
    return viewer::applyConditionOp(c, op, viewer::BoundRule::PullThreshold);
}

viewer::Outcome thresholdToCommonest(BinCondition& c) {
    return applyKeyCondition(c, viewer::ConditionOp{viewer::CondOp::MostFrequent});
}

}  // namespace tavik::lumo
