// The scripted transport and its device state.
#include "tests/drivers/scripted_transport.h"

#include <chrono>

namespace tavik::drv::test {

void ScriptedDevice::queueInput(std::span<const uint8_t> bytes) {
    {
        std::lock_guard g(m_);
        input_.insert(input_.end(), bytes.begin(), bytes.end());
    }
    cv_.notify_all();
}

void ScriptedDevice::setResponder(std::function<std::vector<uint8_t>(const WrittenFrame&)> responder) {
    std::lock_guard g(m_);
    responder_ = std::move(responder);
}

std::vector<WrittenFrame> ScriptedDevice::frames() const {
    std::lock_guard g(m_);
    return frames_;
}

std::size_t ScriptedDevice::frameCount() const {
    std::lock_guard g(m_);
    return frames_.size();
}

std::size_t ScriptedDevice::bareBytes() const {
    std::lock_guard g(m_);
    return bare_;
}

bool ScriptedDevice::waitBareBytes(std::size_t count, int boundMs) const {
    std::unique_lock g(m_);
    return cv_.wait_for(g, std::chrono::milliseconds(boundMs), [&] { return bare_ >= count; });
}

void ScriptedDevice::clearFrames() {
    std::lock_guard g(m_);
    frames_.clear();
}

bool ScriptedDevice::waitFrames(const std::function<bool(const std::vector<WrittenFrame>&)>& pred, int boundMs) const {
    std::unique_lock g(m_);
    return cv_.wait_for(g, std::chrono::milliseconds(boundMs), [&] { return pred(frames_); });
}

bool ScriptedDevice::cancelled() const {
    std::lock_guard g(m_);
    return cancelled_;
}

void ScriptedDevice::written(std::span<const uint8_t> bytes) {
    std::unique_lock g(m_);
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    for (;;) {
        // A frame starts with FF FF; anything else is a bare byte.
        if (!pending_.empty() && pending_[0] != 0xFF) {
            pending_.erase(pending_.begin());
            ++bare_;
            continue;
        }
        if (pending_.size() >= 2 && pending_[1] != 0xFF) {
            pending_.erase(pending_.begin());
            ++bare_;
            continue;
        }
        if (pending_.size() < 6) break;
        const std::size_t length = pending_[4] | (std::size_t{pending_[5]} << 8);
        if (pending_.size() < 6 + length) break;
        WrittenFrame f{pending_[2], pending_[3], {pending_.begin() + 6, pending_.begin() + 6 + static_cast<long>(length)}};
        pending_.erase(pending_.begin(), pending_.begin() + 6 + static_cast<long>(length));
        if (responder_) {
            const std::vector<uint8_t> answer = responder_(f);
            input_.insert(input_.end(), answer.begin(), answer.end());
        }
        frames_.push_back(std::move(f));
    }
    g.unlock();
    cv_.notify_all();
}

bool ScriptedTransport::write(std::span<const uint8_t> bytes) {
    if (device_->cancelled()) return false;
    device_->written(bytes);
    return true;
}

int ScriptedTransport::read(std::span<uint8_t> out, int timeoutMs) {
    ScriptedDevice& d = *device_;
    std::unique_lock g(d.m_);
    d.cv_.wait_for(g, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                   [&] { return d.cancelled_ || !d.input_.empty(); });
    if (d.cancelled_) return -1;
    std::size_t n = 0;
    while (n < out.size() && !d.input_.empty()) {
        out[n++] = d.input_.front();
        d.input_.pop_front();
    }
    return static_cast<int>(n);
}

void ScriptedTransport::purge() {
    std::lock_guard g(device_->m_);
    device_->input_.clear();
}

void ScriptedTransport::cancel() {
    {
        std::lock_guard g(device_->m_);
        device_->cancelled_ = true;
    }
    device_->cv_.notify_all();
}

}  // namespace tavik::drv::test
