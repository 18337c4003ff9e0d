// Where the focus hook puts a caret or focus point: on X11 the accessibility coordinates are the
// screen's, on Wayland the toolkit's own (its window at 0,0) while the desktop layer knows the
// window's real place. Each case has data where taking the wrong frame gives another answer.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>

#include "outside/lumohook/focus_records.h"

namespace {

using lumohook::placePoint;
using lumohook::WindowFrames;
using tavik::desktop::Rect;

TEST(PointPlace, AWindowAwayFromTheOriginGetsItsOffsetFromTheDesktopLayer) {
    // A Wayland window tiled at x=512: the toolkit reports it at 0,0, the caret 494 px in.
    WindowFrames w{Rect{0, 0, 512, 768}, Rect{512, 0, 512, 768}, Rect{512, 0, 512, 768}};
    auto p = placePoint(494, 37, w);
    EXPECT_EQ(p.screenX, 1006);
    EXPECT_EQ(p.screenY, 37);
    EXPECT_EQ(p.clientX, 494);  // not 494 - 512
    EXPECT_EQ(p.clientY, 37);

    // The same on X11, where the toolkit knows the place: the point stays where it is.
    w.accessible = Rect{512, 0, 512, 768};
    p = placePoint(1006, 37, w);
    EXPECT_EQ(p.screenX, 1006);
    EXPECT_EQ(p.clientX, 494);
    EXPECT_EQ(p.clientY, 37);
}

TEST(PointPlace, AToolkitThatReportsItsDecorationsIsLaidOnTheOuterRectangle) {
    // X11, the toolkit's window extents are the window manager's frame (title bar 30, sides 10).
    const Rect client{110, 80, 600, 490}, outer{100, 50, 620, 530};
    auto p = placePoint(300, 200, WindowFrames{outer, client, outer});
    EXPECT_EQ(p.screenX, 300);
    EXPECT_EQ(p.screenY, 200);
    EXPECT_EQ(p.clientX, 190);
    EXPECT_EQ(p.clientY, 120);

    // Wayland, the same window at the toolkit's origin.
    p = placePoint(200, 150, WindowFrames{Rect{0, 0, 620, 530}, client, outer});
    EXPECT_EQ(p.screenX, 300);
    EXPECT_EQ(p.screenY, 200);
    EXPECT_EQ(p.clientX, 190);
    EXPECT_EQ(p.clientY, 120);
}

TEST(PointPlace, AToolkitThatDrawsItsOwnTitleBarIsLaidInsideIt) {
    // GNOME Wayland and Qt's own decorations: the shell's rectangle is the decorated window
    // (border 6, title bar 35), the toolkit reports its window without them at 0,0.
    const Rect frame{300, 200, 652, 521};
    auto p = placePoint(100, 50, WindowFrames{Rect{0, 0, 640, 480}, frame, frame});
    EXPECT_EQ(p.screenX, 406);
    EXPECT_EQ(p.screenY, 285);
    EXPECT_EQ(p.clientX, 106);
    EXPECT_EQ(p.clientY, 85);
    // Differences that are no decoration: a border wider than the title bar, or extents far
    // smaller than the window (another window's): the point stays a screen point.
    p = placePoint(100, 50, WindowFrames{Rect{0, 0, 600, 480}, frame, frame});
    EXPECT_EQ(p.screenX, 100);
    EXPECT_EQ(p.screenY, 50);
    p = placePoint(100, 50, WindowFrames{Rect{0, 0, 640, 300}, frame, frame});
    EXPECT_EQ(p.screenX, 100);
}

TEST(PointPlace, WithoutUsableWindowExtentsThePointIsTakenAsAScreenPoint) {
    const Rect client{300, 200, 400, 300};
    // Extents unreadable.
    auto p = placePoint(350, 260, WindowFrames{std::nullopt, client, std::nullopt});
    EXPECT_EQ(p.screenX, 350);
    EXPECT_EQ(p.screenY, 260);
    EXPECT_EQ(p.clientX, 50);
    EXPECT_EQ(p.clientY, 60);
    // Extents of another size than the window (another window's, or a toolkit frame that
    // matches neither rectangle): no offset is laid on the wrong rectangle.
    p = placePoint(350, 260, WindowFrames{Rect{0, 0, 150, 90}, client, Rect{290, 170, 420, 340}});
    EXPECT_EQ(p.screenX, 350);
    EXPECT_EQ(p.clientX, 50);
    EXPECT_EQ(p.clientY, 60);
    // The window's place unknown: no client position.
    p = placePoint(350, 260, WindowFrames{Rect{0, 0, 400, 300}, std::nullopt, std::nullopt});
    EXPECT_EQ(p.screenX, 350);
    EXPECT_EQ(p.screenY, 260);
    EXPECT_FALSE(p.clientX.has_value());
    EXPECT_FALSE(p.clientY.has_value());
}

TEST(PointPlace, ValuesAtTheEndsOfTheRangeAreClampedNotWrapped) {
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max(), kMin = std::numeric_limits<int32_t>::min();
    auto p = placePoint(kMax, kMin, WindowFrames{Rect{kMin, kMax, 10, 10}, Rect{kMax, kMin, 10, 10}, std::nullopt});
    EXPECT_EQ(p.screenX, kMax);
    EXPECT_EQ(p.screenY, kMin);
    EXPECT_EQ(p.clientX, 0);
    EXPECT_EQ(p.clientY, 0);
}

TEST(PointPlace, CaretRecordsCarryTheScreenPlaceBesideTheClientOne) {
    auto hook = std::make_unique<lumo::HookData>();
    lumohook::FocusEvent caret{4100, 77, true, 1006, 37, 494, 37};
    ASSERT_EQ(lumohook::recordEvent(*hook, caret), 0);
    const auto& r = hook->threads[0];
    EXPECT_EQ(r.kind, 1);
    EXPECT_EQ(r.screenGiven, 0);  // the viewer places from the client position
    EXPECT_EQ(r.caretX, 494);
    EXPECT_EQ(r.screenX, 1006);
    EXPECT_EQ(r.screenY, 37);
    // The focus of the same process: its screen position, given.
    lumohook::FocusEvent focus{4100, 77, false, 600, 40, 88, 40};
    ASSERT_EQ(lumohook::recordEvent(*hook, focus), 0);
    EXPECT_EQ(r.kind, 0);
    EXPECT_EQ(r.screenGiven, 1);
    EXPECT_EQ(r.screenX, 600);
    EXPECT_EQ(r.screenY, 40);
}

}  // namespace
