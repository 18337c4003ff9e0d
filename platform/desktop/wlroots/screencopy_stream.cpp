// The grabbing thread of the screen-copy stream.
#include "platform/desktop/wlroots/screencopy_stream.h"

#include <condition_variable>
#include <mutex>

#include "platform/desktop/wlroots/screencopy.h"

namespace tavik::desktop::wayland {

std::unique_ptr<ScreencopyStream> ScreencopyStream::open(ScreencastStream::Callbacks callbacks) {
    std::unique_ptr<ScreenCopier> copier = ScreenCopier::open();
    if (!copier) return nullptr;
    std::unique_ptr<ScreencopyStream> s(new ScreencopyStream);
    std::atomic<bool>* alive = &s->alive_;
    s->thread_ = std::jthread([alive, copier = std::move(copier), cb = std::move(callbacks)](std::stop_token stop) {
        std::mutex m;
        std::condition_variable_any wake;
        while (!stop.stop_requested()) {
            if (!copier->grab(cb.frame)) {
                alive->store(false);
                if (cb.lost) cb.lost();
                return;
            }
            std::unique_lock g(m);
            wake.wait_for(g, stop, kInterval, [] { return false; });
        }
    });
    return s;
}

ScreencopyStream::~ScreencopyStream() = default;  // the jthread asks to stop and joins

}  // namespace tavik::desktop::wayland
