// The condition dialog library's entry in an application without Qt: with no
// display, or a display that cannot be opened, it answers 0 and the calling
// process goes on (Qt itself would abort it).
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstdlib>

#include "client/ui/condition_dialog_services.h"

extern "C" int tavikUiShowConditionDialog(TavikWindow owner, const ConditionDialogServices* services);

namespace {

int gHookCalls = 0;
void countHooks(TavikDialogRefreshHook, TavikDialogCloseHook) { ++gHookCalls; }

TEST(ConditionDialogEntry, AnUnreachableDisplayIsRefusedWithoutEndingTheCaller) {
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("WAYLAND_DISPLAY");
    const ConditionDialogServices services{nullptr, nullptr, &countHooks, nullptr, 0};
    EXPECT_EQ(tavikUiShowConditionDialog(0, nullptr), 0);
    unsetenv("DISPLAY");
    EXPECT_EQ(tavikUiShowConditionDialog(0, &services), 0);
    setenv("DISPLAY", ":0.97", 1);  // no such screen on any server
    EXPECT_EQ(tavikUiShowConditionDialog(0, &services), 0);
    setenv("DISPLAY", "unix:97", 1);
    EXPECT_EQ(tavikUiShowConditionDialog(0, &services), 0);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_EQ(gHookCalls, 0);
}

}  // namespace
