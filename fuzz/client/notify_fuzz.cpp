// Fuzz target for what a client's notification thread receives: any
// datagram bytes (any length, any sender-chosen code and lParam) on its
// queue, and any contents of the shared block a data message names. Every
// message taken is dispatched to callbacks that read all the bytes they are
// given, as an application would.
//
// Input: byte 0 flags (bit 0: make a shared block of the rest; bit 1: the
// lParam names that block; bit 2: the message number is the notify number),
// byte 1 datagram length (taken mod 48), then the datagram, then the block
// (its first 4 bytes overwrite the size the block announces).
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "client/notification_thread.h"
#include "common/messages.h"
#include "common/shared_block.h"
#include "platform/thread_queue.h"

namespace {

std::atomic<uint32_t> g_sink{0};

void onKey(int a, int b, int c) {
    g_sink.fetch_add(static_cast<uint32_t>(a) + static_cast<uint32_t>(b) + static_cast<uint32_t>(c));
}
void onBroadcast(int a, int b, int c) { g_sink.fetch_add(static_cast<uint32_t>(a ^ b ^ c)); }
void onPen(int a, int b, int c, int d) {
    g_sink.fetch_add(static_cast<uint32_t>(a) + static_cast<uint32_t>(b) + static_cast<uint32_t>(c) + static_cast<uint32_t>(d));
}
void onData(int code, int count, const unsigned char* bytes) {
    if (count < 0) std::abort();
    uint32_t sum = static_cast<uint32_t>(code);
    for (int i = 0; i < count; ++i) sum += bytes[i];  // the whole count must be readable
    g_sink.fetch_add(sum);
}
void onDirect(int a, int b, int c, const unsigned char* bytes) {
    g_sink.fetch_add(static_cast<uint32_t>(a) + static_cast<uint32_t>(b) + static_cast<uint32_t>(c) + bytes[0]);
}

struct Target {
    std::optional<tavik::platform::ThreadQueue> queue = tavik::platform::ThreadQueue::createForCurrentThread();
    int sender = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    tavik::MessageNumbers msgs;
    tavik::client::Callbacks callbacks;
    Target() {
        tavik::registerMessages(msgs);
        callbacks.key = onKey;
        callbacks.broadcast = onBroadcast;
        callbacks.pen = onPen;
        callbacks.dataBlock = onData;
        callbacks.directOperation = onDirect;
    }
    void send(const uint8_t* bytes, std::size_t n) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        int len = std::snprintf(addr.sun_path + 1, sizeof addr.sun_path - 1, "tavik-thread-queue-%d",
                                queue->threadId());
        ::sendto(sender, bytes, n, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&addr),
                 static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + len));
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Target t;
    if (!t.queue || t.sender < 0 || size < 2) return 0;
    const uint8_t flags = data[0];
    const std::size_t n = std::min<std::size_t>(data[1] % 48, size - 2);
    uint8_t datagram[48] = {};
    std::memcpy(datagram, data + 2, n);
    const uint8_t* rest = data + 2 + n;
    const std::size_t restSize = size - 2 - n;

    std::optional<tavik::SharedBlock> block;
    if (flags & 1) {
        block = tavik::SharedBlock::create(static_cast<int32_t>(std::max<std::size_t>(restSize, 4)));
        if (block) {
            std::memcpy(block->payload(), rest, restSize);
            if (restSize >= 4) std::memcpy(block->payload() - 4, rest, 4);  // the announced size
        }
    }
    // The wire layout: message (4), pad (4), wParam (8), lParam (8).
    if ((flags & 4) && n >= 4) std::memcpy(datagram, &t.msgs.notify, 4);
    if ((flags & 2) && block && n >= 24) {
        const int32_t number = block->number();
        std::memcpy(datagram + 16, &number, 4);
    }
    t.send(datagram, n);

    tavik::platform::ThreadMessage msg;
    while (t.queue->peek(msg)) {
        if (msg.message == t.msgs.notify)
            tavik::client::dispatchNotify(t.callbacks, static_cast<int32_t>(msg.wParam), msg.lParam);
    }
    if (block) {
        const int32_t r = block->read(0);
        (void)r;
    }
    return 0;
}
