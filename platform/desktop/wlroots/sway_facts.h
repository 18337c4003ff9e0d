// Window facts from sway's IPC socket ($SWAYSOCK): the "get_tree" reply, asked on every call.
#pragma once

#include <memory>
#include <string>

#include "platform/desktop/window_facts.h"

namespace tavik::desktop::wayland {

class SwayFacts final : public WindowFacts {
public:
    explicit SwayFacts(std::string socket) : socket_(std::move(socket)) {}

    // The facts of the running sway; nullptr when $SWAYSOCK names no socket.
    static std::unique_ptr<WindowFacts> open();

    std::string_view source() const override { return "sway IPC"; }
    std::optional<std::vector<WindowFact>> windows() override;
    // Activation reaches us through the toplevel list already; moves are looked up when asked.
    std::unique_ptr<FactsWatch> watch(std::function<void()>) override { return nullptr; }

private:
    std::string socket_;
};

}  // namespace tavik::desktop::wayland
