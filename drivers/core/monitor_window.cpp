// The plug-in's monitor window: slot copy, drawing flag, settings, and the
// calls between the plug-in and the host's window.
#include "drivers/core/monitor_window.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/ini_store.h"
#include "common/settings.h"
#include "platform/atomic_word.h"

namespace tavik::drv {

namespace {

// The map's dot matrix, or 0 x 0 for sizes no slot can hold.
void matrixSize(PortDataMap* map, int& wide, int& high) {
    wide = high = 0;
    if (!map) return;
    const int32_t w = platform::loadWord(map->graphicWidth);
    const int32_t h = platform::loadWord(map->graphicHeight);
    if (w > 0 && h > 0 && static_cast<int64_t>(w) * h <= monitor::kMaxDots) {
        wide = w;
        high = h;
    }
}

}  // namespace

MonitorWindow::MonitorWindow(std::string iniPath) : iniPath_(std::move(iniPath)) {
    view_.context = this;
    view_.size = &MonitorWindow::viewSize;
    view_.copy = &MonitorWindow::viewCopy;
    view_.command = &MonitorWindow::viewCommand;
    view_.moved = &MonitorWindow::viewMoved;
    view_.closed = &MonitorWindow::viewClosed;
}

MonitorWindow::~MonitorWindow() { close(); }

bool MonitorWindow::takeDrawing(int tries) {
    for (int i = 0; i < tries; ++i) {
        bool expected = false;
        if (drawing_.compare_exchange_strong(expected, true, std::memory_order_acquire)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

void MonitorWindow::setHost(const TavikMonitorHost* host) {
    close();
    std::lock_guard<std::mutex> lock(hostMutex_);
    host_ = host;
}

intptr_t MonitorWindow::open(const char* utf8Title, int32_t cellSize, bool keepOnTop, PortDataMap* map) {
    std::lock_guard<std::mutex> lock(hostMutex_);
    if (window_ != 0) return window_;
    if (!host_ || !host_->open) return 0;
    if (!takeDrawing(500)) return 0;
    cellSize_ = monitor::isCellSize(cellSize) ? cellSize : monitor::kMiddleCell;
    matrixSize(map, dotsWide_, dotsHigh_);
    picture_.rebuild(cellSize_, dotsWide_, dotsHigh_);
    picture_.compose({dots_.data(), static_cast<std::size_t>(dotsWide_) * dotsHigh_});
    releaseDrawing();

    if (iniPath_.empty()) iniPath_ = TavikIniPath();
    int32_t x = 0, y = 0;
    if (!iniPath_.empty()) {
        x = profileGetInt("Monitor", "X", 0, iniPath_);
        y = profileGetInt("Monitor", "Y", 0, iniPath_);
    }
    savedX_ = x;
    savedY_ = y;
    const intptr_t window = host_->open(host_->context, &view_, utf8Title ? utf8Title : "", std::max(x, 0),
                                        std::max(y, 0), cellSize_, keepOnTop ? 1 : 0);
    if (window == 0) return 0;
    window_ = window;
    open_ = true;
    return window_;
}

void MonitorWindow::close() {
    std::lock_guard<std::mutex> lock(hostMutex_);
    if (window_ == 0) return;
    const intptr_t window = window_;
    window_ = 0;
    open_ = false;
    if (host_ && host_->close) host_->close(host_->context, window);
}

bool MonitorWindow::readDots(PortDataMap* map, int32_t slot, bool slotHeld) {
    int wide = 0, high = 0;
    matrixSize(map, wide, high);
    const std::size_t n = static_cast<std::size_t>(wide) * static_cast<std::size_t>(high);
    if (map && isSlot(slot) && n > 0) {
        // The client writes the slot under its busy flag: copy under it too,
        // or keep the last picture rather than show a half-written one.
        if (!slotHeld && !takeSlotBusy(*map, slot, kSlotBusyTries)) return false;
        std::memcpy(dots_.data(), map->slots[slot].graphic, n);
        if (!slotHeld) setSlotBusy(*map, slot, 0);
    } else {
        std::fill(dots_.begin(), dots_.end(), uint8_t{0});
    }
    if (wide != dotsWide_ || high != dotsHigh_) {
        // The device was identified (or changed) while the window is open:
        // the picture follows; the host resizes when it next paints.
        dotsWide_ = wide;
        dotsHigh_ = high;
        if (open_.load()) picture_.rebuild(cellSize_, dotsWide_, dotsHigh_);
    }
    return true;
}

void MonitorWindow::refresh(PortDataMap* map, int32_t slot, bool slotHeld) {
    if (!takeDrawing(10)) return;
    if (!readDots(map, slot, slotHeld)) {
        releaseDrawing();
        return;
    }
    const bool open = open_.load();
    if (open) picture_.compose({dots_.data(), static_cast<std::size_t>(dotsWide_) * dotsHigh_});
    releaseDrawing();
    if (!open) return;
    std::lock_guard<std::mutex> lock(hostMutex_);
    if (window_ != 0 && host_ && host_->invalidate) host_->invalidate(host_->context, window_);
}

void MonitorWindow::viewSize(void* self, int32_t* width, int32_t* height) {
    auto* m = static_cast<MonitorWindow*>(self);
    int32_t w = 0, h = 0;
    if (m->takeDrawing(500)) {
        w = m->picture_.width();
        h = m->picture_.height();
        m->releaseDrawing();
    }
    if (width) *width = w;
    if (height) *height = h;
}

int32_t MonitorWindow::viewCopy(void* self, uint32_t* dest, int32_t width, int32_t height, int32_t stride) {
    auto* m = static_cast<MonitorWindow*>(self);
    if (!dest || width <= 0 || height <= 0 || stride < width) return 0;
    if (!m->takeDrawing(500)) return 0;
    const bool fits = width == m->picture_.width() && height == m->picture_.height();
    if (fits) {
        const auto pixels = m->picture_.pixels();
        for (int32_t y = 0; y < height; ++y)
            std::memcpy(dest + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride),
                        pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width),
                        static_cast<std::size_t>(width) * sizeof(uint32_t));
    }
    m->releaseDrawing();
    return fits ? 1 : 0;
}

void MonitorWindow::viewCommand(void* self, int32_t command) {
    auto* m = static_cast<MonitorWindow*>(self);
    int cell = 0;
    switch (command) {
        case TAVIK_MONITOR_SMALL: cell = monitor::kSmallCell; break;
        case TAVIK_MONITOR_MIDDLE: cell = monitor::kMiddleCell; break;
        case TAVIK_MONITOR_LARGE: cell = monitor::kLargeCell; break;
        default: return;
    }
    if (!m->takeDrawing(500)) return;
    m->cellSize_ = cell;
    m->picture_.rebuild(cell, m->dotsWide_, m->dotsHigh_);
    m->picture_.compose({m->dots_.data(), static_cast<std::size_t>(m->dotsWide_) * m->dotsHigh_});
    m->releaseDrawing();
}

void MonitorWindow::viewMoved(void* self, int32_t x, int32_t y) {
    auto* m = static_cast<MonitorWindow*>(self);
    if (m->iniPath_.empty()) return;
    // Only real changes reach the file: a window manager reports many moves.
    if (x != m->savedX_) WriteProfileInt("Monitor", "X", x, m->iniPath_);
    if (y != m->savedY_) WriteProfileInt("Monitor", "Y", y, m->iniPath_);
    m->savedX_ = x;
    m->savedY_ = y;
}

void MonitorWindow::viewClosed(void* self) {
    auto* m = static_cast<MonitorWindow*>(self);
    std::lock_guard<std::mutex> lock(m->hostMutex_);
    m->window_ = 0;
    m->open_ = false;
}

}  // namespace tavik::drv
