// Connection policy and error trap of the X11 back end. Xlib's error and I/O error handlers are
// process-wide: ours handle the displays of this layer and hand every other display to the
// handler that was installed before, so a program's own handlers keep working.
#include "platform/desktop/x11/connection.h"

#include "platform/run_time_library.h"

#include <X11/Xatom.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace tavik::desktop::x11 {

namespace {

// The displays this copy of the layer opened. Xlib's handlers are process-wide, so the set of
// our displays has to be too; it is touched only when a connection opens or closes and when a
// handler runs.
struct Registry {
    std::mutex m;
    std::vector<Display*> displays;
    std::vector<Connection*> connections;  // the open ones, for the watchdog
    bool watching = false;
    XErrorHandler previousError = nullptr;
    XIOErrorHandler previousIo = nullptr;
    bool pinned = false;

    bool ours(Display* d) {
        std::lock_guard g(m);
        return std::find(displays.begin(), displays.end(), d) != displays.end();
    }
};

// Never destroyed: connections held by other static objects still close, and Xlib may still
// call our handlers, while the program's statics are being destroyed.
Registry& registry() {
    union Holder {
        Registry r;
        Holder() : r() {}
        ~Holder() {}
    };
    static Holder holder;
    return holder.r;
}

thread_local ErrorTrap* tTrap = nullptr;

int onXIoError(Display* d) {
    Registry& r = registry();
    if (r.ours(d)) return 0;  // the exit handler of the connection marks it lost
    XIOErrorHandler prev = nullptr;
    {
        std::lock_guard g(r.m);
        prev = r.previousIo;
    }
    return prev ? prev(d) : 0;
}

// Puts our handlers in place (again, when a program replaced them since). Keeps this module
// loaded for the life of the process: a plug-in unloaded with its handler still installed
// would leave Xlib calling into unmapped code.
void installHandlers() {
    Registry& r = registry();
    // Xlib's own lock is taken by these, so not under ours (our handlers take ours).
    const XErrorHandler e = XSetErrorHandler(onXError);
    const XIOErrorHandler io = XSetIOErrorHandler(onXIoError);
    std::lock_guard g(r.m);
    if (e != onXError) r.previousError = e;
    if (io != onXIoError) r.previousIo = io;
    if (!r.pinned) {
        r.pinned = true;
        // Implicit since libX11 1.8; our connections are used from several threads.
        XInitThreads();
        platform::keepModuleLoaded(reinterpret_cast<const void*>(&onXIoError));
    }
}

}  // namespace

// Breaks connections whose call has waited for the server beyond the bound. One thread for the
// process, started with the first connection and never ended (the module stays loaded).
struct Watchdog {
    static void run() {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            Registry& r = registry();
            std::lock_guard g(r.m);
            const auto now = std::chrono::steady_clock::now();
            for (Connection* c : r.connections) {
                std::lock_guard cg(c->callM_);
                // The connection stays open while it is listed and busy: close() needs r.m.
                if (c->busy_ && now - c->busySince_ > Connection::kCallBound && c->fd_ >= 0) {
                    ::shutdown(c->fd_, SHUT_RDWR);
                    c->busy_ = false;
                }
            }
        }
    }
    static void start(Registry& r) {
        if (r.watching) return;
        try {
            std::thread(run).detach();
            r.watching = true;
        } catch (const std::system_error&) {  // tried again with the next connection
        }
    }
};

int onXError(Display* d, XErrorEvent* ev) {
    for (ErrorTrap* t = tTrap; t; t = t->outer_) {
        if (t->dpy_ == d) {
            if (!t->error_) t->code_ = ev->error_code;
            t->error_ = true;
            return 0;
        }
    }
    Registry& r = registry();
    if (r.ours(d)) return 0;  // a late error of a request whose call has returned
    XErrorHandler prev = nullptr;
    {
        std::lock_guard g(r.m);
        prev = r.previousError;
    }
    return prev ? prev(d, ev) : 0;
}

namespace {

// Xlib's I/O error path takes the display's user lock (XLockDisplay) for the exit it expects to
// follow, and never gives it back: a handler that returns leaves the display locked by the
// thread that met the error. Every other thread's next call on it, XCloseDisplay included, would
// then wait for that lock for ever (a holder destroyed on another thread than its event
// reader). Every exit handler of ours returns, so each gives back the lock its error took; the
// thread that met the error holds it, so the unlock is ours to make, here. (Where Xlib took no
// such lock, the unlock finds none held and does nothing.)
void releaseExitLock(Display* d) { XUnlockDisplay(d); }

}  // namespace

void Connection::onExit(Display* d, void* self) {
    static_cast<Connection*>(self)->lost_.store(true);
    releaseExitLock(d);
}

