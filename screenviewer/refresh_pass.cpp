// One refresh pass: capture the view rectangle with its margins (or, in the
// cursor-shape view, take the mouse pointer's picture), pre-scan, map it onto
// the pins, draw the overlays, send only what changed, and rebuild the text
// line. Runs on the refresh thread only, on the copy of the record handed
// over; the shown record itself is touched only under the view lock, to learn
// whether it is still shown and to give it the pass's histogram and thresholds.
#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

#include "common/data_maps.h"
#include "screenviewer/cursor_shape.h"
#include "screenviewer/viewer.h"

namespace lumo {

namespace {

constexpr int kMarginX = 30;
// The longest text row the client library takes from the line it is given.
constexpr size_t kTextRowBytes = tavik::kTextBytes;
constexpr int kMarginY = 20;
constexpr int64_t kMaxCaptureSide = 1 << 15;
constexpr int64_t kMaxCapturePixels = int64_t(1) << 26;

bool validIndex(int i) { return i >= 0 && i < kRecordCount; }

// What a pre-scan learned about the pixels, copied into a record's condition;
// the thresholds it chose only when `thresholds` (the automatic threshold is on).
void takeScanResult(BinCondition& to, const BinCondition& scanned, bool thresholds) {
    std::memcpy(to.adwHistogram, scanned.adwHistogram, sizeof to.adwHistogram);
    to.dwPixelCount = scanned.dwPixelCount;
    to.dwPeakCount = scanned.dwPeakCount;
    if (scanned.fAutoThreshfold && thresholds) {
        to.bThreshfold = scanned.bThreshfold;
        to.bThreshfoldMin = scanned.bThreshfoldMin;
        to.bThreshfoldMax = scanned.bThreshfoldMax;
        to.bMode = uint16_t(scanned.bMode & ~BIN_PRESCANNED);
    }
}

struct DibCloser {
    DibHandle& dib;
    ~DibCloser() { lumoCloseDib(&dib); }
};

}  // namespace

void Viewer::refreshView(bool force) {
    ++stats_.passes;
    ViewRecord& snap = snapshot_;
    const bool hasLive = validIndex(snapIndex_);
    if (hasLive) {
        // A record another process excluded from the display is not shown.
        std::lock_guard lock(viewMutex_);
        if (share_.records[snapIndex_].flags & kRecordExcluded) return;
    }

    // 1. A capture window that closed falls back to the last foreground window.
    const WindowId target = loadWindowWord(share_.targetWindow);
    if (target != 0 && !refreshDesk_->windowExists(target)) {
        const WindowId last = loadWindowWord(share_.lastForeground);
        if (last != 0 && !refreshDesk_->windowExists(last)) return;
        storeWindowWord(share_.targetWindow, last);
        if (hasLive) {
            std::lock_guard lock(viewMutex_);
            ViewRecord& live = share_.records[snapIndex_];
            live.captureWindow = live.keyWindow;
        }
        snap.captureWindow = snap.keyWindow;
    }

    // 2.-3. The pixels, opened and pre-scanned on a private copy of the
    // condition: the pointer's picture in the cursor-shape view, else the view
    // rectangle of the screen with its margins.
    BinCondition cond = snap.condition;
    ScanContext ctx{};
    const bool cursorView = cursorShape_.load();
    const bool scanned = cursorView ? scanCursor(cond, ctx, force) : scanView(snap, cond, ctx, force);
    DibCloser closer{ctx.dib};
    if (!ctx.dib.hDib) return;
    ++stats_.captures;
    if (!scanned) return;
    // The histogram and the automatic thresholds go to the copy (the pages and
    // the text line show them) and to the record, unless a key or another
    // process switched the record to fixed thresholds since the hand-over.
    takeScanResult(snap.condition, cond, true);
    if (hasLive) {
        std::lock_guard lock(viewMutex_);
        BinCondition& lc = share_.records[snapIndex_].condition;
        takeScanResult(lc, cond, lc.fAutoThreshfold != 0);
    }

    // 4. Panel: an information page or the view mapped onto the pins.
    const bool page = drawInfoPage && drawInfoPage(snap, *main_);
    if (!page) lumoSetPanel(&ctx, main_.get());
    std::memset(layer_->lpData, 0, size_t(layer_->nSize));
    lumoCloseDib(&ctx.dib);

    // 6. Overlays on the image page (the mouse marker knows the cursor-shape view).
    if (!page && !cursorView && snap.overview && snap.viewScope) drawScopeOverlay(snap);
    if (!page && drawOverlays) drawOverlays(snap, *main_, *layer_);

    // 7. Send what changed.
    const size_t bytes = size_t(main_->nSize);
    bool mainSent = false;
    if (force || std::memcmp(main_->lpData, mainSent_->lpData, bytes) != 0) {
        if (sink_.graphic) sink_.graphic(main_->lpData, nullptr, 0);
        std::memcpy(mainSent_->lpData, main_->lpData, bytes);
        mainSent = true;
        ++stats_.graphicSends;
    }
    if (mainSent || std::memcmp(layer_->lpData, layerSent_->lpData, bytes) != 0) {
        if (sink_.graphic) sink_.graphic(nullptr, layer_->lpData, 10);
        std::memcpy(layerSent_->lpData, layer_->lpData, bytes);
    }

    // 8. The text line.
    if (device_.textCells > 0) {
        TextLine line;
        line.fill(kEmptyCell);
        line[kTextLineCells] = 0;
        if (buildTextLine) buildTextLine(snap, line);
        else defaultTextLine(snap, line);
        if (force || !textSentOnce_ || line != lastText_) {
            const auto cells = toDeviceOrder(line);
            // The client library reads the device's text row: zeros after the line.
            std::array<uint8_t, kTextRowBytes> out{};
            static_assert(std::tuple_size_v<decltype(cells)> <= kTextRowBytes);
            std::copy(cells.begin(), cells.end(), out.begin());
            if (sink_.text) sink_.text(out.data());
            lastText_ = line;
            textSentOnce_ = true;
            ++stats_.textSends;
        }
    }
}

bool Viewer::scanView(ViewRecord& snap, BinCondition& cond, ScanContext& ctx, bool force) {
    const Pins p = pins();
    const int32_t cw = saneCell(snap.cellWidth), ch = saneCell(snap.cellHeight);
    const bool area = snap.areaWidth > 0 && snap.areaHeight > 0;
    const int64_t cx = area ? snap.areaWidth : int64_t(p.columns) * cw;
    const int64_t cy = area ? snap.areaHeight : int64_t(p.rows) * ch;
    if (cx > kMaxCaptureSide || cy > kMaxCaptureSide || cx * cy > kMaxCapturePixels) return false;
    // The sizes come from the shared record: a view is never larger than the
    // screen or the captured window (a fitted overview rounds its cells up by
    // less than a pin each), nor than the pins at the device's largest cells.
    const Rect screen = refreshDesk_->windowRect(0).value_or(Rect{});
    const Rect window = snap.captureWindow != 0 ? refreshDesk_->windowRect(snap.captureWindow).value_or(Rect{}) : Rect{};
    const int64_t limitX = std::max({int64_t(screen.width) + p.columns, int64_t(window.width) + p.columns,
                                     int64_t(p.columns) * device_.maxCellPixels});
    const int64_t limitY = std::max({int64_t(screen.height) + p.rows, int64_t(window.height) + p.rows,
                                     int64_t(p.rows) * device_.maxCellPixels});
    if (cx > limitX || cy > limitY) return false;
    CaptureArea a{};
    a.hWnd = snap.captureWindow;
    a.x = snap.baseX;
    a.y = snap.baseY;
    a.cx = int32_t(cx);
    a.cy = int32_t(cy);
    a.nFitX = a.nFitY = 1;
    a.fClient = 0;
    a.nMarginLeft = a.nMarginRight = kMarginX;
    a.nMarginTop = a.nMarginBottom = kMarginY;
    if (!lumoAreaCheck(&a)) return false;
    if ((a.nFitX & 0x100) || (a.nFitY & 0x100)) {
        snap.baseX = a.x;
        snap.baseY = a.y;
    }
    // Nothing under the view (and its margins) changed since the last pass:
    // a periodic pass has nothing to show. Any other pass captures, so the
    // damage gathered so far is only forgotten (no round trip). Windows that a
    // compositing manager redirects need not damage the root: once a second's
    // worth of periodic passes went by without one, a periodic pass captures
    // whatever the damage says.
    if (snapPeriodic_ && !force && ++quietPeriodicPasses_ < periodicPassesPerSecond()) {
        // Bases come from the shared record: in 64 bits, then held to the screen's range.
        int64_t sx = int64_t(a.x) - kMarginX, sy = int64_t(a.y) - kMarginY;
        if (a.hWnd != 0) {
            const auto w = refreshDesk_->windowRect(a.hWnd);
            if (w) {
                sx += w->x;
                sy += w->y;
            }
        }
        const auto to32 = [](int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
        const Rect screen{to32(sx), to32(sy), a.cx + 2 * kMarginX, a.cy + 2 * kMarginY};
        const auto damaged = refreshDesk_->takeDamage(screen);
        if (damaged && !*damaged) {
            ++stats_.skippedUnchanged;
            return false;
        }
    } else {
        refreshDesk_->forgetDamage();
    }
    quietPeriodicPasses_ = 0;
    // Capture and pre-scan in one pass over the pixels, into a DIB kept between passes.
    if (!capture_) capture_.reset(lumoNewCapture());
    if (!capture_ || !lumoPlanCapture(capture_.get(), &a)) return false;
    ctx.lpCondition = &cond;
    ctx.nOriginX = ctx.nHistLeft = a.nMarginLeft;
    ctx.nOriginY = ctx.nHistTop = a.nMarginTop;
    ctx.nLimitX = ctx.nHistRight = a.nMarginLeft + a.cx;
    ctx.nLimitY = ctx.nHistBottom = a.nMarginTop + a.cy;
    ctx.nCellWidth = cw;
    ctx.nCellHeight = ch;
    ctx.nLineThickness = 2;
    ctx.nHLineLength = 30;
    ctx.nVLineLength = 20;
    ctx.nDepthLimit = 10;
    return lumoCapturePreScan(capture_.get(), &ctx) != 0;
}

bool Viewer::scanCursor(BinCondition& cond, ScanContext& ctx, bool force) {
    auto cursor = refreshDesk_->cursorPicture();
    if (!cursor) return false;
    // A periodic pass over the same picture would give the same pins.
    if (snapPeriodic_ && !force && lastCursorSerial_ && *lastCursorSerial_ == cursor->serial) {
        ++stats_.skippedUnchanged;
        return false;
    }
    lastCursorSerial_ = cursor->serial;
    return scanCursorPicture(*cursor, cond, ctx);
}

void Viewer::drawScopeOverlay(const ViewRecord& r) {
    const Pins p = pins();
    const int64_t cw = saneCell(r.cellWidth), ch = saneCell(r.cellHeight);
    const int64_t x0 = std::max<int64_t>(r.scopeX, 0) / cw, y0 = std::max<int64_t>(r.scopeY, 0) / ch;
    const int64_t x1 = (std::max<int64_t>(r.scopeX, 0) + int64_t(saneCell(r.scopeCellWidth)) * p.columns - 1) / cw;
    const int64_t y1 = (std::max<int64_t>(r.scopeY, 0) + int64_t(saneCell(r.scopeCellHeight)) * p.rows - 1) / ch;
    if (x0 >= p.columns || y0 >= p.rows) return;
    const int32_t w = int32_t(std::min<int64_t>(x1 - x0 + 1, p.columns - x0));
    const int32_t h = int32_t(std::min<int64_t>(y1 - y0 + 1, p.rows - y0));
    if (w <= 0 || h <= 0) return;
    lumoClearDotMap(map_.get(), w, h);
    DotOpRequest req{map_.get(), 0, 0, w, h, int32_t(x0), int32_t(y0), DOTOP_READ};
    lumoDotOperation(&req, main_.get());
    req.bOperation = DOTOP_FRAME;
    lumoDotOperation(&req, main_.get());
    uint8_t* d = map_->lpData;
    const int32_t stride = map_->nAllocWidth;
    for (int32_t i = 0; i < w; ++i) d[i] = d[size_t(h - 1) * stride + i] = 1;
    for (int32_t j = 0; j < h; ++j) d[size_t(j) * stride] = d[size_t(j) * stride + w - 1] = 1;
    req.bOperation = DOTOP_COPY;
    lumoDotOperation(&req, layer_.get());
}

void Viewer::defaultTextLine(const ViewRecord& r, TextLine& line) const {
    const int mode = scanningMode_.load();
    line[0] = letterCell(mode == 0 ? 'd' : mode == 1 ? 'w' : 'f');
    if (r.overview) line[1] = letterCell(r.viewScope ? 'v' : r.clientFit ? 'c' : 'h');
    if (mouseSync_.load()) line[3] = letterCell('s');
    std::span<uint8_t> cells(line.data(), kTextLineCells);
    const std::size_t at = renderNumber(cells, 12, r.imageWidth);
    renderNumber(cells, at + 1, r.imageHeight);
}

}  // namespace lumo
