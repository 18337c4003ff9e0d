// The "Two-level Conditions" dialog on Qt offscreen, over the real condition
// operations and a stand-in for the viewer: its buttons change the condition,
// its texts follow it (also from another thread), and the viewer closes it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <functional>
#include <thread>

#include "client/ui/condition_dialog_window.h"
#include "client/viewer/condition_ops.h"

using tavik::ui::ConditionDialog;
using namespace tavik::viewer;

namespace {

// The viewer as the dialog sees it: one record, the hooks, a count of view refreshes.
BitmapViewerRecord gRecord;
TavikDialogRefreshHook gRefresh = nullptr;
TavikDialogCloseHook gClose = nullptr;
int gViewRefreshes = 0;

int fakeOperate(int op, int walk, int value) {
    const Outcome o = applyConditionOp(gRecord.condition, ConditionOp{static_cast<CondOp>(op),
                                                                      walk ? Walk::Jump : Walk::Plain, value});
    if (o == Outcome::NoChange) return 0;
    if (gRefresh) gRefresh(&gRecord);
    ++gViewRefreshes;
    return 1;
}
void fakeRefreshView() { ++gViewRefreshes; }
void fakeSetHooks(TavikDialogRefreshHook r, TavikDialogCloseHook c) {
    gRefresh = r;
    gClose = c;
}
int fakeRequestRefresh() {
    if (gRefresh) gRefresh(&gRecord);
    return 1;
}

ConditionDialogServices services(bool japanese = false) {
    return ConditionDialogServices{&fakeOperate, &fakeRefreshView, &fakeSetHooks, &fakeRequestRefresh,
                                   japanese ? 1 : 0};
}

void setLevels(std::initializer_list<std::pair<int, uint32_t>> counts) {
    std::fill(std::begin(gRecord.condition.adwHistogram), std::end(gRecord.condition.adwHistogram), 0u);
    for (auto [level, count] : counts) gRecord.condition.adwHistogram[level] = count;
}

void setSingle(int t, uint16_t mode) {
    gRecord.condition.bThreshfold = gRecord.condition.bThreshfoldMin = gRecord.condition.bThreshfoldMax =
        static_cast<uint8_t>(t);
    gRecord.condition.bMode = mode;
    gRecord.condition.fAutoThreshfold = 0;
}

class ConditionDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "condition_dialog_test";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
    }
    static void TearDownTestSuite() {
        delete app_;
        app_ = nullptr;
    }
    void SetUp() override {
        gRecord = BitmapViewerRecord{};
        gViewRefreshes = 0;
    }

    // Runs the dialog modally; `steps` runs inside its loop, then OK is pressed
    // unless the steps closed it. Returns the dialog's result.
    int runDialog(const std::function<void(ConditionDialog&)>& steps, bool japanese = false) {
        ConditionDialog dialog(services(japanese));
        QTimer::singleShot(0, &dialog, [&] {
            steps(dialog);
            if (dialog.isVisible()) click(dialog, 1);
        });
        return dialog.run();
    }

    static void click(ConditionDialog& d, int id) {
        auto* b = d.findChild<QAbstractButton*>(QString::number(id));
        ASSERT_NE(b, nullptr) << id;
        b->click();
    }
    static QString text(ConditionDialog& d, int id) {
        auto* l = d.findChild<QLabel*>(QString::number(id));
        return l ? l->text() : QStringLiteral("<missing>");
    }
    static bool checked(ConditionDialog& d, int id) {
        auto* c = d.findChild<QCheckBox*>(QString::number(id));
        return c && c->isChecked();
    }

    static QApplication* app_;
};

QApplication* ConditionDialogTest::app_ = nullptr;

TEST_F(ConditionDialogTest, EveryControlIsThereUnderItsId) {
    runDialog([](ConditionDialog& d) {
        for (int id : {257, 258, 259, 260, 262, 261, 273, 274, 275, 4372, 290, 291, 4388, 305, 306, 307, 4405, 321,
                       322, 323, 324, 1})
            EXPECT_NE(d.findChild<QAbstractButton*>(QString::number(id)), nullptr) << id;
        for (int id : {272, 288, 304}) EXPECT_NE(d.findChild<QLabel*>(QString::number(id)), nullptr) << id;
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Two-level Conditions"));
        EXPECT_EQ(d.findChild<QAbstractButton*>("322")->text(), QStringLiteral("Equal to"));
    });
    runDialog(
        [](ConditionDialog& d) {
            EXPECT_EQ(d.windowTitle(), QString::fromUtf8("二値化条件"));
            EXPECT_EQ(d.findChild<QAbstractButton*>("322")->text(), QString::fromUtf8("閾値"));
            EXPECT_EQ(d.findChild<QAbstractButton*>("275")->text(), QString::fromUtf8("＋"));
            EXPECT_EQ(d.findChild<QAbstractButton*>("4405")->text(), QStringLiteral("Clr"));
        },
        true);
}

