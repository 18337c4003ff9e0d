// The Wayland back end of the desktop layer: capture and damage from the process's screen cast,
// windows, pointer, frame, hot keys and reports of the window in front from their own pieces.
// Each object serialises its calls on one lock, as the X11 back end does.
#include <mutex>

#include "platform/desktop/backend.h"
#include "platform/desktop/wayland/activation_watch.h"
#include "platform/desktop/portals/screencast.h"
#include "platform/desktop/wayland/wayland_frame.h"
#include "platform/desktop/wayland/wayland_hotkeys.h"
#include "platform/desktop/wayland/wayland_pointer.h"
#include "platform/desktop/wayland/wayland_windows.h"

namespace tavik::desktop::wayland {

namespace {

class WaylandDesktop final : public backend::DesktopBackend {
public:
    WaylandDesktop() : cast_(ScreenCast::shared()) {}

    bool connected() override {
        std::lock_guard g(m_);
        return cast_->ensure();
    }

    std::optional<WindowId> activeWindow() override {
        std::lock_guard g(m_);
        return windows_.activeWindow();
    }
    std::optional<int32_t> windowProcess(WindowId window) override {
        std::lock_guard g(m_);
        return windows_.windowProcess(window);
    }
    bool windowExists(WindowId window) override {
        std::lock_guard g(m_);
        return windows_.windowExists(window);
    }
    std::optional<WindowId> topLevelFrame(WindowId window) override {
        std::lock_guard g(m_);
        return windows_.topLevelFrame(window);
    }
    std::optional<Rect> windowRect(WindowId window) override {
        std::lock_guard g(m_);
        return windows_.windowRect(window);
    }
    std::optional<Rect> clientRect(WindowId window) override {
        std::lock_guard g(m_);
        return windows_.clientRect(window);
    }

    std::optional<Size> screenSize() override {
        std::lock_guard g(m_);
        if (!cast_->ensure()) return std::nullopt;
        std::optional<Size> size;
        cast_->withFrame([&](const FrameStore& f) { size = f.size(); });
        return size;
    }

    DesktopStatus capture(Rect area, std::span<uint32_t> pixels, size_t stride) override {
        std::lock_guard g(m_);
        if (!cast_->ensure()) return DesktopStatus::NoDisplay;
        DesktopStatus s = DesktopStatus::NoDisplay;
        cast_->withFrame([&](const FrameStore& f) { s = f.copy(area, pixels, stride); });
        return s;
    }

    DesktopStatus captureView(Rect area, const std::function<void(const CapturedView&)>& use) override {
        if (area.width < 0 || area.height < 0) return DesktopStatus::Failed;
        std::lock_guard g(m_);
        if (!cast_->ensure()) return DesktopStatus::NoDisplay;
        // The frame lock is held while `use` reads the pixels in place.
        const bool held = cast_->withFrame([&](const FrameStore& f) {
            CapturedView v;
            v.onScreen = visiblePart(area, f.size());
            v.stride = f.stride();
            if (v.onScreen.width > 0)
                v.pixels = f.data() + size_t(int64_t{area.top} + v.onScreen.top) * f.stride() +
                           size_t(int64_t{area.left} + v.onScreen.left);
            else
                v.pixels = f.data();
            use(v);
        });
        return held ? DesktopStatus::Ok : DesktopStatus::NoDisplay;
    }

    DesktopStatus showFrame(Rect outer, int32_t thickness) override {
        std::lock_guard g(m_);
        return frame_.show(outer, thickness);
    }
    void hideFrame() override {
        std::lock_guard g(m_);
        frame_.hide();
    }
    WindowId frameWindow() override {
        std::lock_guard g(m_);
        return frame_.window();
    }

    DesktopStatus movePointer(Point to) override {
        std::lock_guard g(m_);
        return pointer_.move(to);
    }
    DesktopStatus pressButton(int button, bool down) override {
        if (button < 1 || button > 5) return DesktopStatus::Failed;
        std::lock_guard g(m_);
        return pointer_.press(button, down);
    }
    std::optional<Point> pointer() override {
        std::lock_guard g(m_);
        return pointer_.position();
    }
    std::optional<CursorImage> cursorImage() override {
        std::lock_guard g(m_);
        return pointer_.cursor();
    }

private:
    std::mutex m_;
    std::shared_ptr<ScreenCast> cast_;
    WaylandWindows windows_;
    WaylandFrame frame_;
    WaylandPointer pointer_;
};

class WaylandEvents final : public backend::EventsBackend {
public:
    WaylandEvents()
        : sink_(std::make_shared<CastSink>()),
          cast_(ScreenCast::shared()),
          hotKeys_([sink = sink_](const DesktopEvent& e) { sink->events.push(e); }) {
        cast_->addSink(sink_);
        // The screen cast opens with the first question about damage, not here: a program that
        // wants only hot keys (the controller) must not make the desktop ask to share the screen.
    }
    WaylandEvents(const WaylandEvents&) = delete;
    WaylandEvents& operator=(const WaylandEvents&) = delete;

    DesktopStatus addHotKey(int32_t id, uint32_t keysym, uint32_t modifiers) override {
        std::lock_guard g(m_);
        return hotKeys_.add(id, keysym, modifiers);
    }
    void removeHotKey(int32_t id) override {
        std::lock_guard g(m_);
        hotKeys_.remove(id);
    }
    int fd() const override { return sink_->events.fd(); }
    std::vector<DesktopEvent> take() override { return sink_->events.take(); }
    bool waitEvents(int timeoutMs) override { return sink_->events.wait(timeoutMs); }

    std::optional<bool> takeDamage(Rect area) override {
        std::lock_guard g(m_);
        if (!cast_->ensure()) return std::nullopt;
        return sink_->damage.take(area);
    }
    // Reports come from the compositor's toplevel list and AT-SPI (see activation_watch.h); on
    // a desktop that offers neither, only the caller's own polling of activeWindow() finds a
    // change.
    void watchActiveWindow(std::function<void()> changed) override {
        std::unique_ptr<ActivationWatch> old;
        {
            std::lock_guard g(watchMutex_);
            old = std::move(watch_);
        }
        old.reset();  // returns once no report of the previous function runs
        if (!changed) return;
        auto next = std::make_unique<ActivationWatch>(std::move(changed));
        std::lock_guard g(watchMutex_);
        watch_ = std::move(next);
    }
    void forgetDamage() override {
        std::lock_guard g(m_);
        if (cast_->ensure()) sink_->damage.take(Rect{0, 0, 0, 0});
    }
    bool connected() override {
        std::lock_guard g(m_);
        return cast_->up();
    }

private:
    std::mutex m_;
    std::shared_ptr<CastSink> sink_;
    std::shared_ptr<ScreenCast> cast_;
    WaylandHotKeys hotKeys_;
    std::mutex watchMutex_;  // apart from m_: ending a watch waits for its thread
    std::unique_ptr<ActivationWatch> watch_;
};

}  // namespace

}  // namespace tavik::desktop::wayland

namespace tavik::desktop::backend {

std::unique_ptr<DesktopBackend> makeWaylandDesktop() { return std::make_unique<wayland::WaylandDesktop>(); }
std::unique_ptr<EventsBackend> makeWaylandEvents() { return std::make_unique<wayland::WaylandEvents>(); }

}  // namespace tavik::desktop::backend
