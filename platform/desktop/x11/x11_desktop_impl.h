// State of one Desktop on X11, shared by the files of the X11 back end (queries, capture, frame).
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <optional>
#include <vector>

#include "platform/desktop/backend.h"
#include "platform/desktop/x11/connection.h"

namespace tavik::desktop {

struct X11Desktop final : backend::DesktopBackend, x11::Calls<X11Desktop> {
    X11Desktop() = default;
    ~X11Desktop() override;  // hides and destroys the frame window, closes the connection

    bool connected() override;
    std::optional<WindowId> activeWindow() override;
    std::optional<int32_t> windowProcess(WindowId window) override;
    bool windowExists(WindowId window) override;
    std::optional<WindowId> topLevelFrame(WindowId window) override;
    std::optional<Rect> windowRect(WindowId window) override;
    std::optional<Rect> clientRect(WindowId window) override;
    std::optional<Size> screenSize() override;
    DesktopStatus capture(Rect area, std::span<uint32_t> pixels, size_t stride) override;
    DesktopStatus captureView(Rect area, const std::function<void(const CapturedView&)>& use) override;
    DesktopStatus showFrame(Rect outer, int32_t thickness) override;
    void hideFrame() override;
    WindowId frameWindow() override;
    DesktopStatus movePointer(Point to) override;
    DesktopStatus pressButton(int button, bool down) override;
    std::optional<Point> pointer() override;
    std::optional<CursorImage> cursorImage() override;

    // Per connection (of `generation`).
    Window root = 0;
    Atom netActiveWindow = 0;
    Atom netWmPid = 0;
    bool hasXTest = false;
    bool hasXFixes = false;
    bool hasShape = false;
    bool hasShm = false;

    // Capture through a shared-memory segment kept between calls.
    struct Shm {
        XShmSegmentInfo info{};
        size_t bytes = 0;      // size of the attached segment, 0 when none
        XImage* image = nullptr;  // header for the last size, data in the segment
    } shm;
    // Rows converted for captureView when the server's pixels are not 32-bit 0x??RRGGBB.
    std::vector<uint32_t> viewRows;

    // The view frame.
    Window frame = 0;
    Rect frameRect;
    int32_t frameThickness = 0;
    bool frameMapped = false;

    // The display with the per-connection state ready (atoms, extensions); resets what belonged
    // to a previous connection. nullptr: no display. Call with `m` held (the call preambles of
    // x11::Calls do).
    Display* ready();

    // Forgets the per-connection state (the server objects died with the connection).
    void resetConnectionState();
    void releaseShm(Display* d);

    DesktopStatus captureLocked(Display* d, Rect area, std::span<uint32_t> pixels, size_t stride);
    DesktopStatus captureViewLocked(Display* d, Rect area, const std::function<void(const CapturedView&)>& use);
    // The on-screen part of `area` (relative to the area) as an XImage handed to `use`; false
    // when the server refused. Used by both captures.
    // (Defined and used in capture.cpp only.)
    template <typename Use>
    bool grabLocked(Display* d, Rect area, Rect& onScreen, const Use& use);
    DesktopStatus showFrameLocked(Display* d, Rect outer, int32_t thickness);
    void destroyFrame(Display* d);
};

}  // namespace tavik::desktop
