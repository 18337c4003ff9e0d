// Pen input of the controller: loads the pen SDK ("SkrivoNoteSDK") from the
// plug-in folder, turns pen mode on and off, and carries the SDK's reports
// from its thread to the main thread, where the pen rules make the events
// sent to the client in front.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "controller/pen/pen_tracker.h"
#include "outside/pen/skrivo_sdk.h"

namespace tavik::controller {

class PenInput {
public:
    enum class Library { NotTried, Missing, LinkError, Loaded };

    // `send` receives each pen event on the main thread (in drain).
    PenInput(std::function<void(const PenEvent&)> send, std::string folder);
    // Stops pen mode; the library stays loaded until the process ends.
    ~PenInput();
    PenInput(const PenInput&) = delete;
    PenInput& operator=(const PenInput&) = delete;

    // Loads the library once: Missing when it is not there, LinkError when
    // InitPenMode or StopPenMode is missing (the library stays loaded).
    Library load();
    Library library() const { return library_; }

    // Pen mode on: true when already on or InitPenMode answered 0.
    bool start();
    void stop();
    bool on() const { return on_; }

    // Main thread: runs the queued reports through the pen rules and sends
    // the events. When pen mode went off meanwhile, what the pen held is
    // released (lifted, buttons up).
    void drain();

    PenTracker& tracker() { return tracker_; }

    // Reports queued at most; beyond it moves are dropped (other reports up
    // to twice as many), so a flooding pen cannot grow memory.
    static constexpr std::size_t kMaxQueued = 4096;

private:
    static void onReport(void* context, const SkrivoReport* report);

    std::function<void(const PenEvent&)> send_;
    std::string folder_;
    void* handle_ = nullptr;
    SkrivoInitPenModeFn init_ = nullptr;
    SkrivoStopPenModeFn stopFn_ = nullptr;
    Library library_ = Library::NotTried;
    bool on_ = false;
    SkrivoPenWindow window_{};
    PenTracker tracker_;

    std::mutex queueMutex_;
    std::vector<SkrivoReport> queue_;
    std::vector<SkrivoReport> taking_;
};

}  // namespace tavik::controller
