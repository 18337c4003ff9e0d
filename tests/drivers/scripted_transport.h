// A transport for in-process plug-in tests: records what is written, hands the reading side the
// bytes a test queues, and can answer the identification request by itself. Every wait is
// bounded by the caller's time-out; cancel() ends them at once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "drivers/core/transport.h"

namespace tavik::drv::test {

// One frame of the host's writes: FF FF command parameter length(16, LE) payload.
struct WrittenFrame {
    uint8_t command = 0;
    uint8_t parameter = 0;
    std::vector<uint8_t> payload;
};

// The state a test keeps after the plug-in took the transport.
class ScriptedDevice {
public:
    // Bytes the device sends next.
    void queueInput(std::span<const uint8_t> bytes);
    // Called with every complete frame as it is written (on the writing thread); the bytes it
    // returns are queued as the device's answer.
    void setResponder(std::function<std::vector<uint8_t>(const WrittenFrame&)> responder);

    // The complete frames written so far.
    std::vector<WrittenFrame> frames() const;
    std::size_t frameCount() const;
    // Bytes written outside frames (the bare answers to device frames).
    std::size_t bareBytes() const;
    void clearFrames();
    // Waits up to boundMs for `pred(frames())`; true when it held.
    bool waitFrames(const std::function<bool(const std::vector<WrittenFrame>&)>& pred, int boundMs = 10000) const;
    // Waits up to boundMs until bareBytes() reaches `count`.
    bool waitBareBytes(std::size_t count, int boundMs = 10000) const;
    bool cancelled() const;

private:
    friend class ScriptedTransport;
    void written(std::span<const uint8_t> bytes);

    mutable std::mutex m_;
    mutable std::condition_variable cv_;
    std::deque<uint8_t> input_;
    std::vector<uint8_t> pending_;  // bytes of a frame not yet complete
    std::vector<WrittenFrame> frames_;
    std::size_t bare_ = 0;
    std::function<std::vector<uint8_t>(const WrittenFrame&)> responder_;
    bool cancelled_ = false;
};

class ScriptedTransport final : public Transport {
public:
    explicit ScriptedTransport(std::shared_ptr<ScriptedDevice> device) : device_(std::move(device)) {}
    bool write(std::span<const uint8_t> bytes) override;
    int read(std::span<uint8_t> out, int timeoutMs) override;
    void purge() override;
    bool drainOutput(int) override { return true; }
    void cancel() override;

private:
    std::shared_ptr<ScriptedDevice> device_;
};

}  // namespace tavik::drv::test
