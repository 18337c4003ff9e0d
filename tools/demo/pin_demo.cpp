// pin_demo: a small application of the client library for trying the system
// without hardware. It enters a port, draws a frame with a movable cross on
// the pins, writes braille text, and moves the cross with the device's keys.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "client/tavikutil.h"

namespace {

std::atomic<int> crossX{32}, crossY{24};
std::atomic<bool> redraw{true}, quit{false};
int width = 64, height = 48, cells = 32;

void onStatus(int status) { std::fprintf(stderr, "pin_demo: connection status %d\n", status); }

// Navigation keys of group 4 move the cross; anything else is reported.
void onKey(int group, int key, int modifiers) {
    std::fprintf(stderr, "pin_demo: key group %d key %d modifiers %d\n", group, key, modifiers);
    if (group != 4) return;
    switch (key) {
        case 1: crossY = crossY > 0 ? crossY - 1 : 0; break;
        case 2: crossY = crossY < height - 1 ? crossY + 1 : height - 1; break;
        case 3: crossX = crossX > 0 ? crossX - 1 : 0; break;
        case 4: crossX = crossX < width - 1 ? crossX + 1 : width - 1; break;
        default: break;
    }
    redraw = true;
}

void onBroadcast(int b0, int shifted, int b3) { std::fprintf(stderr, "pin_demo: broadcast %d %d %d\n", b0, shifted, b3); }

void setDot(std::vector<unsigned char>& plane, int x, int y) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    plane[static_cast<size_t>((y / 8) * width + x)] |= static_cast<unsigned char>(1u << (y % 8));
}

void draw() {
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>((height + 7) / 8);
    std::vector<unsigned char> frame(bytes, 0), cross(bytes, 0);
    for (int x = 0; x < width; ++x) {
        setDot(frame, x, 0);
        setDot(frame, x, height - 1);
    }
    for (int y = 0; y < height; ++y) {
        setDot(frame, 0, y);
        setDot(frame, width - 1, y);
    }
    for (int d = -3; d <= 3; ++d) {
        setDot(cross, crossX + d, crossY);
        setDot(cross, crossX, crossY + d);
    }
    gdDisplayGraphicData(frame.data(), cross.data(), 10);
    if (cells > 0) {
        // Braille cells: 0x10/0x20/0x40 dots 1-3, 0x01/0x02/0x04 dots 4-6.
        std::vector<unsigned char> text(static_cast<size_t>(cells), 0);
        const unsigned char hello[] = {0x13, 0x11, 0x70, 0x70, 0x51};  // h e l l o
        for (size_t i = 0; i < sizeof hello && i < text.size(); ++i) text[i] = hello[i];
        gdDisplayTextData(text.data());
    }
}

void usage() {
    std::printf(
        "pin_demo - draws a frame and a movable cross on a tactile display\n\n"
        "Usage: pin_demo [--device NAME] [--port N] [--seconds S]\n"
        "       pin_demo --help | --version\n"
        "  --device NAME  device row (default \"QX-64X48\": 64 x 48 pins, 32 text cells)\n"
        "  --port N       port index, 0 = Com1 (default 0)\n"
        "  --seconds S    end after S seconds (default: run until Ctrl+C)\n\n"
        "Arrow keys of the device (group 4, keys 1-4) move the cross.\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string device = "QX-64X48";
    int port = 0, seconds = 0;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (a == "--version") {
            std::printf("pin_demo %s\n", TAVIK_VERSION_STRING);
            return 0;
        } else if (a == "--device" && i + 1 < argc) {
            device = argv[++i];
        } else if (a == "--port" && i + 1 < argc) {
            port = std::atoi(argv[++i]);
        } else if (a == "--seconds" && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "pin_demo: unknown argument %s (try --help)\n", argv[i]);
            return 2;
        }
    }
    std::signal(SIGINT, [](int) { quit = true; });
    std::signal(SIGTERM, [](int) { quit = true; });
    if (!gdStart(device.c_str(), port, onStatus)) {
        std::fprintf(stderr, "pin_demo: could not enter port %d with device \"%s\"\n", port, device.c_str());
        return 1;
    }
    const char* name = nullptr;
    gdQueryEquipment(port, &name, &cells, &width, &height);
    if (width <= 0 || height <= 0) width = 64, height = 48;
    gdStartDisplayMode(3, onKey, onBroadcast, nullptr);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!quit && (seconds == 0 || std::chrono::steady_clock::now() < end)) {
        if (redraw.exchange(false)) draw();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    gdEndDisplayMode();
    gdEnd();
    return 0;
}
