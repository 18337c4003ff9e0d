// The process's screen cast. Not connected yet: no stream comes up.
#include "platform/desktop/wayland/screencast.h"

namespace tavik::desktop::wayland {

struct ScreenCast::State {
    std::mutex m;
    std::vector<std::weak_ptr<CastSink>> sinks;
};

ScreenCast::ScreenCast() : s_(std::make_shared<State>()) {}
ScreenCast::~ScreenCast() = default;

std::shared_ptr<ScreenCast> ScreenCast::shared() {
    static std::mutex m;
    static std::weak_ptr<ScreenCast> one;
    std::lock_guard g(m);
    if (auto cast = one.lock()) return cast;
    std::shared_ptr<ScreenCast> cast(new ScreenCast());
    one = cast;
    return cast;
}

bool ScreenCast::ensure() { return false; }
bool ScreenCast::up() const { return false; }
bool ScreenCast::withFrame(const std::function<void(const FrameStore&)>&) { return false; }
void ScreenCast::addSink(const std::shared_ptr<CastSink>& sink) {
    std::lock_guard g(s_->m);
    s_->sinks.push_back(sink);
}

}  // namespace tavik::desktop::wayland
