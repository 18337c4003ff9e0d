// Opening the mouse map.
#include "client/mouse_map.h"

#include "common/data_maps.h"
#include "common/settings.h"

namespace tavik::client {

std::optional<MouseMap> MouseMap::open() {
    EnsureEveryoneSecurity();
    bool fresh = false;
    auto section = platform::SharedSection::create(kMouseMapName, kMouseMapSize, &fresh);
    if (!section) return std::nullopt;
    // A fresh section is all zeros: count, move counter and held buttons start at 0.
    return MouseMap(std::move(*section));
}

}  // namespace tavik::client
