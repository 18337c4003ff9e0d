// The back-end seam of the desktop layer: Desktop and DesktopEvents forward every call to one of
// these, chosen when the object is made (X11, Wayland, or none). Each back end keeps the contracts
// written in desktop.h; this header only adds how a back end is picked.
#pragma once

#include <memory>
#include <string_view>

#include "platform/desktop/desktop.h"

namespace tavik::desktop::backend {

class DesktopBackend {
public:
    using CapturedView = Desktop::CapturedView;
    virtual ~DesktopBackend() = default;

    virtual bool connected() = 0;
    virtual std::optional<WindowId> activeWindow() = 0;
    virtual std::optional<int32_t> windowProcess(WindowId window) = 0;
    virtual bool windowExists(WindowId window) = 0;
    virtual std::optional<WindowId> topLevelFrame(WindowId window) = 0;
    virtual std::optional<Rect> windowRect(WindowId window) = 0;
    virtual std::optional<Rect> clientRect(WindowId window) = 0;
    virtual std::optional<Size> screenSize() = 0;
    virtual DesktopStatus capture(Rect area, std::span<uint32_t> pixels, size_t stride) = 0;
    virtual DesktopStatus captureView(Rect area, const std::function<void(const CapturedView&)>& use) = 0;
    virtual DesktopStatus showFrame(Rect outer, int32_t thickness) = 0;
    virtual void hideFrame() = 0;
    virtual WindowId frameWindow() = 0;
    virtual DesktopStatus movePointer(Point to) = 0;
    virtual DesktopStatus pressButton(int button, bool down) = 0;
    virtual std::optional<Point> pointer() = 0;
    virtual std::optional<CursorImage> cursorImage() = 0;
};

class EventsBackend {
public:
    virtual ~EventsBackend() = default;

    virtual DesktopStatus addHotKey(int32_t id, uint32_t keysym, uint32_t modifiers) = 0;
    virtual void removeHotKey(int32_t id) = 0;
    virtual int fd() const = 0;
    virtual std::vector<DesktopEvent> take() = 0;
    virtual bool waitEvents(int timeoutMs) = 0;
    virtual std::optional<bool> takeDamage(Rect area) = 0;
    virtual void watchActiveWindow(std::function<void()> changed) = 0;
    virtual void forgetDamage() = 0;
    virtual bool connected() = 0;
};

// Which back end a session gets. `override` is $TAVIK_DESKTOP ("x11", "wayland", "none"; empty or
// anything else: decide from the session), `sessionType` is $XDG_SESSION_TYPE, `waylandDisplay`
// $WAYLAND_DISPLAY. A Wayland session gets the Wayland back end (XWayland's $DISPLAY sees only the
// X11 programs there); a kind this build lacks falls back to X11 when built, else to none.
DesktopKind chooseKind(std::string_view override, std::string_view sessionType, std::string_view waylandDisplay,
                       bool builtX11, bool builtWayland);

// The back ends this build has. The make* functions of a kind that is not built are not defined.
std::unique_ptr<DesktopBackend> makeNoDesktop();
std::unique_ptr<EventsBackend> makeNoEvents();
std::unique_ptr<DesktopBackend> makeX11Desktop();
std::unique_ptr<EventsBackend> makeX11Events();
std::unique_ptr<DesktopBackend> makeWaylandDesktop();
std::unique_ptr<EventsBackend> makeWaylandEvents();

}  // namespace tavik::desktop::backend
