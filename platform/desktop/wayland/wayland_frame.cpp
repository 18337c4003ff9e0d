// The view frame on a Wayland session: the layer-shell overlay where the compositor offers it,
// else no frame and one notice.
#include "platform/desktop/wayland/wayland_frame.h"

#include <atomic>
#include <cstdio>

#include "platform/desktop/wlroots/layer_frame.h"
#include "platform/desktop/wayland/wl_connection.h"

namespace tavik::desktop::wayland {

struct WaylandFrame::State {
    WlLink link;
    uint64_t generation = 0;
    std::unique_ptr<LayerFrame> frame;

    LayerFrame* get() {
        if (link.lost()) frame.reset();
        WlConnection* c = link.get();
        if (!c) return nullptr;
        if (generation != link.generation()) {
            frame = LayerFrame::create(*c);
            generation = link.generation();
            if (!frame) {
                static std::atomic<bool> said{false};
                if (!said.exchange(true))
                    std::fputs("This desktop offers no overlay layer (wlr-layer-shell): the view frame is not shown.\n",
                               stderr);
            }
        }
        return frame.get();
    }
};

WaylandFrame::WaylandFrame() : s_(std::make_unique<State>()) {}
WaylandFrame::~WaylandFrame() = default;

DesktopStatus WaylandFrame::show(Rect outer, int32_t thickness) {
    LayerFrame* f = s_->get();
    return f ? f->show(outer, thickness) : DesktopStatus::NoDisplay;
}

void WaylandFrame::hide() {
    if (s_->frame && !s_->link.lost()) s_->frame->hide();
}

WindowId WaylandFrame::window() { return s_->frame ? s_->frame->id() : 0; }

}  // namespace tavik::desktop::wayland
