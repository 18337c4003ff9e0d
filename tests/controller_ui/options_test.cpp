// The options' rules: the window policy and its list entries, what OK stores
// in the settings and in the port data map, the monitor's size and title.
#include "controller/options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <unistd.h>

#include "common/ini_store.h"
#include "common/settings.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace tavik;
using namespace tavik::controller;

class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = folder_.emplace("options").path();
        ini_ = (dir_ / "TAVIK.ini").string();
    }
    void TearDown() override { folder_.reset(); }
    std::optional<tavik::test::TempDir> folder_;
    std::filesystem::path dir_;
    std::string ini_;
};

TEST(WindowPolicy, EntriesAndStoredValues) {
    EXPECT_EQ(policyToEntry(0), kEntryHideAlways);
    EXPECT_EQ(policyToEntry(1), kEntryAllowHide);  // hidden on request reads as "Allow to hide"
    EXPECT_EQ(policyToEntry(2), kEntryAllowHide);
    EXPECT_EQ(policyToEntry(3), kEntryShowAlways);
    EXPECT_EQ(policyToEntry(-7), kEntryAllowHide);
    EXPECT_EQ(entryToPolicy(kEntryHideAlways), 0);
    EXPECT_EQ(entryToPolicy(kEntryAllowHide), 2);
    EXPECT_EQ(entryToPolicy(kEntryShowAlways), 3);
    EXPECT_EQ(entryToPolicy(5), 2);
}

TEST_F(OptionsTest, DefaultsWithoutSettings) {
    const Options o = readOptions(ini_);
    EXPECT_FALSE(o.queryConditionAlways);
    EXPECT_FALSE(o.screenReaderFirst);
    EXPECT_EQ(o.policyEntry, kEntryAllowHide);
    EXPECT_EQ(o.monitorSize, 1);
    EXPECT_FALSE(o.keepOnTop);
}

TEST_F(OptionsTest, HiddenOnRequestReopensAsAllowToHideAndStoresTwo) {
    ASSERT_TRUE(profileWriteString("Priority", "AllowHideWindow", "1", ini_));
    ASSERT_TRUE(profileWriteString("Monitor", "Size", "9", ini_));  // never written by us
    Options o = readOptions(ini_);
    EXPECT_EQ(o.policyEntry, kEntryAllowHide);
    EXPECT_EQ(o.monitorSize, 1);
    o.monitorSize = 2;
    o.keepOnTop = true;
    o.queryConditionAlways = true;
    const OptionsEffect e = applyOptions(o, ini_, nullptr);
    EXPECT_TRUE(e.hideButtonVisible);
    EXPECT_FALSE(e.hideWindow);
    EXPECT_EQ(profileGetInt("Priority", "AllowHideWindow", -1, ini_), 2);
    EXPECT_EQ(profileGetInt("Monitor", "Size", -1, ini_), 2);
    EXPECT_EQ(profileGetInt("Monitor", "KeepOnTop", -1, ini_), 1);
    EXPECT_EQ(profileGetInt("Priority", "QueryConditionAlways", -1, ini_), 1);
    EXPECT_EQ(profileGetInt("Priority", "ScreenReaderFirst", -1, ini_), 0);
}

TEST_F(OptionsTest, PolicyEffectsOnTheWindow) {
    Options o;
    o.policyEntry = kEntryShowAlways;
    OptionsEffect e = applyOptions(o, ini_, nullptr);
    EXPECT_FALSE(e.hideButtonVisible);
    EXPECT_FALSE(e.hideWindow);
    o.policyEntry = kEntryHideAlways;
    e = applyOptions(o, ini_, nullptr);
    EXPECT_TRUE(e.hideButtonVisible);
    EXPECT_TRUE(e.hideWindow);
    EXPECT_EQ(profileGetInt("Priority", "AllowHideWindow", -1, ini_), 0);
}

TEST_F(OptionsTest, LeavingScreenReaderFirstShowsTheDefaultClient) {
    auto map = std::make_unique<PortDataMap>();
    map->screenReaderFirst = 1;
    map->foregroundSlot = 4;
    map->defaultSlot = 2;
    map->displayRequest = -1;
    map->allowHideWindow = 1;
    Options o;
    o.policyEntry = kEntryShowAlways;
    applyOptions(o, ini_, map.get());
    EXPECT_EQ(map->foregroundSlot, -1);
    EXPECT_EQ(map->displayRequest, 2);
    EXPECT_EQ(map->screenReaderFirst, 0);
    EXPECT_EQ(map->allowHideWindow, 3);

    // Not screen-reader-first before: the shown client stays.
    map->foregroundSlot = 4;
    map->displayRequest = -1;
    o.screenReaderFirst = true;
    applyOptions(o, ini_, map.get());
    EXPECT_EQ(map->foregroundSlot, 4);
    EXPECT_EQ(map->displayRequest, -1);
    EXPECT_EQ(map->screenReaderFirst, 1);
}

TEST(MonitorButton, SizeAndTitle) {
    EXPECT_EQ(monitorCellSize(0), 5);
    EXPECT_EQ(monitorCellSize(1), 10);
    EXPECT_EQ(monitorCellSize(2), 15);
    EXPECT_EQ(monitorCellSize(3), 10);
    EXPECT_EQ(monitorCellSize(-1), 10);
    SetUiLanguage(kLangEnglish);
    EXPECT_EQ(monitorTitle(0), "Monitor Window (Com1)");
    EXPECT_EQ(monitorTitle(63), "Monitor Window (Com64)");
    EXPECT_EQ(monitorTitle(64), "Monitor Window (USB1)");
    EXPECT_EQ(monitorTitle(79), "Monitor Window (USB16)");
    SetUiLanguage(kLangJapanese);
    EXPECT_EQ(monitorTitle(2), "モニターウィンドウ (Com3)");
    SetUiLanguage(kLangEnglish);
}

}  // namespace
