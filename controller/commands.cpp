// Command decoding and the pure show/hide and reopen rules.
#include "controller/commands.h"

#include "common/data_maps.h"
#include "common/messages.h"
#include "common/shared_block.h"

namespace tavik::controller {
namespace {

bool isBlockNumber(int64_t v) { return v >= 0 && v < kSharedBlockCount; }

}  // namespace

std::optional<CommandRequest> decodeCommand(uint64_t wParam, int64_t lParam) {
    // Only the low 32 bits of lParam are meaningful; a value that does not fit
    // them is no argument any sender makes.
    switch (wParam) {
        case kCmdOpenPort:
            if (!isPortIndex(static_cast<int32_t>(lParam)) || lParam != static_cast<int32_t>(lParam)) return std::nullopt;
            return CommandRequest{Command::OpenPort, static_cast<int32_t>(lParam)};
        case kCmdClosePort:
            return CommandRequest{Command::ClosePort, 0};
        case kCmdReopenPort:
            if (!isBlockNumber(lParam)) return std::nullopt;
            return CommandRequest{Command::ReopenPort, static_cast<int32_t>(lParam)};
        case kCmdDirectCommand:
            if (!isBlockNumber(lParam)) return std::nullopt;
            return CommandRequest{Command::DirectCommand, static_cast<int32_t>(lParam)};
        case kCmdShowWindow:
            if (lParam != 0 && lParam != 1) return std::nullopt;
            return CommandRequest{Command::ShowWindow, static_cast<int32_t>(lParam)};
        case kCmdDirectBytes:
            if (!isBlockNumber(lParam)) return std::nullopt;
            return CommandRequest{Command::DirectBytes, static_cast<int32_t>(lParam)};
        case kCmdBringToFront:
            return CommandRequest{Command::BringToFront, 0};
        default:
            return std::nullopt;
    }
}

ShowHideAction decideShowHide(int32_t allowHideWindow, int32_t argument) {
    ShowHideAction a;
    // "Show always" (3) ignores hide requests; other values above 1 allow them.
    if (argument == 1 && allowHideWindow > 1 && allowHideWindow != 3) {
        a.change = true;
        a.hide = true;
        a.newAllowHideWindow = 1;
    } else if (argument == 0 && (allowHideWindow == 0 || allowHideWindow == 1)) {
        a.change = true;
        a.showHideButton = true;
        a.newAllowHideWindow = 2;
    }
    return a;
}

ShowHideAction decideBringToFront(int32_t allowHideWindow) {
    ShowHideAction a;
    a.change = true;
    const bool hiddenByPolicy = allowHideWindow == 0 || allowHideWindow == 1;
    a.newAllowHideWindow = hiddenByPolicy || allowHideWindow < 0 || allowHideWindow > 3 ? 2 : allowHideWindow;
    a.showHideButton = a.newAllowHideWindow != 3;
    return a;
}

std::vector<int32_t> controllerScanPorts() {
    std::vector<int32_t> ports;
    for (int32_t p = 0; p <= kLastPortIndex; ++p) ports.push_back(p);
    return ports;
}

ReopenState reopenState(int32_t status, int32_t closingSlot) {
    if (status != kStatusClosing || closingSlot == -1) return {false, 1};
    return {true, -1};
}

}  // namespace tavik::controller
