// What the plug-in's threads share about one open device: the transport, the
// receive ring, the reply queue of bare bytes, and the port send lock that
// keeps one framed exchange on the wire at a time.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

#include "drivers/core/transport.h"

namespace tavik::drv {

class DeviceLink {
public:
    enum class FrameWrites { HeaderThenPayload, OneCall };

    DeviceLink(std::unique_ptr<Transport> transport, FrameWrites mode);
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    Transport& transport() { return *transport_; }

    // ---- writing (callers hold the send lock, except the receive thread's
    // bare answers)
    bool writeBytes(std::span<const uint8_t> bytes);
    // Header, then the payload when there is one. In one-call mode a payload
    // of up to 1024 bytes goes out with its header in one write.
    bool writeFrame(uint8_t command, uint8_t parameter, std::span<const uint8_t> payload);

    // ---- reading (receive thread only)
    // The next received byte: from the ring, else waits up to waitMs for the
    // transport and refills the ring. nullopt when nothing arrived; `gone` is
    // set when the device has vanished.
    std::optional<uint8_t> nextByte(int waitMs, bool* gone = nullptr);
    // Empties the ring and the reply queue and purges the port buffers.
    void resetReceiveState();

    // ---- reply queue (128 bytes; a byte pushed into a full queue is dropped)
    void pushReply(std::span<const uint8_t> bytes);
    // Waits up to timeoutMs for a reply byte; stops early (nullopt) when
    // `stop` is set, the link is cancelled, or `giveUp` (asked every 100 ms)
    // says so.
    std::optional<uint8_t> waitReplyByte(int timeoutMs, const std::atomic<bool>* stop = nullptr,
                                         const std::function<bool()>& giveUp = {});

    // ---- port send lock: waits up to timeoutMs (100 tries of 10 ms).
    bool takeSendLock(int timeoutMs = 1000);
    void releaseSendLock();

    // Wakes reply waiters and makes transport calls return (stopping).
    void cancel();

private:
    std::unique_ptr<Transport> transport_;
    FrameWrites mode_;

    std::array<uint8_t, 256> ring_{};
    std::size_t ringPos_ = 0, ringCount_ = 0;

    std::mutex replyMutex_;
    std::condition_variable replyReady_;
    std::array<uint8_t, 128> reply_{};
    std::size_t replyHead_ = 0, replyCount_ = 0;
    bool cancelled_ = false;

    std::mutex lockMutex_;
    std::condition_variable lockFree_;
    bool sendLocked_ = false;
};

// Holds the send lock for a scope once taken.
class SendLockGuard {
public:
    SendLockGuard(DeviceLink& link, int timeoutMs = 1000) : link_(link), held_(link.takeSendLock(timeoutMs)) {}
    ~SendLockGuard() {
        if (held_) link_.releaseSendLock();
    }
    SendLockGuard(const SendLockGuard&) = delete;
    SendLockGuard& operator=(const SendLockGuard&) = delete;
    bool held() const { return held_; }

private:
    DeviceLink& link_;
    bool held_;
};

}  // namespace tavik::drv
