// Shared block numbering, creation, opening and the result handshake.
#include "common/shared_block.h"

#include "common/settings.h"
#include "platform/atomic_word.h"
#include "platform/word_wait.h"

#include <chrono>
#include <cstdio>

namespace tavik {

std::string sharedBlockName(int32_t number) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "GD Driver V2 shared #%x", static_cast<unsigned>(number));
    return buf;
}

std::optional<SharedBlock> SharedBlock::create(int32_t payloadSize) {
    if (payloadSize < 4 || payloadSize > kMaxSharedPayload) return std::nullopt;
    EnsureEveryoneSecurity();
    const std::size_t total = static_cast<std::size_t>(payloadSize) + 4;
    // Unusable names are skipped, but a few failures in a row mean creation
    // itself fails (the guard lock is held for ever, no memory): give up.
    int failures = 0;
    constexpr int kMaxFailures = 8;
    for (int32_t n = 0; n < kSharedBlockCount && failures < kMaxFailures; ++n) {
        const std::string name = sharedBlockName(n);
        if (platform::SharedSection::exists(name)) continue;
        bool fresh = false;
        auto section = platform::SharedSection::create(
            name, total, &fresh, [payloadSize](void* bytes) { std::memcpy(bytes, &payloadSize, 4); });
        // A name this process cannot use (another user's, too small, not a
        // section at all) or taken meanwhile by another requester: next number.
        if (!section) {
            ++failures;
            continue;
        }
        if (!fresh) continue;
        return SharedBlock(std::move(*section), n, payloadSize);
    }
    return std::nullopt;
}

std::optional<SharedBlock> SharedBlock::open(int32_t number) {
    if (number < 0 || number >= kSharedBlockCount) return std::nullopt;
    auto section = platform::SharedSection::open(sharedBlockName(number), platform::SharedSection::Access::ReadWrite, 8);
    if (!section) return std::nullopt;
    int32_t size = 0;
    std::memcpy(&size, section->data(), 4);
    if (size < 4 || size > kMaxSharedPayload || static_cast<std::size_t>(size) + 4 > section->size())
        return std::nullopt;
    return SharedBlock(std::move(*section), number, size);
}

int32_t awaitBlockResult(const SharedBlock& block, int boundMs) {
    int32_t* r = block.result();
    if (!r) return 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    for (;;) {
        int32_t v = platform::loadWord(*r);
        if (v != 0) return v;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return 0;
        // Woken by the server's publish; the 10 ms cap keeps the requester
        // safe with a server that writes the word without waking.
        platform::waitWordChange(*r, 0, left.count() < 10 ? static_cast<int>(left.count()) : 10);
    }
}

void publishBlockResult(const SharedBlock& block, int32_t result) {
    int32_t* r = block.result();
    if (!r) return;
    platform::storeWord(*r, result);
    platform::wakeWordWaiters(*r);
}

}  // namespace tavik
