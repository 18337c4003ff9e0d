// Test harness for driver plug-ins: a temporary settings folder, the plug-in
// loaded with dlopen, a port map filled as a client would, and a fake device
// (the virtual display's device model) on a pseudo-terminal.
#pragma once

#include <atomic>
#include <condition_variable>
#include <dlfcn.h>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/data_maps.h"
#include "common/messages.h"
#include "device_model.h"
#include "drivers/core/plugin_api.h"
#include "host_frame_reader.h"
#include "platform/thread_queue.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace tavik::test {

// XDG_CONFIG_HOME pointed at a fresh folder for the test's lifetime.
class TempSettings {
public:
    TempSettings();
    const std::string& folder() const { return dir_.path(); }
    std::string iniPath() const;
    void mapPort(int portIndex, const std::string& devicePath);

private:
    TempDir dir_{"drv"};
};

// The device side on a pseudo-terminal reached through a symbolic link, so a
// restarted device keeps its port name.
class FakeDevice {
public:
    FakeDevice(padsim::DeviceConfig config, std::string linkPath);
    ~FakeDevice();
    void stop();  // closes the pseudo-terminal: the device vanishes

    // Runs fn on the device state under its lock.
    void inspect(const std::function<void(const padsim::DeviceModel&)>& fn);
    // Waits up to timeoutMs for pred(model) to hold.
    bool waitFor(const std::function<bool(const padsim::DeviceModel&)>& pred, int timeoutMs = 5000);
    void send(const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> lastFrame(uint8_t command);  // payload of the last frame with that command
    int framesWith(uint8_t command);
    // Raw bytes that arrived outside frames.
    std::vector<uint8_t> junk();

private:
    void run();
    padsim::DeviceModel model_;
    std::string link_;
    int master_ = -1, slave_ = -1;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> frames_;
    std::vector<uint8_t> junk_;
    std::thread thread_;
};

// The plug-in library and its exports.
class PluginLib {
public:
    // "Padrik" -> $TAVIK_BIN_DIR/Padrik.so; a name with a '/' is the path.
    explicit PluginLib(const std::string& name);
    ~PluginLib();
    bool loaded() const { return handle_ != nullptr; }
    TavikVersionFn Version = nullptr;
    TavikDrvInitFn drvInit = nullptr;
    TavikDrvSetStatusWindowFn drvSetStatusWindow = nullptr;
    TavikDrvStartFn drvStart = nullptr;
    TavikDrvEndFn drvEnd = nullptr;
    TavikDrvIsConnectedFn drvIsConnected = nullptr;
    TavikChSendDirectCommandFn chSendDirectCommand = nullptr;
    TavikChSendDirectBytesFn chSendDirectBytes = nullptr;
    TavikDrvDroppedNotificationsFn drvDroppedNotifications = nullptr;
    uint64_t droppedNotifications() const { return drvDroppedNotifications ? drvDroppedNotifications() : ~0ull; }

    // Status lines the plug-in wrote.
    std::vector<std::string> lines();
    bool waitLine(const std::string& text, int timeoutMs = 5000);

private:
    static void onLine(void* context, const char* line);
    void* handle_ = nullptr;
    TavikStatusSink sink_{};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
};

// A client's notification thread: collects every notify message; answers
// data blocks by taking them.
class NotifyThread {
public:
    NotifyThread();
    ~NotifyThread();
    int32_t threadId() const { return tid_; }
    struct Event {
        int32_t code;
        int64_t lParam;
        std::vector<uint8_t> data;  // data block: code byte, then the bytes
    };
    bool waitEvents(size_t count, int timeoutMs = 5000);
    std::vector<Event> events();

private:
    std::thread thread_;
    std::atomic<int32_t> tid_{0};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
};

// Fills a freshly created map the way the first client does and enters one
// display-mode slot for `pid` / `notifyThread`.
void fillDeviceFields(PortDataMap& m, int width = 64, int height = 48, int cells = 32);
void enterDisplaySlot(PortDataMap& m, int slot, int32_t pid, int32_t notifyThread, bool isDefault);
// Writes text and graphic into a slot as the client library does and names
// it in displayRequest.
void writeSlot(PortDataMap& m, int slot, const std::vector<uint8_t>& text, const std::vector<uint8_t>& dots,
               int format = 0, int level = 0);

}  // namespace tavik::test
