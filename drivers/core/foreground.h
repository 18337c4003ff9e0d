// Which process owns the window in front: the desktop layer's active window and its process.
// When the environment variable TAVIK_FOREGROUND_PID_FILE names a file, the process id written
// in it is used instead (tests and scripted demos set the foreground this way).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace tavik::desktop {
class Desktop;
class DesktopEvents;
}  // namespace tavik::desktop

namespace tavik::drv {

class ForegroundSource {
public:
    // Reads the environment once; the desktop connects at the first query. On X11 the desktop's
    // notice of a new window in front is followed (connecting for it may take up to ~3 s when the
    // server does not answer).
    ForegroundSource();
    ~ForegroundSource();
    ForegroundSource(const ForegroundSource&) = delete;
    ForegroundSource& operator=(const ForegroundSource&) = delete;

    // Process id of the foreground window, 0 when there is none. Without a display (none, or
    // the server went away) answers 0 at once; a display that comes back is found again within
    // about a second of the next queries. Where the desktop tells of a new window in front (X11),
    // a complete answer is kept until it does or a second has passed;
    // elsewhere every call asks: two round trips to a live server; a server that stopped
    // answering holds the caller about 3 s at most (then it counts as gone).
    int32_t foregroundProcess();

private:
    // Asks the desktop; `settled` (may be null) tells whether the answer is complete.
    int32_t ask(bool* settled);

    std::string pidFile_;
    std::unique_ptr<desktop::Desktop> desktop_;
    std::atomic<bool> changed_{true};  // set by the desktop's notice; the next query asks again
    std::chrono::steady_clock::time_point nextAsk_{};
    int32_t last_ = 0;
    // Goes first at the end: no notice runs once it is gone.
    std::unique_ptr<desktop::DesktopEvents> events_;
};

}  // namespace tavik::drv
