// Message registration and notify addressing.
#include "common/messages.h"

#include "platform/atomic_word.h"
#include "platform/thread_queue.h"

namespace tavik {

bool registerMessages(MessageNumbers& out) {
    out.command = platform::registerMessage(kCommandMessageName);
    out.notify = platform::registerMessage(kNotifyMessageName);
    return out.command != 0 && out.notify != 0;
}

int32_t eventAddressee(PortDataMap& map) {
    int32_t fg = platform::loadWord(map.foregroundSlot);
    if (isSlot(fg)) return fg;
    int32_t def = platform::loadWord(map.defaultSlot);
    return isSlot(def) ? def : -1;
}

bool postNotify(PortDataMap& map, const MessageNumbers& msgs, int32_t slot, int32_t code, int64_t lParam) {
    if (!isSlot(slot)) return false;
    int32_t tid = platform::loadWord(map.slots[slot].notifyThreadId);
    if (tid == 0) return false;
    return platform::postThreadMessage(tid, msgs.notify, static_cast<uint64_t>(code), lParam);
}

bool postNotifyToAddressee(PortDataMap& map, const MessageNumbers& msgs, int32_t code, int64_t lParam) {
    return postNotify(map, msgs, eventAddressee(map), code, lParam);
}

int postNotifyToAll(PortDataMap& map, const MessageNumbers& msgs, int32_t code, int64_t lParam) {
    int reached = 0;
    for (int32_t s = 0; s < kSlotCount; ++s)
        if (postNotify(map, msgs, s, code, lParam)) ++reached;
    return reached;
}

}  // namespace tavik
