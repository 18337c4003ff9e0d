// The pen's rules: which reports send which events with which dot and flags,
// the area collected along the diagonal, and the calibration stored from it.
#include "controller/pen/pen_tracker.h"

#include <gtest/gtest.h>

#include "outside/pen/pen_device.h"

#include <filesystem>
#include <optional>
#include <unistd.h>

#include "common/ini_store.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace tavik::controller;

void expectEvent(const std::optional<PenEvent>& e, uint8_t code, uint8_t x, uint8_t y, uint8_t flags) {
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->code, code);
    EXPECT_EQ(e->x, x);
    EXPECT_EQ(e->y, y);
    EXPECT_EQ(e->flags, flags);
}

TEST(PenTracker, StrokeWithDefaultCalibration) {
    PenTracker p;  // origin (1540, 700), 45 units a dot
    // Hover: (1540 + 45 * 3, 700 + 45 * 2) is dot (3, 2).
    expectEvent(p.report(PenReport::Move, 1540 + 135, 700 + 90), kPenHover, 3, 2, 0);
    EXPECT_FALSE(p.report(PenReport::Move, 1540 + 135 + 10, 700 + 90));  // same dot: nothing
    // Rounding: 22 units past a dot stay on it, 23 reach the next.
    EXPECT_FALSE(p.report(PenReport::Move, 1540 + 135 + 22, 700 + 90));
    expectEvent(p.report(PenReport::Move, 1540 + 135 + 23, 700 + 90), kPenHover, 4, 2, 0);
    // Touch, then a move to the same dot still sends the touch-down.
    EXPECT_FALSE(p.report(PenReport::Touch, 0, 0));
    expectEvent(p.report(PenReport::Move, 1540 + 180, 700 + 90), kPenDown, 4, 2, 0x80);
    expectEvent(p.report(PenReport::Move, 1540 + 180, 700 + 135), kPenDrag, 4, 3, 0x80);
    expectEvent(p.report(PenReport::Lift, 0, 0), kPenUp, 4, 3, 0);
    // A lift without a touch sends nothing.
    EXPECT_FALSE(p.report(PenReport::Lift, 0, 0));
}

TEST(PenTracker, ButtonsOnlyOnRealChanges) {
    PenTracker p;
    p.report(PenReport::Move, 1540 + 450, 700 + 450);  // dot (10, 10)
    expectEvent(p.report(PenReport::Button1Down, 0, 0), kPenButton1Down, 10, 10, 0x01);
    EXPECT_FALSE(p.report(PenReport::Button1Down, 0, 0));
    expectEvent(p.report(PenReport::Button2Down, 0, 0), kPenButton2Down, 10, 10, 0x03);
    expectEvent(p.report(PenReport::Button1Up, 0, 0), kPenButton1Up, 10, 10, 0x02);
    EXPECT_FALSE(p.report(PenReport::Button1Up, 0, 0));
    expectEvent(p.report(PenReport::Button2Up, 0, 0), kPenButton2Up, 10, 10, 0);
    EXPECT_FALSE(p.report(0, 5, 5));  // unknown report types
    EXPECT_FALSE(p.report(8, 5, 5));
}

TEST(PenTracker, StoredCalibrationNeedsBothDeltas) {
    PenSettings s;
    s.left = 100;
    s.top = 200;
    s.deltaX = 50;  // too small: the stored calibration is not used
    s.deltaY = 1000;
    PenTracker p;
    p.load(s);
    EXPECT_EQ(p.originX(), 1540);
    EXPECT_EQ(p.originY(), 700);
    EXPECT_EQ(p.scaleX(), 45.0);
    s.deltaX = 2000;
    p.load(s);
    EXPECT_EQ(p.originX(), 100);
    EXPECT_EQ(p.scaleX(), 20.0);
    EXPECT_EQ(p.scaleY(), 10.0);
    expectEvent(p.report(PenReport::Move, 100 + 200, 200 + 50), kPenHover, 10, 5, 0);
}

