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
    const auto reply = compositorRequest(socket_, kIpcGetTree, {});
    if (!reply) return std::nullopt;
    return parseCompositorTree(*reply);
}

}  // namespace tavik::desktop::wayland
