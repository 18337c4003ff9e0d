#include "platform/desktop/wlroots/sway_facts.h"

#include "platform/desktop/wlroots/sway_ipc.h"
#include "platform/desktop/wlroots/sway_tree.h"

namespace tavik::desktop::wayland {

std::unique_ptr<WindowFacts> SwayFacts::open() {
    std::string socket = compositorIpcSocket();
    if (socket.empty()) return nullptr;
    return std::make_unique<SwayFacts>(std::move(socket));
}

std::optional<std::vector<WindowFact>> SwayFacts::windows() {
    return windows_.get();
}

}  // namespace tavik::desktop::wayland
