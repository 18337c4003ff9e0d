// Pen input: the SDK's library, pen mode and the report queue.
#include "controller/pen/pen_input.h"

#include <dlfcn.h>

namespace tavik::controller {

namespace {
constexpr const char* kPenClassName = "Pen Interface Class";
}

PenInput::PenInput(std::function<void(const PenEvent&)> send, std::string folder)
    : send_(std::move(send)), folder_(std::move(folder)) {
    window_.context = this;
    window_.report = &PenInput::onReport;
}

PenInput::~PenInput() { stop(); }

PenInput::Library PenInput::load() {
    if (library_ != Library::NotTried) return library_;
    const std::string path = folder_ + "/SkrivoNoteSDK.so";
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) return library_ = Library::Missing;
    init_ = reinterpret_cast<SkrivoInitPenModeFn>(::dlsym(handle_, "InitPenMode"));
    stopFn_ = reinterpret_cast<SkrivoStopPenModeFn>(::dlsym(handle_, "StopPenMode"));
    return library_ = init_ && stopFn_ ? Library::Loaded : Library::LinkError;
}

bool PenInput::start() {
    if (library_ != Library::Loaded) return false;
    if (on_) return true;
    if (init_(kPenClassName, reinterpret_cast<intptr_t>(&window_)) != 0) return false;
    on_ = true;
    return true;
}

void PenInput::stop() {
    if (!on_) return;
    on_ = false;
    stopFn_();  // returns once the SDK's thread has ended: no report follows
}

void PenInput::onReport(void* context, const SkrivoReport* report) {
    auto* self = static_cast<PenInput*>(context);
    if (!report) return;
    std::lock_guard<std::mutex> lock(self->queueMutex_);
    const std::size_t n = self->queue_.size();
    if (n >= 2 * kMaxQueued || (n >= kMaxQueued && report->type == static_cast<int32_t>(PenReport::Move))) return;
    self->queue_.push_back(*report);
}

void PenInput::drain() {
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        taking_.swap(queue_);
    }
    for (const SkrivoReport& r : taking_)
        if (auto e = tracker_.report(r.type, r.x, r.y); e && send_) send_(*e);
    taking_.clear();
    if (!on_) {
        PenEvent released[3];
        const int n = tracker_.release(released);
        for (int i = 0; i < n && send_; ++i) send_(released[i]);
    }
}

}  // namespace tavik::controller
