// Screen capture on X11: a screen rectangle into 32-bit 0x00RRGGBB pixels, through one MIT-SHM
// segment kept between captures (grown when a larger one is asked), XGetImage when the server
// has no shared memory or refused it once (a remote server).
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/desktop/x11/x11_desktop_impl.h"

namespace tavik::desktop {

namespace {

uint32_t scale(unsigned long v, unsigned long mask) {
    if (!mask) return 0;
    const int shift = std::countr_zero(mask);
    const uint64_t max = mask >> shift;
    return static_cast<uint32_t>((((v & mask) >> shift) * 255 + max / 2) / max);
}

// Copies the image into out (row r at out + r * stride).
void copyImage(const XImage& img, uint32_t* out, size_t stride) {
    const bool direct = img.bits_per_pixel == 32 && img.byte_order == LSBFirst && img.red_mask == 0xFF0000 &&
                        img.green_mask == 0xFF00 && img.blue_mask == 0xFF;
    for (int y = 0; y < img.height; ++y) {
        uint32_t* row = out + size_t(y) * stride;
        if (direct) {
            const auto* in = reinterpret_cast<const uint32_t*>(img.data + size_t(y) * size_t(img.bytes_per_line));
            for (int x = 0; x < img.width; ++x) row[x] = in[x] & 0xFFFFFFu;
        } else {
            for (int x = 0; x < img.width; ++x) {
                const unsigned long p = XGetPixel(const_cast<XImage*>(&img), x, y);
                row[x] = (scale(p, img.red_mask) << 16) | (scale(p, img.green_mask) << 8) | scale(p, img.blue_mask);
            }
        }
    }
}

}  // namespace

void X11Desktop::releaseShm(Display* d) {
    if (shm.image) {
        shm.image->data = nullptr;
        XDestroyImage(shm.image);
        shm.image = nullptr;
    }
    if (!shm.bytes) return;
    if (d) {
        x11::ErrorTrap trap(d);
        XShmDetach(d, &shm.info);
        trap.sync();
    }
    shmdt(shm.info.shmaddr);
    shm.bytes = 0;
    shm.info = {};
}

namespace {

// Attaches a segment of `bytes` to the server; the segment is marked for removal at once so it
// goes away with the last detach, even when this process is killed.
bool attachSegment(Display* d, XShmSegmentInfo& info, size_t bytes) {
    info = {};
    info.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (info.shmid < 0) return false;
    info.shmaddr = static_cast<char*>(shmat(info.shmid, nullptr, 0));
    if (info.shmaddr == reinterpret_cast<char*>(-1)) {
        shmctl(info.shmid, IPC_RMID, nullptr);
        return false;
    }
    info.readOnly = False;
    x11::ErrorTrap trap(d);
    const bool ok = XShmAttach(d, &info) && trap.sync();
    shmctl(info.shmid, IPC_RMID, nullptr);
    if (!ok) {
        shmdt(info.shmaddr);
        info = {};
    }
    return ok;
}

}  // namespace

template <typename Use>
bool X11Desktop::grabLocked(Display* d, Rect area, Rect& onScreen, const Use& use) {
    onScreen = {};
    Window rootRet = 0;
    int gx = 0, gy = 0;
    unsigned sw = 0, sh = 0, border = 0, depth = 0;
    {
        x11::ErrorTrap trap(d);
        if (!XGetGeometry(d, root, &rootRet, &gx, &gy, &sw, &sh, &border, &depth) || trap.failed()) return false;
    }
    const int64_t x0 = std::max<int64_t>(area.left, 0), y0 = std::max<int64_t>(area.top, 0);
    const int64_t x1 = std::min<int64_t>(int64_t{area.left} + area.width, sw);
    const int64_t y1 = std::min<int64_t>(int64_t{area.top} + area.height, sh);
    if (x1 <= x0 || y1 <= y0) return true;
    const int w = static_cast<int>(x1 - x0), h = static_cast<int>(y1 - y0);
    onScreen = {static_cast<int32_t>(x0 - area.left), static_cast<int32_t>(y0 - area.top), w, h};

    if (hasShm) {
        bool ok = false;
        const int s = DefaultScreen(d);
        if (!shm.image || shm.image->width != w || shm.image->height != h) {
            if (shm.image) {
                shm.image->data = nullptr;
                XDestroyImage(shm.image);
            }
            // The header points at shm.info, which lives as long as this object.
            shm.image = XShmCreateImage(d, DefaultVisual(d, s), DefaultDepth(d, s), ZPixmap, nullptr, &shm.info,
                                        static_cast<unsigned>(w), static_cast<unsigned>(h));
        }
        if (shm.image) {
            const size_t bytes = size_t(shm.image->bytes_per_line) * size_t(h);
            if (bytes > shm.bytes) {
                XImage* keep = shm.image;
                shm.image = nullptr;
                releaseShm(d);
                shm.image = keep;
                if (attachSegment(d, shm.info, bytes)) shm.bytes = bytes;
            }
            if (shm.bytes >= bytes) {
                shm.image->data = shm.info.shmaddr;
                shm.image->obdata = reinterpret_cast<char*>(&shm.info);
                x11::ErrorTrap trap(d);
                if (XShmGetImage(d, root, shm.image, static_cast<int>(x0), static_cast<int>(y0), AllPlanes) &&
                    !trap.failed()) {
                    use(*shm.image);
                    ok = true;
                }
            }
        }
        if (ok) return true;
        if (conn.lost()) return false;
        releaseShm(d);
        hasShm = false;  // e.g. a remote server: plain requests from now on
    }
    x11::ErrorTrap trap(d);
    XImage* img = XGetImage(d, root, static_cast<int>(x0), static_cast<int>(y0), static_cast<unsigned>(w),
                            static_cast<unsigned>(h), AllPlanes, ZPixmap);
    if (!img || trap.failed()) {
        if (img) XDestroyImage(img);
        return false;
    }
    use(*img);
    XDestroyImage(img);
    return true;
}

DesktopStatus X11Desktop::captureLocked(Display* d, Rect area, std::span<uint32_t> pixels, size_t stride) {
    if (area.width < 0 || area.height < 0 || stride < size_t(area.width)) return DesktopStatus::Failed;
    if (area.width == 0 || area.height == 0) return DesktopStatus::Ok;
    const uint64_t need = uint64_t(area.height - 1) * stride + uint64_t(area.width);
    if (need > pixels.size()) return DesktopStatus::Failed;
    Rect on;
    const bool ok = grabLocked(d, area, on, [&](const XImage& img) {
        // Black where the area leaves the screen.
        if (on.left != 0 || on.top != 0 || on.width != area.width || on.height != area.height)
            for (int32_t r = 0; r < area.height; ++r)
                std::fill_n(pixels.data() + size_t(r) * stride, size_t(area.width), 0u);
        copyImage(img, pixels.data() + size_t(on.top) * stride + size_t(on.left), stride);
    });
    if (ok && on.width == 0)  // wholly off the screen
        for (int32_t r = 0; r < area.height; ++r) std::fill_n(pixels.data() + size_t(r) * stride, size_t(area.width), 0u);
    if (ok) return DesktopStatus::Ok;
    return conn.lost() ? DesktopStatus::NoDisplay : DesktopStatus::Failed;
}

DesktopStatus X11Desktop::captureViewLocked(Display* d, Rect area,
                                               const std::function<void(const CapturedView&)>& use) {
    if (area.width < 0 || area.height < 0) return DesktopStatus::Failed;
    Rect on;
    bool called = false;
    const bool ok = area.width == 0 || area.height == 0 || grabLocked(d, area, on, [&](const XImage& img) {
        CapturedView view;
        view.onScreen = on;
        const bool direct = img.bits_per_pixel == 32 && img.byte_order == LSBFirst && img.red_mask == 0xFF0000 &&
                            img.green_mask == 0xFF00 && img.blue_mask == 0xFF && img.bytes_per_line % 4 == 0;
        if (direct) {
            view.pixels = reinterpret_cast<const uint32_t*>(img.data);
            view.stride = size_t(img.bytes_per_line) / 4;
        } else {
            viewRows.resize(size_t(img.width) * size_t(img.height));
            copyImage(img, viewRows.data(), size_t(img.width));
            view.pixels = viewRows.data();
            view.stride = size_t(img.width);
        }
        called = true;
        use(view);
    });
    if (!ok) return conn.lost() ? DesktopStatus::NoDisplay : DesktopStatus::Failed;
    if (!called) use(CapturedView{});  // nothing of the area is on the screen
    return DesktopStatus::Ok;
}

}  // namespace tavik::desktop
