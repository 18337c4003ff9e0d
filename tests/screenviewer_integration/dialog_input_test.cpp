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

#include "common/ini_store.h"
#include "screenviewer/key_handling.h"
#include "screenviewer/sections.h"
#include "screenviewer/ui/main_dialog.h"
#include "tests/screenviewer/fake_desk.h"

using namespace lumo;

namespace {

class DialogInput : public ::testing::Test {
protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "dialog_input_test";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance()) app_ = std::make_unique<QApplication>(argc, argv);
        dir_ = std::filesystem::temp_directory_path() / ("lumo-dialog-input-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        ini_ = (dir_ / "Lumo.ini").string();
        world_.windows[100] = {{0, 0, 800, 600}, {0, 20, 800, 580}, 4100};
        world_.active = 100;
        share_ = std::make_unique<ViewerShare>();
        initialiseShare(*share_);
        viewer_ = std::make_unique<Viewer>(*share_, nullptr, configForCode(1, "Pinora PX-2"),
                                           std::make_unique<FakeDesk>(world_), std::make_unique<FakeDesk>(world_),
                                           DeviceSink{});
    }
    void TearDown() override {
        keys_.reset();
        dialog_.reset();
        viewer_.reset();
        std::filesystem::remove_all(dir_);
    }
    void open() {
        dialog_ = std::make_unique<ui::MainDialog>(*viewer_, false, ini_, [] {});
        viewer_->setScanningMode(ScanningMode::ApplicationWindow);
        viewer_->trackForeground();
        InputPorts p;
        p.emulationBox = [this](bool on) { dialog_->showEmulation(on); };
        p.mouseMove = [this](WindowId, int32_t x, int32_t y) { moves_.push_back({x, y}); };
        p.mouseDrag = [](WindowId, int32_t, int32_t, int) {};
        p.dialogCommand = [this](int id) { dialog_->runCommand(id); };
        keys_ = std::make_unique<KeyHandler>(*viewer_, std::move(p), false);
        dialog_->attachInput(*keys_);
    }
    QAction* item(int id) { return dialog_->findChild<QAction*>(QString::number(id)); }
    QAbstractButton* box(int id) { return dialog_->findChild<QAbstractButton*>(QString::number(id)); }
    int stored(const char* section, const char* key) { return tavik::profileGetInt(section, key, -1, ini_); }

    std::unique_ptr<QApplication> app_;
    std::filesystem::path dir_;
    std::string ini_;
    FakeWorld world_;
    std::unique_ptr<ViewerShare> share_;
    std::unique_ptr<Viewer> viewer_;
    std::unique_ptr<ui::MainDialog> dialog_;
    std::unique_ptr<KeyHandler> keys_;
    std::vector<std::pair<int32_t, int32_t>> moves_;
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
