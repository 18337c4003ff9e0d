// The key table of the braille server.
#include "brlapi/keymap.h"

#include "brlapi/protocol.h"

namespace tavik::brl {

MappedKey mapDeviceKey(const DeviceKey& k, uint32_t cells) {
    using Kind = MappedKey::Kind;
    auto command = [](uint64_t c) { return MappedKey{Kind::Command, key::command(c)}; };
    if (k.group == kNavigationGroup) {
        switch (k.key) {
        case navkey::kLeft: return command(key::kWindowLeft);
        case navkey::kRight: return command(key::kWindowRight);
        case navkey::kUp: return command(key::kLineUp);
        case navkey::kDown: return command(key::kLineDown);
        case navkey::kHome: return command(key::kTopLeft);
        case navkey::kEnd: return command(key::kBottomLeft);
        case navkey::kDecrease | navkey::kIncrease: return {Kind::SwitchDestination, 0};
        default: return {};
        }
    }
    if (k.group == kTextLineGroup) {
        if (k.key == 1) return command(key::kHome);
        if (k.key == 2) return command(key::kLineUp);
        if (k.key == 3) return command(key::kLineDown);
        if (k.key >= 5 && k.key <= 8) return command(key::kWindowRight);
        if (k.key >= 9 && k.key <= 12) return command(key::kWindowLeft);
        if (k.key >= kFirstRoutingKey && static_cast<uint32_t>(k.key - kFirstRoutingKey) < cells)
            return command(key::kCommandRoute | static_cast<uint64_t>(k.key - kFirstRoutingKey));
    }
    return {};
}

}  // namespace tavik::brl
