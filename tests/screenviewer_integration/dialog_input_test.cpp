// The main dialog with the device input attached, on Qt offscreen: the
// settings it hands to the keys at start, the Function Filter menu and its
// side effects, the commands the keys send, and what Exit and Close write.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>

#include <filesystem>
#include <fstream>
#include <memory>

#include "tests/support/main_dialog_rig.h"

using namespace lumo;

namespace {

class DialogInput : public ::testing::Test, protected test::MainDialogRig {
protected:
    DialogInput() : MainDialogRig("dialog-input") {}
    // The dialog in English, not shown, scanning the application window in front.
    void open() {
        openDialog(false);
        viewer_->setScanningMode(ScanningMode::ApplicationWindow);
        viewer_->trackForeground();
    }
};

TEST_F(DialogInput, SettingsReachTheKeysAndTheMenuTogglesWithItsSideEffects) {
    std::ofstream(ini_) << "[OperationFilter]\nColorMask=1\nThreshfoldRange=0\n"
                           "[Condition2]\nfData=1\nfAutoThreshfold=0\nbThreshfold=77\nbThreshfoldMin=70\n"
                           "bThreshfoldMax=80\nbBinMode=2\n";
    open();
    for (int id : {527, 529, 530, 531, 532, 533, 534, 535}) ASSERT_NE(item(id), nullptr) << id;
    ASSERT_NE(box(272), nullptr);
    EXPECT_TRUE(item(527)->isChecked());
    EXPECT_TRUE(item(532)->isChecked());
    EXPECT_FALSE(item(531)->isChecked());
    EXPECT_TRUE(keys_->filters().colorMask);
    EXPECT_FALSE(keys_->filters().thresholdRange);
    EXPECT_EQ(keys_->conditions()[1].bThreshfold, 77);
    EXPECT_EQ(keys_->conditions()[0].fData, 0);

    // Range on also switches the manual threshold on; manual off takes the range along.
    item(530)->trigger();
    EXPECT_FALSE(keys_->filters().manualThreshold);
    item(531)->trigger();
    EXPECT_TRUE(keys_->filters().thresholdRange);
    EXPECT_TRUE(keys_->filters().manualThreshold);
    EXPECT_TRUE(item(530)->isChecked());

    // Commands the keys send: a comparison toggle switches the automatic threshold off.
    ViewRecord& r = viewer_->current();
    ASSERT_EQ(r.condition.fAutoThreshfold, 1);
    keys_->onKey(4, 0x02, 0x20);  // Dark only from Light and Dark: 277
    EXPECT_EQ(r.condition.bMode & (BIN_LIGHT | BIN_EQUAL | BIN_DARK), BIN_DARK);
    EXPECT_EQ(r.condition.fAutoThreshfold, 0);

    // Mouse emulation from the box; the filter switched off stops it and greys the box.
    box(272)->click();
    EXPECT_TRUE(keys_->emulating());
    EXPECT_TRUE(box(272)->isChecked());
    EXPECT_FALSE(moves_.empty());
    item(529)->trigger();
    EXPECT_FALSE(keys_->emulating());
    EXPECT_FALSE(box(272)->isChecked());
    EXPECT_FALSE(box(272)->isEnabled());

    // The colour keys' filter switched off clears the colour bits.
    r.condition.bMode |= BIN_RED;
    item(532)->trigger();
    EXPECT_EQ(r.condition.bMode & (BIN_RED | BIN_GREEN | BIN_BLUE), 0);

    // Close writes everything, "ViewFrame" included, and the stored conditions.
    item(527)->trigger();
    EXPECT_FALSE(viewer_->frameEnabled());
    keys_->onBroadcast(0x40, 0, 0);  // ShiftUp: the histogram page takes the condition keys
    keys_->onKey(4, 0x05, 0xA0);     // ConditionMemory is off: nothing stored
    EXPECT_EQ(keys_->conditions()[0].fData, 0);
    item(533)->trigger();
    keys_->onKey(4, 0x05, 0xA0);  // store into Condition1
    EXPECT_EQ(keys_->conditions()[0].fData, 1);
    dialog_->close();
    EXPECT_EQ(stored("Browse", "ViewFrame"), 0);
    EXPECT_EQ(stored("OperationFilter", "MouseEmulation"), 0);
    EXPECT_EQ(stored("OperationFilter", "ColorMask"), 0);
    EXPECT_EQ(stored("OperationFilter", "ConditionMemory"), 1);
    EXPECT_EQ(stored("Condition1", "fData"), 1);
    EXPECT_EQ(stored("Condition1", "bBinMode") & (BIN_LIGHT | BIN_EQUAL | BIN_DARK), BIN_DARK);
    EXPECT_EQ(stored("Condition2", "bThreshfold"), 77);
}

TEST_F(DialogInput, ExitLeavesViewFrameAlone) {
    open();
    item(527)->trigger();
    EXPECT_FALSE(item(527)->isChecked());
    box(281)->click();
    EXPECT_EQ(stored("Browse", "ViewFrame"), -1);
    EXPECT_EQ(stored("Browse", "ScanningMode"), 1);
    EXPECT_EQ(stored("OperationFilter", "ColorMask"), 0);
}

}  // namespace
