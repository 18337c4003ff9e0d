// View arithmetic: zoom limits, edges, positioning.
#include <gtest/gtest.h>

#include "client/viewer/view_math.h"

using namespace tavik::viewer;

TEST(ViewMath, Placeholder) { EXPECT_EQ(fitDivision({640, 480, 64, 48}), 10); }
