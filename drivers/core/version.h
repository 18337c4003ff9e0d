// The plug-in's version: the interface number every plug-in exports, and the
// same three bytes as drvInit writes them into the port data map.
#pragma once

#include <array>
#include <cstdint>

#include "drivers/core/plugin_api.h"

namespace tavik::drv {

// 4.2.1, low byte first in the exported number.
constexpr std::array<uint8_t, 3> kPluginVersion{
    static_cast<uint8_t>(TAVIK_INTERFACE_VERSION & 0xFF),
    static_cast<uint8_t>((TAVIK_INTERFACE_VERSION >> 8) & 0xFF),
    static_cast<uint8_t>((TAVIK_INTERFACE_VERSION >> 16) & 0xFF),
};
static_assert(kPluginVersion[0] == 4 && kPluginVersion[1] == 2 && kPluginVersion[2] == 1);

}  // namespace tavik::drv
