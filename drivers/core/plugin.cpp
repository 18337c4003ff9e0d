// Plug-in life cycle: attach, drvInit, drvStart, drvEnd, detach, and the
// direct command and direct bytes requests of clients.
#include "drivers/core/plugin.h"

#include <chrono>
#include <cstring>
#include <system_error>

#include "common/settings.h"
#include "common/shared_block.h"
#include "platform/atomic_word.h"
#include "platform/word_wait.h"

namespace tavik::drv {
namespace {

// Waits up to ms for a thread to report that its body returned, then joins
// it. A thread stuck in the transport is released by `unblock` first.
template <typename Unblock>
void joinWithin(std::thread& t, const std::atomic<bool>& done, int ms, Unblock unblock) {
    if (!t.joinable()) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (!done.load()) unblock();
    t.join();
}

}  // namespace

DriverPlugin::DriverPlugin(ProtocolVariant& variant) : variant_(variant) {
    ReadUiLanguage();
    InitSettingsPaths();
    registerMessages(messages_);
}

DriverPlugin::~DriverPlugin() {
    if (map_) end();
    map_.reset();
}

int32_t DriverPlugin::init(int32_t portIndex) {
    std::lock_guard<std::mutex> lock(lifecycle_);
    if (state_.load() != ConnectionState::Idle) return 0;
    if (!isPortIndex(portIndex)) return 0;
    if (map_ && map_->portIndex() == portIndex) {
        map_->map().driverVersion[0] = 4;
        map_->map().driverVersion[1] = 2;
        map_->map().driverVersion[2] = 1;
        return 1;
    }
    auto pm = PortMap::open(portIndex);
    if (!pm) return 0;
    map_ = std::move(pm);
    map_->map().driverVersion[0] = 4;
    map_->map().driverVersion[1] = 2;
    map_->map().driverVersion[2] = 1;
    return 1;
}

int32_t DriverPlugin::start() {
    std::lock_guard<std::mutex> lock(lifecycle_);
    if (state_.load() != ConnectionState::Idle || !map_) return 0;
    PortDataMap& m = map_->map();
    if (!variant_.acceptsPort(*this, map_->portIndex())) return 0;
    state_ = ConnectionState::Opening;
    bool silent = false;
    auto transport = variant_.openTransport(*this, silent);
    if (!transport) {
        if (!silent) platform::storeWord(m.status, kStatusPortOpenFailed);
        state_ = ConnectionState::Idle;
        return 0;
    }
    setLink(std::make_shared<DeviceLink>(std::move(transport), variant_.frameWrites()));
    link_->resetReceiveState();
    state_ = ConnectionState::Connected;

    receiveStop_ = false;
    commStop_ = false;
    try {
        receiveDone_ = false;
        receiveThread_ = std::thread([this] {
            receiveLoop();
            receiveDone_ = true;
        });
    } catch (const std::system_error&) {
        receiveDone_ = true;
        status_.write(StatusLines::threadFailed());
        setLink(nullptr);
        platform::storeWord(m.status, kStatusThreadFailed);
        state_ = ConnectionState::Idle;
        return 0;
    }
    try {
        commDone_ = false;
        commThread_ = std::thread([this] {
            communicationLoop();
            commDone_ = true;
        });
    } catch (const std::system_error&) {
        commDone_ = true;
        receiveStop_ = true;
        joinWithin(receiveThread_, receiveDone_, 1000, [this] { link_->cancel(); });
        status_.write(StatusLines::threadFailed());
        setLink(nullptr);
        platform::storeWord(m.status, kStatusThreadFailed);
        state_ = ConnectionState::Idle;
        return 0;
    }
    return 1;
}

void DriverPlugin::stopThreads() {
    receiveStop_ = true;
    {
        std::lock_guard<std::mutex> lock(stopMutex_);
        commStop_ = true;
    }
    stopCv_.notify_all();
    if (map_) platform::wakeWordWaiters(map_->map().displayRequest);
    // The receive thread notices its flag within one read wait; the
    // communication thread still clears the display and drains the output.
    joinWithin(receiveThread_, receiveDone_, 1000, [this] { link_->cancel(); });
    joinWithin(commThread_, commDone_, 2500, [this] { link_->cancel(); });
}

int32_t DriverPlugin::end() {
    std::lock_guard<std::mutex> lock(lifecycle_);
    if (state_.load() != ConnectionState::Connected) return 0;
    stopThreads();
    state_ = ConnectionState::Closing;
    const std::string line = variant_.releasedLine(*this);
    setLink(nullptr);  // closes the port once no request holds it
    status_.write(line);
    if (map_) platform::storeWord(map_->map().status, kStatusNoConnection);
    state_ = ConnectionState::Idle;
    return 0;
}

bool DriverPlugin::pause(int ms) {
    std::unique_lock<std::mutex> lock(stopMutex_);
    return !stopCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return commStop_.load(); });
}

// ---- direct requests of clients, each on a thread of the controller

int32_t DriverPlugin::sendDirectCommand(int32_t blockNumber) {
    auto block = SharedBlock::open(blockNumber);
    if (!block) return 0;
    // Payload: result, reply wait, command, parameter, length n, n data bytes.
    const int32_t size = block->payloadSize();
    if (size < 20) {
        publishBlockResult(*block, -1);
        return 0;
    }
    const int32_t wait = block->read(4);
    const uint8_t command = static_cast<uint8_t>(block->read(8));
    const uint8_t parameter = static_cast<uint8_t>(block->read(12));
    int32_t n = block->read(16);
    if (n < 0) n = 0;
    if (n > size - 20 || n > static_cast<int32_t>(proto::kMaxFramePayload)) {
        publishBlockResult(*block, -1);  // length beyond the block: refused, nothing sent
        return 0;
    }
    std::shared_ptr<DeviceLink> link = sharedLink();
    if (state_.load() != ConnectionState::Connected || !link) {
        publishBlockResult(*block, -1);
        return 0;
    }
    if (!link->takeSendLock(1000)) {
        publishBlockResult(*block, -1);
        return 0;
    }
    bool sent = link->writeFrame(command, parameter, {block->payload() + 20, static_cast<std::size_t>(n)});
    int32_t result = sent ? 1 : -1;
    if (sent && wait != 0) {
        auto reply = link->waitReplyByte(wait < 0 ? 0 : wait, &receiveStop_);
        if (reply) {
            *block->word(4) = *reply;
            result = 1;
        } else {
            result = -1;
        }
    }
    link->releaseSendLock();
    publishBlockResult(*block, result);
    return 0;
}

int32_t DriverPlugin::sendDirectBytes(int32_t blockNumber) {
    auto block = SharedBlock::open(blockNumber);
    if (!block) return 0;
    const int32_t size = block->payloadSize();
    int32_t n = block->read(4);
    if (n <= 0) {
        publishBlockResult(*block, 1);
        return 0;
    }
    if (n > size - 8) {
        publishBlockResult(*block, -1);
        return 0;
    }
    std::shared_ptr<DeviceLink> link = sharedLink();
    if (state_.load() != ConnectionState::Connected || !link || !link->takeSendLock(1000)) {
        publishBlockResult(*block, -1);
        return 0;
    }
    bool ok = link->writeBytes({block->payload() + 8, static_cast<std::size_t>(n)});
    link->releaseSendLock();
    publishBlockResult(*block, ok ? 1 : -1);
    return 0;
}

}  // namespace tavik::drv
