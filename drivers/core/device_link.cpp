// Receive ring, reply queue, send lock and frame writing of one device.
#include "drivers/core/device_link.h"

#include <chrono>
#include <cstring>

#include "frame.h"

namespace tavik::drv {

DeviceLink::DeviceLink(std::unique_ptr<Transport> transport, FrameWrites mode)
    : transport_(std::move(transport)), mode_(mode) {}

bool DeviceLink::writeBytes(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return true;
    return transport_->write(bytes);
}

bool DeviceLink::writeFrame(uint8_t command, uint8_t parameter, std::span<const uint8_t> payload) {
    if (payload.size() > proto::kMaxFramePayload) return false;
    const auto header = proto::frameHeader(command, parameter, static_cast<uint16_t>(payload.size()));
    if (mode_ == FrameWrites::OneCall && payload.size() <= 1024) {
        std::array<uint8_t, proto::kFrameHeaderSize + 1024> buf;
        std::memcpy(buf.data(), header.data(), header.size());
        if (!payload.empty()) std::memcpy(buf.data() + header.size(), payload.data(), payload.size());
        return transport_->write({buf.data(), header.size() + payload.size()});
    }
    if (!transport_->write(header)) return false;
    return payload.empty() || transport_->write(payload);
}

std::optional<uint8_t> DeviceLink::nextByte(int waitMs, bool* gone) {
    if (gone) *gone = false;
    if (ringCount_ == 0) {
        ringPos_ = 0;
        int n = transport_->read(ring_, waitMs);
        if (n < 0) {
            if (gone) *gone = true;
            return std::nullopt;
        }
        ringCount_ = static_cast<std::size_t>(n) > ring_.size() ? ring_.size() : static_cast<std::size_t>(n);
        if (ringCount_ == 0) return std::nullopt;
    }
    uint8_t b = ring_[ringPos_++];
    --ringCount_;
    return b;
}

void DeviceLink::resetReceiveState() {
    ringPos_ = ringCount_ = 0;
    {
        std::lock_guard<std::mutex> lock(replyMutex_);
        replyHead_ = replyCount_ = 0;
        cancelled_ = false;
    }
    transport_->purge();
}

void DeviceLink::pushReply(std::span<const uint8_t> bytes) {
    {
        std::lock_guard<std::mutex> lock(replyMutex_);
        for (uint8_t b : bytes) {
            if (replyCount_ == reply_.size()) break;  // full: dropped
            reply_[(replyHead_ + replyCount_) % reply_.size()] = b;
            ++replyCount_;
        }
    }
    replyReady_.notify_all();
}

std::optional<uint8_t> DeviceLink::waitReplyByte(int timeoutMs, const std::atomic<bool>* stop,
                                                 const std::function<bool()>& giveUp) {
    std::unique_lock<std::mutex> lock(replyMutex_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (replyCount_ > 0) {
            uint8_t b = reply_[replyHead_];
            replyHead_ = (replyHead_ + 1) % reply_.size();
            --replyCount_;
            return b;
        }
        if (cancelled_ || (stop && stop->load())) return std::nullopt;
        if (giveUp) {
            lock.unlock();
            const bool over = giveUp();
            lock.lock();
            if (over && replyCount_ == 0) return std::nullopt;
            if (replyCount_ > 0) continue;
        }
        // Wake at least every 100 ms to notice a stop request.
        auto step = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
        if (replyReady_.wait_until(lock, step < deadline ? step : deadline) == std::cv_status::timeout &&
            std::chrono::steady_clock::now() >= deadline && replyCount_ == 0)
            return std::nullopt;
    }
}

bool DeviceLink::takeSendLock(int timeoutMs) {
    std::unique_lock<std::mutex> lock(lockMutex_);
    if (!lockFree_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !sendLocked_; }))
        return false;
    sendLocked_ = true;
    return true;
}

void DeviceLink::releaseSendLock() {
    {
        std::lock_guard<std::mutex> lock(lockMutex_);
        sendLocked_ = false;
    }
    lockFree_.notify_one();
}

void DeviceLink::cancel() {
    {
        std::lock_guard<std::mutex> lock(replyMutex_);
        cancelled_ = true;
    }
    replyReady_.notify_all();
    transport_->cancel();
}

}  // namespace tavik::drv
