// Which process owns the window in front: the desktop layer's active window and its process.
// When the environment variable TAVIK_FOREGROUND_PID_FILE names a file, the process id written
// in it is used instead (tests and scripted demos set the foreground this way).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tavik::desktop {
class Desktop;
}

namespace tavik::drv {

class ForegroundSource {
public:
    // Reads the environment once; the desktop connects at the first query.
    ForegroundSource();
    ~ForegroundSource();
    ForegroundSource(const ForegroundSource&) = delete;
    ForegroundSource& operator=(const ForegroundSource&) = delete;

    // Process id of the foreground window, 0 when there is none. Without a display (none, or
    // the server went away) answers 0 at once; a display that comes back is found again within
    // about a second of the next queries. Two round trips to a live server; a server that
    // stopped answering holds the caller about 3 s at most (then it counts as gone).
    int32_t foregroundProcess();

private:
    std::string pidFile_;
    std::unique_ptr<desktop::Desktop> desktop_;
};

}  // namespace tavik::drv
