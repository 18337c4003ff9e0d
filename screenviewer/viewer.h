// The screen viewer's core (no Qt): the view records in "Lumo share data",
// the focus records in "Lumo hook data", the hand-over of the view to the
// refresh thread, the refresh pass (capture, pre-scan, panel, overlays, send
// only what changed, text line), the watch thread's foreground and focus
// tracking, and the navigation commands that keys and dialogs call.
//
// Threads: the dialog thread calls the commands and onTimerTick(); the watch
// thread tracks; the key thread runs the device's commands; the refresh
// thread is the only one that captures and sends. In this process the view
// records, the current and desktop record indexes are read and written only
// under the view lock (short sections: record arithmetic and copies, never a
// desktop call but the window look-ups of a record choice); commands end with
// publishView(), which copies the current record for the refresh thread, and
// the refresh pass works on that copy. Other processes write the section
// without the lock: every value read from it is checked before it indexes anything.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "imaging/lumoutil.h"
#include "screenviewer/braille_cells.h"
#include "screenviewer/desktop_port.h"
#include "screenviewer/device_config.h"
#include "screenviewer/navigation.h"
#include "screenviewer/share_layout.h"

namespace lumo {

// Where the pins and the text line go; the real one is the client library.
struct DeviceSink {
    std::function<int(const uint8_t* plane1, const uint8_t* plane2, int level)> graphic;
    std::function<int(const uint8_t* cells)> text;
};
DeviceSink clientLibrarySink();

// The focus hook library's entry points (either may be missing).
struct HookLibrary {
    using StartFn = int (*)(void* args);
    using EndFn = int (*)(void);
    StartFn start = nullptr;
    EndFn end = nullptr;
};

enum class ScanningMode { FullScreen = 0, ApplicationWindow = 1, FocusSync = 2 };

class Viewer {
public:
    // `hook` may be null (no focus records). `watchDesk` serves the dialog and
    // the watch thread, `refreshDesk` the refresh thread.
    Viewer(ViewerShare& share, HookData* hook, const DeviceConfig& device, std::unique_ptr<DesktopPort> watchDesk,
           std::unique_ptr<DesktopPort> refreshDesk, DeviceSink sink);
    ~Viewer();  // stops the threads (see stopThreads())
    Viewer(const Viewer&) = delete;
    Viewer& operator=(const Viewer&) = delete;

    // False when the panels could not be made.
    bool usable() const { return main_ && mainSent_ && layer_ && layerSent_ && map_; }
    const DeviceConfig& device() const { return device_; }
    Pins pins() const { return device_.pins; }

    // Publishes the main dialog's window in the share section.
    void setDialogWindow(WindowId w) { share_.dialogWindow = w; }
    // Mouse positions of the client library are relative to this window (0: the screen).
    WindowId targetWindow() const { return loadWindowWord(share_.targetWindow); }

    // ---- Life cycle ----
    // Selects the whole-screen record and creates both threads, waiting to be
    // resumed. False when a thread cannot be created.
    bool createThreads(HookLibrary hookLibrary);
    // The dialog's 100 ms timer: the start countdown (the fifth tick sends the
    // device start-up command through `startCommand` and resumes the threads)
    // and the periodic refresh.
    void onTimerTick(const std::function<void()>& startCommand);
    // Stops the watch thread (which ends the hook library) and the refresh
    // thread, waiting for both together up to 0.7 s. False when one has not
    // ended by then: it is joined by the destructor (it still uses the viewer).
    bool stopThreads();
    bool threadsRunning() const { return resumed_.load(); }

    // ---- Settings ----
    // 0 None, 1 0.1 s, 2 0.2 s, 3 0.5 s; the periodic count starts again.
    void setRefreshChoice(int choice);
    int refreshChoice() const { return refreshChoice_.load(); }
    ScanningMode scanningMode() const { return ScanningMode(scanningMode_.load()); }
    void setScanningMode(ScanningMode m) { scanningMode_ = int(m); }
    bool mouseSync() const { return mouseSync_.load(); }
    // The cursor-shape view: the pins show the mouse pointer's picture
    // instead of the screen (the caller publishes the view).
    void setCursorShapeView(bool on) { cursorShape_ = on; }
    bool cursorShapeView() const { return cursorShape_.load(); }
    void setFrameEnabled(bool on);
    bool frameEnabled() const { return frameEnabled_.load(); }

    // ---- Display range and modes (dialog commands) ----
    void fullScreen();                 // 258
    void applicationWindow();          // 257
    void toggleFocusSync();            // 264
    void toggleMouseSync();            // 265
    void toggleOverview();             // 266
    void toggleViewScope();            // 267
    void wholeScreenFromWindow();

