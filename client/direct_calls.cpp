// The direct-operation right and the direct calls: gdStartDirectOperation,
// gdEndDirectOperation, gdPostDirectCommand, gdSendDirectCommand,
// gdSendDirectBytes, gdSendV2CCB.
#include "client/direct_calls.h"

#include "client/library_state.h"
#include "common/shared_block.h"
#include "platform/atomic_word.h"
#include "platform/thread_queue.h"

#include <cstring>
#include <optional>

namespace tavik::client {
namespace {

void putWord(std::vector<uint8_t>& p, std::size_t offset, int32_t v) { std::memcpy(p.data() + offset, &v, 4); }

}  // namespace

std::vector<uint8_t> directCommandPayload(int32_t command, int32_t parameter, std::span<const uint8_t> data,
                                          int32_t replyWaitMs) {
    const std::size_t n = data.size();
    std::vector<uint8_t> p(n + 21, 0);
    putWord(p, 0, 0);
    putWord(p, 4, replyWaitMs);
    putWord(p, 8, command & 0xFF);
    putWord(p, 12, parameter & 0xFF);
    putWord(p, 16, static_cast<int32_t>(n));
    if (n != 0) std::memcpy(p.data() + 20, data.data(), n);
    return p;
}

std::vector<uint8_t> directBytesPayload(std::span<const uint8_t> data) {
    const std::size_t n = data.size();
    std::vector<uint8_t> p(n + 9, 0);
    putWord(p, 4, static_cast<int32_t>(n));
    if (n != 0) std::memcpy(p.data() + 8, data.data(), n);
    return p;
}

int directCommandWaitMs(int32_t replyWaitMs) { return directCommandBoundMs(replyWaitMs); }
int directBytesWaitMs() { return kDirectBytesBoundMs; }

}  // namespace tavik::client

using namespace tavik;
using namespace tavik::client;

namespace {

// The caller may send: an entry, the port open, and the right held by its slot.
bool maySend(Library& lib) {
    if (!lib.entered() || lib.ownMap->lost()) return false;
    PortDataMap& m = lib.map();
    return platform::loadWord(m.status) == kStatusConnected &&
           platform::loadWord(m.directOperationSlot) == lib.entrySlot;
}

// Creates the block, posts the command and waits for the answer within
// `boundMs`. Returns the block's result (1 done, -1 failed, 0 no answer) and
// the reply word when asked.
int32_t request(Library& lib, int32_t commandCode, const std::vector<uint8_t>& payload, int boundMs,
                int32_t* replyOut) {
    auto block = SharedBlock::create(static_cast<int32_t>(payload.size()));
    if (!block) return 0;
    std::memcpy(block->payload(), payload.data(), payload.size());
    const int32_t tid = platform::loadWord(lib.map().controllerThreadId);
    if (!platform::postThreadMessage(tid, lib.messages.command, static_cast<uint64_t>(commandCode), block->number()))
        return 0;
    const int32_t result = awaitBlockResult(*block, boundMs);
    if (result == 1 && replyOut) *replyOut = block->read(4);
    return result;
}

std::span<const uint8_t> dataSpan(const unsigned char* data, int length, bool& ok) {
    const auto n = static_cast<std::size_t>(static_cast<uint16_t>(length));
    ok = n == 0 || data != nullptr;
    return ok && n ? std::span<const uint8_t>(data, n) : std::span<const uint8_t>{};
}

int sendCommand(int command, int parameter, int length, const unsigned char* data, int replyWaitMs, int* reply) {
    Library& lib = library();
    if (!maySend(lib)) return 0;
    bool ok = false;
    auto bytes = dataSpan(data, length, ok);
    if (!ok) return 0;
    int32_t replyWord = 0;
    const int32_t result = request(lib, kCmdDirectCommand, directCommandPayload(command, parameter, bytes, replyWaitMs),
                                   directCommandWaitMs(replyWaitMs), &replyWord);
    if (result == 1 && reply) *reply = replyWord;
    return result == 1 ? 1 : 0;
}

}  // namespace

TAVIK_API int gdStartDirectOperation(GdDirectOperationCallback callback) {
    Library& lib = library();
    if (!lib.entered()) return 0;
    if (!platform::exchangeWord(lib.map().directOperationSlot, -1, lib.entrySlot)) return 0;
    lib.callbacks.directOperation = callback;
    return 1;
}

TAVIK_API int gdEndDirectOperation(void) {
    Library& lib = library();
    if (!lib.entered()) return 0;
    if (!platform::exchangeWord(lib.map().directOperationSlot, lib.entrySlot, -1)) return 0;
    lib.callbacks.directOperation = nullptr;
    return 1;
}

TAVIK_API int gdPostDirectCommand(int command, int parameter, int length, const unsigned char* data) {
    return sendCommand(command, parameter, length, data, 0, nullptr);
}

TAVIK_API int gdSendDirectCommand(int command, int parameter, int length, const unsigned char* data,
                                  int replyWaitMs, int* reply) {
    return sendCommand(command, parameter, length, data, replyWaitMs, reply);
}

TAVIK_API int gdSendDirectBytes(int length, const unsigned char* data) {
    Library& lib = library();
    if (!maySend(lib)) return 0;
    bool ok = false;
    auto bytes = dataSpan(data, length, ok);
    if (!ok) return 0;
    return request(lib, kCmdDirectBytes, directBytesPayload(bytes), directBytesWaitMs(), nullptr) == 1 ? 1 : 0;
}

TAVIK_API int gdSendV2CCB(const unsigned char* data, int count) {
    Library& lib = library();
    // count items of 8 bytes; the length must fit the 16-bit length field.
    const int64_t length = static_cast<int64_t>(count) * 8;
    if (count < 0 || length > 0xFFFF) return 0;
    if (!gdStartDirectOperation(nullptr)) return 0;
    const int result = gdPostDirectCommand(0xA0, lib.entrySlot & 0xFF, static_cast<int>(length), data);
    gdEndDirectOperation();
    return result;
}
