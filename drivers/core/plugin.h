// One loaded driver plug-in: its port data map, connection state, status
// lines, the open device and the two communication threads. The exported
// functions forward to the single instance of the module.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "common/data_maps.h"
#include "common/messages.h"
#include "drivers/core/bounded_thread.h"
#include "drivers/core/deadline_mutex.h"
#include "drivers/core/device_link.h"
#include "drivers/core/monitor_window.h"
#include "drivers/core/status_lines.h"
#include "drivers/core/variant.h"

namespace tavik::drv {

enum class ConnectionState : uint8_t { Idle = 0, Opening = 1, Connected = 2, Closing = 3 };

class DriverPlugin {
public:
    // Library attach: language, settings paths, message registration.
    explicit DriverPlugin(ProtocolVariant& variant);
    // Library detach: drvEnd and the map closed. Never called while one of the
    // plug-in's threads or a request still runs (see prepareUnload).
    ~DriverPlugin();
    DriverPlugin(const DriverPlugin&) = delete;
    DriverPlugin& operator=(const DriverPlugin&) = delete;

    // ---- exports
    int32_t init(int32_t portIndex);
    void setStatusWindow(TavikWindowHandle window) { status_.setSink(window); }
    int32_t start();
    int32_t end();
    int32_t isConnected() const { return state_.load() == ConnectionState::Connected ? 1 : 0; }
    int32_t sendDirectCommand(int32_t blockNumber);
    int32_t sendDirectBytes(int32_t blockNumber);

    // Before the library goes: drvEnd, then waits up to boundMs for every
    // thread and request inside the plug-in to end. True when none is left
    // and the plug-in may be destroyed; false leaves it intact (a thread that
    // would not stop keeps running on it until the process ends). Never blocks
    // longer than the bound, also when called on one of the plug-in's threads.
    bool prepareUnload(int boundMs);

    // Notifications the receive thread dropped: a client's queue stayed full
    // while the notification waited in its line (the thread itself never
    // waits for a client).
    uint64_t droppedNotifications() const { return droppedNotifications_.load(); }

    // ---- for the variants and the threads
    PortDataMap* map() const { return map_ ? &map_->map() : nullptr; }
    int32_t portIndex() const { return map_ ? map_->portIndex() : -1; }
    // The link of the running communication thread (its sending side: the
    // variants' send operations); null outside that thread's life.
    DeviceLink* link() const { return commLink_.load(); }
    StatusLines& status() { return status_; }
    const MessageNumbers& messages() const { return messages_; }
    ProtocolVariant& variant() { return variant_; }
    bool multiLevel() const { return multiLevel_.load(); }
    void setMultiLevel(bool on) { multiLevel_ = on; }
    // A status line the communication thread writes after its first one (set
    // while opening, e.g. a speed the port refused).
    void setOpenNote(std::string line) { openNote_ = std::move(line); }
    const std::atomic<bool>& commStop() const { return commStop_; }
    // The monitor window; the communication thread refreshes it.
    MonitorWindow monitor;

    // The communication thread's and receive thread's bodies.
    void communicationLoop();
    void receiveLoop();

    // Sends the slot's changed text and graphic (caller holds the send lock).
    void showSlot(int32_t slot);
    // Clears the display (caller holds the send lock).
    void clearDisplay();
    // No slot shown whole: clears the display, or shows the claimed parts and
    // clears the rest.
    void showNothingWhole();
    // Clears the pins alone (caller holds the send lock).
    void clearGraphic();
    // One identification attempt (caller holds the send lock); true on success.
    bool identify();
    // Foreground following: one turn.
    void followForeground(int32_t foregroundPid);
    // Marks a slot to be sent in full.
    void markSlotChanged(int32_t slot);
    // Gives the sending steps above a link when no communication thread runs
    // (tools and fuzzing drive them by hand); null takes it back.
    void useSendingLink(DeviceLink* link) { commLink_ = link; }

    // Counts dropped notifications (receive thread).
    void noteDropped(int count);
    // Reports once per loss that the device stopped answering reads.
    void noteDeviceGone(bool gone);

    // Sleeps up to ms; returns early (false) when the communication thread is
    // told to stop.
    bool pause(int ms);

private:
    // drvEnd with the life-cycle lock held.
    int32_t endLocked();
    // False when a thread was left running.
    bool stopThreads();
    // Sets multiLevel and the variant's settings from the map's stored
    // identification, for a device identified by an earlier start.
    void restoreIdentification();
    void sendText(std::span<const uint8_t> text, int cells);
    // A slot's picture as copied under its busy flag (the dots themselves go to dots_).
    struct GraphicCopy {
        int32_t width = 0, height = 0, format = 0, planeLevel = 0;
    };
    std::optional<GraphicCopy> copyGraphic(ClientSlot& s);
    void sendGraphic(int32_t slot, const GraphicCopy& g);
    void sendMultiLevel(std::span<const uint8_t> dots, int width, int height, int format, uint8_t parameter);

    ProtocolVariant& variant_;
    MessageNumbers messages_;
    std::optional<PortMap> map_;
    StatusLines status_;
    std::atomic<ConnectionState> state_{ConnectionState::Idle};
    std::atomic<bool> multiLevel_{false};
    std::shared_ptr<DeviceLink> link_;
    mutable std::mutex linkMutex_;
    std::shared_ptr<DeviceLink> sharedLink() const {
        std::lock_guard<std::mutex> lock(linkMutex_);
        return link_;
    }
    void setLink(std::shared_ptr<DeviceLink> link) {
        std::lock_guard<std::mutex> lock(linkMutex_);
        link_ = std::move(link);
    }
    std::string openNote_;
    std::atomic<DeviceLink*> commLink_{nullptr};
    BoundedThread receiveThread_, commThread_;
    std::atomic<bool> receiveStop_{false}, commStop_{false};
    DeadlineMutex lifecycle_;
    std::atomic<int> requestsRunning_{0};
    std::atomic<uint64_t> droppedNotifications_{0};
    std::atomic<bool> deviceGone_{false};
    std::mutex stopMutex_;
    std::condition_variable stopCv_;

    // The slots whose text and graphic the device shows now (-1: blank; -2:
    // not known, so the next show sends both in full). Communication thread only.
    int32_t textSource_ = -2, graphicSource_ = -2;

    // Scratch buffers of the sending side (communication thread only).
    std::array<uint8_t, kGraphicBytes> dots_{};
    std::array<uint8_t, 10000 + 16> packed_{};
    std::array<uint8_t, 1200> coded_{};
};

}  // namespace tavik::drv
