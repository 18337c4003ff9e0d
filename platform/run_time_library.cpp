// The candidates of a run-time library and the one way they are opened.
#include "platform/run_time_library.h"

#include <dlfcn.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/process.h"

namespace tavik::platform {

void* loadRunTimeLibrary(const RunTimeLibrary& library, const std::function<bool(void* handle)>& accept) {
    if (library.fileName.empty()) return nullptr;
    std::vector<std::string> candidates;
    if (library.overrideVariable) {
        if (const char* forced = std::getenv(library.overrideVariable); forced && *forced)
            candidates.emplace_back(forced);
    }
    const std::string folder = library.beside ? moduleFolder(library.beside) : programFolder();
    if (!folder.empty()) candidates.push_back(folder + "/" + std::string(library.fileName));
    if (library.searchPath) candidates.emplace_back(library.fileName);
    for (const std::string& path : candidates) {
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!handle) continue;
        if (accept(handle)) return handle;
        ::dlclose(handle);
    }
    return nullptr;
}

void keepModuleLoaded(const void* address) {
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || !info.dli_fname) return;
    (void)::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace tavik::platform
