// Foreground process from the desktop layer or from the override file.
#include "drivers/core/foreground.h"

#include <cstdlib>
#include <fstream>

#include "platform/desktop/desktop.h"

namespace tavik::drv {

ForegroundSource::ForegroundSource() {
    if (const char* f = std::getenv("TAVIK_FOREGROUND_PID_FILE"); f && *f)
        pidFile_ = f;
    else
        desktop_ = std::make_unique<desktop::Desktop>();
}

ForegroundSource::~ForegroundSource() = default;

int32_t ForegroundSource::foregroundProcess() {
    if (!pidFile_.empty()) {
        std::ifstream in(pidFile_);
        long pid = 0;
        if (in >> pid && pid > 0 && pid <= INT32_MAX) return static_cast<int32_t>(pid);
        return 0;
    }
    const auto window = desktop_->activeWindow();
    if (!window) return 0;
    return desktop_->windowProcess(*window).value_or(0);
}

}  // namespace tavik::drv
