// Notify messages of the receive thread on their way to client queues. A
// message goes out at once when it can; one that meets a full queue waits in
// its slot's line here, is tried again on every later turn of the receive
// thread, and is dropped (and counted) when the line is full or the message
// has waited too long. The receive thread itself never waits for a client.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace tavik::drv {

class NotifyOutbox {
public:
    static constexpr std::size_t kLineLength = 64;  // messages waiting per slot
    static constexpr int kWaitBoundMs = 2000;       // how long one may wait for room

    explicit NotifyOutbox(uint32_t notifyMessage) : message_(notifyMessage) {}

    // Sends (or lines up) one message for `slot`'s notification thread `tid`.
    // Messages of one slot keep their order. Returns how many messages were
    // dropped by this call (0 or 1).
    int post(int32_t slot, int32_t tid, int32_t code, int64_t param, uint64_t nowMs);
    // Tries the waiting messages again. Returns how many were dropped because
    // they waited too long.
    int flush(uint64_t nowMs);
    bool empty() const { return waiting_ == 0; }

private:
    struct Message {
        int32_t tid;
        int32_t code;
        int64_t param;
        uint64_t since;
    };
    struct Line {
        std::array<Message, kLineLength> ring{};
        std::size_t head = 0, count = 0;
    };
    // Sends the line's messages in order until one meets a full queue.
    int drain(Line& line, uint64_t nowMs);

    uint32_t message_;
    std::array<Line, 16> lines_{};
    std::size_t waiting_ = 0;
};

}  // namespace tavik::drv
