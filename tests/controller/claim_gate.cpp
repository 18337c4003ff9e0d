// The controller program as the tests build it: the same program, with a gate
// before the port's claim. With $TAVIK_TEST_CLAIM_GATE naming a folder the
// controller leaves a file "reached" there and then waits, before it takes (or
// keeps) the port's claim, until a file "go" is there too (at most 10 s). Tests
// use it to look at the port while a controller starts or restarts.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

#include "controller/controller.h"

namespace tavik::controller {

void beforePortClaim() {
    const char* dir = std::getenv("TAVIK_TEST_CLAIM_GATE");
    if (!dir || !*dir) return;
    const std::string folder(dir);
    if (std::FILE* f = std::fopen((folder + "/reached").c_str(), "w")) std::fclose(f);
    const std::string go = folder + "/go";
    for (int i = 0; i < 1000 && ::access(go.c_str(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace tavik::controller
