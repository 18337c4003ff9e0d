// The two registered messages and their codes, and the addressing of notify
// messages to client slots.
#pragma once

#include <cstdint>

#include "common/data_maps.h"

namespace tavik {

constexpr const char* kCommandMessageName = "GD driver command message";
constexpr const char* kNotifyMessageName = "GD driver notify message";

enum CommandCode : int32_t {
    kCmdOpenPort = 1,
    kCmdClosePort = 2,
    kCmdReopenPort = 3,
    kCmdDirectCommand = 7,
    kCmdShowWindow = 9,
    kCmdDirectBytes = 10,
};

enum NotifyCode : int32_t {
    kNotifyKey = 4,
    kNotifyBroadcast = 5,
    kNotifyDataBlock = 6,
    kNotifyDirectOperationData = 8,
    kNotifyPen = 11,
};

struct MessageNumbers {
    uint32_t command = 0;
    uint32_t notify = 0;
};

// Registers both names; true only when both numbers are non-zero.
bool registerMessages(MessageNumbers& out);

// The slot that key, data-block and pen events go to: the foreground slot,
// else the default slot; -1 when neither names a slot.
int32_t eventAddressee(PortDataMap& map);

// Posts a notify message to one slot's notification thread; false when the
// slot is out of range, free, or its thread has no queue.
bool postNotify(PortDataMap& map, const MessageNumbers& msgs, int32_t slot, int32_t code, int64_t lParam);
// Posts to the foreground slot, else the default slot.
bool postNotifyToAddressee(PortDataMap& map, const MessageNumbers& msgs, int32_t code, int64_t lParam);
// Posts to every one of the 16 slots; returns how many were reached.
int postNotifyToAll(PortDataMap& map, const MessageNumbers& msgs, int32_t code, int64_t lParam);

}  // namespace tavik
