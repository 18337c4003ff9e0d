// The controller core: port and driver, commands, idle check, shutdown.
#include "controller/controller.h"

#include "common/ini_store.h"
#include "common/settings.h"
#include "common/shared_block.h"
#include "common/slot_reclaim.h"
#include "controller/commands.h"
#include "drivers/core/version.h"
#include "platform/atomic_word.h"
#include "platform/process.h"
#include "platform/thread_queue.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <unistd.h>
#include <thread>

namespace tavik::controller {
namespace {

constexpr const char* kVersionText = "Ver 4.2.0";
// The controller speaks the plug-in interface's version.
constexpr auto kControllerVersion = drv::kPluginVersion;
// How long a new controller waits for the port's claim (an ending one's shutdown).
constexpr int kClaimWaitMs = 5000;

void storeByte(uint8_t& b, uint8_t v) { std::atomic_ref<uint8_t>(b).store(v, std::memory_order_release); }

// Withdraws the controller from the map: versions, thread id and status.
void withdrawFromMap(PortDataMap& m) {
    for (auto& b : m.controllerVersion) storeByte(b, 0);
    for (auto& b : m.driverVersion) storeByte(b, 0);
    platform::storeWord(m.controllerThreadId, 0);
    platform::storeWord(m.status, kStatusNoConnection);
}

// Answers a request the controller will not serve, so its requester does not
// wait for its bound. A block that cannot be opened is dropped.
void refuseBlock(int32_t blockNumber) {
    if (auto block = SharedBlock::open(blockNumber)) publishBlockResult(*block, -1);
}

}  // namespace

// The programs we ship do nothing here; a test build of the controller links a
// definition of its own that holds the controller at this point.
__attribute__((weak)) void beforePortClaim() {}

const char* programTitle() { return pickText("Tactile device controller", "点図ﾃﾞﾊﾞｲｽ･ｺﾝﾄﾛｰﾗ"); }

Controller::Controller(ControllerWindow& window, const MessageNumbers& messages, int32_t mainThreadId,
                       std::string pluginFolder, ControllerLimits limits)
    : window_(window),
      messages_(messages),
      mainThreadId_(mainThreadId),
      pluginFolder_(std::move(pluginFolder)),
      limits_(limits),
      threads_(limits.requestThreads) {}

Controller::~Controller() { shutdown(); }

void Controller::closeMaps() {
    map_.reset();
    mouse_.reset();
}

void Controller::openPort(int32_t portIndex) {
    if (!isPortIndex(portIndex)) return;
    if (portOpened_) {
        // A client's restart after the port was closed: the plug-in is still
        // loaded and initialised, so only its start is repeated.
        if (driver_ && map_ && portIndex == map_->portIndex() &&
            platform::loadWord(map_->map().status) == kStatusNoConnection && !driver_->entry().drvIsConnected()) {
            if (driver_->entry().drvStart()) window_.setConnectLabel(true);
        }
        return;
    }
    requestedPort_ = portIndex;

    if (!map_) {
        beforePortClaim();
        // After a restart in place the claim held on across the exec.
        std::optional<PortMap> pm;
        if (inheritedClaim_ >= 0) pm = PortMap::adopt(std::exchange(inheritedClaim_, -1), portIndex);
        platform::SectionError error;
        if (!pm) pm = PortMap::open(portIndex, nullptr, &error);
        if (!pm) {
            std::fprintf(stderr, "TAVIK: %s\n", platform::describeSectionError(error).c_str());
            window_.setStatusText("Inner error: DataMap couldn't open.");
            // Another user's map under the port's name does not go away by waiting.
            if (error.kind == platform::SectionError::Kind::Foreign) requestQuit();
            return;
        }
        // One controller per port: a second one ends at once; an ending one
        // is given the time its shutdown takes. (Taking the claim again
        // through the adopted descriptor that holds it succeeds at once.)
        if (!pm->claimController(kClaimWaitMs)) {
            std::fprintf(stderr, pm->controllerClaimed()
                                     ? "TAVIK: another controller serves this port\n"
                                     : "TAVIK: another process of this user holds a lock on the port's map\n");
            requestQuit();
            return;
        }
        auto mouse = MouseMapReference::acquire();
        if (!mouse) {
            window_.setStatusText("Inner error: MouseMap couldn't open.");
            return;  // the port map closes here
        }
        map_ = std::make_shared<PortMap>(std::move(*pm));
        mouse_ = std::move(mouse);
    }
    PortDataMap& m = map_->map();

    if (platform::loadWord(m.entryCount) <= 0) {
        closeMaps();
        window_.setStatusText("Inner error: no entry.");
        return;
    }

    const std::string& ini = TavikIniPath();
    const int32_t screenReaderFirst = profileGetInt("Priority", "ScreenReaderFirst", 0, ini) != 0 ? 1 : 0;
    int32_t allowHide = profileGetInt("Priority", "AllowHideWindow", 2, ini);
    if (allowHide < 0 || allowHide > 3) allowHide = 2;  // a policy the options dialog never writes
    platform::storeWord(m.screenReaderFirst, screenReaderFirst);
    platform::storeWord(m.allowHideWindow, allowHide);
    if (allowHide != 3) window_.setHideButtonVisible(true);
    if (allowHide == 0) window_.hide();

    if (!driver_) {
        const std::string name = fieldString(m.driverFile);
        DriverLibrary::LoadError error = DriverLibrary::LoadError::NotLoaded;
        std::string detail = "driver file name \"" + name + "\" is no plain file name";
        std::optional<DriverLibrary> lib;
        if (auto path = resolvePluginPath(name, pluginFolder_)) lib = DriverLibrary::load(*path, error, detail);
        if (!lib) {
            platform::storeWord(m.status, error == DriverLibrary::LoadError::ExportMissing
                                              ? kStatusDriverExportMissing
                                              : kStatusDriverLoadFailed);
            std::fprintf(stderr, "TAVIK: %s\n", detail.c_str());
            closeMaps();
            window_.setStatusText("Inner error: Driver couldn't open.");
            return;
        }
        auto driver = std::make_shared<DriverLibrary>(std::move(*lib));
        driver->entry().drvSetStatusWindow(window_.statusHandle());
        if (driver->entry().drvSetMonitorHost) driver->entry().drvSetMonitorHost(window_.monitorHost());
        if (!driver->entry().drvInit(portIndex)) {
            closeMaps();
            window_.setStatusText("Inner error: Driver couldn't initialize.");
            return;  // the plug-in is unloaded here
        }
        driver_ = std::move(driver);
    }

    // A failed start leaves the label and the plug-in's own status line.
    if (driver_->entry().drvStart()) window_.setConnectLabel(true);

    platform::storeWord(m.controllerThreadId, mainThreadId_);
    updateTitle(portIndex);
    // The version tells waiting clients that the thread id above is valid.
    for (int i = 0; i < 3; ++i) storeByte(m.controllerVersion[i], kControllerVersion[i]);
    portOpened_ = true;
}

void Controller::updateTitle(int32_t portIndex) {
    char buf[192];
    if (portIndex < kFirstUsbPort)
        std::snprintf(buf, sizeof buf, "%s %s (Com%d)", programTitle(), kVersionText, portIndex + 1);
    else
        std::snprintf(buf, sizeof buf, "%s %s (USB%d)", programTitle(), kVersionText, portIndex - 63);
    std::string title = buf;
    if (window_.hotKeyRegistered()) title += pickText(" (Hotkey=WIN+G)", " (ﾎｯﾄｷｰ=WIN+G)");
    window_.setTitle(title);
}

void Controller::dispatchCommand(uint64_t code, int64_t argument) {
    auto request = decodeCommand(code, argument);
    if (!request) {
        std::fprintf(stderr, "TAVIK: ignored command %llu with argument %lld\n", static_cast<unsigned long long>(code),
                     static_cast<long long>(argument));
        return;
    }
    switch (request->command) {
        case Command::OpenPort:
            openPort(request->argument);
            break;
        case Command::ClosePort:
            if (map_) platform::storeWord(map_->map().status, kStatusClosing);
            if (driver_) driver_->entry().drvEnd();
            window_.setConnectLabel(false);
            break;
        case Command::ReopenPort:
            startReopen(request->argument);
            break;
        case Command::DirectCommand:
            startDirect(false, request->argument);
            break;
        case Command::ShowWindow:
            showHide(request->argument);
            break;
        case Command::DirectBytes:
            startDirect(true, request->argument);
            break;
        case Command::BringToFront:
            bringToFront();
            break;
    }
}

void Controller::startReopen(int32_t blockNumber) {
    auto driver = driver_;
    auto map = map_;
    auto connected = connectedLabelDue_;
    const int boundMs = limits_.reopenBoundMs;
    const bool started = threads_.start([driver, map, connected, boundMs, blockNumber] {
        auto block = SharedBlock::open(blockNumber);
        if (!block) return;
        int32_t result = -1;
        if (driver && map && driver->entry().drvStart()) {
            connected->store(true);  // the main thread relabels the button
            PortDataMap& m = map->map();
            // A client's close request may still mark the port closing; wait
            // for it to clear, at most as long as the requester waits.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
            for (;;) {
                ReopenState st = reopenState(platform::loadWord(m.status), platform::loadWord(m.closingSlot));
                if (!st.stillClosing || std::chrono::steady_clock::now() >= deadline) {
                    result = st.result;
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        publishBlockResult(*block, result);
    });
    if (!started) {
        std::fprintf(stderr, "TAVIK: reopen request refused: too many requests running\n");
        refuseBlock(blockNumber);
    }
}

void Controller::startDirect(bool bytes, int32_t blockNumber) {
    auto driver = driver_;
    const bool offered = driver && (bytes ? driver->entry().chSendDirectBytes : driver->entry().chSendDirectCommand);
    if (!offered) {
        refuseBlock(blockNumber);
        return;
    }
    const bool started = threads_.start([driver, bytes, blockNumber] {
        if (bytes)
            driver->entry().chSendDirectBytes(blockNumber);
        else
            driver->entry().chSendDirectCommand(blockNumber);
    });
    if (!started) {
        std::fprintf(stderr, "TAVIK: direct request refused: too many requests running\n");
        refuseBlock(blockNumber);
    }
}

void Controller::showHide(int32_t argument) {
    if (!map_) return;
    PortDataMap& m = map_->map();
    ShowHideAction a = decideShowHide(platform::loadWord(m.allowHideWindow), argument);
    if (!a.change) return;
    platform::storeWord(m.allowHideWindow, a.newAllowHideWindow);
    if (a.showHideButton) window_.setHideButtonVisible(true);
    if (a.hide)
        window_.hide();
    else
        window_.showNormal();
}

void Controller::bringToFront() {
    if (map_) {
        PortDataMap& m = map_->map();
        const ShowHideAction a = decideBringToFront(platform::loadWord(m.allowHideWindow));
        platform::storeWord(m.allowHideWindow, a.newAllowHideWindow);
        if (a.showHideButton) window_.setHideButtonVisible(true);
    }
    window_.showNormal();
}

void Controller::userConnectToggle() {
    if (!driver_) return;
    const DriverEntryPoints& e = driver_->entry();
    if (e.drvIsConnected() == 1) {
        e.drvEnd();
        if (map_) {
            platform::storeWord(map_->map().status, kStatusClosing);
            platform::storeWord(map_->map().closingSlot, -1);
        }
        window_.setConnectLabel(false);
    } else if (e.drvStart()) {
        if (map_) platform::storeWord(map_->map().closingSlot, -1);
        window_.setConnectLabel(true);
    }
}

void Controller::userHide() {
    if (map_ && platform::loadWord(map_->map().allowHideWindow) > 1) platform::storeWord(map_->map().allowHideWindow, 1);
    window_.hide();
}

intptr_t Controller::openMonitorWindow(const std::string& title, int cellSize, bool keepOnTop) {
    if (!driver_ || !driver_->entry().drvOpenMonitorWindow) return 0;
    return driver_->entry().drvOpenMonitorWindow(title.c_str(), cellSize, 0, keepOnTop ? 1 : 0);
}

void Controller::checkStrayEntries() {
    PortDataMap& m = map_->map();
    const int32_t count = platform::loadWord(m.entryCount);
    const int32_t taken = countTakenSlots(m);
    if (count <= taken) {
        strayEntriesSince_.reset();
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!strayEntriesSince_) {
        strayEntriesSince_ = now;
        return;
    }
    if (now - *strayEntriesSince_ < std::chrono::milliseconds(limits_.strayEntryBoundMs)) return;
    // Entries without a slot for this long belong to clients that died while
    // entering; a client that enters meanwhile changes the count and wins.
    if (platform::exchangeWord(m.entryCount, count, taken))
        std::fprintf(stderr, "TAVIK: entry count %d lowered to the %d taken slots\n", count, taken);
    strayEntriesSince_.reset();
}

bool Controller::idleCheck(bool slowTick) {
    threads_.reap();
    if (connectedLabelDue_->exchange(false)) window_.setConnectLabel(true);
    if (quit_) return true;
    if (map_) {
        PortDataMap& m = map_->map();
        if (slowTick) {
            if (int freed = reclaimDeadSlots(m, platform::processAlive); freed > 0)
                std::fprintf(stderr, "TAVIK: freed %d slot(s) of ended clients\n", freed);
            checkStrayEntries();
        }
        if (platform::loadWord(m.entryCount) > 0) return false;
        // Ending: withdraw the thread id first, then look again. A client
        // entering meanwhile either is seen here (and the controller stays)
        // or sees the thread id gone and starts a new controller, which
        // waits for this one's claim.
        const int32_t tid = platform::swapWordSeqCst(m.controllerThreadId, 0);
        if (platform::loadWordSeqCst(m.entryCount) > 0) {
            platform::storeWord(m.controllerThreadId, tid);
            return false;
        }
        return true;
    }
    if (slowTick && requestedPort_ && !portOpened_) {
        // The port never opened: nobody can reach this controller once the
        // port's clients are gone.
        auto pm = PortMap::openExisting(*requestedPort_, false);
        if (!pm || platform::loadWord(pm->map().entryCount) <= 0) return true;
    }
    return false;
}

void Controller::shutdownForExit() {
    if (shutdown()) return;
    std::fflush(nullptr);
    ::_exit(1);
}

bool Controller::shutdown() {
    if (shutDown_) return !threadsLeft_;
    shutDown_ = true;
    bool drained = threads_.drain(limits_.drainBoundMs);
    if (driver_) {
        if (driver_->entry().drvIsConnected() == 1) driver_->entry().drvEnd();
        if (!drained) drained = threads_.drain(limits_.drainBoundMs);
        // Late status lines go to standard error: the window goes before the plug-in.
        driver_->entry().drvSetStatusWindow(0);
        // The monitor window goes with the window system, before the plug-in.
        if (driver_->entry().drvCloseMonitorWindow) driver_->entry().drvCloseMonitorWindow();
        if (driver_->entry().drvSetMonitorHost) driver_->entry().drvSetMonitorHost(nullptr);
        // The plug-in stays loaded until the process ends.
        driver_->keepLoaded();
    }
    if (!drained) {
        threadsLeft_ = true;
        std::fprintf(stderr, "TAVIK: %d request thread(s) still running at shutdown\n", threads_.running());
    }
    if (map_) withdrawFromMap(map_->map());
    closeMaps();
    return !threadsLeft_;
}

bool Controller::notifyKey(uint32_t eventBytes) {
    return map_ && postNotifyToAddressee(map_->map(), messages_, kNotifyKey, eventBytes);
}

int Controller::notifyAll(uint32_t eventBytes) {
    return map_ ? postNotifyToAll(map_->map(), messages_, kNotifyBroadcast, eventBytes) : 0;
}

bool Controller::notifyPen(uint8_t code, uint8_t x, uint8_t y, uint8_t buttons) {
    const uint32_t bytes = code | (uint32_t{x} << 8) | (uint32_t{y} << 16) | (uint32_t{buttons} << 24);
    return map_ && postNotifyToAddressee(map_->map(), messages_, kNotifyPen, bytes);
}

int showRunningControllers(const MessageNumbers& messages) {
    int asked = 0;
    for (const int32_t port : controllerScanPorts()) {
        auto pm = PortMap::openExisting(port, false);
        if (!pm) continue;
        PortDataMap& m = pm->map();
        if (platform::loadWord(m.entryCount) == 0) continue;
        const int32_t tid = platform::loadWord(m.controllerThreadId);
        if (tid != 0 && platform::postThreadMessage(tid, messages.command, kCmdBringToFront, 0)) ++asked;
    }
    return asked;
}

}  // namespace tavik::controller
