// Screen capture on X11: one X11Capture session per call, with a start (open the display, probe
// MIT-SHM), grab (copy a screen rectangle into a bitmap, off-screen parts black) and stop (close).
// Also the window geometry behind lumoAreaCheck, lumoGetBmp and lumoGetPixel.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>

#include "imaging/bitmap.h"
#include "imaging/capture_area.h"

namespace lumo {

namespace {

// Xlib's error handler is process-wide. Ours records errors on the displays this library opened
// (per thread) and hands every other error to the handler that was installed before.
thread_local Display* tCurrentDisplay = nullptr;
thread_local bool tError = false;
XErrorHandler gPreviousHandler = nullptr;

int onXError(Display* dpy, XErrorEvent* ev) {
    if (dpy == tCurrentDisplay) {
        tError = true;
        return 0;
    }
    return gPreviousHandler ? gPreviousHandler(dpy, ev) : 0;
}

void installErrorHandler() {
    static std::once_flag once;
    std::call_once(once, [] { gPreviousHandler = XSetErrorHandler(onXError); });
}

struct Geometry {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

class X11Capture {
public:
    X11Capture() = default;
    X11Capture(const X11Capture&) = delete;
    X11Capture& operator=(const X11Capture&) = delete;
    ~X11Capture() { stop(); }

    // Opens the display named by $DISPLAY; false when there is none.
    bool start() {
        installErrorHandler();
        dpy_ = XOpenDisplay(nullptr);
        if (!dpy_) return false;
        tCurrentDisplay = dpy_;
        tError = false;
        root_ = DefaultRootWindow(dpy_);
        int major = 0, minor = 0;
        Bool pixmaps = False;
        shm_ = XShmQueryVersion(dpy_, &major, &minor, &pixmaps) == True;
        return true;
    }

    void stop() {
        if (!dpy_) return;
        XCloseDisplay(dpy_);
        if (tCurrentDisplay == dpy_) tCurrentDisplay = nullptr;
        dpy_ = nullptr;
    }

    Geometry screen() const {
        const int s = DefaultScreen(dpy_);
        return {0, 0, DisplayWidth(dpy_, s), DisplayHeight(dpy_, s)};
    }

    // Client area (the window itself) or window rectangle (its top-level frame with border), in
    // screen coordinates; false when win is no window.
    bool window(Window win, bool client, Geometry& g) {
        Window target = win;
        if (!client) {
            for (;;) {
                Window rootRet = 0, parent = 0, *children = nullptr;
                unsigned n = 0;
                tError = false;
                const Status ok = XQueryTree(dpy_, target, &rootRet, &parent, &children, &n);
                if (children) XFree(children);
                if (!ok || tError) return false;
                if (parent == 0 || parent == rootRet) break;
                target = parent;
            }
        }
        XWindowAttributes attr{};
        tError = false;
        if (!XGetWindowAttributes(dpy_, target, &attr) || tError) return false;
        int ox = 0, oy = 0;
        Window child = 0;
        if (!XTranslateCoordinates(dpy_, target, root_, 0, 0, &ox, &oy, &child) || tError) return false;
        const int border = client ? 0 : attr.border_width;
        g = {ox - border, oy - border, attr.width + 2 * border, attr.height + 2 * border};
        return true;
    }

    // Copies the screen rectangle into a new bitmap; parts beyond the screen stay black.
    LumoBitmap* grab(int64_t left, int64_t top, int32_t width, int32_t height) {
        BitmapPtr bm(newBitmap(width, height));
        if (!bm) return nullptr;
        const Geometry s = screen();
        const int64_t x0 = std::max<int64_t>(left, 0), y0 = std::max<int64_t>(top, 0);
        const int64_t x1 = std::min<int64_t>(left + width, s.width), y1 = std::min<int64_t>(top + height, s.height);
        if (x1 <= x0 || y1 <= y0) return bm.release();
        const int w = static_cast<int>(x1 - x0), h = static_cast<int>(y1 - y0);
        const int dx = static_cast<int>(x0 - left), dy = static_cast<int>(y0 - top);
        if (!(shm_ && grabShm(*bm, static_cast<int>(x0), static_cast<int>(y0), w, h, dx, dy)) &&
            !grabPlain(*bm, static_cast<int>(x0), static_cast<int>(y0), w, h, dx, dy))
            return nullptr;
        return bm.release();
    }

private:
    bool grabShm(LumoBitmap& bm, int x, int y, int w, int h, int dx, int dy) {
        const int s = DefaultScreen(dpy_);
        XShmSegmentInfo info{};
        XImage* img = XShmCreateImage(dpy_, DefaultVisual(dpy_, s), DefaultDepth(dpy_, s), ZPixmap, nullptr, &info,
                                      static_cast<unsigned>(w), static_cast<unsigned>(h));
        if (!img) return false;
        bool ok = false;
        info.shmid = shmget(IPC_PRIVATE, size_t(img->bytes_per_line) * size_t(h), IPC_CREAT | 0600);
        if (info.shmid >= 0) {
            info.shmaddr = img->data = static_cast<char*>(shmat(info.shmid, nullptr, 0));
            if (info.shmaddr != reinterpret_cast<char*>(-1)) {
                info.readOnly = False;
                tError = false;
                if (XShmAttach(dpy_, &info)) {
                    XSync(dpy_, False);
                    if (!tError && XShmGetImage(dpy_, root_, img, x, y, AllPlanes) && !tError) {
                        copyImage(*img, bm, dx, dy);
                        ok = true;
                    }
                    XShmDetach(dpy_, &info);
                    XSync(dpy_, False);
                }
                shmdt(info.shmaddr);
            }
            shmctl(info.shmid, IPC_RMID, nullptr);
        }
        img->data = nullptr;
        XDestroyImage(img);
        if (!ok) shm_ = false;  // e.g. a remote server: use plain requests from now on
        return ok;
    }

