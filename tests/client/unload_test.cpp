// An application unloads the client library right after gdEnd while a
// callback of its notification thread is still running: the thread must be
// able to return into the library. Runs in a child process (a crash there is
// the failure) that loads the library with dlopen.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <thread>
#include <unistd.h>

#include "common/data_maps.h"
#include "common/messages.h"
#include "platform/atomic_word.h"
#include "platform/thread_queue.h"
#include "tests/support/child.h"

using namespace tavik;
using namespace std::chrono_literals;

namespace {

std::atomic<bool> inCallback{false};
std::atomic<bool> mayReturn{false};
std::atomic<bool> returned{false};

void slowKey(int, int, int) {
    inCallback = true;
    while (!mayReturn) std::this_thread::sleep_for(1ms);
    returned = true;
}

int threadCount() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/task")) ++n;
    return n;
}

// Child exit codes: 0 survived; others name the step that failed.
int unloadDuringCallback() {
    const auto dir = std::filesystem::temp_directory_path() / ("client-unload-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    ::setenv("TAVIK_PATH", "/nonexistent/TAVIK", 1);
    ::setenv("PATH", "/nonexistent", 1);

    // A stand-in controller: announced and holding the port's claim.
    const int32_t port = 30 + ::getpid() % 30;
    auto controller = PortMap::open(port);
    if (!controller || !controller->claimController(1000)) return 10;
    PortDataMap& m = controller->map();
    m.controllerThreadId = platform::currentThreadId();
    m.controllerVersion[0] = 4;

    // Threads before the library starts any: the main one, and any a runtime
    // checker keeps for itself (one starts it with the first new thread of the
    // process, hence the thread started and joined first).
    std::thread([] {}).join();
    const int baseThreads = threadCount();
    void* lib = ::dlopen(TAVIKUTIL_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!lib) return 11;
    using Start = int (*)(const char*, int, void (*)(int));
    using Display = int (*)(int, void (*)(int, int, int), void*, void*);
    using End = int (*)();
    auto gdStart = reinterpret_cast<Start>(::dlsym(lib, "gdStart"));
    auto gdStartDisplayMode = reinterpret_cast<Display>(::dlsym(lib, "gdStartDisplayMode"));
    auto gdEnd = reinterpret_cast<End>(::dlsym(lib, "gdEnd"));
    if (!gdStart || !gdStartDisplayMode || !gdEnd) return 12;
    if (gdStart("QX-64X48", port, nullptr) != 1) return 13;
    if (gdStartDisplayMode(1, slowKey, nullptr, nullptr) != 1) return 14;

    MessageNumbers msgs;
    registerMessages(msgs);
    if (!postNotify(m, msgs, 0, kNotifyKey, 0x010203)) return 15;
    if (!test::waitUntil([] { return inCallback.load(); })) return 16;

    // The callback outlasts the end's wait. The end runs on a thread that is
    // gone before the unload, as an application's worker would be.
    std::thread([&] { gdEnd(); }).join();
    ::dlclose(lib);  // the application is done with the library
    mayReturn = true;
    if (!test::waitUntil([] { return returned.load(); })) return 17;
    // The notification thread returns into the library and ends.
    if (!test::waitUntil([&] { return threadCount() == baseThreads; })) return 18;
    std::filesystem::remove_all(dir);
    return 0;
}

}  // namespace

TEST(LibraryUnload, CallbackRunningAtEndSurvivesUnload) {
    test::Child child(unloadDuringCallback);
    EXPECT_EQ(child.waitExit(), 0) << "negative: the process died of that signal";
}