TEST_F(ConditionDialogTest, OpeningShowsTheConditionAndOkRefreshesTheView) {
    setSingle(90, BIN_DARK | BIN_GREEN);
    const int result = runDialog([](ConditionDialog& d) {
        EXPECT_EQ(text(d, 272), "90");
        EXPECT_EQ(text(d, 288), "=");
        EXPECT_EQ(text(d, 304), "=");
        EXPECT_TRUE(checked(d, 258));
        EXPECT_FALSE(checked(d, 257));
        EXPECT_TRUE(checked(d, 323));
        EXPECT_FALSE(checked(d, 324));
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(gViewRefreshes, 1);  // OK
    EXPECT_EQ(gRefresh, nullptr);  // the hooks are gone once it closed
}

TEST_F(ConditionDialogTest, PlusWalksTheOccurringLevels) {
    setLevels({{10, 4}, {40, 9}, {200, 1}});
    setSingle(10, BIN_DARK);
    runDialog([](ConditionDialog& d) {
        click(d, 275);
        EXPECT_EQ(text(d, 272), "40");
        click(d, 275);
        EXPECT_EQ(text(d, 272), "200");
        click(d, 275);  // nothing above: no change
        EXPECT_EQ(text(d, 272), "200");
        click(d, 274);
        EXPECT_EQ(text(d, 272), "40");
        click(d, 273);
        EXPECT_EQ(text(d, 272), "10");
        click(d, 4372);
        EXPECT_EQ(text(d, 272), "200");
    });
    EXPECT_EQ(gRecord.condition.bThreshfold, 200);
}

TEST_F(ConditionDialogTest, ClrCollapsesTheRangeAndTextsShowEquals) {
    setLevels({{10, 1}, {100, 1}, {200, 1}});
    gRecord.condition.bThreshfold = 100;
    gRecord.condition.bThreshfoldMin = 10;
    gRecord.condition.bThreshfoldMax = 200;
    gRecord.condition.bMode = BIN_RANGE | BIN_EQUAL;
    gRecord.condition.fAutoThreshfold = 0;
    runDialog([](ConditionDialog& d) {
        EXPECT_EQ(text(d, 288), "200");
        EXPECT_EQ(text(d, 304), "10");
        click(d, 4405);
        EXPECT_EQ(text(d, 272), "100");
        EXPECT_EQ(text(d, 288), "=");
        EXPECT_EQ(text(d, 304), "=");
    });
    EXPECT_EQ(gRecord.condition.bThreshfoldMin, 100);
    EXPECT_EQ(gRecord.condition.bThreshfoldMax, 100);
    EXPECT_FALSE(gRecord.condition.bMode & BIN_RANGE);
}

TEST_F(ConditionDialogTest, UpperTo255SetsRangeModeWithOnlyEqualTo) {
    setLevels({{50, 1}});
    setSingle(50, BIN_LIGHT | BIN_DARK);
    gRecord.condition.fAutoThreshfold = 1;
    runDialog([](ConditionDialog& d) {
        EXPECT_TRUE(checked(d, 324));
        click(d, 4388);
        EXPECT_EQ(text(d, 288), "255");
        EXPECT_EQ(text(d, 304), "50");
        EXPECT_FALSE(checked(d, 321));
        EXPECT_TRUE(checked(d, 322));
        EXPECT_FALSE(checked(d, 323));
        EXPECT_FALSE(checked(d, 324));
        click(d, 305);  // lower bound 0
        EXPECT_EQ(text(d, 304), "0");
    });
    EXPECT_TRUE(gRecord.condition.bMode & BIN_RANGE);
    EXPECT_EQ(gRecord.condition.bMode & 0x0F, BIN_EQUAL);
}

TEST_F(ConditionDialogTest, FrequencyButtonsFollowTheHistogram) {
    setLevels({{3, 5}, {7, 5}});
    setSingle(128, BIN_DARK);
    runDialog([](ConditionDialog& d) {
        click(d, 260);  // Top: equal counts keep the lower level first
        EXPECT_EQ(text(d, 272), "3");
        click(d, 261);  // "->": next less frequent
        EXPECT_EQ(text(d, 272), "7");
        click(d, 262);  // "<-": back to the more frequent one
        EXPECT_EQ(text(d, 272), "3");
    });
}

TEST_F(ConditionDialogTest, CheckBoxesToggleTheirBits) {
    setSingle(60, BIN_DARK);
    runDialog([](ConditionDialog& d) {
        click(d, 321);
        EXPECT_TRUE(checked(d, 321));
        click(d, 323);
        EXPECT_FALSE(checked(d, 323));
        click(d, 257);
        EXPECT_TRUE(checked(d, 257));
        click(d, 324);
        EXPECT_TRUE(checked(d, 324));
    });
    EXPECT_EQ(gRecord.condition.bMode & 0x7F, BIN_LIGHT | BIN_RED);
    EXPECT_EQ(gRecord.condition.fAutoThreshfold, 1);
}

TEST_F(ConditionDialogTest, FollowsChangesFromAnotherThreadAndClosesWithTheViewer) {
    setSingle(20, BIN_DARK);
    const int result = runDialog([](ConditionDialog& d) {
        // A device key changes the condition on the library's thread.
        std::thread keys([] {
            gRecord.condition.bThreshfold = 33;
            gRefresh(&gRecord);
        });
        keys.join();
        QCoreApplication::processEvents();
        EXPECT_EQ(text(d, 272), "33");
        // Closing the viewer closes the dialog as Cancel does.
        gClose();
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(gViewRefreshes, 0);
}

}  // namespace
