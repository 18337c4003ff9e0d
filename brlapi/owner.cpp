// Choosing the client the display shows.
#include "brlapi/owner.h"

namespace tavik::brl {

std::optional<std::size_t> pickOwner(std::span<const OwnerCandidate> clients) {
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < clients.size(); ++i) {
        const OwnerCandidate& c = clients[i];
        if (!c.inTty || c.priority == 0) continue;
        if (!best || c.priority > clients[*best].priority ||
            (c.priority == clients[*best].priority && c.enteredAt > clients[*best].enteredAt))
            best = i;
    }
    return best;
}

}  // namespace tavik::brl
