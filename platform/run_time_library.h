// Loading the suite's libraries that are opened at run time (the client's dialog libraries, the
// screen viewer's focus hook): where they are looked for, how they are opened, and that an
// unsuitable file is closed again and the next place tried. Also: keeping a module loaded.
#pragma once

#include <functional>
#include <string_view>

namespace tavik::platform {

struct RunTimeLibrary {
    // File name of the library ("libtavikutil_ui.so").
    std::string_view fileName;
    // An address inside the module whose folder is searched first; nullptr: the program's folder.
    const void* beside = nullptr;
    // Environment variable naming a file to try before all others; nullptr or unset/empty: none.
    const char* overrideVariable = nullptr;
    // Also try the bare file name on the dynamic loader's search path, after the folder.
    bool searchPath = true;
};

// Opens the candidates in order (the override, the file beside the module, the bare name) with
// RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE and hands each opened handle to `accept`, which looks up
// and checks the library's entry. The first accepted one is returned and stays mapped for the
// life of the process (a toolkit library never unloads cleanly); a refused one is closed.
// nullptr when no candidate opens and is accepted. Blocks only for the loader's own work.
void* loadRunTimeLibrary(const RunTimeLibrary& library, const std::function<bool(void* handle)>& accept);

// Keeps the module (program, library or plug-in) holding `address` mapped for the life of the
// process: for code that leaves a thread or a handler behind inside it, so that unloading the
// module can never pull that code away. The reference taken is never given back.
void keepModuleLoaded(const void* address);

}  // namespace tavik::platform
