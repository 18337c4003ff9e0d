// Foreground process from the desktop layer or from the override file.
#include "drivers/core/foreground.h"

#include <cstdlib>
#include <fstream>

#include "platform/desktop/desktop.h"

namespace tavik::drv {
namespace {

// How long a kept answer stands without a notice: a safety net for notices lost with the
// connection, not the way a change is found.
constexpr auto kKeepAnswer = std::chrono::seconds(1);

}  // namespace

ForegroundSource::ForegroundSource() {
    if (const char* f = std::getenv("TAVIK_FOREGROUND_PID_FILE"); f && *f) {
        pidFile_ = f;
        return;
    }
    desktop_ = std::make_unique<desktop::Desktop>();
    if (desktop::desktopKind() == desktop::DesktopKind::X11) {
        events_ = std::make_unique<desktop::DesktopEvents>();
        events_->watchActiveWindow([this] { changed_.store(true, std::memory_order_release); });
    }
}

ForegroundSource::~ForegroundSource() {
    if (events_) events_->watchActiveWindow({});  // returns once no notice runs
}

int32_t ForegroundSource::foregroundProcess() {
    if (!pidFile_.empty()) {
        std::ifstream in(pidFile_);
        long pid = 0;
        if (in >> pid && pid > 0 && pid <= INT32_MAX) return static_cast<int32_t>(pid);
        return 0;
    }
    if (!events_) return ask(nullptr);
    const auto now = std::chrono::steady_clock::now();
    if (!changed_.exchange(false, std::memory_order_acq_rel) && now < nextAsk_) return last_;
    bool settled = false;
    last_ = ask(&settled);
    // An answer stands until the next notice when the server gave it in full; a window in front
    // without its process yet (the property comes after the window) and an answer without a
    // connection are asked about again at the next query.
    nextAsk_ = settled ? now + kKeepAnswer : now;
    return last_;
}

int32_t ForegroundSource::ask(bool* settled) {
    const auto window = desktop_->activeWindow();
    if (!window) {
        if (settled) *settled = desktop_->connected();  // none in front, or no display
        return 0;
    }
    const auto pid = desktop_->windowProcess(*window);
    if (settled) *settled = pid.has_value();
    return pid.value_or(0);
}

}  // namespace tavik::drv
