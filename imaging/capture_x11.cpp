// Screen capture for the image library through the suite's desktop layer: the window geometry
// behind lumoAreaCheck, lumoGetBmp and lumoGetPixel, and copying a screen rectangle into a
// bitmap (parts off the screen black). One layer object for the library, its calls serialised.
#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "imaging/bitmap.h"
#include "imaging/capture_area.h"
#include "imaging/scan.h"
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

// Image rows of a capture taken from the desktop layer's captured pixels: the captured rectangle
// is the plan's; what the layer found on the screen is converted, the rest is black.
struct CapturedRows {
    const dt::Desktop::CapturedView* view = nullptr;
    int32_t width = 0;

    void fill(int32_t y, uint8_t* row) const {
        const dt::Rect& on = view->onScreen;
        if (y < on.top || y >= on.top + on.height || on.width <= 0) {
            std::memset(row, 0, 3 * size_t(width));
            return;
        }
        if (on.left > 0) std::memset(row, 0, 3 * size_t(on.left));
        pixelsToBgr(view->pixels + size_t(y - on.top) * view->stride, row + 3 * size_t(on.left), on.width);
        const int64_t right = int64_t{on.left} + on.width;
        if (right < width) std::memset(row + 3 * right, 0, 3 * size_t(width - right));
    }
    static void fillRow(const void* self, int32_t y, uint8_t* row) { static_cast<const CapturedRows*>(self)->fill(y, row); }
    static const uint32_t* rowPixels(const void* self, int32_t y, int32_t& left, int32_t& count) {
        const dt::Rect& on = static_cast<const CapturedRows*>(self)->view->onScreen;
        left = count = 0;
        if (y < on.top || y >= on.top + on.height || on.width <= 0) return nullptr;
        left = on.left;
        count = on.width;
        const auto* v = static_cast<const CapturedRows*>(self)->view;
        return v->pixels + size_t(y - on.top) * v->stride;
    }
};

}  // namespace

}  // namespace lumo

using namespace lumo;

// A kept DIB block (header written, size fixed by the last plan) and the planned rectangle.
struct LumoCapture {
    std::unique_ptr<LumoDibBlock, void (*)(LumoDibBlock*)> block{nullptr, freeBlock};
    std::optional<CapturePlan> plan;

    // The block for the plan, locked and described in dib; false when memory runs out.
    bool open(DibHandle& dib) {
        dib = DibHandle{};
        const size_t stride = static_cast<size_t>(rowStride(24, plan->width));
        const size_t image = stride * size_t(plan->height);
        if (!block || block->size != kInfoHeaderSize + image) {
            block.reset(allocBlock(kInfoHeaderSize + image));
            if (!block) return false;
            block->heldByCapture = true;
            LumoBitmapInfoHeader h{};
            h.biSize = 40;
            h.biWidth = plan->width;
            h.biHeight = plan->height;
            h.biPlanes = 1;
            h.biBitCount = 24;
            h.biSizeImage = static_cast<uint32_t>(image);
            std::memcpy(block->data.get(), &h, sizeof h);
        }
        block->lockCount = 0;  // handles given out before are void now
        dib.hDib = block.get();
        if (lumoLockDib(&dib)) return true;
        dib = DibHandle{};
        return false;
    }

    // Captures the plan into the block, handing the rows to scan (which fills every row of dib's
    // image from them) or, without scan, converting them all here.
    template <typename Scan>
    bool capture(DibHandle& dib, const Scan& scan) {
        if (!plan || !open(dib)) return false;
        const CapturePlan p = *plan;
        if (p.left < INT32_MIN || p.left > INT32_MAX || p.top < INT32_MIN || p.top > INT32_MAX) {
            // All off the screen (as grab() treats it): black rows.
            const dt::Desktop::CapturedView none{};
            const CapturedRows rows{&none, p.width};
            scan(rows);
            return true;
        }
        const dt::Rect area{static_cast<int32_t>(p.left), static_cast<int32_t>(p.top), p.width, p.height};
        const auto status = desktop().captureView(area, [&](const dt::Desktop::CapturedView& view) {
            const CapturedRows rows{&view, p.width};
            scan(rows);
        });
        if (status == dt::DesktopStatus::Ok) return true;
        dib = DibHandle{};
        return false;
    }
};

TAVIK_API LumoHCAPTURE lumoNewCapture(void) {
    try {
        return std::make_unique<LumoCapture>().release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

TAVIK_API void lumoFreeCapture(LumoHCAPTURE capture) { std::unique_ptr<LumoCapture>{capture}; }

TAVIK_API int32_t lumoPlanCapture(LumoHCAPTURE capture, CaptureArea* area) {
    if (!capture) return 0;
    capture->plan.reset();
    if (!area) return 0;
    const auto g = areaOf(area->hWnd, area->fClient != 0);
    if (!g) return 0;
    capture->plan = planCapture(*area, g->x, g->y, g->width, g->height);
    if (!capture->plan) return 0;
    // The sizes lumoGetBmp's bitmap would refuse.
    const ImageLimits limits;
    const CapturePlan& p = *capture->plan;
    if (p.width > limits.maxDimension || p.height > limits.maxDimension ||
        int64_t{p.width} * p.height > limits.maxPixels) {
        capture->plan.reset();
        return 0;
    }
    return 1;
}

TAVIK_API int32_t lumoCaptureDib(LumoHCAPTURE capture, DibHandle* dib) {
    if (!capture || !dib) return 0;
    DibHandle d{};
    const bool ok = capture->capture(d, [&d](const CapturedRows& rows) {
        for (int32_t y = 0; y < d.nHeight; ++y) rows.fill(y, d.lpBits + size_t(d.nHeight - 1 - y) * size_t(d.nStride));
    });
    *dib = ok ? d : DibHandle{};
    return ok ? 1 : 0;
}

TAVIK_API int32_t lumoCapturePreScan(LumoHCAPTURE capture, ScanContext* ctx) {
    if (!capture || !ctx) return 0;
    DibHandle d{};
    int32_t scanned = 0;
    const bool ok = capture->capture(d, [&](const CapturedRows& rows) {
        ctx->dib = d;
        if (!ctx->lpCondition) {  // no scan can start: the image as captured
            for (int32_t y = 0; y < d.nHeight; ++y) rows.fill(y, d.lpBits + size_t(d.nHeight - 1 - y) * size_t(d.nStride));
            return;
        }
        const RowSource source{&CapturedRows::fillRow, &CapturedRows::rowPixels, &rows};
        scanned = preScan(ctx, &source);
    });
    ctx->dib = ok ? d : DibHandle{};
    return ok ? scanned : 0;
}

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
