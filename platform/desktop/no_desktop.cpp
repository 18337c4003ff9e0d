// The desktop layer of a build without X11: there is no display, so every call answers
// "no display" at once and DesktopEvents never signals anything.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

#include "platform/desktop/desktop.h"

namespace tavik::desktop {

bool desktopBuiltWithX11() { return false; }

struct Desktop::Impl {};

Desktop::Desktop() = default;
Desktop::~Desktop() = default;
bool Desktop::connected() { return false; }
std::optional<WindowId> Desktop::activeWindow() { return std::nullopt; }
std::optional<int32_t> Desktop::windowProcess(WindowId) { return std::nullopt; }
bool Desktop::windowExists(WindowId) { return false; }
std::optional<WindowId> Desktop::topLevelFrame(WindowId) { return std::nullopt; }
std::optional<Rect> Desktop::windowRect(WindowId) { return std::nullopt; }
std::optional<Rect> Desktop::clientRect(WindowId) { return std::nullopt; }
std::optional<Size> Desktop::screenSize() { return std::nullopt; }
DesktopStatus Desktop::capture(Rect, std::span<uint32_t>, size_t) { return DesktopStatus::NoDisplay; }
DesktopStatus Desktop::captureView(Rect, const std::function<void(const CapturedView&)>&) {
    return DesktopStatus::NoDisplay;
}
DesktopStatus Desktop::showFrame(Rect, int32_t) { return DesktopStatus::NoDisplay; }
void Desktop::hideFrame() {}
WindowId Desktop::frameWindow() { return 0; }
DesktopStatus Desktop::movePointer(Point) { return DesktopStatus::NoDisplay; }
DesktopStatus Desktop::pressButton(int, bool) { return DesktopStatus::NoDisplay; }
std::optional<Point> Desktop::pointer() { return std::nullopt; }
std::optional<CursorImage> Desktop::cursorImage() { return std::nullopt; }

struct DesktopEvents::Impl {
    int fd = -1;
};

DesktopEvents::DesktopEvents() : impl_(std::make_unique<Impl>()) { impl_->fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }
DesktopEvents::~DesktopEvents() {
    if (impl_->fd >= 0) close(impl_->fd);
}
DesktopStatus DesktopEvents::addHotKey(int32_t, uint32_t, uint32_t) { return DesktopStatus::NoDisplay; }
void DesktopEvents::removeHotKey(int32_t) {}
int DesktopEvents::fd() const { return impl_->fd; }
std::vector<DesktopEvent> DesktopEvents::take() { return {}; }
bool DesktopEvents::waitEvents(int timeoutMs) {
    if (timeoutMs > 0) poll(nullptr, 0, timeoutMs);
    return false;
}
std::optional<bool> DesktopEvents::takeDamage(Rect) { return std::nullopt; }
void DesktopEvents::watchActiveWindow(std::function<void()>) {}
void DesktopEvents::forgetDamage() {}
bool DesktopEvents::connected() const { return false; }

}  // namespace tavik::desktop
