// Synthetic mouse input: the absolute coordinate rule, the press and release
// order of clicks and drags, and the once-only move observation.
#include "client/mouse_events.h"
#include "client/mouse_ops.h"

#include <gtest/gtest.h>

#include <vector>

using namespace tavik::client;

TEST(ToAbsolute, PixelCentresOn1024x768) {
    auto a = toAbsolute(0, 0, 1024, 768);
    EXPECT_EQ(a.x, 32);
    EXPECT_EQ(a.y, 42);
    a = toAbsolute(1023, 767, 1024, 768);
    EXPECT_EQ(a.x, 65504);
    EXPECT_EQ(a.y, 65492);
    a = toAbsolute(2000, -5, 1024, 768);
    EXPECT_EQ(a.x, 65504);
    EXPECT_EQ(a.y, 42);
    a = toAbsolute(512, 384, 1024, 768);
    EXPECT_EQ(a.x, 32800);
    EXPECT_EQ(a.y, 32810);
}

TEST(ToAbsolute, PixelComesBackExactlyOnOddScreenSizes) {
    for (int w : {1024, 1366, 1920, 1280, 777}) {
        for (int x = 0; x < w; ++x) {
            const auto a = toAbsolute(x, 0, w, 768);
            ASSERT_EQ(absoluteToPixel(a.x, w), x) << w;
        }
    }
}

TEST(MousePlans, ClickAndDragEventOrder) {
    auto p = planClick(1, 0);  // press left, then release it
    ASSERT_EQ(p.count, 2);
    EXPECT_EQ(p.events[0], 0x8002u);
    EXPECT_EQ(p.events[1], 0x8004u);
    EXPECT_EQ(p.heldAfter, 0);

    p = planClick(3, 0);
    ASSERT_EQ(p.count, 2);
    EXPECT_EQ(p.events[0], 0x800Au);
    EXPECT_EQ(p.events[1], 0x8014u);

    p = planDrag(1, 0);
    ASSERT_EQ(p.count, 1);
    EXPECT_EQ(p.events[0], 0x8002u);
    EXPECT_EQ(p.heldAfter, 1);

    p = planClick(1, 1);  // the drop: no second press, a single left up
    ASSERT_EQ(p.count, 1);
    EXPECT_EQ(p.events[0], 0x8004u);

    p = planDrag(2, 1);  // left up first, then right down
    ASSERT_EQ(p.count, 2);
    EXPECT_EQ(p.events[0], 0x8004u);
    EXPECT_EQ(p.events[1], 0x8008u);
    EXPECT_EQ(p.heldAfter, 2);

    p = planClick(0, 2);  // a click with no buttons ends a drag
    ASSERT_EQ(p.count, 1);
    EXPECT_EQ(p.events[0], 0x8010u);

    p = planClick(0, 0);
    EXPECT_EQ(p.count, 0);
}

namespace {

struct FakeDesktop : Desktop {
    ScreenPoint at{10, 10};
    ScreenRect win{100, 50, 200, 100};
    ScreenRect client{104, 70, 192, 76};
    struct Sent {
        uint32_t flags;
        AbsolutePoint p;
    };
    std::vector<Sent> sent;
    std::optional<ScreenRect> screen() override { return ScreenRect{0, 0, 1024, 768}; }
    std::optional<ScreenPoint> pointer() override { return at; }
    std::optional<ScreenRect> windowRect(unsigned long w) override {
        return w == 7 ? std::optional(win) : std::nullopt;
    }
    std::optional<ScreenRect> clientRect(unsigned long w) override {
        return w == 7 ? std::optional(client) : std::nullopt;
    }
    bool send(uint32_t flags, AbsolutePoint p) override {
        sent.push_back({flags, p});
        return true;
    }
};

}  // namespace

TEST(MouseOps, CoordinatesAndHeldButtonsThroughTheSharedMap) {
    FakeDesktop d;
    MouseMapData mouse{};
    EXPECT_EQ(mouseDrag(d, mouse, 7, 0, 0, true, 1), 1);  // client (0,0) = screen (104,70)
    ASSERT_EQ(d.sent.size(), 1u);
    EXPECT_EQ(d.sent[0].flags, 0x8002u);
    EXPECT_EQ(d.sent[0].p.x, toAbsolute(104, 70, 1024, 768).x);
    EXPECT_EQ(d.sent[0].p.y, toAbsolute(104, 70, 1024, 768).y);
    EXPECT_EQ(mouse.heldButtons, 1);

    EXPECT_EQ(mouseMove(d, 7, 5, 5, false), 1);  // outer corner (100,50)
    EXPECT_EQ(d.sent[1].flags, 0x8001u);
    EXPECT_EQ(d.sent[1].p.x, toAbsolute(105, 55, 1024, 768).x);

    EXPECT_EQ(mouseClick(d, mouse, 0, 2000, 3, false, 1), 1);  // screen point, clamped
    ASSERT_EQ(d.sent.size(), 3u);
    EXPECT_EQ(d.sent[2].flags, 0x8004u);
    EXPECT_EQ(d.sent[2].p.x, 65504);
    EXPECT_EQ(mouse.heldButtons, 0);

    // A window that cannot be read: nothing is sent.
    EXPECT_EQ(mouseClick(d, mouse, 99, 1, 1, true, 1), 0);
    EXPECT_EQ(d.sent.size(), 3u);
}

TEST(MouseOps, MoveIsReportedOnceAndPointIsRelativeToTheWindow) {
    FakeDesktop d;
    MouseMapData mouse{};
    int inside = -1, x = -1, y = -1;
    d.at = {150, 80};
    EXPECT_EQ(mouseState(d, mouse, 0, false, &inside, &x, &y), 1);
    EXPECT_EQ(inside, 1);
    EXPECT_EQ(x, 150);
    EXPECT_EQ(mouse.moveCounter, 1);
    EXPECT_EQ(mouseState(d, mouse, 0, false, &inside, &x, &y), 0);  // no move since
    EXPECT_EQ(mouse.moveCounter, 1);

    EXPECT_EQ(mouseState(d, mouse, 7, true, &inside, &x, &y), 0);
    EXPECT_EQ(inside, 1);
    EXPECT_EQ(x, 46);
    EXPECT_EQ(y, 10);
    EXPECT_EQ(mouseState(d, mouse, 7, false, &inside, &x, &y), 0);
    EXPECT_EQ(x, 50);
    EXPECT_EQ(y, 30);

    d.at = {300, 80};  // right edge of the outer rectangle is outside
    x = y = -1;
    EXPECT_EQ(mouseState(d, mouse, 7, false, &inside, &x, &y), 1);
    EXPECT_EQ(inside, 0);
    EXPECT_EQ(x, -1);
    EXPECT_EQ(mouseState(d, mouse, 7, true, nullptr, &x, &y), 0);  // outputs are required
}
