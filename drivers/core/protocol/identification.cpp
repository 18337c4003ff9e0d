// Identification reply reading and building.
#include "identification.h"

namespace tavik::proto {

IdentInfo parseIdentReply(std::span<const uint8_t> reply) {
    IdentInfo info;
    if (reply.size() < kIdentReplySize) return info;
    for (size_t i = 0; i < kDeviceInfoSize; ++i) info.deviceInfo[i] = reply[i];
    info.multiLevel = reply[kIdentMultiLevelByte] >= kIdentMultiLevelMin;
    const int cells = reply[kIdentNoteTakerCellsByte];
    info.noteTakerCells = (cells >= kNoteTakerMinCells && cells <= kNoteTakerMaxIdentCells) ? cells : 0;
    for (size_t i = 0; i < kIdentNameSize && reply[kIdentNameOffset + i] != 0; ++i)
        info.name[i] = static_cast<char>(reply[kIdentNameOffset + i]);
    return info;
}

IdentReply buildIdentReply(std::span<const uint8_t, kDeviceInfoSize> deviceInfo, std::string_view name) {
    IdentReply r{};
    for (size_t i = 0; i < kDeviceInfoSize; ++i) r[i] = deviceInfo[i];
    for (size_t i = 0; i < name.size() && i + 1 < kIdentNameSize; ++i)
        r[kIdentNameOffset + i] = static_cast<uint8_t>(name[i]);
    return r;
}

}  // namespace tavik::proto
