// The X11 connection policy, call preamble and error trap every object of the desktop layer
// uses: one display connection per object, opened on demand, marked lost (never exit()) on an
// I/O error, reopened at most once a second; every call under the object's lock and watched for
// a silent server; protocol errors caught per call.
#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/desktop/desktop.h"

namespace tavik::desktop::x11 {

class ErrorTrap;
struct OpenAttempt;
int onXError(Display*, XErrorEvent*);

// Not thread-safe: the owner serialises its calls (it holds its own lock or uses one thread).
// A lost connection may be closed on any thread, whichever thread met the loss.
class Connection {
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The display when usable. Closes a lost connection first; opens a new one when none is
    // open and the last attempt is at least a second ago. The opening runs on a thread of its
    // own; the call that starts it waits up to kCallBound, later calls only look whether it
    // has finished (an unreachable host or a silent server holds no call beyond the bound).
    // nullptr: no display now.
    Display* get();
    // The display only when already open and not lost; never connects.
    Display* current() const { return dpy_ && !lost_.load() ? dpy_ : nullptr; }
    // True after an I/O error on the open connection (until get() closes it).
    bool lost() const { return lost_.load(); }
    // Counts the connections made; a new value means server-side objects must be made again.
    uint64_t generation() const { return generation_; }
    void close();

    // Marks a call in progress. A call that waits for the server longer than kCallBound (a
    // server that stopped answering) has its socket shut down by a watchdog: the call fails
    // and the connection is lost, as if the server had gone.
    static constexpr std::chrono::seconds kCallBound{3};
    void beginCall();
    void endCall();

private:
    friend struct Watchdog;
    static void onExit(Display*, void* self);
    Display* dpy_ = nullptr;
    int fd_ = -1;
    std::mutex callM_;  // guards busySince_ against the watchdog
    std::chrono::steady_clock::time_point busySince_{};
    bool busy_ = false;
    std::atomic<bool> lost_{false};
    bool tried_ = false;
    std::chrono::steady_clock::time_point lastTry_{};
    uint64_t generation_ = 0;
    std::shared_ptr<OpenAttempt> opening_;
};

// Marks one call on a connection for its scope.
class CallMark {
public:
    explicit CallMark(Connection& c) : c_(c) { c_.beginCall(); }
    ~CallMark() { c_.endCall(); }
    CallMark(const CallMark&) = delete;
    CallMark& operator=(const CallMark&) = delete;

private:
    Connection& c_;
};

// Catches the protocol errors of `dpy` raised on this thread while it lives. Nested traps are
// fine. Errors are delivered when Xlib reads them: call sync() before asking failed() after
// requests that have no reply.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* dpy);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // XSync, then true when no error was caught (and the connection still stands).
    bool sync();
    bool failed() const { return error_; }
    void clear() { error_ = false; }
    // Error code of the first error caught (0 when none).
    int code() const { return code_; }

private:
    friend int onXError(Display*, XErrorEvent*);
    Display* dpy_;
    ErrorTrap* outer_;
    bool error_ = false;
    int code_ = 0;
};

// The lock, the connection and the preamble of every call of an object of the X11 back end.
// `Owner` derives from Calls<Owner> and provides `Display* ready()`: the display with the
// owner's per-connection state set up (connecting when due, `generation` then updated), nullptr
// without one; it is called with `m` held. Each preamble holds `m` and marks the call for the
// watchdog while `body` runs.
template <typename Owner>
struct Calls {
    std::mutex m;
    Connection conn;
    uint64_t generation = 0;  // of the connection the owner's per-connection state belongs to

    // `body(d)` with the display as it is, never connecting (nullptr when none or lost).
    template <typename Body>
    auto held(Body&& body) {
        std::lock_guard g(m);
        CallMark mark(conn);
        return body(conn.current());
    }
    // `body(d)` with the ready display (connecting when needed); `noDisplay` without one.
    template <typename R, typename Body>
    R call(R noDisplay, Body&& body) {
        std::lock_guard g(m);
        CallMark mark(conn);
        Display* d = static_cast<Owner&>(*this).ready();
        if (!d) return noDisplay;
        return body(d);
    }
    // A query whose protocol errors are trapped: `body(d, trap)`; nullopt without a display or
    // when the trap caught an error during the body.
    template <typename T, typename Body>
    std::optional<T> query(Body&& body) {
        return call(std::optional<T>{}, [&](Display* d) -> std::optional<T> {
            ErrorTrap trap(d);
            std::optional<T> r = body(d, trap);
            if (trap.failed()) return std::nullopt;
            return r;
        });
    }
    // A call that acts on the display: `body(d)`'s status, NoDisplay without a display or when
    // the connection was lost during the body.
    template <typename Body>
    DesktopStatus act(Body&& body) {
        return call(DesktopStatus::NoDisplay, [&](Display* d) {
            const DesktopStatus s = body(d);
            return conn.lost() ? DesktopStatus::NoDisplay : s;
        });
    }
    // Inside held(): true when `d` is open and the per-connection state belongs to it (a call
    // that must not connect works only then).
    bool settledOn(Display* d) const { return d && generation == conn.generation(); }
};

// Reads one 32-bit property value of type `type` (XA_WINDOW, XA_CARDINAL); false when absent.
bool readLongProperty(Display* d, Window w, Atom property, Atom type, unsigned long& value);

}  // namespace tavik::desktop::x11
