// Client notifications that never hold up the receive thread.
#include "drivers/core/notify_outbox.h"

#include "platform/thread_queue.h"

namespace tavik::drv {

int NotifyOutbox::drain(Line& line, uint64_t nowMs) {
    int dropped = 0;
    while (line.count > 0) {
        const Message& m = line.ring[line.head];
        if (!platform::postThreadMessage(m.tid, message_, static_cast<uint64_t>(m.code), m.param, 0)) {
            if (nowMs - m.since < static_cast<uint64_t>(kWaitBoundMs)) break;  // full: try again later
            ++dropped;  // waited too long (or the queue is gone)
        }
        line.head = (line.head + 1) % kLineLength;
        --line.count;
        --waiting_;
    }
    return dropped;
}

int NotifyOutbox::post(int32_t slot, int32_t tid, int32_t code, int64_t param, uint64_t nowMs) {
    if (slot < 0 || slot >= static_cast<int32_t>(lines_.size()) || tid == 0) return 0;
    Line& line = lines_[static_cast<std::size_t>(slot)];
    if (line.count == 0 && platform::postThreadMessage(tid, message_, static_cast<uint64_t>(code), param, 0)) return 0;
    if (line.count == kLineLength) return 1;
    line.ring[(line.head + line.count) % kLineLength] = Message{tid, code, param, nowMs};
    ++line.count;
    ++waiting_;
    return drain(line, nowMs);
}

int NotifyOutbox::flush(uint64_t nowMs) {
    if (waiting_ == 0) return 0;
    int dropped = 0;
    for (Line& line : lines_) dropped += drain(line, nowMs);
    return dropped;
}

}  // namespace tavik::drv
