// The back end without a display: every call answers "no display" at once and the events never
// signal anything. Used when the build or the session has no desktop, or TAVIK_DESKTOP=none.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/desktop/backend.h"

namespace tavik::desktop::backend {

namespace {

class NoDesktop final : public DesktopBackend {
public:
    bool connected() override { return false; }
    std::optional<WindowId> activeWindow() override { return std::nullopt; }
    std::optional<int32_t> windowProcess(WindowId) override { return std::nullopt; }
    bool windowExists(WindowId) override { return false; }
    std::optional<WindowId> topLevelFrame(WindowId) override { return std::nullopt; }
    std::optional<Rect> windowRect(WindowId) override { return std::nullopt; }
    std::optional<Rect> clientRect(WindowId) override { return std::nullopt; }
    std::optional<Size> screenSize() override { return std::nullopt; }
    DesktopStatus capture(Rect, std::span<uint32_t>, size_t) override { return DesktopStatus::NoDisplay; }
    DesktopStatus captureView(Rect, const std::function<void(const CapturedView&)>&) override {
        return DesktopStatus::NoDisplay;
    }
    DesktopStatus showFrame(Rect, int32_t) override { return DesktopStatus::NoDisplay; }
    void hideFrame() override {}
    WindowId frameWindow() override { return 0; }
    DesktopStatus movePointer(Point) override { return DesktopStatus::NoDisplay; }
    DesktopStatus pressButton(int, bool) override { return DesktopStatus::NoDisplay; }
    std::optional<Point> pointer() override { return std::nullopt; }
    std::optional<CursorImage> cursorImage() override { return std::nullopt; }
};

class NoEvents final : public EventsBackend {
public:
    NoEvents() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~NoEvents() override {
        if (fd_ >= 0) close(fd_);
    }
    NoEvents(const NoEvents&) = delete;
    NoEvents& operator=(const NoEvents&) = delete;

    DesktopStatus addHotKey(int32_t, uint32_t, uint32_t) override { return DesktopStatus::NoDisplay; }
    void removeHotKey(int32_t) override {}
    int fd() const override { return fd_; }
    std::vector<DesktopEvent> take() override { return {}; }
    bool waitEvents(int timeoutMs) override {
        if (timeoutMs > 0) poll(nullptr, 0, timeoutMs);
        return false;
    }
    std::optional<bool> takeDamage(Rect) override { return std::nullopt; }
    void watchActiveWindow(std::function<void()>) override {}
    void forgetDamage() override {}
    bool connected() override { return false; }

private:
    int fd_ = -1;
};

}  // namespace

std::unique_ptr<DesktopBackend> makeNoDesktop() { return std::make_unique<NoDesktop>(); }
std::unique_ptr<EventsBackend> makeNoEvents() { return std::make_unique<NoEvents>(); }

}  // namespace tavik::desktop::backend
