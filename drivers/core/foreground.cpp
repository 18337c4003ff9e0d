// Foreground process from X11 or from the override file.
#include "drivers/core/foreground.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdlib>
#include <fstream>

namespace tavik::drv {

struct ForegroundSource::X11State {
    Display* display = nullptr;
    Atom activeWindow = None;
    Atom wmPid = None;
    ~X11State() {
        if (display) XCloseDisplay(display);
    }
};

namespace {

// Reads one CARDINAL/WINDOW property value; false when absent.
bool readLongProperty(Display* d, Window w, Atom property, Atom type, unsigned long& value) {
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, property, 0, 1, False, type, &actualType, &actualFormat, &count, &after, &data) !=
        Success)
        return false;
    bool ok = data && actualType == type && actualFormat == 32 && count == 1;
    if (ok) value = *reinterpret_cast<unsigned long*>(data);
    if (data) XFree(data);
    return ok;
}

int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

}  // namespace

ForegroundSource::ForegroundSource() {
    if (const char* f = std::getenv("TAVIK_FOREGROUND_PID_FILE"); f && *f) pidFile_ = f;
}

ForegroundSource::~ForegroundSource() = default;

int32_t ForegroundSource::foregroundProcess() {
    if (!pidFile_.empty()) {
        std::ifstream in(pidFile_);
        long pid = 0;
        if (in >> pid && pid > 0 && pid <= INT32_MAX) return static_cast<int32_t>(pid);
        return 0;
    }
    if (!xTried_) {
        xTried_ = true;
        const char* display = std::getenv("DISPLAY");
        if (display && *display) {
            XInitThreads();
            auto st = std::make_unique<X11State>();
            st->display = XOpenDisplay(nullptr);
            if (st->display) {
                XSetErrorHandler(ignoreXErrors);
                st->activeWindow = XInternAtom(st->display, "_NET_ACTIVE_WINDOW", False);
                st->wmPid = XInternAtom(st->display, "_NET_WM_PID", False);
                x_ = std::move(st);
            }
        }
    }
    if (!x_) return 0;
    Display* d = x_->display;
    unsigned long window = 0, pid = 0;
    if (!readLongProperty(d, DefaultRootWindow(d), x_->activeWindow, XA_WINDOW, window) || window == 0) return 0;
    if (!readLongProperty(d, static_cast<Window>(window), x_->wmPid, XA_CARDINAL, pid)) return 0;
    return pid > 0 && pid <= INT32_MAX ? static_cast<int32_t>(pid) : 0;
}

}  // namespace tavik::drv
