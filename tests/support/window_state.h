// Helpers of the tests that watch a program's top-level window on a test X
// server from outside: its map state as the xwininfo tool reports it, and a
// key chord pressed through XTest as a user would press it.
#pragma once

#include <array>
#include <cstdio>
#include <initializer_list>
#include <string>

// Xlib last: its macros clash with headers included before it.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace tavik::test {

// The standard output of a shell command.
inline std::string commandOutput(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        std::array<char, 4096> buf{};
        while (std::fgets(buf.data(), int(buf.size()), p)) out += buf.data();
        ::pclose(p);
    }
    return out;
}

// The "Map State" of the first window whose name contains `titlePart`
// ("IsViewable", "IsUnMapped"; "" when no such window is found).
inline std::string mapState(const std::string& display, const std::string& titlePart) {
    const std::string tree = commandOutput("DISPLAY=" + display + " xwininfo -root -tree 2>/dev/null");
    const std::size_t at = tree.find(titlePart);
    if (at == std::string::npos) return "";
    const std::size_t start = tree.rfind("0x", at);
    if (start == std::string::npos) return "";
    const std::string id = tree.substr(start, tree.find(' ', start) - start);
    const std::string info = commandOutput("DISPLAY=" + display + " xwininfo -id " + id + " 2>/dev/null");
    const std::size_t m = info.find("Map State: ");
    return m == std::string::npos ? "" : info.substr(m + 11, info.find('\n', m) - m - 11);
}

// Presses the keys in order and releases them in reverse order (Super_L, Alt_L
// then "v" is Win+Alt+V); false when the display cannot be opened.
inline bool pressChord(const std::string& display, std::initializer_list<KeySym> keys) {
    Display* d = XOpenDisplay(display.c_str());
    if (!d) return false;
    for (KeySym k : keys) XTestFakeKeyEvent(d, XKeysymToKeycode(d, k), True, CurrentTime);
    for (auto it = std::rbegin(keys); it != std::rend(keys); ++it)
        XTestFakeKeyEvent(d, XKeysymToKeycode(d, *it), False, CurrentTime);
    XSync(d, False);
    XCloseDisplay(d);
    return true;
}

}  // namespace tavik::test
