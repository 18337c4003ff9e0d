// Screen capture for the image library through the suite's desktop layer: the window geometry
// behind lumoAreaCheck, lumoGetBmp and lumoGetPixel, and copying a screen rectangle into a
// bitmap (parts off the screen black). One layer object for the library, its calls serialised.
#include <climits>

#include "imaging/bitmap.h"
#include "imaging/capture_area.h"
#include "platform/desktop/desktop.h"

namespace lumo {

namespace {

namespace dt = tavik::desktop;

struct Geometry {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

dt::Desktop& desktop() {
    static dt::Desktop d;
    return d;
}

// The screen, or the window's client area (fClient) or outer rectangle; nullopt without a
// display or when win is no window.
std::optional<Geometry> areaOf(LumoHWND win, bool client) {
    dt::Desktop& d = desktop();
    if (!win) {
        const auto s = d.screenSize();
        if (!s) return std::nullopt;
        return Geometry{0, 0, s->width, s->height};
    }
    const auto r = client ? d.clientRect(win) : d.windowRect(win);
    if (!r) return std::nullopt;
    return Geometry{r->left, r->top, r->width, r->height};
}

// Copies the screen rectangle into a new bitmap; parts beyond the screen stay black.
LumoBitmap* grab(int64_t left, int64_t top, int32_t width, int32_t height) {
    BitmapPtr bm(newBitmap(width, height));
    if (!bm) return nullptr;
    // The layer takes 32-bit screen coordinates; an area starting beyond them is all off the
    // screen, so the bitmap stays black.
    if (left < INT32_MIN || left > INT32_MAX || top < INT32_MIN || top > INT32_MAX) return bm.release();
    const size_t count = size_t(bm->nWidth) * size_t(bm->nHeight);
    const dt::Rect area{static_cast<int32_t>(left), static_cast<int32_t>(top), bm->nWidth, bm->nHeight};
    if (desktop().capture(area, std::span<uint32_t>(bm->lpPixels, count), size_t(bm->nWidth)) != dt::DesktopStatus::Ok)
        return nullptr;
    return bm.release();
}

}  // namespace

}  // namespace lumo

using namespace lumo;

TAVIK_API int32_t lumoAreaCheck(CaptureArea* area) {
    if (!area) return 0;
    if (!desktop().connected()) return area->hWnd ? 0 : 1;
    const auto g = areaOf(area->hWnd, area->fClient != 0);
    if (!g) return 0;
    fitArea(*area, g->width, g->height);
    return 1;
}

TAVIK_API LumoHBITMAP lumoGetBmp(CaptureArea* area) {
    if (!area) return nullptr;
    const auto g = areaOf(area->hWnd, area->fClient != 0);
    if (!g) return nullptr;
    const auto plan = planCapture(*area, g->x, g->y, g->width, g->height);
    if (!plan) return nullptr;
    return grab(plan->left, plan->top, plan->width, plan->height);
}

TAVIK_API int32_t lumoGetPixel(uint8_t* bgr, LumoHWND hWnd, int32_t x, int32_t y, int32_t fClient) {
    if (!bgr) return 0;
    const auto g = areaOf(hWnd, fClient != 0);
    if (!g) return 0;
    BitmapPtr px(grab(int64_t{g->x} + x, int64_t{g->y} + y, 1, 1));
    if (!px) return 0;
    const uint32_t c = px->lpPixels[0];
    bgr[0] = static_cast<uint8_t>(c);
    bgr[1] = static_cast<uint8_t>(c >> 8);
    bgr[2] = static_cast<uint8_t>(c >> 16);
    return 1;
}
