// A client for the input end-to-end test: enters the port given on the
// command line in display mode and prints "key A B C", "broadcast A B C" and
// "pen A B C D" as the callbacks come; "ready" once entered. "hide F" calls
// gdHideTavikWindow(F); "dots X Y X Y ..." raises those pins of a 64 x 48
// picture (all others down) and answers "dots R". Ends on "quit" or the end
// of its input.
#include "client/tavikutil.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

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
        if (line.rfind("dots", 0) == 0) {
            constexpr int kWide = 64, kHigh = 48;
            std::vector<unsigned char> dots(kWide * kHigh, 0);
            std::istringstream in(line.substr(4));
            int x = 0, y = 0;
            while (in >> x >> y)
                if (x >= 0 && x < kWide && y >= 0 && y < kHigh) dots[static_cast<std::size_t>(y * kWide + x)] = 1;
            say("dots " + std::to_string(gdDisplayV2GraphicData(dots.data(), 0)));
        }
    }
    gdEnd();
    return 0;
}
