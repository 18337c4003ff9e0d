// Condition operations: walks over the histogram, the frequency order, the
// bound steps and their effect on the range and comparison bits.
#include <gtest/gtest.h>

#include "client/viewer/condition_ops.h"

using namespace tavik::viewer;

namespace {

BinCondition withLevels(std::initializer_list<std::pair<int, uint32_t>> counts) {
    BinCondition c{};
    c.bMode = BIN_LIGHT | BIN_DARK;
    for (auto [level, count] : counts) c.adwHistogram[level] = count;
    return c;
}

}  // namespace

TEST(ConditionWalks, PlainStepsVisitEveryOccurringLevel) {
    BinCondition c = withLevels({{10, 1}, {40, 1}, {200, 1}});
    c.fAutoThreshfold = 1;
    setSingleLevel(c, 10);
    EXPECT_EQ(applyConditionOp(c, {CondOp::ThresholdUp}), Outcome::Refresh);
    EXPECT_EQ(c.bThreshfold, 40);
    EXPECT_EQ(c.fAutoThreshfold, 0);
    EXPECT_EQ(applyConditionOp(c, {CondOp::ThresholdUp}), Outcome::Refresh);
    EXPECT_EQ(c.bThreshfold, 200);
    EXPECT_EQ(applyConditionOp(c, {CondOp::ThresholdUp}), Outcome::NoChange);
    EXPECT_EQ(c.bThreshfold, 200);
    EXPECT_EQ(applyConditionOp(c, {CondOp::ThresholdDown}), Outcome::Refresh);
    EXPECT_EQ(c.bThreshfold, 40);
}

TEST(ConditionWalks, JumpTakesTheFarthestLevelWithinSixteenSteps) {
    BinCondition c = withLevels({{11, 1}, {20, 1}, {26, 1}, {27, 1}, {90, 1}});
    EXPECT_EQ(walkLevels(c.adwHistogram, 11, 255, Walk::Jump), 26);  // 11..26 are the first 16 levels
    EXPECT_EQ(walkLevels(c.adwHistogram, 28, 255, Walk::Jump), 90);  // none near: the first one after
    EXPECT_EQ(walkLevels(c.adwHistogram, 91, 255, Walk::Jump), -1);
    EXPECT_EQ(walkLevels(c.adwHistogram, 30, 0, Walk::Jump), 20);  // 30 down to 15
    EXPECT_EQ(walkLevels(c.adwHistogram, 256, 255, Walk::Plain), -1);
    // Nothing found above: the plain walk keeps a single level, the jump walk always collapses.
    setSingleLevel(c, 90);
    EXPECT_EQ(applyConditionOp(c, {CondOp::ThresholdUp, Walk::Plain}), Outcome::NoChange);
    setLowerBound(c, 27);
    ASSERT_TRUE(c.bMode & BIN_RANGE);
    EXPECT_EQ(applyConditionOp(c, {CondOp::ThresholdUp, Walk::Jump}), Outcome::Refresh);
    EXPECT_EQ(c.bThreshfold, 90);
    EXPECT_EQ(c.bThreshfoldMin, 90);
    EXPECT_FALSE(c.bMode & BIN_RANGE);
}

TEST(ConditionWalks, FrequencyOrderKeepsLowerLevelFirstOnTies) {
    BinCondition c = withLevels({{3, 5}, {7, 5}, {100, 2}});
    const auto order = levelsByFrequency(c.adwHistogram);
    EXPECT_EQ(order[0], 3);
    EXPECT_EQ(order[1], 7);
    EXPECT_EQ(order[2], 100);
    EXPECT_EQ(order[3], 0);
    EXPECT_EQ(applyConditionOp(c, {CondOp::MostFrequent}), Outcome::Refresh);
    EXPECT_EQ(c.bThreshfold, 3);
    EXPECT_EQ(c.bMode & 0x0F, BIN_EQUAL);
    EXPECT_EQ(applyConditionOp(c, {CondOp::LessFrequent}), Outcome::Refresh);
    EXPECT_EQ(c.bThreshfold, 7);
    EXPECT_EQ(applyConditionOp(c, {CondOp::LessFrequent}), Outcome::Refresh);
    EXPECT_EQ(c.bThreshfold, 100);
    EXPECT_EQ(applyConditionOp(c, {CondOp::LessFrequent}), Outcome::NoChange);  // next has count 0
    EXPECT_EQ(applyConditionOp(c, {CondOp::MoreFrequent}), Outcome::Refresh);
    EXPECT_EQ(c.bThreshfold, 7);
    // From a level that does not occur, "more frequent" finds the nearest one that does.
    setSingleLevel(c, 50);
    EXPECT_EQ(applyConditionOp(c, {CondOp::MoreFrequent}), Outcome::Refresh);
    EXPECT_EQ(c.bThreshfold, 100);
}

