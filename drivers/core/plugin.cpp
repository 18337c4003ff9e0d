// Plug-in life cycle: attach, drvInit, drvStart, drvEnd, detach, and the
// direct command and direct bytes requests of clients.
#include "drivers/core/plugin.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "common/settings.h"
#include "common/shared_block.h"
#include "drivers/core/direct_request.h"
#include "drivers/core/version.h"
#include "platform/atomic_word.h"
#include "platform/run_time_library.h"
#include "platform/word_wait.h"

namespace tavik::drv {
namespace {

// Bounds of drvEnd's waits: the receive thread notices its flag within one
// read turn; the communication thread still clears the display and drains.
constexpr int kReceiveStopBoundMs = 1000;
constexpr int kCommStopBoundMs = 2500;

// Keeps this module mapped for the life of the process: called when a thread
// is left running inside it, so unloading the library can never pull its code
// from under that thread.
void pinModule() { platform::keepModuleLoaded(reinterpret_cast<const void*>(&pinModule)); }

// Counts a request for the time it runs inside the plug-in.
class RequestScope {
public:
    explicit RequestScope(std::atomic<int>& count) : count_(count) { ++count_; }
    ~RequestScope() { --count_; }
    RequestScope(const RequestScope&) = delete;
    RequestScope& operator=(const RequestScope&) = delete;

private:
    std::atomic<int>& count_;
};

void writeVersion(PortDataMap& m) {
    for (std::size_t i = 0; i < kPluginVersion.size(); ++i)
        std::atomic_ref<uint8_t>(m.driverVersion[i]).store(kPluginVersion[i], std::memory_order_release);
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

bool DriverPlugin::prepareUnload(int boundMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs < 0 ? 0 : boundMs);
    // On one of our own threads (a library calling exit() there) nothing may
    // be joined: that thread is running by definition.
    if (receiveThread_.isCurrent() || commThread_.isCurrent()) return false;
    std::unique_lock<DeadlineMutex> lock(lifecycle_, std::defer_lock);
    if (!lock.try_lock_until(deadline)) return false;  // a life-cycle call that does not return
    endLocked();
    while (receiveThread_.running() || commThread_.running() || requestsRunning_.load() > 0) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

int32_t DriverPlugin::init(int32_t portIndex) {
    std::lock_guard<DeadlineMutex> lock(lifecycle_);
    if (state_.load() != ConnectionState::Idle) return 0;
    if (!isPortIndex(portIndex)) return 0;
    if (!map_ || map_->portIndex() != portIndex) {
        auto pm = PortMap::open(portIndex);
        if (!pm) return 0;
        map_ = std::move(pm);
    }
    writeVersion(map_->map());
    return 1;
}

int32_t DriverPlugin::start() {
    std::lock_guard<DeadlineMutex> lock(lifecycle_);
    if (state_.load() != ConnectionState::Idle || !map_) return 0;
    PortDataMap& m = map_->map();
    if (!variant_.acceptsPort(*this, map_->portIndex())) return 0;
    // A thread of the last connection that would not stop still uses the
    // sending state: no second pair may start beside it.
    if (receiveThread_.running() || commThread_.running()) {
        status_.write(StatusLines::threadFailed());
        platform::storeWord(m.status, kStatusThreadFailed);
        return 0;
    }
    state_ = ConnectionState::Opening;
    openNote_.clear();
    bool silent = false;
    auto transport = variant_.openTransport(*this, silent);
    if (!transport) {
        if (!silent) platform::storeWord(m.status, kStatusPortOpenFailed);
        state_ = ConnectionState::Idle;
        return 0;
    }
    auto link = std::make_shared<DeviceLink>(std::move(transport), variant_.frameWrites());
    link->resetReceiveState();
    setLink(link);
    deviceGone_ = false;
    state_ = ConnectionState::Connected;

    receiveStop_ = false;
    commStop_ = false;
    if (!receiveThread_.start([this] { receiveLoop(); })) {
        status_.write(StatusLines::threadFailed());
        setLink(nullptr);
        platform::storeWord(m.status, kStatusThreadFailed);
        state_ = ConnectionState::Idle;
        return 0;
    }
    if (!commThread_.start([this] { communicationLoop(); })) {
        receiveStop_ = true;
        if (!receiveThread_.joinWithin(kReceiveStopBoundMs)) {
            link->cancel();
            if (!receiveThread_.joinWithin(kReceiveStopBoundMs)) pinModule();
        }
        status_.write(StatusLines::threadFailed());
        setLink(nullptr);
        platform::storeWord(m.status, kStatusThreadFailed);
        state_ = ConnectionState::Idle;
        return 0;
    }
    return 1;
}

bool DriverPlugin::stopThreads() {
    receiveStop_ = true;
    {
        std::lock_guard<std::mutex> lock(stopMutex_);
        commStop_ = true;
    }
    stopCv_.notify_all();
    if (map_) platform::wakeWordWaiters(map_->map().displayRequest);
    std::shared_ptr<DeviceLink> link = sharedLink();
    bool receiveEnded = receiveThread_.joinWithin(kReceiveStopBoundMs);
    if (!receiveEnded && link) {
        link->cancel();  // a read or write stuck in the transport returns now
        receiveEnded = receiveThread_.joinWithin(kReceiveStopBoundMs);
    }
    bool commEnded = commThread_.joinWithin(kCommStopBoundMs);
    if (!commEnded && link) {
        link->cancel();
        commEnded = commThread_.joinWithin(kReceiveStopBoundMs);
    }
    if (receiveEnded && commEnded) return true;
    // Left to end on its own: it keeps its link (and the port) until then,
    // and the module stays mapped under it.
    pinModule();
    std::fprintf(stderr, "driver: a communication thread did not stop in time; it is left to end on its own\n");
    return false;
}

int32_t DriverPlugin::end() {
    std::lock_guard<DeadlineMutex> lock(lifecycle_);
    return endLocked();
}

int32_t DriverPlugin::endLocked() {
    if (state_.load() != ConnectionState::Connected) return 0;
    stopThreads();
    state_ = ConnectionState::Closing;
    const std::string line = variant_.releasedLine(*this);
    setLink(nullptr);  // closes the port once no thread or request holds it
    status_.write(line);
    if (map_) platform::storeWord(map_->map().status, kStatusNoConnection);
    state_ = ConnectionState::Idle;
    return 0;
}

bool DriverPlugin::pause(int ms) {
    std::unique_lock<std::mutex> lock(stopMutex_);
    return !stopCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return commStop_.load(); });
}

void DriverPlugin::noteDropped(int count) {
    if (count <= 0) return;
    const uint64_t before = droppedNotifications_.fetch_add(static_cast<uint64_t>(count));
    const uint64_t after = before + static_cast<uint64_t>(count);
    // A line at 1, 10, 100, ... dropped: enough to see, never a flood.
    for (uint64_t mark = 1; mark != 0 && mark <= after; mark *= 10)
        if (before < mark) {
            std::fprintf(stderr, "driver: %llu notification(s) dropped: a client's queue is full\n",
                         static_cast<unsigned long long>(after));
            break;
        }
}

void DriverPlugin::noteDeviceGone(bool gone) {
    if (deviceGone_.exchange(gone) == gone || !gone) return;
    status_.write(StatusLines::deviceLost(variant_.openedPortName()));
}

// ---- direct requests of clients, each on a thread of the controller

int32_t DriverPlugin::sendDirectCommand(int32_t blockNumber) {
    RequestScope scope(requestsRunning_);
    auto block = SharedBlock::open(blockNumber);
    if (!block) return 0;
    const auto request = readDirectCommand(*block);
    if (!request || !map_) {
        publishBlockResult(*block, -1);  // malformed: refused, nothing sent
        return 0;
    }
    PortDataMap& m = map_->map();
    const auto right = directRightHolder(m, *block);
    if (!right) {
        publishBlockResult(*block, -1);  // the requester does not hold the direct-operation right
        return 0;
    }
    std::shared_ptr<DeviceLink> link = sharedLink();
    if (state_.load() != ConnectionState::Connected || !link) {
        publishBlockResult(*block, -1);
        return 0;
    }
    int32_t result = -1;
    {
        SendLockGuard guard(*link, kSendLockWaitMs);
        if (guard.held()) {
            const bool sent = link->writeFrame(request->command, request->parameter, request->data);
            result = sent ? 1 : -1;
            if (sent && request->replyWaitMs != 0) {
                // The wait ends early when the right is given back or its
                // holder ends: nobody is left to take the answer.
                const auto reply = link->waitReplyByte(clampedReplyWaitMs(request->replyWaitMs), &receiveStop_,
                                                       [&] { return !stillHoldsRight(m, *right); });
                if (reply) {
                    storeDirectReply(*block, *reply);
                    result = 1;
                } else {
                    result = -1;
                }
            }
        }
    }
    publishBlockResult(*block, result);
    return 0;
}

int32_t DriverPlugin::sendDirectBytes(int32_t blockNumber) {
    RequestScope scope(requestsRunning_);
    auto block = SharedBlock::open(blockNumber);
    if (!block) return 0;
    const auto request = readDirectBytes(*block);
    if (!request || !map_) {
        publishBlockResult(*block, -1);
        return 0;
    }
    if (request->data.empty()) {
        publishBlockResult(*block, 1);
        return 0;
    }
    if (!directRightHolder(map_->map(), *block)) {
        publishBlockResult(*block, -1);
        return 0;
    }
    std::shared_ptr<DeviceLink> link = sharedLink();
    if (state_.load() != ConnectionState::Connected || !link) {
        publishBlockResult(*block, -1);
        return 0;
    }
    bool ok = false;
    {
        SendLockGuard guard(*link, kSendLockWaitMs);
        ok = guard.held() && link->writeBytes(request->data);
    }
    publishBlockResult(*block, ok ? 1 : -1);
    return 0;
}

}  // namespace tavik::drv
