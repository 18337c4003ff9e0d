// The plug-in's monitor window: the copy of the shown slot's dots, the picture
// drawn from it and the link to the host's on-screen window. The
// communication thread refreshes it; the host's main thread opens, paints and
// closes it. Without a host (a headless process) it never opens.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/data_maps.h"
#include "drivers/core/monitor_host.h"
#include "drivers/core/monitor_picture.h"

namespace tavik::drv {

class MonitorWindow {
public:
    // `iniPath`: the settings file whose section "Monitor" keeps "X" and "Y";
    // empty: the controller's settings file, looked up at the first open.
    explicit MonitorWindow(std::string iniPath = {});
    // Closes the window through the host if it is still open.
    ~MonitorWindow();
    MonitorWindow(const MonitorWindow&) = delete;
    MonitorWindow& operator=(const MonitorWindow&) = delete;

    void setIniPath(std::string iniPath) { iniPath_ = std::move(iniPath); }

    // Main thread. The host stays valid until replaced; null closes any open
    // window first and leaves the monitor unable to open.
    void setHost(const TavikMonitorHost* host);

    // drvOpenMonitorWindow: the open window, or a new one for the map's dot
    // matrix (none when `map` is null) at `cellSize` pixels a dot (5, 10 or
    // 15; anything else is 10). 0 without a host or when the host fails.
    intptr_t open(const char* utf8Title, int32_t cellSize, bool keepOnTop, PortDataMap* map);
    // drvCloseMonitorWindow: destroys the window; nothing when none is open.
    void close();
    bool isOpen() const { return open_.load(); }

    // Communication thread: copies the graphic of `slot` (or clears the copy
    // for a value that is no slot), redraws the picture when the window is
    // open and asks the host to repaint. Skips the redraw when the picture
    // stays busy for 10 ms, or the slot (its client writing) for 5 ms. Never
    // blocks longer.
    // `slotHeld`: the caller holds the slot's busy flag itself.
    void refresh(PortDataMap* map, int32_t slot, bool slotHeld = false);

    // The view given to the host (public for tests of a host).
    const TavikMonitorView& view() const { return view_; }

private:
    // The drawing flag that serialises the picture: up to `tries` 1 ms apart.
    bool takeDrawing(int tries);
    void releaseDrawing() { drawing_.store(false, std::memory_order_release); }
    // False when the slot stayed busy: the copy is left as it was.
    bool readDots(PortDataMap* map, int32_t slot, bool slotHeld);

    static void viewSize(void* self, int32_t* width, int32_t* height);
    static int32_t viewCopy(void* self, uint32_t* dest, int32_t width, int32_t height, int32_t stride);
    static void viewCommand(void* self, int32_t command);
    static void viewMoved(void* self, int32_t x, int32_t y);
    static void viewClosed(void* self);

    static constexpr int kSlotBusyTries = 5;

    std::string iniPath_;
    TavikMonitorView view_{};

    // Guards host_ and window_ (open, close, invalidate).
    std::mutex hostMutex_;
    const TavikMonitorHost* host_ = nullptr;
    intptr_t window_ = 0;
    std::atomic<bool> open_{false};

    std::atomic<bool> drawing_{false};
    // Under the drawing flag: the picture and the copy of the slot's dots.
    MonitorPicture picture_;
    std::vector<uint8_t> dots_ = std::vector<uint8_t>(monitor::kMaxDots, 0);
    int dotsWide_ = 0, dotsHigh_ = 0;
    int cellSize_ = monitor::kMiddleCell;
    int savedX_ = -1, savedY_ = -1;
};

}  // namespace tavik::drv
