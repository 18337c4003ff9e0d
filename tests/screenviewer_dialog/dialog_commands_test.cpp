// The main dialog on Qt offscreen, in English and in Japanese, with the
// device input attached as in the program: every command id reached through
// its control (by object name), its menu item, the Enter key or the command
// path the device keys use, checked on the viewer, the keys' state and
// Lumo.ini; every closing path with what it writes and the result it ends with.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QRegularExpression>
#include <QKeyEvent>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <memory>

#include "tests/support/main_dialog_rig.h"

using namespace lumo;

namespace {

class DialogCommands : public ::testing::TestWithParam<bool>, protected test::MainDialogRig {
protected:
    DialogCommands() : MainDialogRig("dialog-commands") {}
    bool japanese() const { return GetParam(); }
    // The dialog shown, following the window in front, with nothing left to hand over.
    void open() {
        openDialog(japanese());
        dialog_->show();
        viewer_->trackForeground();
        drain();
    }
    QLabel* text273() { return dialog_->findChild<QLabel*>("273"); }
    bool timerRunning() { return dialog_->findChild<QTimer*>("timer1")->isActive(); }
    // A key pressed and released on `w` as the keyboard would deliver it.
    static void press(QWidget* w, Qt::Key key) {
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier), up(QEvent::KeyRelease, key, Qt::NoModifier);
        QApplication::sendEvent(w, &down);
        QApplication::sendEvent(w, &up);
    }
};

TEST_P(DialogCommands, EveryControlCarriesItsIdAndTheTextsOfItsLanguage) {
    open();
    const bool ja = japanese();
    EXPECT_EQ(dialog_->objectName(), "256");
    for (int id : {257, 258, 264, 265, 266, 267, 268, 269, 270, 271, 272, 281, 282})
        ASSERT_NE(box(id), nullptr) << id;
    ASSERT_NE(text273(), nullptr);
    for (int id : {527, 529, 530, 531, 532, 533, 534, 535, ui::MainDialog::kSysClose}) ASSERT_NE(item(id), nullptr) << id;
    EXPECT_EQ(box(281)->text(), ja ? QString::fromUtf8("終了") : QString("Exit"));
    EXPECT_EQ(box(282)->text(), ja ? QString::fromUtf8("隠す") : QString("Hide"));
    EXPECT_EQ(box(258)->text(), ja ? QString::fromUtf8("全画面") : QString("FullScreen"));
    EXPECT_EQ(box(268)->text(), ja ? QString::fromUtf8("なし") : QString("None"));
    EXPECT_EQ(box(271)->text(), "0.5sec");
    EXPECT_EQ(item(529)->text() == "Mouse Emulation Functions", !ja);

    // Without the hot key the title lacks it and Hide is greyed; with it both come back.
    EXPECT_EQ(dialog_->windowTitle(), "Lumo Ver 4.2.0");
    EXPECT_FALSE(box(282)->isEnabled());
    dialog_->setHotKeyTitle(true);
    EXPECT_EQ(dialog_->windowTitle(), ja ? QString::fromUtf8("Lumo Ver 4.2.0 (ホットキー=Win+Alt+V)")
                                         : QString("Lumo Ver 4.2.0 (Hotkey=Win+Alt+V)"));
    EXPECT_TRUE(box(282)->isEnabled());

    // No Lumo.ini: focus-sync on the application window, no refresh, the frame on.
    EXPECT_TRUE(box(257)->isChecked());
    EXPECT_TRUE(box(264)->isChecked());
    EXPECT_TRUE(box(268)->isChecked());
    EXPECT_TRUE(item(527)->isChecked());
    EXPECT_EQ(text273()->text(), "");
}