    // ---- Navigation of the current record (each ends with the frame and PublishView) ----
    void pan(int dxPins, int dyPins);
    void panScope(int dxCells, int dyCells);
    void jumpTo(int key);
    bool zoomOut(ZoomAnchor anchor, int32_t px = 0, int32_t py = 0);
    bool zoomIn(ZoomAnchor anchor, int32_t px = 0, int32_t py = 0);
    void centreOn(int32_t x, int32_t y);
    void contain(int32_t x, int32_t y);
    // The current record was changed by the caller: frame and PublishView.
    void viewChanged() { afterChange(); }
    // Client-area overview: from the focus window's stored client area
    // (`fromFocus`, when one is known) or from the capture window's.
    void clientOverview(bool fromFocus);
    // The focus window's client area of the current record is known.
    bool clientRectKnown();
    // FitViewToWindow on the current record with its window's size now.
    void fitCurrentToWindow();
    // The next tracking pass places the view on the focus.
    void placeOnFocusNext() { replace_ = true; }

    // Hides the view frame before a capture that must not show it (a saved
    // screen image); the hide has reached the X server when this returns. The
    // next change of the view shows it again.
    void hideViewFrame();

    // ---- Pipeline ----
    // Hands the current record to the refresh thread. `periodic`: from the
    // refresh timer (such a pass is skipped when nothing under the view changed).
    void publishView(bool periodic = false);
    // Makes the next pass send the panels and the text line even when unchanged (Enter), and hands over.
    void forceRefresh();
    // True while the next pass is to send everything (until that pass runs).
    bool forcePending() const { return forceNext_.load(); }
    // Copies the hand-over buffer into the snapshot when a view is due; false when none is.
    bool takeHandOver();
    // One refresh pass on the snapshot (refresh thread; tests call it directly).
    void refreshView(bool force);
    // One foreground / focus tracking pass (watch thread; tests call it directly).
    void trackForeground();
    // One watch pass: request flags, the real mouse (followMouse), then
    // tracking when 100 ms have passed or `trackNow` is set.
    void watchPass(bool trackNow = false);

    // ---- The current record ----
    // A copy of the current record, made valid first (a hostile index falls
    // back to the whole-screen record).
    ViewRecord currentView();
    int currentIndex();
    // Counts the times record i was started anew for another window: what is
    // kept beside a record (a saved mouse position) is stale once it moved on.
    uint32_t recordEpoch(int i) const { return i >= 0 && i < kRecordCount ? epochs_[size_t(i)].load() : 0; }
    // Runs f(record, index) on the current record with the view lock held and
    // returns its result. f must not call back into the viewer (the lock is
    // not recursive) nor wait for another thread.
    template <class F>
    decltype(auto) editCurrent(F&& f) {
        std::lock_guard lock(viewMutex_);
        const int i = currentIndexLocked();
        return f(share_.records[i], i);
    }
    // The current record itself, without the lock: only while the viewer's
    // threads do not run (tests, benchmarks).
    ViewRecord& current();
    // Called on the dialog thread's behalf whenever the boxes should follow
    // the current record (runs on the calling thread).
    std::function<void()> onModesChanged;
    // The text line builder (pages module); the default gives the mode field
    // and the image size.
    std::function<void(const ViewRecord&, TextLine&)> buildTextLine;
    // The panel of an information page instead of the image, when set and it returns true.
    std::function<bool(const ViewRecord&, DotPanel&)> drawInfoPage;
    // Overlays on the image page after the ViewScope frame (the mouse marker):
    // the shown record, the main panel and the second layer.
    std::function<void(const ViewRecord&, DotPanel& main, DotPanel& layer)> drawOverlays;

    // The real mouse, asked on the watch thread in every pass while HookData
    // exists; returns true while it wants to be asked often (mouse
    // emulation, a pen drag or mouse-sync on).
    std::function<bool()> followMouse;

    // Counters for tests and benchmarks.
    struct Stats {
        std::atomic<uint64_t> passes{0}, captures{0}, skippedUnchanged{0}, graphicSends{0}, textSends{0};
    };
    const Stats& stats() const { return stats_; }
    const DotPanel& mainPanel() const { return *main_; }

private:
    struct PanelDeleter {
        void operator()(void* p) const { lumoFreePanel(p); }
    };
    using PanelPtr = std::unique_ptr<DotPanel, PanelDeleter>;
    using MapPtr = std::unique_ptr<DotMap, PanelDeleter>;

