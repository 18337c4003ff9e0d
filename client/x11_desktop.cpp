// The client library's desktop over the suite's desktop layer: screen and pointer, window
// rectangles, and synthetic pointer input. One layer object for the process (its calls are
// serialised inside the layer).
#include "client/desktop.h"

#include "platform/desktop/desktop.h"

namespace tavik::client {
namespace {

namespace dt = tavik::desktop;

std::optional<ScreenRect> toScreenRect(const std::optional<dt::Rect>& r) {
    if (!r) return std::nullopt;
    return ScreenRect{r->left, r->top, r->width, r->height};
}

class LayerDesktop final : public Desktop {
public:
    std::optional<ScreenRect> screen() override {
        const auto s = layer_.screenSize();
        if (!s) return std::nullopt;
        return ScreenRect{0, 0, s->width, s->height};
    }

    std::optional<ScreenPoint> pointer() override {
        const auto p = layer_.pointer();
        if (!p) return std::nullopt;
        return ScreenPoint{p->x, p->y};
    }

    std::optional<ScreenRect> windowRect(unsigned long window) override {
        return toScreenRect(layer_.windowRect(window));
    }

    std::optional<ScreenRect> clientRect(unsigned long window) override {
        return toScreenRect(layer_.clientRect(window));
    }

    bool send(uint32_t flags, AbsolutePoint at) override {
        const auto s = layer_.screenSize();
        if (!s) return false;
        const dt::Point p{absoluteToPixel(at.x, s->width), absoluteToPixel(at.y, s->height)};
        bool ok = layer_.movePointer(p) == dt::DesktopStatus::Ok;
        // Presses before releases, left before right, as one event reads.
        if (flags & kMouseLeftDown) ok = layer_.pressButton(1, true) == dt::DesktopStatus::Ok && ok;
        if (flags & kMouseRightDown) ok = layer_.pressButton(3, true) == dt::DesktopStatus::Ok && ok;
        if (flags & kMouseLeftUp) ok = layer_.pressButton(1, false) == dt::DesktopStatus::Ok && ok;
        if (flags & kMouseRightUp) ok = layer_.pressButton(3, false) == dt::DesktopStatus::Ok && ok;
        return ok;
    }

private:
    dt::Desktop layer_;
};

}  // namespace

Desktop* x11Desktop() {
    if (!dt::desktopBuiltWithX11()) return nullptr;
    static LayerDesktop desktop;
    return &desktop;
}

}  // namespace tavik::client
