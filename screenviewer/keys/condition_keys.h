// Applies a Condition action of the key tables (or the Function Filter
// menu's "threshold to the commonest level") to the current ViewRecord's
// condition: the library viewer's condition operations, except that the
// walks over the histogram change nothing when the histogram is empty and
// that a bound that moves pulls the threshold into the range (the other
// bound stays where it is).
//
// Core use: for KeyAct::Condition call applyKeyCondition(record.condition,
// action.cond); on Outcome::NoChange nothing is published.
#pragma once

#include "client/viewer/condition_ops.h"

namespace tavik::lumo {

viewer::Outcome applyKeyCondition(BinCondition& condition, const viewer::ConditionOp& op);
// The menu's reset when a threshold filter is switched off.
viewer::Outcome thresholdToCommonest(BinCondition& condition);

}  // namespace tavik::lumo