TEST_P(DialogCommands, DisplayRangeModesAndZoomChangeTheView) {
    open();
    box(258)->click();
    EXPECT_EQ(viewer_->scanningMode(), ScanningMode::FullScreen);
    EXPECT_EQ(cur().keyWindow, 0u);
    EXPECT_TRUE(box(258)->isChecked());
    EXPECT_FALSE(box(264)->isChecked());
    EXPECT_TRUE(drain());
    box(257)->click();
    EXPECT_EQ(viewer_->scanningMode(), ScanningMode::ApplicationWindow);
    viewer_->trackForeground();
    EXPECT_EQ(cur().keyWindow, 100u);
    EXPECT_FALSE(box(264)->isChecked());

    box(264)->click();
    EXPECT_EQ(viewer_->scanningMode(), ScanningMode::FocusSync);
    EXPECT_TRUE(box(264)->isChecked());
    box(264)->click();
    EXPECT_EQ(viewer_->scanningMode(), ScanningMode::ApplicationWindow);
    box(265)->click();
    EXPECT_TRUE(viewer_->mouseSync());
    EXPECT_TRUE(box(265)->isChecked());
    box(265)->click();
    EXPECT_FALSE(viewer_->mouseSync());

    // Zoom by the device keys' command ids: out doubles the pixels per pin, in halves them.
    dialog_->runCommand(262);
    EXPECT_EQ(cur().cellWidth, 2);
    EXPECT_EQ(cur().cellHeight, 2);
    dialog_->runCommand(262);
    EXPECT_EQ(cur().cellWidth, 4);
    dialog_->runCommand(263);
    EXPECT_EQ(cur().cellWidth, 2);

    box(266)->click();  // the overview comes with the ViewScope on
    EXPECT_EQ(cur().overview, 1);
    EXPECT_EQ(cur().cellWidth, 19);  // the whole 800 x 600 window on 48 x 32 pins
    EXPECT_TRUE(box(266)->isChecked());
    EXPECT_EQ(cur().viewScope, 1);
    EXPECT_TRUE(box(267)->isChecked());
    box(267)->click();
    EXPECT_EQ(cur().viewScope, 0);
    EXPECT_FALSE(box(267)->isChecked());
    EXPECT_EQ(cur().overview, 1);
    box(267)->click();
    EXPECT_EQ(cur().viewScope, 1);
    box(266)->click();  // back to the detail view it came from
    EXPECT_EQ(cur().overview, 0);
    EXPECT_EQ(cur().cellWidth, 2);
    EXPECT_FALSE(box(267)->isChecked());
}

TEST_P(DialogCommands, RefreshChoiceRestartsTheCountAndTakesTheFocus) {
    open();
    for (int i = 0; i < 5; ++i) viewer_->onTimerTick([this] { ++started_; });  // the start countdown
    EXPECT_EQ(started_, 1);
    drain();
    box(271)->click();  // every fifth tick
    EXPECT_EQ(viewer_->refreshChoice(), 3);
    EXPECT_EQ(dialog_->focusWidget(), box(271));
    for (int i = 0; i < 4; ++i) {
        viewer_->onTimerTick({});
        EXPECT_FALSE(drain()) << i;
    }
    viewer_->onTimerTick({});
    EXPECT_TRUE(drain());
    // Three ticks into the next period, 0.2 s starts counting again: its second tick is due, not its first.
    for (int i = 0; i < 3; ++i) viewer_->onTimerTick({});
    box(270)->click();
    drain();
    viewer_->onTimerTick({});
    EXPECT_FALSE(drain());
    viewer_->onTimerTick({});
    EXPECT_TRUE(drain());
    EXPECT_TRUE(box(270)->isChecked());
    EXPECT_FALSE(box(271)->isChecked());
    // The device keys' command moves the radio and the focus as a click does.
    dialog_->runCommand(269);
    EXPECT_EQ(viewer_->refreshChoice(), 1);
    EXPECT_TRUE(box(269)->isChecked());
    EXPECT_EQ(dialog_->focusWidget(), box(269));
    box(268)->click();
    for (int i = 0; i < 10; ++i) viewer_->onTimerTick({});
    EXPECT_FALSE(drain());  // "None": never periodic
}

TEST_P(DialogCommands, EnterResendsEverythingAndEscapeNeitherClosesNorHides) {
    open();
    EXPECT_FALSE(viewer_->forcePending());
    box(265)->setFocus();
    press(box(265), Qt::Key_Return);
    EXPECT_TRUE(viewer_->forcePending());
    EXPECT_TRUE(drain());
    EXPECT_TRUE(dialog_->isVisible());  // not the default button's Hide
    EXPECT_FALSE(viewer_->mouseSync());
    press(box(265), Qt::Key_Escape);
    EXPECT_TRUE(dialog_->isVisible());
    EXPECT_TRUE(timerRunning());
    EXPECT_FALSE(std::filesystem::exists(ini_));
}

