// The controller's reference on the mouse map "TAVIK MOUSE hook data": one
// count is added while this process holds a port, and removed when it lets go.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/shared_section.h"

namespace tavik::controller {

class MouseMapReference {
public:
    // Opens or creates the map (MouseMapData, created zero-filled) and adds one
    // to its reference count. nullopt when it cannot be opened.
    static std::optional<MouseMapReference> acquire();

    MouseMapReference(MouseMapReference&&) noexcept = default;
    MouseMapReference& operator=(MouseMapReference&& other) noexcept;
    // Removes the count this object added, then closes the map.
    ~MouseMapReference();

    int32_t count() const;

private:
    explicit MouseMapReference(platform::SharedSection s) : section_(std::move(s)) {}
    void release() noexcept;
    std::optional<platform::SharedSection> section_;
};

}  // namespace tavik::controller
