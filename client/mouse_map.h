// The client library's opening of the machine-wide mouse map "TAVIK MOUSE hook
// data" (its layout: MouseMapData in common/data_maps.h).
#pragma once

#include <optional>

#include "common/data_maps.h"
#include "platform/shared_section.h"

namespace tavik::client {

// The layout lives with the other maps.
using tavik::MouseMapData;

// The mapped mouse map, opened without taking a reference.
class MouseMap {
public:
    // Opens the live map or creates it zeroed; nullopt when neither works.
    static std::optional<MouseMap> open();
    MouseMapData& data() const { return *static_cast<MouseMapData*>(section_.data()); }

private:
    explicit MouseMap(platform::SharedSection s) : section_(std::move(s)) {}
    platform::SharedSection section_;
};

}  // namespace tavik::client
