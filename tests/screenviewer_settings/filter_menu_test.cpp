// Function Filter menu: the items that drag others along and the side effects
// the dialog must carry out.
#include <gtest/gtest.h>

#include "screenviewer/settings/filter_menu.h"

using namespace tavik::lumo;

TEST(FilterMenu, RangeAndManualThresholdItemsMoveTogether) {
    FunctionFilters f;
    f.manualThreshold = false;
    f.thresholdRange = false;
    bool frame = true, locked = false;
    MenuEffects e = toggleMenuItem(kMenuThresholdRange, f, frame, locked);
    EXPECT_TRUE(f.thresholdRange);
    EXPECT_TRUE(f.manualThreshold);
    EXPECT_FALSE(e.thresholdToCommonest);

    e = toggleMenuItem(kMenuManualThreshold, f, frame, locked);
    EXPECT_FALSE(f.manualThreshold);
    EXPECT_FALSE(f.thresholdRange);
    EXPECT_TRUE(e.thresholdToCommonest);

    f.manualThreshold = f.thresholdRange = true;
    e = toggleMenuItem(kMenuThresholdRange, f, frame, locked);
    EXPECT_FALSE(f.thresholdRange);
    EXPECT_TRUE(f.manualThreshold);
    EXPECT_TRUE(e.thresholdToCommonest);
}

TEST(FilterMenu, SwitchingOffCarriesItsSideEffects) {
    FunctionFilters f;
    bool frame = true, locked = true;
    MenuEffects e = toggleMenuItem(kMenuMouseEmulation, f, frame, locked);
    EXPECT_TRUE(e.stopEmulation && e.publishView && e.disableEmulationBox);
    e = toggleMenuItem(kMenuMouseEmulation, f, frame, locked);
    EXPECT_TRUE(e.enableEmulationBox);
    EXPECT_FALSE(e.stopEmulation);

    f.colorMask = true;
    EXPECT_TRUE(toggleMenuItem(kMenuColorMask, f, frame, locked).clearColourBits);
    EXPECT_FALSE(toggleMenuItem(kMenuColorMask, f, frame, locked).clearColourBits);

    f.operationLock = true;
    e = toggleMenuItem(kMenuOperationLock, f, frame, locked);
    EXPECT_TRUE(e.releaseLock);
    EXPECT_FALSE(locked);
    e = toggleMenuItem(kMenuOperationLock, f, frame, locked);
    EXPECT_TRUE(f.operationLock);
    EXPECT_FALSE(locked);  // switching on never locks

    e = toggleMenuItem(kMenuViewFrame, f, frame, locked);
    EXPECT_FALSE(frame);
    EXPECT_TRUE(e.stopFrame);
    e = toggleMenuItem(kMenuViewFrame, f, frame, locked);
    EXPECT_TRUE(e.startFrame);

    const FunctionFilters before = f;
    EXPECT_FALSE(toggleMenuItem(528, f, frame, locked).handled);
    EXPECT_EQ(f, before);

    const auto checks = menuChecks(f, frame);
    EXPECT_EQ(checks[5].id, kMenuOperationLock);
    EXPECT_TRUE(checks[5].checked);
    EXPECT_EQ(checks[7].id, kMenuViewFrame);
    EXPECT_TRUE(checks[7].checked);
}