TEST(PenTracker, AreaAlongTheDiagonalCalibrates) {
    PenTracker p;
    PenSettings s;
    EXPECT_FALSE(p.calibrate(64, 48, s));  // nothing collected
    p.beginAreaSetting();
    EXPECT_EQ(p.areaMode(), 1);
    EXPECT_FALSE(p.report(PenReport::Move, 1000, 1000));  // no button held: ignored
    EXPECT_EQ(p.areaMode(), 1);
    p.report(PenReport::Button1Down, 0, 0);
    EXPECT_FALSE(p.report(PenReport::Move, 1000, 2000));
    EXPECT_EQ(p.areaMode(), 2);
    EXPECT_FALSE(p.report(PenReport::Move, 4200, 4400));
    EXPECT_FALSE(p.report(PenReport::Move, 3000, 1900));
    EXPECT_EQ(p.collected().minX, 1000);
    EXPECT_EQ(p.collected().minY, 1900);
    EXPECT_EQ(p.collected().maxX, 4200);
    EXPECT_EQ(p.collected().maxY, 4400);
    ASSERT_TRUE(p.calibrate(64, 48, s));
    EXPECT_EQ(s.left, 1000);
    EXPECT_EQ(s.top, 1900);
    EXPECT_EQ(s.deltaX, 3200 * 100 / 64);  // 5000
    EXPECT_EQ(s.deltaY, 2500 * 100 / 48);  // 5208 (integer division)
    EXPECT_EQ(p.scaleY(), 52.08);
    p.endAreaSetting();
    p.report(PenReport::Button1Up, 0, 0);
    expectEvent(p.report(PenReport::Move, 1000 + 500, 1900), kPenHover, 10, 0, 0);
}

TEST(PenTracker, TinyAreaIsWidenedToOneUnitPerDot) {
    PenTracker p;
    PenSettings s;
    p.beginAreaSetting();
    p.report(PenReport::Button2Down, 0, 0);
    p.report(PenReport::Move, 10, 10);
    p.report(PenReport::Move, 20, 15);
    ASSERT_TRUE(p.calibrate(64, 48, s));
    EXPECT_EQ(s.right, 74);
    EXPECT_EQ(s.bottom, 58);
    EXPECT_EQ(s.deltaX, 100);
    EXPECT_EQ(s.deltaY, 100);
    // A line (no height) or a matrix without dots does not calibrate.
    PenTracker q;
    q.beginAreaSetting();
    q.report(PenReport::Button1Down, 0, 0);
    q.report(PenReport::Move, 10, 10);
    q.report(PenReport::Move, 90, 10);
    EXPECT_FALSE(q.calibrate(64, 48, s));
    q.report(PenReport::Move, 90, 90);
    EXPECT_FALSE(q.calibrate(0, 48, s));
}

TEST(PenTracker, ExtremeCoordinatesAndDeviceLoss) {
    PenTracker p;
    // Far outside the matrix: the event's dot bytes are limited, never wrapped.
    expectEvent(p.report(PenReport::Move, INT32_MAX, INT32_MIN), kPenHover, 255, 0, 0);
    p.report(PenReport::Touch, 0, 0);
    p.report(PenReport::Move, 1540, 700);
    p.report(PenReport::Button2Down, 0, 0);
    PenEvent out[3];
    ASSERT_EQ(p.release(out), 2);
    EXPECT_EQ(out[0].code, kPenUp);
    EXPECT_EQ(out[1].code, kPenButton2Up);
    EXPECT_EQ(out[1].flags, 0);
    EXPECT_EQ(p.release(out), 0);
}

TEST(PenSettingsStore, WritesOnlyUsableValues) {
    const tavik::test::TempDir folder("pen");
    const std::filesystem::path dir = folder.path();
    const std::string ini = (dir / "TAVIK.ini").string();
    PenSettings s = readPenSettings(ini);
    EXPECT_TRUE(s.use);
    EXPECT_EQ(s.deltaX, 0);
    s.use = false;
    s.left = 500;
    s.right = 400;  // not left < right: the area is not written
    s.top = 1;
    s.bottom = 2;
    s.deltaX = 150;
    s.deltaY = 99;  // one delta below 100: neither is written
    writePenSettings(s, ini);
    PenSettings back = readPenSettings(ini);
    EXPECT_FALSE(back.use);
    EXPECT_EQ(back.left, 0);
    EXPECT_EQ(back.deltaX, 0);
    s.right = 900;
    s.deltaY = 100;
    writePenSettings(s, ini);
    back = readPenSettings(ini);
    EXPECT_EQ(back.left, 500);
    EXPECT_EQ(back.right, 900);
    EXPECT_EQ(back.deltaX, 150);
    EXPECT_EQ(back.deltaY, 100);
}

}  // namespace

TEST(PenDevice, OnlyATabletWithAPenQualifies) {
    using skrivo::InputCapabilities;
    // A pen tablet announces its pen tool, a stylus its buttons.
    EXPECT_TRUE(skrivo::isPenDevice(InputCapabilities{true, true, true, false}));
    EXPECT_TRUE(skrivo::isPenDevice(InputCapabilities{true, true, false, true}));
    // Touchpads, touchscreens and gamepads have X and Y but no pen.
    EXPECT_FALSE(skrivo::isPenDevice(InputCapabilities{true, true, false, false}));
    // A pen tool without both axes points nowhere.
    EXPECT_FALSE(skrivo::isPenDevice(InputCapabilities{true, false, true, true}));
    EXPECT_FALSE(skrivo::isPenDevice(InputCapabilities{false, true, true, true}));
}
