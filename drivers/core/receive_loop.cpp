// The receive thread: parses what the device sends, answers device frames,
// queues bare reply bytes and turns events into notify messages.
#include <chrono>
#include <cstring>
#include <thread>

#include "common/display_parts.h"
#include "common/shared_block.h"
#include "drivers/core/notify_outbox.h"
#include "drivers/core/plugin.h"
#include "event_bytes.h"
#include "frame_parser.h"
#include "platform/atomic_word.h"
#include "platform/thread_queue.h"

namespace tavik::drv {
namespace {

uint64_t nowMs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

class ReceiveSink : public proto::ParserSink {
public:
    ReceiveSink(DriverPlugin& plugin, DeviceLink& link, const std::atomic<bool>& stop)
        : plugin_(plugin), link_(link), stop_(stop), outbox_(plugin.messages().notify) {}

    // Tries the lined-up notifications again (every turn of the thread).
    void flush() {
        if (!outbox_.empty()) plugin_.noteDropped(outbox_.flush(nowMs()));
    }

    void onFrame(const proto::ParsedFrame& frame) override {
        const proto::DeviceFrameReaction r = plugin_.variant().reactions()[frame.command];
        if (r.replyBytes > 0) {
            static constexpr std::array<uint8_t, 32> kZeros{};
            link_.writeBytes({kZeros.data(), r.replyBytes});
        }
        PortDataMap& m = *plugin_.map();
        const int64_t param = static_cast<int64_t>(proto::eventParam(frame.payload));
        switch (r.event) {
            case proto::DeviceEvent::Key:
                post(m, keyAddressee(m, static_cast<uint32_t>(param)), kNotifyKey, param);
                break;
            case proto::DeviceEvent::Broadcast:
                for (int32_t slot = 0; slot < kSlotCount; ++slot) post(m, slot, kNotifyBroadcast, param);
                break;
            case proto::DeviceEvent::DataBlock:
                deliverDataBlock(m, frame);
                break;
            case proto::DeviceEvent::None:
                break;
        }
    }

    void onStray(std::span<const uint8_t> bytes) override { link_.pushReply(bytes); }

private:
    // Sends or lines up one notification; false when no client is there.
    bool post(PortDataMap& m, int32_t slot, int32_t code, int64_t param) {
        if (!isSlot(slot)) return false;
        const int32_t tid = platform::loadWord(m.slots[slot].notifyThreadId);
        if (tid == 0) return false;
        plugin_.noteDropped(outbox_.post(slot, tid, code, param, nowMs()));
        return true;
    }

    // Hands the block to the client in front and waits for it to be taken; no
    // bytes are read meanwhile (the port's input queue holds them).
    void deliverDataBlock(PortDataMap& m, const proto::ParsedFrame& frame) {
        const int32_t n = static_cast<int32_t>(frame.payload.size());
        auto block = SharedBlock::create(n + 8 < 8 ? 8 : n + 8);
        if (!block) return;
        *block->word(4) = frame.parameter;
        if (n > 0) std::memcpy(block->payload() + 8, frame.payload.data(), static_cast<std::size_t>(n));
        if (!post(m, eventAddressee(m), kNotifyDataBlock, block->number())) return;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDataBlockBoundMs);
        while (!stop_.load() && std::chrono::steady_clock::now() < deadline) {
            if (awaitBlockResult(*block, 10) != 0) break;
            flush();  // the block's notice may wait behind earlier ones
        }
    }

    DriverPlugin& plugin_;
    DeviceLink& link_;
    const std::atomic<bool>& stop_;
    NotifyOutbox outbox_;
};

}  // namespace

void DriverPlugin::receiveLoop() {
    std::shared_ptr<DeviceLink> link = sharedLink();
    ReceiveSink sink(*this, *link, receiveStop_);
    proto::FrameParser parser(sink);
    while (!receiveStop_.load()) {
        bool gone = false;
        // Waiting on the port itself: a byte is parsed the moment it arrives;
        // the 50 ms bound is the idle turn at which the stop flag is checked.
        auto byte = link->nextByte(50, &gone);
        parser.step(byte, nowMs());
        if (!byte) sink.flush();  // between frames
        if (gone && receiveStop_.load()) break;  // cancelled: stopping
        if (gone) {
            noteDeviceGone(true);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } else if (byte) {
            noteDeviceGone(false);
        }
    }
}

}  // namespace tavik::drv
