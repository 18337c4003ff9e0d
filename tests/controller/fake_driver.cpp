// A stand-in driver plug-in for the controller's tests: exports the plug-in
// functions, keeps the port map as a real plug-in does, serves direct
// commands and bytes through the shared block handshake, and appends one line
// per call to the file named by $FAKE_DRV_LOG. With $FAKE_DRV_DIRECT_MS a
// direct command takes that long, and tells in the log when the library was
// detached (its statics destroyed) while the command still ran.
#include "common/data_maps.h"
#include "common/export.h"
#include "common/shared_block.h"
#include "drivers/core/plugin_api.h"
#include "platform/atomic_word.h"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

namespace {

struct FakeState {
    std::mutex mutex;
    std::optional<tavik::PortMap> map;
    bool connected = false;
    TavikStatusSink* sink = nullptr;
};

FakeState& state() {
    static FakeState s;
    return s;
}

void logLine(const char* format, ...) {
    const char* path = std::getenv("FAKE_DRV_LOG");
    if (!path) return;
    static std::mutex fileMutex;
    std::lock_guard lock(fileMutex);
    FILE* f = std::fopen(path, "a");
    if (!f) return;
    va_list ap;
    va_start(ap, format);
    std::vfprintf(f, format, ap);
    va_end(ap);
    std::fputc('\n', f);
    std::fclose(f);
}

// Destroyed when the library is detached; then waits (bounded) for direct
// commands still running, so that they can report it.
struct DetachWatch {
    std::atomic<bool> detached{false};
    std::atomic<int> running{0};
    ~DetachWatch() {
        detached = true;
        for (int i = 0; i < 300 && running.load() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
};
DetachWatch detachWatch;

bool envSet(const char* name) {
    const char* v = std::getenv(name);
    return v && *v && *v != '0';
}

}  // namespace

TAVIK_API int32_t Version() { return TAVIK_INTERFACE_VERSION; }

TAVIK_API void drvSetStatusWindow(TavikWindowHandle window) {
    std::lock_guard lock(state().mutex);
    state().sink = reinterpret_cast<TavikStatusSink*>(window);
    logLine("drvSetStatusWindow %s", window ? "sink" : "null");
}

TAVIK_API int32_t drvInit(int32_t portIndex) {
    std::lock_guard lock(state().mutex);
    logLine("drvInit %d", portIndex);
    if (envSet("FAKE_DRV_INIT_FAIL")) return 0;
    state().map = tavik::PortMap::open(portIndex);
    if (!state().map) return 0;
    uint8_t* v = state().map->map().driverVersion;
    v[0] = 4;
    v[1] = 2;
    v[2] = 1;
    return 1;
}

TAVIK_API int32_t drvStart() {
    std::lock_guard lock(state().mutex);
    logLine("drvStart");
    if (!state().map || state().connected) return 0;
    tavik::PortDataMap& m = state().map->map();
    if (envSet("FAKE_DRV_START_FAIL")) {
        tavik::platform::storeWord(m.status, tavik::kStatusPortOpenFailed);
        return 0;
    }
    state().connected = true;
    tavik::platform::storeWord(m.status, tavik::kStatusConnected);
    if (state().sink && state().sink->setText) {
        std::string line = "Connected device: " + tavik::fieldString(m.deviceName);
        state().sink->setText(state().sink->context, line.c_str());
    }
    return 1;
}

TAVIK_API int32_t drvEnd() {
    std::lock_guard lock(state().mutex);
    logLine("drvEnd status=%d", state().map ? tavik::platform::loadWord(state().map->map().status) : -99);
    if (!state().connected) return 0;
    state().connected = false;
    tavik::platform::storeWord(state().map->map().status, tavik::kStatusNoConnection);
    return 0;
}

TAVIK_API int32_t drvIsConnected() {
    std::lock_guard lock(state().mutex);
    return state().connected ? 1 : 0;
}

TAVIK_API TavikWindowHandle drvOpenMonitorWindow(const char*, int32_t, intptr_t, int32_t) { return 0; }
TAVIK_API void drvCloseMonitorWindow() {}

// Replies with the command byte plus one when a reply is asked for.
TAVIK_API int32_t chSendDirectCommand(int32_t blockNumber) {
    auto block = tavik::SharedBlock::open(blockNumber);
    if (!block) return 0;
    const int32_t wait = block->read(4);
    const int32_t command = block->read(8);
    const int32_t param = block->read(12);
    logLine("chSendDirectCommand %d cmd=%d param=%d wait=%d", blockNumber, command, param, wait);
    if (const char* ms = std::getenv("FAKE_DRV_DIRECT_MS")) {
        ++detachWatch.running;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::atoi(ms));
        while (std::chrono::steady_clock::now() < until) {
            if (detachWatch.detached) {
                logLine("chSendDirectCommand ran after detach");
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        logLine("chSendDirectCommand done %d", blockNumber);
        --detachWatch.running;
    }
    if (wait != 0) {
        if (int32_t* reply = block->word(4)) *reply = (command + 1) & 0xFF;
    }
    tavik::publishBlockResult(*block, 1);
    return 0;
}

TAVIK_API int32_t chSendDirectBytes(int32_t blockNumber) {
    auto block = tavik::SharedBlock::open(blockNumber);
    if (!block) return 0;
    const int32_t n = block->read(4);
    std::string text;
    if (n > 0 && n <= block->payloadSize() - 8) text.assign(reinterpret_cast<const char*>(block->payload() + 8), n);
    logLine("chSendDirectBytes %d \"%s\"", blockNumber, text.c_str());
    tavik::publishBlockResult(*block, 1);
    return 0;
}
