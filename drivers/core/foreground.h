// Which process owns the window in front. On X11 that is the root window's
// _NET_ACTIVE_WINDOW and its _NET_WM_PID. When the environment variable
// TAVIK_FOREGROUND_PID_FILE names a file, the process id written in it is
// used instead (tests and scripted demos set the foreground this way).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tavik::drv {

class ForegroundSource {
public:
    // Reads the environment once; connects to X lazily on the calling thread.
    ForegroundSource();
    ~ForegroundSource();
    ForegroundSource(const ForegroundSource&) = delete;
    ForegroundSource& operator=(const ForegroundSource&) = delete;

    // Process id of the foreground window, 0 when there is none.
    int32_t foregroundProcess();

private:
    struct X11State;
    std::string pidFile_;
    std::unique_ptr<X11State> x_;
    bool xTried_ = false;
};

}  // namespace tavik::drv
