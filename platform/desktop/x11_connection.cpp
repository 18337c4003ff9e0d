// Connection policy and error trap of the X11 back end. Xlib's error and I/O error handlers are
// process-wide: ours handle the displays of this layer and hand every other display to the
// handler that was installed before, so a program's own handlers keep working.
#include "platform/desktop/x11_connection.h"

#include <X11/Xatom.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace tavik::desktop::x11 {

namespace {

// The displays this copy of the layer opened. Xlib's handlers are process-wide, so the set of
// our displays has to be too; it is touched only when a connection opens or closes and when a
// handler runs.
struct Registry {
    std::mutex m;
    std::vector<Display*> displays;
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
    std::lock_guard g(r.m);
    XErrorHandler e = XSetErrorHandler(onXError);
    if (e != onXError) r.previousError = e;
    XIOErrorHandler io = XSetIOErrorHandler(onXIoError);
    if (io != onXIoError) r.previousIo = io;
    if (!r.pinned) {
        r.pinned = true;
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&onXIoError), &info) && info.dli_fname)
            dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    }
}

}  // namespace

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

Connection::~Connection() { close(); }

void Connection::onExit(Display*, void* self) { static_cast<Connection*>(self)->lost_.store(true); }

void Connection::close() {
    if (!dpy_) return;
    {
        Registry& r = registry();
        std::lock_guard g(r.m);
        std::erase(r.displays, dpy_);
    }
    // After an I/O error XCloseDisplay sends nothing and only frees.
    XCloseDisplay(dpy_);
    dpy_ = nullptr;
    lost_.store(false);
}

Display* Connection::get() {
    const auto now = std::chrono::steady_clock::now();
    if (dpy_ && lost_.load()) {
        close();
        lastTry_ = now;  // the next attempt a second after the loss
        tried_ = true;
    }
    if (dpy_) return dpy_;
    if (tried_ && now - lastTry_ < std::chrono::seconds(1)) return nullptr;
    tried_ = true;
    lastTry_ = now;
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) return nullptr;
    installHandlers();
    Display* d = XOpenDisplay(nullptr);
    if (!d) return nullptr;
    XSetIOErrorExitHandler(d, &Connection::onExit, this);
    {
        Registry& r = registry();
        std::lock_guard g(r.m);
        r.displays.push_back(d);
    }
    dpy_ = d;
    lost_.store(false);
    ++generation_;
    return dpy_;
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