TEST_P(DialogCommands, EmulationAndConditionCommandsReachTheCurrentCondition) {
    open();
    box(272)->click();
    EXPECT_TRUE(keys_->emulating());
    EXPECT_TRUE(box(272)->isChecked());
    const QRegularExpression position("^X:-?\\d+, Y:-?\\d+ \\(pixels\\)$");
    EXPECT_TRUE(position.match(text273()->text()).hasMatch()) << text273()->text().toStdString();
    box(272)->click();
    EXPECT_FALSE(keys_->emulating());
    EXPECT_FALSE(box(272)->isChecked());
    EXPECT_EQ(text273()->text(), "");

    BinCondition& c = cur().condition;
    ASSERT_EQ(c.fAutoThreshfold, 1);
    ASSERT_EQ(c.bThreshfold, 128);
    // The threshold walks over the grey levels the picture has.
    for (int level : {100, 128, 160}) c.adwHistogram[level] = 50;
    drain();
    dialog_->runCommand(275);
    EXPECT_EQ(c.fAutoThreshfold, 0);
    EXPECT_EQ(c.bThreshfold, 160);
    EXPECT_TRUE(drain());
    dialog_->runCommand(276);
    EXPECT_EQ(c.bThreshfold, 128);
    dialog_->runCommand(276);
    EXPECT_EQ(c.bThreshfold, 100);
    const int mode = c.bMode;  // Light and Dark
    dialog_->runCommand(280);
    EXPECT_EQ(c.fAutoThreshfold, 1);
    dialog_->runCommand(278);  // a comparison switches the automatic threshold off first
    EXPECT_EQ(c.fAutoThreshfold, 0);
    EXPECT_EQ(c.bMode, mode | BIN_EQUAL);
    dialog_->runCommand(277);
    EXPECT_EQ(c.bMode, (mode | BIN_EQUAL) & ~BIN_LIGHT);
    dialog_->runCommand(279);
    EXPECT_EQ(c.bMode, BIN_EQUAL);
    dialog_->runCommand(280);
    dialog_->runCommand(280);
    EXPECT_EQ(c.fAutoThreshfold, 0);
    EXPECT_TRUE(drain());
}

TEST_P(DialogCommands, MenuItemsSwitchTheFiltersAndTheFrame) {
    open();
    const auto before = keys_->filters();
    item(533)->trigger();
    EXPECT_EQ(keys_->filters().conditionMemory, !before.conditionMemory);
    EXPECT_EQ(item(533)->isChecked(), keys_->filters().conditionMemory);
    item(534)->trigger();
    EXPECT_EQ(keys_->filters().operationLock, !before.operationLock);
    item(535)->trigger();
    EXPECT_EQ(keys_->filters().eightDirections, !before.eightDirections);
    item(530)->trigger();  // manual off takes the range along
    EXPECT_FALSE(keys_->filters().manualThreshold);
    EXPECT_FALSE(keys_->filters().thresholdRange);
    EXPECT_FALSE(item(531)->isChecked());
    item(531)->trigger();  // range on brings manual back
    EXPECT_TRUE(item(530)->isChecked());
    cur().condition.bMode |= BIN_GREEN;
    if (!keys_->filters().colorMask) item(532)->trigger();
    item(532)->trigger();
    EXPECT_EQ(cur().condition.bMode & BIN_GREEN, 0);
    item(529)->trigger();
    EXPECT_FALSE(box(272)->isEnabled());
    item(529)->trigger();
    EXPECT_TRUE(box(272)->isEnabled());
    const size_t hides = world_.hides;
    item(527)->trigger();
    EXPECT_FALSE(viewer_->frameEnabled());
    EXPECT_GT(world_.hides, hides);
    item(527)->trigger();
    EXPECT_TRUE(viewer_->frameEnabled());
}

// The "Lumo" menu by keyboard alone: Alt+L and F10 open it, Right opens "Function Filter" at its
// first item, Enter switches that filter.
TEST_P(DialogCommands, TheLumoMenuOpensFromTheKeyboardAndItsFiltersSwitchWithIt) {
    open();
    dialog_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
    auto* system = dialog_->findChild<QMenu*>("system");
    auto* filters = dialog_->findChild<QMenu*>("528");
    ASSERT_TRUE(system && filters);
    const bool before = keys_->filters().mouseEmulation;
    const std::pair<Qt::Key, Qt::KeyboardModifiers> ways[] = {{Qt::Key_L, Qt::AltModifier}, {Qt::Key_F10, {}}};
    bool expected = before;
    for (const auto& [key, modifiers] : ways) {
        QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : dialog_.get();
        QTest::keyClick(focus, key, modifiers);
        ASSERT_TRUE(QTest::qWaitFor([&] { return system->isVisible(); }, 5000)) << "key " << key;
        QTest::keyClick(system, Qt::Key_Right);
        ASSERT_TRUE(QTest::qWaitFor([&] { return filters->isVisible(); }, 5000));
        QTest::keyClick(filters, Qt::Key_Return);
        expected = !expected;
        EXPECT_EQ(keys_->filters().mouseEmulation, expected) << "key " << key;
        EXPECT_EQ(item(529)->isChecked(), expected);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !system->isVisible(); }, 5000));  // closed by the choice
    }
}

