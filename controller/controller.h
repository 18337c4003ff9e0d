// The controller core: opening the port and its driver plug-in, the command
// dispatcher, the user's connect and disconnect, the notification senders,
// the idle check that decides when the controller ends, and shutdown. Runs on
// the main thread; reopen and direct requests run on request threads. No
// window code here: the window is reached through ControllerWindow.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/data_maps.h"
#include "common/messages.h"
#include "controller/controller_window.h"
#include "controller/driver_library.h"
#include "controller/mouse_map.h"
#include "controller/request_threads.h"

namespace tavik::controller {

// Called by openPort just before the controller takes (or keeps) the port's
// claim. Does nothing in the programs we ship; a test build of the program
// gives its own definition to hold the controller there.
void beforePortClaim();

// Bounds of the controller's own waits.
struct ControllerLimits {
    int requestThreads = 64;     // request threads running at once; further requests are refused
    int reopenBoundMs = 5000;    // a reopen's wait for a client's close request to clear (the client's own bound)
    int drainBoundMs = 2000;     // shutdown's wait for running request threads
    int strayEntryBoundMs = 30000;  // how long entryCount may exceed the taken slots before it is lowered
};

class Controller {
public:
    // `mainThreadId` is the thread whose queue receives the command message
    // (written into controllerThreadId). `pluginFolder` is where plug-ins load from.
    Controller(ControllerWindow& window, const MessageNumbers& messages, int32_t mainThreadId,
               std::string pluginFolder, ControllerLimits limits = {});
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;
    ~Controller();

    // Command 1: opens the port data map and the mouse map, loads, initialises
    // and starts the driver plug-in, then announces the controller in the map.
    // Does nothing once the port was opened. Failures leave a status text and
    // the controller running; the next command 1 tries again.
    void openPort(int32_t portIndex);

    // The port map descriptor, holding the port's claim, that the image this
    // process replaced by exec passed on. The next openPort that needs the map
    // takes it over instead of claiming the port afresh, so the port is never
    // unclaimed across the restart; a descriptor that fails the checks
    // (PortMap::adopt) is ignored and the port claimed as usual.
    void inheritClaim(int fd) { inheritedClaim_ = fd; }
    // The open map's claim kept across (true) or dropped at (false) the
    // next exec; see PortMap::keepClaimAcrossExec. -1 without an open map.
    int keepClaimAcrossExec(bool keep) { return map_ ? map_->keepClaimAcrossExec(keep) : -1; }

    // Runs one command message after checking its code and argument; unknown
    // codes and out-of-range arguments are ignored. Never blocks on the device.
    void dispatchCommand(uint64_t code, int64_t argument);

    // The user's Connect/Disconnect button: only with a loaded driver.
    void userConnectToggle();
    // The Hide button: a policy above 1 becomes 1 (hidden on request); hides.
    void userHide();
    // The Monitor button: opens the plug-in's monitor window when it offers
    // one; 0 when it does not or cannot (headless).
    intptr_t openMonitorWindow(const std::string& title, int cellSize, bool keepOnTop);

    // Called when the message queue is empty. `slowTick` (a few times a
    // second) also reclaims the slots of dead clients and checks an unopened
    // port. True when the controller should end: the open map's entryCount is
    // 0 (or less), a quit was requested, or the port it was asked for has no
    // client any more although it never opened.
    bool idleCheck(bool slowTick);

    void requestQuit() { quit_ = true; }

    // Waits (bounded) for the request threads, ends the driver if connected
    // (which ends the device waits of requests still inside it), waits for
    // the request threads again, withdraws the controller from the map and
    // drops the mouse map reference. Safe to call twice. Returns false when a
    // request thread is still running inside the plug-in: the process must
    // then end without unloading the plug-in under it (see main).
    bool shutdown();
    // shutdown() for the end of the program (headless or windowed): when a
    // request thread still runs inside the plug-in, the process ends here at
    // once (_exit) instead of running the plug-in's detach step and the
    // destructors under it. The map was withdrawn; the kernel releases the rest.
    void shutdownForExit();

    // Notification senders (joystick and pen input). False when not delivered.
    bool notifyKey(uint32_t eventBytes);
    int notifyAll(uint32_t eventBytes);
    bool notifyPen(uint8_t code, uint8_t x, uint8_t y, uint8_t buttons);

    bool portOpened() const { return portOpened_; }
    bool driverLoaded() const { return driver_ != nullptr; }
    PortDataMap* map() const { return map_ ? &map_->map() : nullptr; }
    int runningRequests() const { return threads_.running(); }

private:
    void closeMaps();
    void showHide(int32_t argument);
    void bringToFront();
    void startReopen(int32_t blockNumber);
    void startDirect(bool bytes, int32_t blockNumber);
    void updateTitle(int32_t portIndex);
    void checkStrayEntries();

    ControllerWindow& window_;
    MessageNumbers messages_;
    int32_t mainThreadId_;
    std::string pluginFolder_;
    ControllerLimits limits_;

    // Shared with request threads so a map or plug-in never goes while a
    // thread still uses it.
    std::shared_ptr<PortMap> map_;
    std::shared_ptr<DriverLibrary> driver_;
    std::optional<MouseMapReference> mouse_;
    RequestThreads threads_;
    // Set by a reopen thread whose drvStart succeeded; the main thread then
    // labels the button "&Disconnect" (window calls stay on the main thread).
    std::shared_ptr<std::atomic<bool>> connectedLabelDue_ = std::make_shared<std::atomic<bool>>(false);

    std::optional<int32_t> requestedPort_;
    int inheritedClaim_ = -1;
    bool portOpened_ = false;
    bool quit_ = false;
    bool shutDown_ = false;
    bool threadsLeft_ = false;
    std::optional<std::chrono::steady_clock::time_point> strayEntriesSince_;
};

// Brings the running controllers of every port to the front, whatever their
// hide policy: posts kCmdBringToFront to each one whose map exists with
// clients entered.
// Returns how many were asked.
int showRunningControllers(const MessageNumbers& messages);

// The program title in the user's interface language.
const char* programTitle();

}  // namespace tavik::controller
