// The notification thread of an entry: it owns the thread queue that the
// controller and the plug-in post notify messages to, turns each into a call
// of the application's callback, and reports every change of the port's
// status. Every callback of the library runs on this thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "client/callbacks.h"
#include "common/data_maps.h"

namespace tavik::client {

// Runs the callback for one notify message (codes 4, 5, 6, 8, 11); other codes
// are ignored. Data blocks (6, 8) are opened by number, answered with
// `result` 1 (taken) or -1 (no callback) and closed; a block that cannot be
// opened, or is too small for its layout, is ignored.
void dispatchNotify(const Callbacks& callbacks, int32_t code, int64_t lParam);

class NotificationThread {
public:
    // Starts the thread and waits until its queue exists. nullptr when the
    // thread or its queue cannot be made. The thread keeps `map` mapped for
    // as long as it runs. `watch`, when given, runs on the thread about
    // twice a second (it must not block for long).
    static std::unique_ptr<NotificationThread> start(std::shared_ptr<PortMap> map, Callbacks& callbacks,
                                                     uint32_t notifyMessage, std::function<void()> watch = {});
    ~NotificationThread();
    NotificationThread(const NotificationThread&) = delete;
    NotificationThread& operator=(const NotificationThread&) = delete;

    int32_t threadId() const;
    // Sets the stop flag, wakes the thread and joins it, waiting at most
    // kStopWaitMs for a callback that is still running. Called from inside a
    // callback (on the thread itself) it only sets the flag: the thread ends
    // as soon as the callback returns. A thread that outlives the wait is
    // left to end on its own; it holds what it uses, and the library is
    // never unmapped (it is linked "nodelete"), so its code stays valid even
    // when the application unloads the library. Called again, it does nothing.
    void stop();
    static constexpr int kStopWaitMs = 1000;

    struct Shared;
    // Used by start(); the thread itself is started there.
    explicit NotificationThread(std::shared_ptr<Shared> shared);

private:
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

}  // namespace tavik::client
