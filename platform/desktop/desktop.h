// The one desktop layer of the suite: windows, the window in front, capture, the view frame,
// synthetic mouse, pointer and cursor (Desktop) and hot keys, screen-size notices and damage
// (DesktopEvents). Each object picks its back end when it is made (desktopKind()): X11, Wayland
// (screen capture through the desktop portal and PipeWire), or one that answers every call with
// "no display". The X11 back end is built when CMake finds X11, the Wayland one when it finds
// GIO and PipeWire (desktopBuiltWithX11(), desktopBuiltWithWayland() tell which).
//
// On Wayland "the display" is the screen-cast session: the portal's permission (asked once, then
// kept with a restore token) and the PipeWire stream it opens. Capture answers from the latest
// frame of that stream; the connection policy below holds with "stream" for "connection".
//
// Connection policy, the same for every object of this layer:
// - Each object owns its own connection to the display named by $DISPLAY, opened at the first
//   call that needs it. No display, a refused connection, or a lost one make calls return their
//   "no display" result (nullopt, false or DesktopStatus::NoDisplay) at once.
// - Losing the server (it ended or the socket broke) never ends the process: the connection is
//   marked lost, closed at the next call, and every call answers "no display" until a new
//   connection is made. A new connection is tried on demand at most once a second.
// - A protocol error inside a call (a window id that names no window, a refused grab) makes only
//   that call fail; it never reaches the program's own error handler and never ends the process.
// - No call waits for the server for long: a server that went away is noticed on the first read
//   or write (the socket breaks); a call that waits more than 3 seconds for a server that stopped
//   answering has its connection broken by a watchdog (the call fails, the connection counts as
//   lost); opening a connection runs on a thread of its own and is given up after 3 seconds (a
//   later call picks up an opening that finished meanwhile).
//
// Threads: every member function of Desktop and DesktopEvents may be called from any thread.
// Desktop serialises its calls on one internal lock (a capture holds it for its copy); threads
// that must not wait for each other (a refresh thread and the GUI thread) each use their own
// Desktop. DesktopEvents runs one thread of its own that reads the events. The layer starts one
// watchdog thread for the process with its first connection.
//
// Window ids (0 = none): on X11 the X11 window ids. On Wayland a stable 64-bit id per window: for
// a window known to AT-SPI a hash of its accessible's bus name and object path (bit 63 clear;
// the same in every process of the suite while the window lives), for a toplevel only the
// compositor lists (wlroots foreign-toplevel) bit 63 set and a sequence number of this process.
// A Wayland window's rectangles come from the compositor's window tree where it offers one (sway's
// IPC: the outer and the content rectangle); elsewhere both are its AT-SPI extents, which a
// Wayland toolkit gives in its own frame (often at 0,0). The pointer position is the one last set through this layer. Coordinates are
// screen pixels of the default screen (the compositor's layout on Wayland).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace tavik::desktop {

using WindowId = uint64_t;

struct Point {
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    int32_t width = 0;
    int32_t height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

// left/top inclusive, width/height >= 0.
struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

enum class DesktopStatus {
    Ok,
    NoDisplay,  // no display, or the connection is lost (a reconnect is tried later)
    Failed,     // the server refused the request (bad window, grab taken, bad size)
};

// The mouse pointer's shape: ARGB (0xAARRGGBB, premultiplied as the server gives it),
// width * height pixels row by row, hot spot inside.
struct CursorImage {
    int32_t width = 0;
    int32_t height = 0;
    Point hotSpot;
    uint64_t serial = 0;  // changes whenever the shape changes
    std::vector<uint32_t> pixels;
};

// True when this build has the X11 back end.
bool desktopBuiltWithX11();
// True when this build has the Wayland back end.
bool desktopBuiltWithWayland();

enum class DesktopKind { NoDisplay, X11, Wayland };
// The back end a Desktop or DesktopEvents made now gets: $TAVIK_DESKTOP (x11, wayland, none) when
// set, else Wayland in a Wayland session ($XDG_SESSION_TYPE=wayland or $WAYLAND_DISPLAY set), else
// X11. A kind this build lacks falls back to X11, then to NoDisplay (every call answers "no display").
DesktopKind desktopKind();

class Desktop {
public:
    // Does not connect; the first call that needs the display does.
    Desktop();
    ~Desktop();  // hides and destroys the frame window, closes the connection
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // True when a connection is up now (tries to connect within the rate limit).
    bool connected();

    // ----- Windows -----
    // The root's _NET_ACTIVE_WINDOW; nullopt without a display or when none is set (0).
    std::optional<WindowId> activeWindow();
    // The window's _NET_WM_PID; nullopt when the window has none or is no window.
    std::optional<int32_t> windowProcess(WindowId window);
    // True when `window` names an existing window (false without a display).
    bool windowExists(WindowId window);
    // The top-level frame of `window`: its ancestor whose parent is the root (the window
    // manager's frame when there is one, else the window itself). nullopt when no window.
    std::optional<WindowId> topLevelFrame(WindowId window);
    // The window's outer rectangle on the screen: its top-level frame with the frame's border.
    std::optional<Rect> windowRect(WindowId window);
    // The window's own area (its client area) on the screen, border excluded.
    std::optional<Rect> clientRect(WindowId window);

    // ----- Screen -----
    // Size of the default screen, read from the server on each call (follows RandR changes).
    std::optional<Size> screenSize();

    // Copies the screen rectangle `area` into `pixels` as 0x00RRGGBB, row r of the area at
    // pixels[r * stride]. Parts of `area` beyond the screen are written black. Uses MIT-SHM when
    // the server offers it (the segment is kept between calls), XGetImage otherwise or after a
    // shared-memory failure. Fails (nothing promised about `pixels`) when `pixels` is too small
    // for the area (checked in 64 bits), stride < width, or the server refuses.
    DesktopStatus capture(Rect area, std::span<uint32_t> pixels, size_t stride);

