// Starting the controller program and checking that it still lives.
#include "client/controller_launch.h"

#include "common/messages.h"
#include "platform/atomic_word.h"
#include "platform/process.h"
#include "platform/thread_queue.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <sys/stat.h>
#include <thread>

namespace tavik::client {
namespace {

constexpr int kAnnounceBoundMs = 10000;
constexpr int kAnnouncePollMs = 10;

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void storeByte(uint8_t& b, uint8_t v) { std::atomic_ref<uint8_t>(b).store(v, std::memory_order_release); }

}  // namespace

std::string findControllerProgram() {
    if (const char* env = std::getenv("TAVIK_PATH"); env && isRegularFile(env)) return env;
    const std::string folder = platform::moduleFolder(reinterpret_cast<const void*>(&findControllerProgram));
    if (!folder.empty() && isRegularFile(folder + "/TAVIK")) return folder + "/TAVIK";
    return platform::findOnPath("TAVIK");
}

bool controllerReady(PortDataMap& map) {
    for (auto& b : map.controllerVersion)
        if (std::atomic_ref<uint8_t>(b).load(std::memory_order_acquire) != 0) return true;
    return false;
}

bool controllerAlive(const PortMap& map) {
    // Ordered after the caller's entry (see openEntry).
    return platform::loadWordSeqCst(map.map().controllerThreadId) != 0 && map.controllerClaimed();
}

bool withdrawDeadController(PortMap& map) {
    PortDataMap& m = map.map();
    const int32_t tid = platform::loadWordSeqCst(m.controllerThreadId);
    if (tid == 0 || map.controllerClaimed()) return false;
    if (!platform::exchangeWord(m.controllerThreadId, tid, 0)) return false;
    for (auto& b : m.controllerVersion) storeByte(b, 0);
    for (auto& b : m.driverVersion) storeByte(b, 0);
    platform::storeWord(m.status, kStatusNoConnection);
    return true;
}

bool startController(int32_t portIndex) {
    const std::string program = findControllerProgram();
    if (program.empty()) return false;
    return platform::startProgram(program, {"/Remote", "/Port:" + std::to_string(portIndex)}) > 0;
}

bool launchController(PortMap& map, uint32_t commandMessage) {
    const int32_t portIndex = map.portIndex();
    PortDataMap& m = map.map();
    bool started = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnnounceBoundMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (controllerReady(m) && controllerAlive(map)) {
            const int32_t tid = platform::loadWord(m.controllerThreadId);
            return platform::postThreadMessage(tid, commandMessage, kCmdOpenPort, portIndex);
        }
        // A claimed port has a controller starting up (or one that is
        // ending, which may stay for a client that entered meanwhile): wait
        // for it. Only an unclaimed port gets a new one, once.
        if (!started && !map.controllerClaimed()) {
            if (!startController(portIndex)) return false;
            started = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kAnnouncePollMs));
    }
    return false;
}

}  // namespace tavik::client