    bool grabPlain(LumoBitmap& bm, int x, int y, int w, int h, int dx, int dy) {
        tError = false;
        XImage* img = XGetImage(dpy_, root_, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), AllPlanes, ZPixmap);
        if (!img || tError) {
            if (img) XDestroyImage(img);
            return false;
        }
        copyImage(*img, bm, dx, dy);
        XDestroyImage(img);
        return true;
    }

    static uint32_t scale(unsigned long v, unsigned long mask) {
        if (!mask) return 0;
        const int shift = std::countr_zero(mask);
        const uint64_t max = mask >> shift;
        return static_cast<uint32_t>((((v & mask) >> shift) * 255 + max / 2) / max);
    }

    static void copyImage(XImage& img, LumoBitmap& bm, int dx, int dy) {
        const bool direct = img.bits_per_pixel == 32 && img.byte_order == LSBFirst && img.red_mask == 0xFF0000 &&
                            img.green_mask == 0xFF00 && img.blue_mask == 0xFF;
        for (int y = 0; y < img.height; ++y) {
            uint32_t* out = bm.lpPixels + size_t(y + dy) * size_t(bm.nWidth) + dx;
            if (direct) {
                const auto* in = reinterpret_cast<const uint32_t*>(img.data + size_t(y) * size_t(img.bytes_per_line));
                for (int x = 0; x < img.width; ++x) out[x] = in[x] & 0xFFFFFF;
            } else {
                for (int x = 0; x < img.width; ++x) {
                    const unsigned long p = XGetPixel(&img, x, y);
                    out[x] = (scale(p, img.red_mask) << 16) | (scale(p, img.green_mask) << 8) | scale(p, img.blue_mask);
                }
            }
        }
    }

    Display* dpy_ = nullptr;
    Window root_ = 0;
    bool shm_ = false;
};

}  // namespace

}  // namespace lumo

using namespace lumo;

TAVIK_API int32_t lumoAreaCheck(CaptureArea* area) {
    if (!area) return 0;
    X11Capture cap;
    if (!cap.start()) return area->hWnd ? 0 : 1;
    Geometry g = cap.screen();
    if (area->hWnd && !cap.window(area->hWnd, area->fClient != 0, g)) return 0;
    fitArea(*area, g.width, g.height);
    return 1;
}

TAVIK_API LumoHBITMAP lumoGetBmp(CaptureArea* area) {
    if (!area) return nullptr;
    X11Capture cap;
    if (!cap.start()) return nullptr;
    Geometry g = cap.screen();
    if (area->hWnd && !cap.window(area->hWnd, area->fClient != 0, g)) return nullptr;
    const auto plan = planCapture(*area, g.x, g.y, g.width, g.height);
    if (!plan) return nullptr;
    return cap.grab(plan->left, plan->top, plan->width, plan->height);
}

TAVIK_API int32_t lumoGetPixel(uint8_t* bgr, LumoHWND hWnd, int32_t x, int32_t y, int32_t fClient) {
    if (!bgr) return 0;
    X11Capture cap;
    if (!cap.start()) return 0;
    Geometry g = cap.screen();
    if (hWnd && !cap.window(hWnd, fClient != 0, g)) return 0;
    BitmapPtr px(cap.grab(int64_t{g.x} + x, int64_t{g.y} + y, 1, 1));
    if (!px) return 0;
    const uint32_t c = px->lpPixels[0];
    bgr[0] = static_cast<uint8_t>(c);
    bgr[1] = static_cast<uint8_t>(c >> 8);
    bgr[2] = static_cast<uint8_t>(c >> 16);
    return 1;
}
