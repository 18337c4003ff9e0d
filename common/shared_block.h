// Numbered shared blocks: a request's payload travels in section
// "GD Driver V2 shared #<n in hex>" whose first int32 is the payload size.
// The requester creates and owns the block; the server opens it by number,
// writes its outputs and then `result` last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "platform/shared_section.h"

namespace tavik {

constexpr int32_t kSharedBlockCount = 1024;
// Largest payload a block may announce; keeps a hostile size from mapping
// or copying absurd amounts.
constexpr int32_t kMaxSharedPayload = 16 * 1024 * 1024;

std::string sharedBlockName(int32_t number);

class SharedBlock {
public:
    // createSharedBlock: the first number 0..1023 with no live block gets a new
    // block of payloadSize bytes (zeroed, size written). nullopt when the
    // creation fails or all numbers are taken.
    static std::optional<SharedBlock> create(int32_t payloadSize);
    // openSharedBlock: opens a live block; nullopt when absent, too small for
    // the size it announces, or the number is out of range.
    static std::optional<SharedBlock> open(int32_t number);

    int32_t number() const { return number_; }
    int32_t payloadSize() const { return payloadSize_; }
    uint8_t* payload() const { return static_cast<uint8_t*>(section_.data()) + 4; }
    std::span<uint8_t> bytes() const { return {payload(), static_cast<std::size_t>(payloadSize_)}; }

    // The int32 at a payload offset; nullptr when it does not fit the payload.
    int32_t* word(std::size_t offset) const {
        if (offset % 4 != 0 || offset + 4 > static_cast<std::size_t>(payloadSize_)) return nullptr;
        return reinterpret_cast<int32_t*>(payload() + offset);
    }
    // Reads an int32 at a payload offset (0 when out of range).
    int32_t read(std::size_t offset) const {
        int32_t* w = word(offset);
        return w ? *w : 0;
    }
    // The `result` word at payload offset 0.
    int32_t* result() const { return word(0); }

private:
    SharedBlock(platform::SharedSection s, int32_t number, int32_t payloadSize)
        : section_(std::move(s)), number_(number), payloadSize_(payloadSize) {}
    platform::SharedSection section_;
    int32_t number_;
    int32_t payloadSize_;
};

// Requester's wait bounds for a block's `result`. The serving side needs at
// most its send-lock wait (100 x 10 ms) plus one port write (the serial
// write time-out is 15 s) plus the reply wait the request asks for.
constexpr int kSendLockWaitMs = 1000;
constexpr int kPortWriteBoundMs = 15000;
constexpr int kDirectBytesBoundMs = kSendLockWaitMs + kPortWriteBoundMs;
inline int directCommandBoundMs(int32_t replyWaitMs) {
    int w = replyWaitMs < 0 ? 0 : (replyWaitMs > 600000 ? 600000 : replyWaitMs);
    return kSendLockWaitMs + kPortWriteBoundMs + w;
}
// A reopen waits 500 polls of 10 ms.
constexpr int kReopenBoundMs = 5000;
// A data block waits for the client's callback to take it; a client whose
// callback hangs must not stop the device's receive thread for ever.
constexpr int kDataBlockBoundMs = 10000;

// Waits up to boundMs for the block's `result` to become non-zero and returns
// it (1 done, -1 failed); 0 when the bound ran out with no answer.
int32_t awaitBlockResult(const SharedBlock& block, int boundMs);
// Server side: writes `result` last and wakes the waiting requester.
void publishBlockResult(const SharedBlock& block, int32_t result);

}  // namespace tavik