void Connection::close() {
    if (!dpy_) return;
    // After an I/O error XCloseDisplay sends nothing and only frees. A server that went away
    // since is noticed here: the display stays registered until closed, so that is ours too.
    {
        // Off the watchdog's list first, so it never shuts down a descriptor being closed.
        Registry& r = registry();
        std::lock_guard g(r.m);
        std::erase(r.connections, this);
    }
    XCloseDisplay(dpy_);
    {
        Registry& r = registry();
        std::lock_guard g(r.m);
        std::erase(r.displays, dpy_);
    }
    dpy_ = nullptr;
    fd_ = -1;
    lost_.store(false);
}

// An XOpenDisplay on a thread of its own: a server that accepts connections but never answers
// (stopped, hung) must not hold the caller. The caller waits up to the call bound; an attempt
// still running then is picked up by a later get(), or closed by its thread when its
// connection has gone meanwhile.
struct OpenAttempt {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    bool abandoned = false;
    Display* result = nullptr;
};

namespace {

void ignoreExit(Display* d, void*) { releaseExitLock(d); }

void registerDisplay(Display* d) {
    Registry& r = registry();
    std::lock_guard g(r.m);
    r.displays.push_back(d);
}

void unregisterDisplay(Display* d) {
    Registry& r = registry();
    std::lock_guard g(r.m);
    std::erase(r.displays, d);
}

void openOn(std::shared_ptr<OpenAttempt> a, std::string name) {
    Display* d = XOpenDisplay(name.c_str());
    if (d) {
        // Ours from the start: losing it before it is adopted must not end the process either.
        XSetIOErrorExitHandler(d, ignoreExit, nullptr);
        registerDisplay(d);
    }
    std::unique_lock g(a->m);
    if (a->abandoned) {
        g.unlock();
        if (d) {
            XCloseDisplay(d);
            unregisterDisplay(d);
        }
        return;
    }
    a->result = d;
    a->done = true;
    a->cv.notify_all();
}

}  // namespace

Display* Connection::get() {
    const auto now = std::chrono::steady_clock::now();
    if (dpy_ && lost_.load()) {
        close();
        lastTry_ = now;  // the next attempt a second after the loss
        tried_ = true;
    }
    if (dpy_) return dpy_;
    // Only the call that starts an opening waits for it; later calls just look.
    const bool started = !opening_;
    if (!opening_) {
        if (tried_ && now - lastTry_ < std::chrono::seconds(1)) return nullptr;
        tried_ = true;
        lastTry_ = now;
        const char* name = std::getenv("DISPLAY");
        if (!name || !*name) return nullptr;
        installHandlers();
        opening_ = std::make_shared<OpenAttempt>();
        try {
            std::thread(openOn, opening_, std::string(name)).detach();
        } catch (const std::system_error&) {  // no thread now: try again later
            opening_.reset();
            return nullptr;
        }
    }
    Display* d = nullptr;
    {
        std::unique_lock g(opening_->m);
        const auto bound = started ? std::chrono::steady_clock::duration(kCallBound)
                                   : std::chrono::steady_clock::duration::zero();
        if (!opening_->cv.wait_for(g, bound, [&] { return opening_->done; })) return nullptr;
        d = opening_->result;
    }
    opening_.reset();
    lastTry_ = now;
    if (!d) return nullptr;
    XSetIOErrorExitHandler(d, &Connection::onExit, this);
    dpy_ = d;
    fd_ = ConnectionNumber(d);
    lost_.store(false);
    {
        Registry& r = registry();
        std::lock_guard g(r.m);
        r.connections.push_back(this);
        Watchdog::start(r);
    }
    ++generation_;
    return dpy_;
}

Connection::~Connection() {
    close();
    if (opening_) {
        std::lock_guard g(opening_->m);
        if (opening_->done) {
            if (Display* d = opening_->result) {
                XCloseDisplay(d);
                unregisterDisplay(d);
            }
        } else {
            opening_->abandoned = true;  // its thread closes what it opens
        }
    }
}

void Connection::beginCall() {
    // A toolkit that set its own handlers after our first connection (Qt does when its
    // QApplication starts) would end the process on our connection's I/O error: put ours back in
    // front, chaining to theirs for their displays.
    installHandlers();
    std::lock_guard g(callM_);
    busy_ = true;
    busySince_ = std::chrono::steady_clock::now();
}

void Connection::endCall() {
    std::lock_guard g(callM_);
    busy_ = false;
}

ErrorTrap::ErrorTrap(Display* dpy) : dpy_(dpy), outer_(tTrap) { tTrap = this; }

ErrorTrap::~ErrorTrap() { tTrap = outer_; }

bool ErrorTrap::sync() {
    XSync(dpy_, False);
    return !error_;
}

bool readLongProperty(Display* d, Window w, Atom property, Atom type, unsigned long& value) {
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, property, 0, 1, False, type, &actualType, &actualFormat, &count, &after, &data) !=
        Success)
        return false;
    const bool ok = data && actualType == type && actualFormat == 32 && count == 1;
    if (ok) value = *reinterpret_cast<unsigned long*>(data);
    if (data) XFree(data);
    return ok;
}

}  // namespace tavik::desktop::x11
