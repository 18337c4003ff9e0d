// Transport over an FtdiLink. The link has no way to wait for input, so a
// read asks for the queue count and, when nothing is there, waits 1 ms (or
// until cancelled) before asking again; with the chip's latency timer at 1 ms
// a key frame is seen within about two milliseconds of leaving the device.
#include "drivers/usb/ftdi_transport.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tavik::drv {
namespace {

constexpr uint32_t kQueueBytes = 4096;
constexpr uint8_t kLatencyMs = 1;

class FtdiTransport final : public Transport {
public:
    explicit FtdiTransport(std::unique_ptr<ftdi::FtdiLink> link) : link_(std::move(link)) {}
    ~FtdiTransport() override {
        link_->setDtr(false);
        link_->purge(true, true);
        link_->close();
    }

    bool write(std::span<const uint8_t> bytes) override {
        if (cancelled_.load()) return false;
        std::size_t written = 0;
        if (link_->write(bytes, written) == ftdi::kOk && written == bytes.size()) return true;
        ftdi::QueueStatus q;
        link_->queueStatus(q);  // reads the error state; the frame is lost
        return false;
    }

    int read(std::span<uint8_t> out, int timeoutMs) override {
        if (out.empty()) return 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
        for (;;) {
            if (cancelled_.load()) return -1;
            ftdi::QueueStatus q;
            if (link_->queueStatus(q) != ftdi::kOk) return -1;
            if (q.input > 0) {
                const std::size_t want = q.input < out.size() ? q.input : out.size();
                std::size_t got = 0;
                if (link_->read(out.first(want), got) != ftdi::kOk) return -1;
                return static_cast<int>(got);
            }
            if (std::chrono::steady_clock::now() >= deadline) return 0;
            pauseMs(1);
        }
    }

    void purge() override { link_->purge(true, true); }

    bool drainOutput(int timeoutMs) override {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
        for (;;) {
            ftdi::QueueStatus q;
            if (link_->queueStatus(q) != ftdi::kOk) return false;
            if (q.output == 0) return true;
            if (std::chrono::steady_clock::now() >= deadline || cancelled_.load()) return false;
            pauseMs(1);
        }
    }

    void cancel() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            cancelled_ = true;
        }
        wake_.notify_all();
    }

private:
    void pauseMs(int ms) {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return cancelled_.load(); });
    }

    std::unique_ptr<ftdi::FtdiLink> link_;
    std::atomic<bool> cancelled_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
};

}  // namespace

ftdi::LineSettings usbLineSettings() {
    ftdi::LineSettings s;
    s.baudRate = kUsbBaudRate;
    s.dataBits = 8;
    s.parity = 'N';
    s.stopBits = 1;
    s.rtsCtsFlow = false;
    s.xonXoffFlow = false;
    return s;
}

std::unique_ptr<Transport> openFtdiTransport(std::unique_ptr<ftdi::FtdiLink> link, std::string_view serial) {
    if (!link || link->openBySerial(serial) != ftdi::kOk) return nullptr;
    link->setQueues(kQueueBytes, kQueueBytes);
    link->setTimeouts(ftdi::Timeouts{});
    link->setDtr(true);
    link->purge(true, true);
    link->setLineSettings(usbLineSettings());
    // Key events must not wait for the chip's default 16 ms packet timer.
    link->setLatencyTimer(kLatencyMs);
    return std::make_unique<FtdiTransport>(std::move(link));
}

}  // namespace tavik::drv
