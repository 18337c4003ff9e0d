// Loading a driver plug-in: the map's Windows-style file name ("Padrik.dll")
// is resolved to a shared library in the plug-in folder and its ten entry
// points are looked up, five required and the optional others (Version is for
// outside callers and is not looked up).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "drivers/core/monitor_host.h"
#include "drivers/core/plugin_api.h"

namespace tavik::controller {

// The folder plug-ins are loaded from: $TAVIK_PLUGIN_DIR when set, else the
// folder of the running program.
std::string pluginFolder();

// The file a driver name stands for inside `folder`: "Name.dll" (any case of
// the extension) becomes "Name.so", "Name.so" stays, a bare "Name" gets ".so".
// nullopt for a name that could leave the folder or is no plain file name:
// empty, starting with '.', or holding anything but letters, digits, '_', '-'
// and '.'.
std::optional<std::string> resolvePluginPath(std::string_view driverName, std::string_view folder);

struct DriverEntryPoints {
    // required
    TavikDrvSetStatusWindowFn drvSetStatusWindow = nullptr;
    TavikDrvInitFn drvInit = nullptr;
    TavikDrvStartFn drvStart = nullptr;
    TavikDrvEndFn drvEnd = nullptr;
    TavikDrvIsConnectedFn drvIsConnected = nullptr;
    // optional (may stay null)
    TavikDrvOpenMonitorWindowFn drvOpenMonitorWindow = nullptr;
    TavikDrvCloseMonitorWindowFn drvCloseMonitorWindow = nullptr;
    TavikChSendDirectCommandFn chSendDirectCommand = nullptr;
    TavikChSendDirectBytesFn chSendDirectBytes = nullptr;
    TavikDrvSetMonitorHostFn drvSetMonitorHost = nullptr;  // the monitor window's host
};

// A loaded plug-in. Destruction unloads it unless keepLoaded() was called
// (threads still running inside the plug-in must never lose its code).
class DriverLibrary {
public:
    enum class LoadError { NotLoaded, ExportMissing };

    // Loads `path` and resolves the entry points. On failure `error` tells
    // which, and `detail` carries the loader's message.
    static std::optional<DriverLibrary> load(const std::string& path, LoadError& error, std::string& detail);

    DriverLibrary(DriverLibrary&& other) noexcept;
    DriverLibrary& operator=(DriverLibrary&& other) noexcept;
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;
    ~DriverLibrary();

    const DriverEntryPoints& entry() const { return entry_; }
    void keepLoaded() { keep_ = true; }

private:
    DriverLibrary(void* handle, const DriverEntryPoints& e) : handle_(handle), entry_(e) {}
    void* handle_ = nullptr;
    DriverEntryPoints entry_{};
    bool keep_ = false;
};

}  // namespace tavik::controller
