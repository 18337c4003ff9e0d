// The viewer core: record choice and navigation on the shared records, the
// hand-over to the refresh thread, the refresh pass and the tracking pass.
#include "screenviewer/viewer.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

#include "client/tavikutil.h"

namespace lumo {

namespace {

constexpr auto kTrackPeriod = std::chrono::milliseconds(100);
// While the real mouse is followed the watch thread looks at it this often: as often as the
// pacing of the passes lets a marker that moved reach the device.
constexpr auto kMousePeriod = std::chrono::milliseconds(50);
// Reports of a new window in front are followed at once, but never closer than this.
constexpr auto kMinTrackGap = std::chrono::milliseconds(10);
constexpr auto kPassPacing = std::chrono::milliseconds(50);
// How long stopThreads() waits for both threads.
constexpr auto kStopBound = std::chrono::milliseconds(700);

bool validIndex(int i) { return i >= 0 && i < kRecordCount; }

// The part of `r` on `screen` (empty when none), in 64 bits: `r` may hold any
// values another process wrote.
Rect onScreen(const Rect& r, const Rect& screen) {
    const int64_t left = std::max<int64_t>(r.x, screen.x), top = std::max<int64_t>(r.y, screen.y);
    const int64_t right = std::min<int64_t>(int64_t(r.x) + r.width, int64_t(screen.x) + screen.width);
    const int64_t bottom = std::min<int64_t>(int64_t(r.y) + r.height, int64_t(screen.y) + screen.height);
    if (right <= left || bottom <= top) return {};
    return {int32_t(left), int32_t(top), int32_t(right - left), int32_t(bottom - top)};
}

}  // namespace

DeviceSink clientLibrarySink() {
    return {[](const uint8_t* p1, const uint8_t* p2, int level) { return gdDisplayGraphicData(p1, p2, level); },
            [](const uint8_t* cells) { return gdDisplayTextData(cells); }};
}

Viewer::Viewer(ViewerShare& share, HookData* hook, const DeviceConfig& device, std::unique_ptr<DesktopPort> watchDesk,
               std::unique_ptr<DesktopPort> refreshDesk, DeviceSink sink)
    : share_(share), hook_(hook), device_(device), desk_(std::move(watchDesk)), refreshDesk_(std::move(refreshDesk)),
      sink_(std::move(sink)) {
    share_.pinColumns = device_.pins.columns;
    share_.pinRows = device_.pins.rows;
    share_.textCells = device_.textCells;
    share_.maxCellPixels = device_.maxCellPixels;
    const auto [w, h] = device_.pins;
    main_.reset(lumoNewPanel(w, h));
    mainSent_.reset(lumoNewPanel(w, h));
    layer_.reset(lumoNewPanel(w, h));
    layerSent_.reset(lumoNewPanel(w, h));
    map_.reset(lumoNewDotMap(w, h));
}

Viewer::~Viewer() {
    if (stopThreads()) return;
    // A thread still in a call past the bound works on this viewer's members: they stay until it
    // returns (every call it makes is bounded).
    std::fputs("Lumo: a viewer thread is late to end; waiting for it.\n", stderr);
    if (watch_.joinable()) watch_.join();
    if (refresh_.joinable()) refresh_.join();
}

// ---- Records ----

WindowFacts Viewer::factsOf(WindowId w) {
    WindowFacts f;
    const Rect r = screenRectOf(w);
    f.width = r.width;
    f.height = r.height;
    if (w != 0) {
        std::lock_guard lock(deskMutex_);
        f.threadId = desk_->windowProcess(w).value_or(0);
    }
    return f;
}

Rect Viewer::screenRectOf(WindowId w) {
    std::lock_guard lock(deskMutex_);
    return desk_->windowRect(w).value_or(Rect{});
}

int Viewer::currentIndexLocked() {
    // The indexes are read once into locals: another process may write them meanwhile.
    int i = share_.currentRecord;
    if (!validIndex(i)) {
        i = share_.desktopRecord;
        if (!validIndex(i) || share_.records[i].keyWindow != 0) i = 0;
        share_.currentRecord = i;
    }
    return i;
}

int Viewer::selectRecordLocked(WindowId window) {
    bool fresh = false;
    const int i = selectViewRecord(share_, window, [this](WindowId w) { return factsOf(w); }, pins(), &fresh);
    if (fresh) {
        epochs_[size_t(i)].fetch_add(1);
        std::lock_guard lock(clientMutex_);
        clientRects_[size_t(i)].reset();
    }
    return i;
}

ViewRecord& Viewer::current() {
    std::lock_guard lock(viewMutex_);
    return share_.records[currentIndexLocked()];
}

ViewRecord Viewer::currentView() {
    std::lock_guard lock(viewMutex_);
    return share_.records[currentIndexLocked()];
}

int Viewer::currentIndex() {
    std::lock_guard lock(viewMutex_);
    return currentIndexLocked();
}

// ---- Life cycle ----

bool Viewer::createThreads(HookLibrary hookLibrary) {
    {
        std::lock_guard lock(viewMutex_);
        share_.desktopRecord = selectRecordLocked(0);
    }
    hookLibrary_ = hookLibrary;
    try {
        refresh_ = std::thread([this] {
            refreshLoop();
            threadEnded(refreshEnded_);
        });
        watch_ = std::thread([this] {
            watchLoop(hookLibrary_);
            threadEnded(watchEnded_);
        });
    } catch (const std::system_error&) {
        stopThreads();
        return false;
    }
    return true;
}

void Viewer::onTimerTick(const std::function<void()>& startCommand) {
    if (countdown_.load() > 0 && --countdown_ == 0) {
        if (startCommand) startCommand();
        {
            std::lock_guard lock(runMutex_);
            resumed_ = true;
        }
        runCv_.notify_all();
        publishView();
        return;
    }
    static constexpr int kPeriods[4] = {0, 1, 2, 5};
    const int choice = refreshChoice_.load();
    const int period = choice >= 0 && choice < 4 ? kPeriods[choice] : 0;
    if (period != 0 && ++tickCounter_ >= period) publishView(true);
}

void Viewer::threadEnded(bool& ended) {
    {
        std::lock_guard lock(runMutex_);
        ended = true;
    }
    runCv_.notify_all();
}

bool Viewer::stopThreads() {
    {
        std::lock_guard lock(runMutex_);
        stop_ = true;
    }
    runCv_.notify_all();
    {
        std::lock_guard lock(handMutex_);
    }
    handCv_.notify_all();
    // Both threads end together within one bound.
    const auto deadline = std::chrono::steady_clock::now() + kStopBound;
    bool watchDone = false, refreshDone = false;
    {
        std::unique_lock lock(runMutex_);
        runCv_.wait_until(lock, deadline, [&] {
            return (!watch_.joinable() || watchEnded_) && (!refresh_.joinable() || refreshEnded_);
        });
        watchDone = watchEnded_;
        refreshDone = refreshEnded_;
    }
    if (watch_.joinable() && watchDone) watch_.join();
    if (refresh_.joinable() && refreshDone) refresh_.join();
    return !watch_.joinable() && !refresh_.joinable();
}

int Viewer::periodicPassesPerSecond() const {
    static constexpr int kPasses[4] = {10, 10, 5, 2};  // 100 ms ticks per periodic pass: -, 1, 2, 5
    const int choice = refreshChoice_.load();
    return choice >= 0 && choice < 4 ? kPasses[choice] : 10;
}

void Viewer::setRefreshChoice(int choice) {
    refreshChoice_ = std::clamp(choice, 0, 3);
    tickCounter_ = 0;
}

void Viewer::setFrameEnabled(bool on) {
    frameEnabled_ = on;
    std::lock_guard lock(deskMutex_);
    if (!on) {
        desk_->hideFrame();
        share_.frameShown = 0;
        std::memset(share_.frameRect, 0, sizeof share_.frameRect);
    } else {
        share_.frameShown = 1;
    }
}

// ---- Display range and modes ----

void Viewer::fullScreen() {
    scanningMode_ = int(ScanningMode::FullScreen);
    {
        std::lock_guard lock(viewMutex_);
        share_.desktopRecord = selectRecordLocked(0);
    }
    if (onModesChanged) onModesChanged();
    afterChange();
}

void Viewer::applicationWindow() {
    if (scanningMode_.load() != int(ScanningMode::ApplicationWindow)) {
        scanningMode_ = int(ScanningMode::ApplicationWindow);
        replace_ = true;
        reselect_ = true;  // the next tracking pass selects the window in front
    }
    if (onModesChanged) onModesChanged();
}

void Viewer::toggleFocusSync() {
    const bool wasFullScreen = scanningMode_.load() == int(ScanningMode::FullScreen);
    scanningMode_ = scanningMode_.load() == int(ScanningMode::FocusSync) ? int(ScanningMode::ApplicationWindow)
                                                                          : int(ScanningMode::FocusSync);
    replace_ = true;
    if (wasFullScreen) reselect_ = true;
    if (onModesChanged) onModesChanged();
    publishView();  // the text line's mode letters
}

void Viewer::toggleMouseSync() {
    mouseSync_ = !mouseSync_.load();
    if (onModesChanged) onModesChanged();
    publishView();
}

void Viewer::toggleOverview() {
    editCurrent([&](ViewRecord& r, int) {
        if (r.overview) leaveOverview(r);
        else enterOverview(r, true, pins());
    });
    if (onModesChanged) onModesChanged();
    afterChange();
}

void Viewer::toggleViewScope() {
    editCurrent([&](ViewRecord& r, int) { enterOverview(r, r.overview ? !r.viewScope : false, pins()); });
    if (onModesChanged) onModesChanged();
    afterChange();
}

void Viewer::wholeScreenFromWindow() {
    const ViewRecord window = currentView();
    const WindowId target = loadWindowWord(share_.targetWindow);
    if (target == 0 || window.captureWindow == 0) return;
    const Rect at = screenRectOf(window.captureWindow);
    scanningMode_ = int(ScanningMode::FullScreen);
    {
        std::lock_guard lock(viewMutex_);
        const int desk = selectRecordLocked(0);
        share_.desktopRecord = desk;
        copyToWholeScreen(window, share_.records[desk], at.x, at.y);
    }
    if (onModesChanged) onModesChanged();
    afterChange();
}

// ---- Navigation ----

void Viewer::afterChange() {
    placeViewFrame(currentView());
    publishView();
}

void Viewer::pan(int dx, int dy) {
    editCurrent([&](ViewRecord& r, int) {
        if (dx) panX(r, dx, pins());
        if (dy) panY(r, dy, pins());
    });
    afterChange();
}

void Viewer::panScope(int dx, int dy) {
    editCurrent([&](ViewRecord& r, int) {
        if (dx) panScopeX(r, dx, pins());
        if (dy) panScopeY(r, dy, pins());
    });
    afterChange();
}

void Viewer::jumpTo(int key) {
    const bool focusSync = scanningMode() == ScanningMode::FocusSync;
    editCurrent([&](ViewRecord& r, int i) {
        std::optional<Rect> client;
        if (focusSync) {
            std::lock_guard lock(clientMutex_);
            client = clientRects_[i];
        }
        jump(r, key, pins(), client);
    });
    afterChange();
}

bool Viewer::zoomOut(ZoomAnchor anchor, int32_t px, int32_t py) {
    const bool done = editCurrent([&](ViewRecord& r, int) {
        const int32_t c = saneCell(r.overview ? r.scopeCellWidth : r.cellWidth);
        if (c >= share_.maxCellPixels || c >= device_.maxCellPixels) return false;
        return zoom(r, c * 2, anchor, pins(), px, py);
    });
    if (done) afterChange();
    return done;
}

bool Viewer::zoomIn(ZoomAnchor anchor, int32_t px, int32_t py) {
    const bool done = editCurrent([&](ViewRecord& r, int) {
        const int32_t c = saneCell(r.overview ? r.scopeCellWidth : r.cellWidth);
        if (c < 2) return false;
        return zoom(r, c / 2, anchor, pins(), px, py);
    });
    if (done) afterChange();
    return done;
}

void Viewer::centreOn(int32_t x, int32_t y) {
    editCurrent([&](ViewRecord& r, int) { lumo::centreOn(r, x, y, pins()); });
    afterChange();
}

void Viewer::contain(int32_t x, int32_t y) {
    editCurrent([&](ViewRecord& r, int) { lumo::contain(r, x, y, pins()); });
    afterChange();
}

// ---- View frame ----

void Viewer::placeViewFrame(const ViewRecord& r) {
    if (!frameEnabled_.load()) return;
    std::lock_guard lock(deskMutex_);  // also over the share's frame words
    if (!share_.frameShown) return;
    if (r.flags & kRecordHideFrame) {
        desk_->hideFrame();
        std::memset(share_.frameRect, 0, sizeof share_.frameRect);
        return;
    }
    Rect v = viewRectangle(r, pins());
    if (r.captureWindow != 0) {
        const auto at = desk_->windowRect(r.captureWindow);
        if (!at) return;
        // The record's base is any value another process wrote: add in 64 bits.
        v.x = int32_t(std::clamp<int64_t>(int64_t(v.x) + at->x, INT32_MIN, INT32_MAX));
        v.y = int32_t(std::clamp<int64_t>(int64_t(v.y) + at->y, INT32_MIN, INT32_MAX));
    }
    // The frame marks the part of the view that is on the screen, and so is
    // never larger than the screen whatever sizes the record holds.
    const auto screen = desk_->windowRect(0);
    if (!screen) return;
    v = onScreen(v, *screen);
    if (v.width <= 0 || v.height <= 0) {
        desk_->hideFrame();
        std::memset(share_.frameRect, 0, sizeof share_.frameRect);
        return;
    }
    if (share_.frameRect[0] == v.x && share_.frameRect[1] == v.y && share_.frameRect[2] == v.width &&
        share_.frameRect[3] == v.height)
        return;
    desk_->showFrame(v);
    share_.frameRect[0] = v.x;
    share_.frameRect[1] = v.y;
    share_.frameRect[2] = v.width;
    share_.frameRect[3] = v.height;
}

void Viewer::hideViewFrame() {
    std::lock_guard lock(deskMutex_);
    desk_->hideFrame();
    std::memset(share_.frameRect, 0, sizeof share_.frameRect);
}

// ---- PublishView and the hand-over ----

void Viewer::publishView(bool periodic) {
    {
        std::lock_guard view(viewMutex_);
        const int i = currentIndexLocked();
        std::lock_guard lock(handMutex_);
        std::memcpy(&handOver_, &share_.records[i], sizeof handOver_);
        handIndex_ = i;
        duePeriodicOnly_ = due_ ? (duePeriodicOnly_ && periodic) : periodic;
        due_ = true;
    }
    handCv_.notify_one();
}

void Viewer::forceRefresh() {
    forceNext_ = true;
    publishView();
}

bool Viewer::takeHandOver() {
    std::lock_guard lock(handMutex_);
    if (!due_) return false;
    std::memcpy(&snapshot_, &handOver_, sizeof snapshot_);
    snapIndex_ = handIndex_;
    snapPeriodic_ = duePeriodicOnly_;
    due_ = false;
    tickCounter_ = 0;  // the periodic refresh counts again from this pass
    return true;
}

// ---- Tracking ----

void Viewer::watchPass(bool trackNow) {
    // Other processes set these bits at any time: clear only what is handled here.
    std::atomic_ref<uint32_t> flags(share_.requestFlags);
    const uint32_t req = flags.load();
    if (req & kRequestRefresh) {
        flags.fetch_and(~(kRequestRefresh | kRequestPlaceFrame));
        if (req & kRequestPlaceFrame) {
            {
                std::lock_guard lock(deskMutex_);
                std::memset(share_.frameRect, 0, sizeof share_.frameRect);
            }
            placeViewFrame(currentView());
        }
        publishView();
    }
    if (hook_ && followMouse) mouseWatched_ = followMouse();
    const auto now = std::chrono::steady_clock::now();
    if (trackNow || now - lastTrack_ >= kTrackPeriod) {
        lastTrack_ = now;
        trackForeground();
    }
}

void Viewer::trackForeground() {
    bool changed = false;
    const int mode = scanningMode_.load();
    if (mode != int(ScanningMode::FullScreen)) {
        std::optional<WindowId> fg;
        bool exists = false;
        {
            std::lock_guard lock(deskMutex_);
            fg = desk_->activeWindow();
            exists = fg && *fg != 0 && desk_->windowExists(*fg);
        }
        if (exists && (*fg != loadWindowWord(share_.lastForeground) || reselect_.load())) {
            reselect_ = false;
            std::lock_guard lock(viewMutex_);
            selectRecordLocked(*fg);
            changed = true;
        }
    }
    // The window (or the screen) may have changed size since the last pass.
    ViewRecord seen;
    const int i = editCurrent([&](ViewRecord& r, int index) {
        seen = r;
        return index;
    });
    if (fitRecordToWindow(i, seen.captureWindow)) changed = true;
    const auto place = [&] {
        ViewRecord now;
        {
            std::lock_guard lock(viewMutex_);
            now = share_.records[i];
        }
        placeViewFrame(now);
        publishView();
    };
    if (mode == int(ScanningMode::FocusSync)) {
        std::optional<HookThreadRecord> h;
        int hi = -1;
        if (hook_ && seen.threadId != 0) {
            for (int k = 0; k < kHookRecordCount; ++k) {
                const HookThreadRecord& rec = hook_->threads[k];
                if (rec.inUse && rec.threadId == seen.threadId) {
                    h = rec;  // a private copy: the hook writes the section concurrently
                    hi = k;
                    break;
                }
            }
        }
        if (h && (replace_.load() || h->changed)) {
            placeOnHook(i, seen, *h);
            replace_ = false;
            if (hi >= 0) hook_->threads[hi].changed = 0;
            place();
        } else if (replace_.exchange(false) || changed) {
            // No focus known for the window: the request to place ends here, or a focus
            // reported later would move a view the keys have placed since.
            place();
        }
    } else if (mode == int(ScanningMode::ApplicationWindow) && replace_.load()) {
        if (seen.clientFit) {
            if (const auto area = clientAreaOf(seen.captureWindow)) {
                std::lock_guard lock(viewMutex_);
                ViewRecord& r = share_.records[i];
                if (r.captureWindow == seen.captureWindow && r.clientFit) fitClientOverview(r, *area, pins());
            }
        }
        replace_ = false;
        place();
    } else if (changed) {
        place();
    }
    if (changed && onModesChanged) onModesChanged();
}

bool Viewer::fitRecordToWindow(int i, WindowId captureWindow) {
    const WindowFacts f = factsOf(captureWindow);
    if (f.width <= 0 || f.height <= 0) return false;
    std::lock_guard lock(viewMutex_);
    ViewRecord& r = share_.records[i];
    // Another thread may have given the record a new window meanwhile: its own pass fits it.
    if (r.captureWindow != captureWindow || (f.width == r.imageWidth && f.height == r.imageHeight)) return false;
    fitViewToWindow(r, f.width, f.height, pins());
    return true;
}

std::optional<Rect> Viewer::clientAreaOf(WindowId captureWindow) {
    if (captureWindow == 0) {
        Rect area = screenRectOf(0);
        area.x = area.y = 0;
        return area;
    }
    std::lock_guard lock(deskMutex_);
    const auto win = desk_->windowRect(captureWindow);
    const auto cli = desk_->clientRect(captureWindow);
    if (!win || !cli) return std::nullopt;
    return Rect{cli->x - win->x, cli->y - win->y, cli->width, cli->height};
}

void Viewer::placeOnHook(int i, const ViewRecord& seen, const HookThreadRecord& h) {
    // The desktop first, with the record as it was seen; then the record, when it still shows that window.
    Rect capture, captureClient;
    std::optional<Rect> focusClient;
    {
        std::lock_guard lock(deskMutex_);
        if (seen.captureWindow == 0) {
            capture = desk_->windowRect(0).value_or(Rect{});
            captureClient = capture;
        } else {
            const auto c = desk_->windowRect(seen.captureWindow);
            if (!c) return;
            capture = *c;
            captureClient = desk_->clientRect(seen.captureWindow).value_or(capture);
        }
        if (h.window != 0) focusClient = desk_->clientRect(h.window);
    }
    std::optional<Rect> stored;
    if (focusClient)
        stored = Rect{focusClient->x - capture.x, focusClient->y - capture.y, focusClient->width, focusClient->height};
    // Without a focus window the client fit follows the capture window's client area.
    const std::optional<Rect> fitArea = stored ? stored : seen.clientFit ? clientAreaOf(seen.captureWindow) : std::nullopt;
    FocusPoint p;
    p.caret = h.kind == 1;
    p.caretX = h.caretX;
    p.caretY = h.caretY;
    p.screenGiven = h.screenGiven != 0;
    p.screenX = h.screenX;
    p.screenY = h.screenY;
    std::lock_guard lock(viewMutex_);
    ViewRecord& r = share_.records[i];
    if (r.captureWindow != seen.captureWindow) return;  // started anew for another window meanwhile
    {
        std::lock_guard client(clientMutex_);
        clientRects_[i] = stored;
    }
    if (fitArea && r.clientFit && (!stored || r.overview)) fitClientOverview(r, *fitArea, pins());
    placeOnFocus(r, capture, focusClient, captureClient, p, pins());
}

// ---- Threads ----

void Viewer::watchLoop(HookLibrary lib) {
    {
        std::unique_lock lock(runMutex_);
        runCv_.wait(lock, [this] { return resumed_.load() || stop_.load(); });
        if (stop_) return;
    }
    if (lib.start) lib.start(this);
    // A new window in front wakes the thread at once (where the desktop reports it).
    desk_->watchForeground([this] {
        {
            std::lock_guard lock(runMutex_);
            foregroundDue_ = true;
        }
        runCv_.notify_all();
    });
    std::unique_lock lock(runMutex_);
    bool trackNow = false;
    while (!stop_) {
        lock.unlock();
        watchPass(trackNow);
        lock.lock();
        // Nothing signals the shared request flags, the hook records or the
        // mouse: look at them every 100 ms (50 ms while the mouse is followed).
        const auto period = mouseWatched_.load() ? kMousePeriod : kTrackPeriod;
        runCv_.wait_for(lock, period, [this] { return stop_.load() || foregroundDue_; });
        trackNow = std::exchange(foregroundDue_, false);
        if (trackNow) runCv_.wait_until(lock, lastTrack_ + kMinTrackGap, [this] { return stop_.load(); });
    }
    lock.unlock();
    desk_->watchForeground(nullptr);
    if (lib.end) lib.end();
}

void Viewer::refreshLoop() {
    {
        std::unique_lock lock(runMutex_);
        runCv_.wait(lock, [this] { return resumed_.load() || stop_.load(); });
        if (stop_) return;
    }
    auto nextPass = std::chrono::steady_clock::now();
    while (!stop_) {
        {
            std::unique_lock lock(handMutex_);
            handCv_.wait_for(lock, std::chrono::seconds(1), [this] { return due_ || stop_.load(); });
        }
        if (stop_) break;
        {
            // Pacing: a pass that sent something is followed by the next one no sooner than
            // 50 ms later; passes that sent nothing hold nothing back.
            std::unique_lock lock(runMutex_);
            runCv_.wait_until(lock, nextPass, [this] { return stop_.load(); });
        }
        if (stop_ || !takeHandOver()) continue;
        const uint64_t sent = stats_.graphicSends.load() + stats_.textSends.load();
        refreshView(forceNext_.exchange(false));
        if (stats_.graphicSends.load() + stats_.textSends.load() != sent)
            nextPass = std::chrono::steady_clock::now() + kPassPacing;
    }
}

}  // namespace lumo
