// A host process for one plug-in, for tests that must watch a whole process:
// loads $TAVIK_BIN_DIR/<plug-in>.so, initialises and starts it on <port>, then
// reads commands from standard input: "end" calls drvEnd and prints "ended";
// "quit" (or end of input) returns from main, which detaches the plug-in as
// any process end does.
//   plugin_host <plug-in> <port>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "drivers/core/plugin_api.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string path = std::string(std::getenv("TAVIK_BIN_DIR")) + "/" + argv[1] + ".so";
    void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) return 3;
    auto init = reinterpret_cast<TavikDrvInitFn>(::dlsym(h, "drvInit"));
    auto start = reinterpret_cast<TavikDrvStartFn>(::dlsym(h, "drvStart"));
    auto end = reinterpret_cast<TavikDrvEndFn>(::dlsym(h, "drvEnd"));
    if (!init || !start || !end || !init(std::atoi(argv[2])) || !start()) return 4;
    std::printf("started\n");
    std::fflush(stdout);
    for (std::string line; std::getline(std::cin, line);) {
        if (line == "end") {
            end();
            std::printf("ended\n");
            std::fflush(stdout);
        } else if (line == "quit") {
            break;
        }
    }
    return 0;
}