    // The pixels of one capture, read where they lie (no copy into a caller buffer). Valid only
    // during the callback of captureView.
    struct CapturedView {
        // Row r of `onScreen` at pixels + r * stride. Bits 0-23 of a pixel are 0xRRGGBB; bits
        // 24-31 are unspecified (mask them).
        const uint32_t* pixels = nullptr;
        size_t stride = 0;
        // The part of the captured area that lies on the screen, relative to the area's top-left
        // corner (left, top >= 0; width or height 0 when none does). The rest is black.
        Rect onScreen;
    };
    // Captures `area` like capture() and calls `use` once with the pixels on the screen, read in
    // place from the shared-memory segment (or from a buffer of this object on the XGetImage
    // path), so a caller converting them into its own layout copies them once. `use` runs with
    // this object's lock held: it must not call this Desktop and should not block. `use` is not
    // called when the result is not Ok. Failed when width or height is negative.
    DesktopStatus captureView(Rect area, const std::function<void(const CapturedView&)>& use);

    // ----- View frame -----
    // Shows the frame: a red ring `thickness` pixels wide whose outer edge is `outer`, in an
    // override-redirect window kept above the others, that takes no input (clicks go through to
    // the windows beneath). Moving or resizing a shown frame reshapes it before it moves, so the
    // screen never shows a filled rectangle. Recreated after a reconnect. Failed when `outer` is
    // smaller than two rings.
    DesktopStatus showFrame(Rect outer, int32_t thickness = 2);
    // Unmaps the frame (before a capture that must not show it). The hide is on the server when
    // this returns.
    void hideFrame();
    // The frame window's id while it exists (tests), else 0.
    WindowId frameWindow();

    // ----- Synthetic mouse (XTest) and pointer -----
    DesktopStatus movePointer(Point to);
    // `button`: 1 left, 2 middle, 3 right.
    DesktopStatus pressButton(int button, bool down);
    // XQueryPointer on the root.
    std::optional<Point> pointer();
    // The current cursor shape (XFixes); nullopt without a display or without the extension.
    std::optional<CursorImage> cursorImage();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Modifier bits of a hot key.
constexpr uint32_t kModShift = 1u << 0;
constexpr uint32_t kModControl = 1u << 2;
constexpr uint32_t kModAlt = 1u << 3;    // Mod1
constexpr uint32_t kModSuper = 1u << 6;  // Mod4, the Win key

struct DesktopEvent {
    enum class Kind {
        HotKey,         // hotKeyId pressed
        ScreenResized,  // size is the new screen size
        DisplayLost,    // the connection broke; hot keys are grabbed again when it is back
        DisplayBack,    // a new connection is up (grabs renewed; damage reported as changed)
    };
    Kind kind = Kind::HotKey;
    int32_t hotKeyId = 0;
    Size size;
};

// Events of the desktop on a connection and thread of its own. Pending events are signalled on
// a file descriptor (readable while any are waiting) that stays the same for the object's life,
// so a Qt program can put it in a QSocketNotifier; or call waitEvents() with a bound.
class DesktopEvents {
public:
    // Connects (when a display is there; a silent server is given up after ~3 s), so hot keys
    // and damage work from the first call, then starts the reading thread, which reconnects at
    // most once a second after a loss.
    DesktopEvents();
    // Stops the thread (it wakes at once) and releases the grabs.
    ~DesktopEvents();
    DesktopEvents(const DesktopEvents&) = delete;
    DesktopEvents& operator=(const DesktopEvents&) = delete;

    // Grabs `keysym` (an X keysym, e.g. 0x70 for 'p') with exactly `modifiers` on the root (with
    // and without Caps Lock and Num Lock) and reports its presses as `id`. The key is remembered
    // and grabbed again after a reconnect. Blocks for one round trip. Failed when another client
    // holds the grab or the key has no key code; NoDisplay when not connected now (it is
    // grabbed when a connection comes).
    DesktopStatus addHotKey(int32_t id, uint32_t keysym, uint32_t modifiers);
    // Releases and forgets the key `id`; unknown ids are ignored.
    void removeHotKey(int32_t id);

    // Readable while events are pending; never changes; owned by this object.
    int fd() const;
    // Takes every pending event (oldest first) and makes fd() unreadable. Never waits for the
    // server or the reading thread.
    std::vector<DesktopEvent> take();
    // Waits up to `timeoutMs` for an event; true when one is pending.
    bool waitEvents(int timeoutMs);

    // True when pixels in `area` may have changed since the previous call (the first call
    // answers true); forgets all damage gathered so far (one asker per object). Damage is
    // gathered from the server's damage extension (XDamage), from the first call of this or of
    // forgetDamage on (an object that never asks is not woken by drawings); after a reconnect
    // the answer is true. nullopt without a display or without the extension.
    std::optional<bool> takeDamage(Rect area);

    // Reports changes of the window in front (the root's _NET_ACTIVE_WINDOW): `changed` runs on
    // the reading thread (or inside this call) each time the property changes and once when a
    // new connection is up.
    // It must not call this object and must not block. An empty function stops the reports;
    // this returns only when no call of the previous function is running.
    void watchActiveWindow(std::function<void()> changed);

    // Like takeDamage, but without the round trip: forgets the damage read so far (a capture
    // made after this call shows those pixels). Damage still on its way is reported later.
    void forgetDamage();

    // True while connected (for tests and status lines). Like addHotKey, removeHotKey and
    // takeDamage it may wait for the reading thread while that (re)connects (at most ~3 s).
    bool connected() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tavik::desktop
