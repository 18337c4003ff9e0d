// Desktop and DesktopEvents: pick the back end for the session when the object is made and forward
// every call to it.
#include <cstdlib>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/desktop/backend.h"

namespace tavik::desktop {

bool desktopBuiltWithX11() {
#ifdef TAVIK_DESKTOP_WITH_X11
    return true;
#else
    return false;
#endif
}

bool desktopBuiltWithWayland() {
#ifdef TAVIK_DESKTOP_WITH_WAYLAND
    return true;
#else
    return false;
#endif
}

namespace backend {

DesktopKind chooseKind(std::string_view override, std::string_view sessionType, std::string_view waylandDisplay,
                       bool builtX11, bool builtWayland) {
    const DesktopKind fallback = builtX11 ? DesktopKind::X11 : DesktopKind::NoDisplay;
    if (override == "none") return DesktopKind::NoDisplay;
    if (override == "x11") return fallback;
    if (override == "wayland") return builtWayland ? DesktopKind::Wayland : fallback;
    if (sessionType == "wayland" || !waylandDisplay.empty()) return builtWayland ? DesktopKind::Wayland : fallback;
    return fallback;
}

}  // namespace backend

namespace {

std::string_view env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string_view{v} : std::string_view{};
}

// Says once per process that the Wayland session is served through XWayland, which sees only
// the X11 programs, because this build has no Wayland back end.
void noteFallback(DesktopKind kind) {
    if (kind == DesktopKind::Wayland || desktopBuiltWithWayland()) return;
    const bool wayland = env("TAVIK_DESKTOP") == "wayland" ||
                         (env("TAVIK_DESKTOP").empty() &&
                          (env("XDG_SESSION_TYPE") == "wayland" || !env("WAYLAND_DISPLAY").empty()));
    if (!wayland) return;
    static std::once_flag once;
    std::call_once(once, [] {
        std::fprintf(stderr, "Wayland session, but this build has no Wayland support (GIO and PipeWire were not "
                             "found when it was built): only X11 programs are seen\n");
    });
}

std::unique_ptr<backend::DesktopBackend> makeDesktop() {
    const DesktopKind kind = desktopKind();
    noteFallback(kind);
    switch (kind) {
#ifdef TAVIK_DESKTOP_WITH_X11
    case DesktopKind::X11: return backend::makeX11Desktop();
#endif
#ifdef TAVIK_DESKTOP_WITH_WAYLAND
    case DesktopKind::Wayland: return backend::makeWaylandDesktop();
#endif
    default: return backend::makeNoDesktop();
    }
}

std::unique_ptr<backend::EventsBackend> makeEvents() {
    const DesktopKind kind = desktopKind();
    noteFallback(kind);
    switch (kind) {
#ifdef TAVIK_DESKTOP_WITH_X11
    case DesktopKind::X11: return backend::makeX11Events();
#endif
#ifdef TAVIK_DESKTOP_WITH_WAYLAND
    case DesktopKind::Wayland: return backend::makeWaylandEvents();
#endif
    default: return backend::makeNoEvents();
    }
}

}  // namespace

DesktopKind desktopKind() {
    return backend::chooseKind(env("TAVIK_DESKTOP"), env("XDG_SESSION_TYPE"), env("WAYLAND_DISPLAY"),
                               desktopBuiltWithX11(), desktopBuiltWithWayland());
}

struct Desktop::Impl {
    std::unique_ptr<backend::DesktopBackend> b;
};

Desktop::Desktop() : impl_(std::make_unique<Impl>(Impl{makeDesktop()})) {}
Desktop::~Desktop() = default;
bool Desktop::connected() { return impl_->b->connected(); }
std::optional<WindowId> Desktop::activeWindow() { return impl_->b->activeWindow(); }
std::optional<int32_t> Desktop::windowProcess(WindowId window) { return impl_->b->windowProcess(window); }
bool Desktop::windowExists(WindowId window) { return impl_->b->windowExists(window); }
std::optional<WindowId> Desktop::topLevelFrame(WindowId window) { return impl_->b->topLevelFrame(window); }
std::optional<Rect> Desktop::windowRect(WindowId window) { return impl_->b->windowRect(window); }
std::optional<Rect> Desktop::clientRect(WindowId window) { return impl_->b->clientRect(window); }
std::optional<Size> Desktop::screenSize() { return impl_->b->screenSize(); }
DesktopStatus Desktop::capture(Rect area, std::span<uint32_t> pixels, size_t stride) {
    return impl_->b->capture(area, pixels, stride);
}
DesktopStatus Desktop::captureView(Rect area, const std::function<void(const CapturedView&)>& use) {
    return impl_->b->captureView(area, use);
}
DesktopStatus Desktop::showFrame(Rect outer, int32_t thickness) { return impl_->b->showFrame(outer, thickness); }
void Desktop::hideFrame() { impl_->b->hideFrame(); }
WindowId Desktop::frameWindow() { return impl_->b->frameWindow(); }
DesktopStatus Desktop::movePointer(Point to) { return impl_->b->movePointer(to); }
DesktopStatus Desktop::pressButton(int button, bool down) { return impl_->b->pressButton(button, down); }
std::optional<Point> Desktop::pointer() { return impl_->b->pointer(); }
std::optional<CursorImage> Desktop::cursorImage() { return impl_->b->cursorImage(); }

struct DesktopEvents::Impl {
    std::unique_ptr<backend::EventsBackend> b;
};

DesktopEvents::DesktopEvents() : impl_(std::make_unique<Impl>(Impl{makeEvents()})) {}
DesktopEvents::~DesktopEvents() = default;
DesktopStatus DesktopEvents::addHotKey(int32_t id, uint32_t keysym, uint32_t modifiers) {
    return impl_->b->addHotKey(id, keysym, modifiers);
}
void DesktopEvents::removeHotKey(int32_t id) { impl_->b->removeHotKey(id); }
int DesktopEvents::fd() const { return impl_->b->fd(); }
std::vector<DesktopEvent> DesktopEvents::take() { return impl_->b->take(); }
bool DesktopEvents::waitEvents(int timeoutMs) { return impl_->b->waitEvents(timeoutMs); }
std::optional<bool> DesktopEvents::takeDamage(Rect area) { return impl_->b->takeDamage(area); }
void DesktopEvents::watchActiveWindow(std::function<void()> changed) {
    impl_->b->watchActiveWindow(std::move(changed));
}
void DesktopEvents::forgetDamage() { impl_->b->forgetDamage(); }
bool DesktopEvents::connected() const { return impl_->b->connected(); }

}  // namespace tavik::desktop
