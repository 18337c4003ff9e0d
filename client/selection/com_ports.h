// Com numbers of USB-serial nodes. TAVIK.ini section "Ports" maps a port index
// i to a device path (key "Com{i+1}"); the serial plug-in opens that path. A
// node found by the USB detection gets the index that already names it, or
// the first free one, which is then written to the section.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/data_maps.h"

namespace tavik::selection {



// "Com1" ... "Com64" compared without regard to case -> 0..63. Values longer
// than 40 bytes, and anything else, give nothing.
std::optional<int32_t> comNameIndex(std::string_view value);

// "Com" followed by index + 1.
std::string comName(int32_t portIndex);

// The port index whose "Ports" key names `devicePath` (the lowest, when
// several do). Otherwise the first index with no key of its own whose default
// node (ttyS{i}) is not a present serial port under `sysClassTty` is given to
// the node and written to the INI file. Nothing when all 64 are taken or the
// file cannot be written.
std::optional<int32_t> comIndexForNode(const std::string& devicePath, const std::string& iniPath,
                                       const std::string& sysClassTty);

}  // namespace tavik::selection
