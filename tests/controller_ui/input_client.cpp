// A client for the input end-to-end test: enters the port given on the
// command line in display mode and prints "key A B C", "broadcast A B C" and
// "pen A B C D" as the callbacks come; "ready" once entered. "hide F" calls
// gdHideTavikWindow(F). Ends on "quit" or the end of its input.
#include "client/tavikutil.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>

namespace {

std::mutex outMutex;

void say(const std::string& line) {
    std::lock_guard<std::mutex> lock(outMutex);
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void onStatus(int) {}
void onKey(int a, int b, int c) { say("key " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c)); }
void onBroadcast(int a, int b, int c) {
    say("broadcast " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c));
}
void onPen(int code, int x, int y, int flags) {
    say("pen " + std::to_string(code) + " " + std::to_string(x) + " " + std::to_string(y) + " " +
        std::to_string(flags));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const int port = std::atoi(argv[1]);
    if (gdStart("QX-64X48", port, onStatus) != 1) {
        say("failed start");
        return 1;
    }
    if (gdStartDisplayMode(3, onKey, onBroadcast, nullptr) != 1 || gdSetPenEventCallback(onPen) != 1) {
        say("failed display");
        gdEnd();
        return 1;
    }
    say("ready");
    std::string line;
    while (std::getline(std::cin, line) && line != "quit") {
        if (line.rfind("hide ", 0) == 0) say("hide " + std::to_string(gdHideTavikWindow(std::atoi(line.c_str() + 5))));
    }
    gdEnd();
    return 0;
}