// What each way out of the dialog writes and ends with.
TEST_P(DialogCommands, ExitWritesAllButTheFrameAndEndsWithOne) {
    open();
    item(527)->trigger();
    box(271)->click();
    item(533)->trigger();
    box(281)->click();
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(dialog_->result(), 1);
    EXPECT_FALSE(timerRunning());
    EXPECT_EQ(stored("Browse", "Refresh"), 3);
    EXPECT_EQ(stored("Browse", "ScanningMode"), 2);
    EXPECT_EQ(stored("Browse", "ViewFrame"), -1);
    EXPECT_EQ(stored("OperationFilter", "ConditionMemory"), 1);
    EXPECT_EQ(stored("Condition1", "fData"), 0);
}

TEST_P(DialogCommands, SystemCloseAndTheCloseBoxWriteTheFrameTooAndEndWithZero) {
    std::ofstream(ini_) << "[Browse]\nViewFrame=1\nScanningMode=0\n";
    open();
    EXPECT_TRUE(box(258)->isChecked());
    item(527)->trigger();
    item(ui::MainDialog::kSysClose)->trigger();
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(dialog_->result(), 0);
    EXPECT_FALSE(timerRunning());
    EXPECT_EQ(stored("Browse", "ViewFrame"), 0);
    EXPECT_EQ(stored("Browse", "ScanningMode"), 0);
    EXPECT_EQ(stored("OperationFilter", "MouseEmulation"), 1);

    // The close box of a second run: the same, once.
    std::filesystem::remove(ini_);
    dialog_.reset();
    open();
    dialog_->close();
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(dialog_->result(), 0);
    EXPECT_EQ(stored("Browse", "ViewFrame"), 1);
}

TEST_P(DialogCommands, TheEndOfTheSessionSavesAsExitAndHideOnlyHides) {
    open();
    dialog_->setHotKeyTitle(true);
    box(265)->click();
    box(282)->click();
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_TRUE(timerRunning());
    EXPECT_FALSE(std::filesystem::exists(ini_));
    dialog_->bringForward();
    EXPECT_TRUE(dialog_->isVisible());
    item(527)->trigger();
    dialog_->endSession();
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(dialog_->result(), 1);
    EXPECT_FALSE(timerRunning());
    EXPECT_EQ(stored("Browse", "MouseSync"), 1);
    EXPECT_EQ(stored("Browse", "ViewFrame"), -1);
    // A close that follows (the window system's) writes nothing more.
    std::filesystem::remove(ini_);
    dialog_->close();
    EXPECT_FALSE(std::filesystem::exists(ini_));
}

TEST_P(DialogCommands, TheAutostartItemWritesAndRemovesTheEntry) {
    open();
    QAction* autostart = dialog_->findChild<QAction*>("autostart");
    ASSERT_NE(autostart, nullptr);
    EXPECT_FALSE(autostart->isChecked());
    const auto entry = dir_ / "config/autostart/Lumo.desktop";
    autostart->trigger();
    EXPECT_TRUE(autostart->isChecked());
    EXPECT_TRUE(std::filesystem::exists(entry));
    // A dialog opened later finds it on.
    dialog_.reset();
    open();
    autostart = dialog_->findChild<QAction*>("autostart");
    EXPECT_TRUE(autostart->isChecked());
    autostart->trigger();
    EXPECT_FALSE(autostart->isChecked());
    EXPECT_FALSE(std::filesystem::exists(entry));
    // The folder cannot be made: the mark stays off.
    std::filesystem::remove_all(dir_ / "config");
    std::ofstream(dir_ / "config") << "x";
    autostart->trigger();
    EXPECT_FALSE(autostart->isChecked());
}

INSTANTIATE_TEST_SUITE_P(Languages, DialogCommands, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Japanese" : "English"; });

}  // namespace
