// Window facts from sway's IPC socket ($SWAYSOCK): the "get_tree" reply, read again after the
// compositor reports a change (see CompositorWindows).
#pragma once

#include <memory>
#include <string>

#include "platform/desktop/window_facts.h"
#include "platform/desktop/wlroots/sway_ipc.h"

namespace tavik::desktop::wayland {

class SwayFacts final : public WindowFacts {
public:
    explicit SwayFacts(std::string socket) : windows_(std::move(socket)) {}

    // The facts of the running sway; nullptr when $SWAYSOCK names no socket.
    static std::unique_ptr<WindowFacts> open();

    std::string_view source() const override { return "sway IPC"; }
    std::optional<std::vector<WindowFact>> windows() override;
    // Activation reaches us through the toplevel list already; moves are looked up when asked.
    std::unique_ptr<FactsWatch> watch(std::function<void()>) override { return nullptr; }

private:
    CompositorWindows windows_;
};

}  // namespace tavik::desktop::wayland