    WindowFacts factsOf(WindowId w);
    Rect screenRectOf(WindowId w);  // window 0: the screen
    // The view lock held.
    int currentIndexLocked();
    // SelectViewRecord with the view lock held; a record started anew loses
    // what was kept beside it for its former window.
    int selectRecordLocked(WindowId window);
    // Places the frame around the view of a copy of a record (desktop calls; no view lock held).
    void placeViewFrame(const ViewRecord& r);
    // Places record i (of which `seen` is a copy) on the focus the hook reported.
    void placeOnHook(int i, const ViewRecord& seen, const HookThreadRecord& h);
    // The client area of a capture window relative to it (the screen for 0);
    // nullopt when a window cannot be asked. Desktop calls; no view lock held.
    std::optional<Rect> clientAreaOf(WindowId captureWindow);
    // Fits record i to its window's size when the window is still `captureWindow`
    // and its size changed; true when it did. Desktop calls outside the view lock.
    bool fitRecordToWindow(int i, WindowId captureWindow);
    void afterChange();  // frame + PublishView
    void defaultTextLine(const ViewRecord& r, TextLine& line) const;
    void drawScopeOverlay(const ViewRecord& r);
    // Steps 2 and 3 of the pass: opens and pre-scans the pixels in ctx.dib
    // (hDib null when there is nothing to show); returns the pre-scan's result.
    bool scanView(ViewRecord& snap, BinCondition& cond, ScanContext& ctx, bool force);
    bool scanCursor(BinCondition& cond, ScanContext& ctx, bool force);
    // How many periodic passes make a second at the refresh choice.
    int periodicPassesPerSecond() const;
    void refreshLoop();
    void watchLoop(HookLibrary hookLibrary);
    void threadEnded(bool& ended);  // a thread's last step: tells stopThreads()

    ViewerShare& share_;
    HookData* hook_;
    DeviceConfig device_;
    std::unique_ptr<DesktopPort> desk_;
    std::unique_ptr<DesktopPort> refreshDesk_;
    DeviceSink sink_;
    std::mutex deskMutex_;  // the watch desk serves the dialog and the watch thread
    // The view lock: the share's records and its current and desktop indexes.
    // Taken before the hand-over, desk and client locks, never after them.
    std::mutex viewMutex_;

    PanelPtr main_, mainSent_, layer_, layerSent_;
    MapPtr map_;
    // The refresh pass's capture: its DIB is kept between passes (refresh thread only).
    struct CaptureDeleter {
        void operator()(LumoCapture* c) const { lumoFreeCapture(c); }
    };
    std::unique_ptr<LumoCapture, CaptureDeleter> capture_;
    std::mutex clientMutex_;  // the watch thread writes, the keys read
    std::array<std::optional<Rect>, kRecordCount> clientRects_{};  // focus client area, relative to capture
    std::array<std::atomic<uint32_t>, kRecordCount> epochs_{};  // written under the view lock

    // Hand-over buffer.
    std::mutex handMutex_;
    std::condition_variable handCv_;
    ViewRecord handOver_{};
    int handIndex_ = -1;
    bool due_ = false;
    bool duePeriodicOnly_ = false;
    ViewRecord snapshot_{};
    int snapIndex_ = -1;
    bool snapPeriodic_ = false;
    TextLine lastText_{};
    bool textSentOnce_ = false;
    int quietPeriodicPasses_ = 0;  // periodic passes since the last capture of the view (refresh thread)

    std::atomic<int> refreshChoice_{1};
    std::atomic<int> tickCounter_{0};
    std::atomic<int> countdown_{5};
    std::atomic<int> scanningMode_{2};
    std::atomic<bool> mouseSync_{false};
    std::atomic<bool> cursorShape_{false};
    std::optional<uint64_t> lastCursorSerial_;  // of the picture last scanned (refresh thread)
    std::atomic<bool> replace_{false};
    std::atomic<bool> reselect_{false};  // select the window in front even when it did not change
    std::atomic<bool> forceNext_{false};  // the next pass sends even what did not change
    std::atomic<bool> frameEnabled_{true};
    std::atomic<bool> resumed_{false};
    std::atomic<bool> mouseWatched_{false};  // followMouse asked to be asked often
    bool foregroundDue_ = false;             // the window in front may have changed (runMutex_)
    std::atomic<bool> stop_{false};
    std::mutex runMutex_;
    std::condition_variable runCv_;
    std::chrono::steady_clock::time_point lastTrack_{};
    std::thread watch_, refresh_;
    bool watchEnded_ = false, refreshEnded_ = false;  // runMutex_
    HookLibrary hookLibrary_;
    Stats stats_;
};

}  // namespace lumo