TEST(ConditionBounds, RangeStepsCollapseAndLimits) {
    BinCondition c = withLevels({{10, 1}, {60, 1}, {200, 1}});
    setSingleLevel(c, 60);
    // "255" on the upper row: range mode, upper 255, "Equal to" only.
    c.bMode |= BIN_LIGHT | BIN_DARK | 0x08;
    EXPECT_EQ(applyConditionOp(c, {CondOp::UpperTo255}), Outcome::Refresh);
    EXPECT_EQ(c.bThreshfoldMax, 255);
    EXPECT_TRUE(c.bMode & BIN_RANGE);
    EXPECT_EQ(c.bMode & 0x0F, BIN_EQUAL);
    EXPECT_EQ(applyConditionOp(c, {CondOp::UpperUp}), Outcome::NoChange);
    EXPECT_EQ(applyConditionOp(c, {CondOp::UpperDown}), Outcome::Refresh);
    EXPECT_EQ(c.bThreshfoldMax, 200);
    EXPECT_EQ(applyConditionOp(c, {CondOp::LowerDown}), Outcome::Refresh);
    EXPECT_EQ(c.bThreshfoldMin, 10);
    EXPECT_EQ(applyConditionOp(c, {CondOp::LowerDown}), Outcome::NoChange);  // nothing below 10
    EXPECT_EQ(applyConditionOp(c, {CondOp::LowerUp}), Outcome::Refresh);
    EXPECT_EQ(c.bThreshfoldMin, 60);
    // The upper bound walks down no further than the lower bound.
    EXPECT_EQ(applyConditionOp(c, {CondOp::UpperDown}), Outcome::Refresh);
    EXPECT_EQ(c.bThreshfoldMax, 60);
    EXPECT_FALSE(c.bMode & BIN_RANGE);
    EXPECT_EQ(applyConditionOp(c, {CondOp::UpperDown}), Outcome::NoChange);
    // "Clr": bounds 10..200 become the threshold; the automatic flag stays.
    setLowerBound(c, 10);
    setUpperBound(c, 200);
    c.bThreshfold = 77;
    c.fAutoThreshfold = 1;
    EXPECT_EQ(applyConditionOp(c, {CondOp::CollapseRange}), Outcome::Refresh);
    EXPECT_EQ(c.bThreshfoldMin, 77);
    EXPECT_EQ(c.bThreshfoldMax, 77);
    EXPECT_FALSE(c.bMode & BIN_RANGE);
    EXPECT_EQ(c.fAutoThreshfold, 1);
}

TEST(ConditionBits, ColourAutoAndComparisonChanges) {
    BinCondition c{};
    c.bMode = BIN_ERASE_GRID | BIN_LIGHT | BIN_RED;
    EXPECT_EQ(applyConditionOp(c, {CondOp::ToggleColour, Walk::Plain, BIN_GREEN}), Outcome::Realize);
    EXPECT_EQ(c.bMode, BIN_ERASE_GRID | BIN_LIGHT | BIN_RED | BIN_GREEN);
    EXPECT_EQ(applyConditionOp(c, {CondOp::SetColour, Walk::Plain, 0}), Outcome::Realize);
    EXPECT_EQ(c.bMode, BIN_ERASE_GRID | BIN_LIGHT);
    EXPECT_EQ(applyConditionOp(c, {CondOp::ToggleAuto}), Outcome::Realize);
    EXPECT_EQ(c.fAutoThreshfold, 1);
    EXPECT_EQ(applyConditionOp(c, {CondOp::ToggleAuto}), Outcome::Refresh);
    EXPECT_EQ(c.fAutoThreshfold, 0);
    // Keypad 11: inverts only when "Equal to" matches the key's state.
    EXPECT_EQ(applyConditionOp(c, {CondOp::InvertComparison, Walk::Plain, 0}), Outcome::NoChange);
    EXPECT_EQ(applyConditionOp(c, {CondOp::InvertComparison, Walk::Plain, 1}), Outcome::Refresh);
    EXPECT_EQ(c.bMode & 0x07, BIN_EQUAL | BIN_DARK);
    EXPECT_EQ(applyConditionOp(c, {CondOp::SetComparison, Walk::Plain, BIN_LIGHT | BIN_DARK}), Outcome::Refresh);
    EXPECT_EQ(c.bMode, BIN_ERASE_GRID | BIN_LIGHT | BIN_DARK);
}
