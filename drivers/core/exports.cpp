// The exported functions of a driver plug-in. Compiled into each plug-in
// module, which supplies its variant through pluginVariant().
#include <memory>

#include "common/export.h"
#include "drivers/core/monitor_host.h"
#include "drivers/core/plugin.h"
#include "drivers/core/plugin_api.h"

namespace {

// How long the detach step waits for the plug-in's threads and requests.
constexpr int kDetachBoundMs = 3000;

// The module's one plug-in instance: made when the library is attached and,
// when it is detached, ended and destroyed, unless a thread or request still
// runs inside it: then it is left as it is for that thread (the module was
// pinned in memory when the thread was left running).
class Instance {
public:
    Instance() : plugin_(std::make_unique<tavik::drv::DriverPlugin>(tavik::drv::pluginVariant())) {}
    ~Instance() {
        if (!plugin_->prepareUnload(kDetachBoundMs)) (void)plugin_.release();
    }
    tavik::drv::DriverPlugin& get() { return *plugin_; }

private:
    std::unique_ptr<tavik::drv::DriverPlugin> plugin_;
};

tavik::drv::DriverPlugin& plugin() {
    static Instance instance;
    return instance.get();
}

__attribute__((constructor)) void attach() { plugin(); }

}  // namespace

TAVIK_API int32_t Version(void) { return TAVIK_INTERFACE_VERSION; }
TAVIK_API int32_t drvInit(int32_t portIndex) { return plugin().init(portIndex); }
TAVIK_API void drvSetStatusWindow(TavikWindowHandle window) { plugin().setStatusWindow(window); }
TAVIK_API int32_t drvStart(void) { return plugin().start(); }
TAVIK_API int32_t drvEnd(void) { return plugin().end(); }
TAVIK_API int32_t drvIsConnected(void) { return plugin().isConnected(); }
// The monitor window needs a windowing host (drvSetMonitorHost); a headless
// host has none and the window never opens. The icon is the host's business.
TAVIK_API void drvSetMonitorHost(const TavikMonitorHost* host) { plugin().monitor.setHost(host); }
TAVIK_API TavikWindowHandle drvOpenMonitorWindow(const char* title, int32_t dotSize, intptr_t icon, int32_t keepOnTop) {
    (void)icon;
    return plugin().monitor.open(title, dotSize, keepOnTop != 0, plugin().map());
}
TAVIK_API void drvCloseMonitorWindow(void) { plugin().monitor.close(); }
TAVIK_API int32_t chSendDirectCommand(int32_t blockNumber) { return plugin().sendDirectCommand(blockNumber); }
TAVIK_API int32_t chSendDirectBytes(int32_t blockNumber) { return plugin().sendDirectBytes(blockNumber); }
TAVIK_API uint64_t drvDroppedNotifications(void) { return plugin().droppedNotifications(); }
