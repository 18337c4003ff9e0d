// Hot keys on GNOME: the suite's GNOME Shell extension holds the key bindings (a client cannot
// grab keys on GNOME Wayland) under names of its own and signals each press. The key is the
// extension's setting, so the one the program asks for only picks the binding.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tavik::desktop::gnome {

// The extension's binding for the key a program asks for: "dialog" for Super+V (the screen
// viewer's dialog), "controller" for Super+G (the controller's window); nullopt for any other.
std::optional<std::string_view> extensionKeyName(uint32_t keysym, uint32_t modifiers);

class ExtensionKeys {
public:
    // Follows the extension's key presses, calling `pressed` with the id bound to the name
    // (on a thread of its own); nullptr when the extension does not answer.
    static std::unique_ptr<ExtensionKeys> open(std::function<void(int32_t id)> pressed);
    ~ExtensionKeys();

    // Binds `id` to the extension's key `name`; returns the accelerator the extension has for it
    // ("" when none is set), nullopt when the extension did not say in time.
    std::optional<std::string> bind(int32_t id, std::string_view name);
    void unbind(int32_t id);

    struct State;

private:
    explicit ExtensionKeys(std::shared_ptr<State> s) : s_(std::move(s)) {}
    std::shared_ptr<State> s_;
};

}  // namespace tavik::desktop::gnome
