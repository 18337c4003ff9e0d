// The viewer's desktop port on the suite's desktop layer: one Desktop (its
// own connection) per port, a DesktopEvents made on the first damage
// question (the refresh thread's port is the only one that asks), and one
// made on the first foreground watch (the watch thread's port).
#include <mutex>

#include "platform/desktop/desktop.h"
#include "screenviewer/desktop_port.h"

namespace lumo {

namespace {

namespace d = tavik::desktop;

Rect fromLayer(const d::Rect& r) { return {r.left, r.top, r.width, r.height}; }
d::Rect toLayer(const Rect& r) { return {r.x, r.y, r.width, r.height}; }

class LayerPort final : public DesktopPort {
public:
    std::optional<WindowId> activeWindow() override {
        if (!desk_.connected()) return std::nullopt;
        return desk_.activeWindow().value_or(0);
    }
    bool windowExists(WindowId w) override { return w != 0 && desk_.windowExists(w); }
    std::optional<Rect> windowRect(WindowId w) override {
        if (w == 0) {
            const auto s = desk_.screenSize();
            if (!s) return std::nullopt;
            return Rect{0, 0, s->width, s->height};
        }
        const auto r = desk_.windowRect(w);
        return r ? std::optional<Rect>(fromLayer(*r)) : std::nullopt;
    }
    std::optional<Rect> clientRect(WindowId w) override {
        if (w == 0) return windowRect(0);
        const auto r = desk_.clientRect(w);
        return r ? std::optional<Rect>(fromLayer(*r)) : std::nullopt;
    }
    std::optional<int32_t> windowProcess(WindowId w) override { return desk_.windowProcess(w); }
    void showFrame(const Rect& inner) override {
        desk_.showFrame(d::Rect{inner.x - 2, inner.y - 2, inner.width + 4, inner.height + 4}, 2);
    }
    void hideFrame() override { desk_.hideFrame(); }
    std::optional<bool> takeDamage(const Rect& area) override {
        std::call_once(eventsMade_, [this] { events_ = std::make_unique<d::DesktopEvents>(); });
        return events_->takeDamage(toLayer(area));
    }
    void forgetDamage() override {
        std::call_once(eventsMade_, [this] { events_ = std::make_unique<d::DesktopEvents>(); });
        events_->forgetDamage();
    }
    std::optional<CursorPicture> cursorPicture() override {
        auto img = desk_.cursorImage();
        if (!img) return std::nullopt;
        return CursorPicture{img->width, img->height, img->serial, std::move(img->pixels)};
    }
    void watchForeground(std::function<void()> changed) override {
        std::lock_guard lock(foregroundMutex_);
        if (!changed && !foreground_) return;
        if (!foreground_) foreground_ = std::make_unique<d::DesktopEvents>();
        foreground_->watchActiveWindow(std::move(changed));
    }
    bool connected() override { return desk_.connected(); }

private:
    d::Desktop desk_;
    std::once_flag eventsMade_;
    std::unique_ptr<d::DesktopEvents> events_;
    // Reports of the window in front, on a connection of their own (made on the first watch).
    std::mutex foregroundMutex_;
    std::unique_ptr<d::DesktopEvents> foreground_;
};

}  // namespace

std::unique_ptr<DesktopPort> makeDesktopPort() { return std::make_unique<LayerPort>(); }

}  // namespace lumo
