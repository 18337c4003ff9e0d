// Which client the display shows: among the clients in tty mode with a
// priority above 0, the one with the highest priority; between equals, the
// one that entered tty mode last.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace tavik::brl {

struct OwnerCandidate {
    bool inTty = false;
    uint32_t priority = 0;
    uint64_t enteredAt = 0;  // a counter: larger is later
};

std::optional<std::size_t> pickOwner(std::span<const OwnerCandidate> clients);

}  // namespace tavik::brl
