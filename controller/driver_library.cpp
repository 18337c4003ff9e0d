// Plug-in file resolution and loading with dlopen/dlsym.
#include "controller/driver_library.h"

#include "platform/process.h"

#include <cstdlib>
#include <dlfcn.h>
#include <utility>

namespace tavik::controller {
namespace {

bool plainNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.';
}

bool endsWithNoCase(std::string_view s, std::string_view suffix) {
    if (s.size() < suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        char a = s[s.size() - suffix.size() + i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != suffix[i]) return false;
    }
    return true;
}

template <typename Fn>
Fn symbol(void* handle, const char* name) {
    return reinterpret_cast<Fn>(::dlsym(handle, name));
}

}  // namespace

std::string pluginFolder() {
    if (const char* dir = std::getenv("TAVIK_PLUGIN_DIR"); dir && *dir) return dir;
    return platform::programFolder();
}

std::optional<std::string> resolvePluginPath(std::string_view name, std::string_view folder) {
    if (name.empty() || name[0] == '.') return std::nullopt;
    for (char c : name)
        if (!plainNameChar(c)) return std::nullopt;
    std::string file;
    if (endsWithNoCase(name, ".dll"))
        file = std::string(name.substr(0, name.size() - 4)) + ".so";
    else if (endsWithNoCase(name, ".so"))
        file = std::string(name);
    else
        file = std::string(name) + ".so";
    if (file == ".so") return std::nullopt;
    std::string path(folder);
    if (!path.empty() && path.back() != '/') path += '/';
    return path + file;
}

std::optional<DriverLibrary> DriverLibrary::load(const std::string& path, LoadError& error, std::string& detail) {
    void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* e = ::dlerror();
        detail = e ? e : path;
        error = LoadError::NotLoaded;
        return std::nullopt;
    }
    DriverEntryPoints e;
    e.drvSetStatusWindow = symbol<TavikDrvSetStatusWindowFn>(h, "drvSetStatusWindow");
    e.drvInit = symbol<TavikDrvInitFn>(h, "drvInit");
    e.drvStart = symbol<TavikDrvStartFn>(h, "drvStart");
    e.drvEnd = symbol<TavikDrvEndFn>(h, "drvEnd");
    e.drvIsConnected = symbol<TavikDrvIsConnectedFn>(h, "drvIsConnected");
    if (!e.drvSetStatusWindow || !e.drvInit || !e.drvStart || !e.drvEnd || !e.drvIsConnected) {
        ::dlclose(h);
        detail = path + ": a required export is missing";
        error = LoadError::ExportMissing;
        return std::nullopt;
    }
    e.drvOpenMonitorWindow = symbol<TavikDrvOpenMonitorWindowFn>(h, "drvOpenMonitorWindow");
    e.drvCloseMonitorWindow = symbol<TavikDrvCloseMonitorWindowFn>(h, "drvCloseMonitorWindow");
    e.chSendDirectCommand = symbol<TavikChSendDirectCommandFn>(h, "chSendDirectCommand");
    e.chSendDirectBytes = symbol<TavikChSendDirectBytesFn>(h, "chSendDirectBytes");
    e.drvSetMonitorHost = symbol<TavikDrvSetMonitorHostFn>(h, "drvSetMonitorHost");
    return DriverLibrary(h, e);
}

DriverLibrary::DriverLibrary(DriverLibrary&& o) noexcept
    : handle_(std::exchange(o.handle_, nullptr)), entry_(std::exchange(o.entry_, {})), keep_(o.keep_) {}

DriverLibrary& DriverLibrary::operator=(DriverLibrary&& o) noexcept {
    if (this != &o) {
        if (handle_ && !keep_) ::dlclose(handle_);
        handle_ = std::exchange(o.handle_, nullptr);
        entry_ = std::exchange(o.entry_, {});
        keep_ = o.keep_;
    }
    return *this;
}

DriverLibrary::~DriverLibrary() {
    if (handle_ && !keep_) ::dlclose(handle_);
}

}  // namespace tavik::controller
