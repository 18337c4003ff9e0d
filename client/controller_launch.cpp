// Starting the controller program.
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

bool launchController(PortDataMap& map, int32_t portIndex, uint32_t commandMessage) {
    const std::string program = findControllerProgram();
    if (program.empty()) return false;
    const int32_t pid = platform::startProgram(program, {"/Remote", "/Port:" + std::to_string(portIndex)});
    if (pid <= 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnnounceBoundMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (controllerReady(map)) {
            const int32_t tid = platform::loadWord(map.controllerThreadId);
            platform::postThreadMessage(tid, commandMessage, kCmdOpenPort, portIndex);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kAnnouncePollMs));
    }
    return false;
}

}  // namespace tavik::client
