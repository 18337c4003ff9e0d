// A small application on the client library, driven line by line from its
// standard input, for the end-to-end tests. Each command answers one line
// "<command> <result> [values]"; callbacks print "status N", "key A B C",
// "broadcast A B C", "data CODE COUNT HEX" and "pen A B C D" as they come.
#include "client/tavikutil.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::mutex outMutex;

void say(const std::string& line) {
    std::lock_guard lock(outMutex);
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::vector<unsigned char> hex(const std::string& text) {
    std::vector<unsigned char> out;
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

std::string toHex(const unsigned char* d, int n) {
    std::string s;
    char b[4];
    for (int i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", d[i]);
        s += b;
    }
    return s;
}

void onStatus(int s) { say("status " + std::to_string(s)); }
void onKey(int a, int b, int c) { say("key " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c)); }
void onBroadcast(int a, int b, int c) {
    say("broadcast " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c));
}
void onData(int code, int count, const unsigned char* d) {
    say("data " + std::to_string(code) + " " + std::to_string(count) + " " + toHex(d, count));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--help") {
        std::puts("client_app: reads commands (start NAME PORT, display FLAGS, text HEX, graphic HEX HEX|- LEVEL,\n"
                  "v2 FORMAT HEX, suspend F, version, entries, close, reopen, restart, directstart, directend,\n"
                  "post CMD PARAM HEX, send CMD PARAM WAIT HEX, bytes HEX, ccb COUNT HEX, move X Y, click X Y B,\n"
                  "drag X Y B, mousestate, end, pid, quit) and prints one result line each.");
        return 0;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string cmd;
        in >> cmd;
        if (cmd.empty()) continue;
        auto rest = [&] {
            std::string r;
            std::getline(in, r);
            return r;
        };
        int r = 0;
        std::string extra;
        if (cmd == "start") {
            std::string name, word;
            int port = 0;
            in >> port;
            std::getline(in >> std::ws, name);
            r = gdStart(name.c_str(), port, onStatus);
        } else if (cmd == "display") {
            int flags = 0;
            in >> flags;
            r = gdStartDisplayMode(flags, onKey, onBroadcast, onData);
        } else if (cmd == "enddisplay") {
            r = gdEndDisplayMode();
        } else if (cmd == "text") {
            auto t = hex(rest());
            t.resize(128, 0);
            r = gdDisplayTextData(t.data());
        } else if (cmd == "graphic") {
            std::string p1, p2;
            int level = 0;
            in >> p1 >> p2 >> level;
            auto a = hex(p1), b = hex(p2);
            a.resize(10000, 0);
            b.resize(10000, 0);
            r = gdDisplayGraphicData(p1 == "-" ? nullptr : a.data(), p2 == "-" ? nullptr : b.data(), level);
        } else if (cmd == "v2") {
            int format = 0;
            in >> format;
            auto d = hex(rest());
            d.resize(10000, 0);
            r = gdDisplayV2GraphicData(d.data(), format);
        } else if (cmd == "suspend") {
            int f = 0;
            in >> f;
            r = gdSuspendDisplay(f);
        } else if (cmd == "version" || cmd == "driverversion") {
            unsigned char v[3] = {};
            r = cmd == "version" ? gdGetTavikVersion(v) : gdGetDriverVersion(v);
            extra = std::to_string(v[0]) + " " + std::to_string(v[1]) + " " + std::to_string(v[2]);
        } else if (cmd == "entries") {
            r = gdGetEntriesCount();
        } else if (cmd == "equipment") {
            const char* name = nullptr;
            int cells = 0, w = 0, h = 0;
            r = gdQueryEquipment(-1, &name, &cells, &w, &h);
            extra = std::to_string(cells) + " " + std::to_string(w) + " " + std::to_string(h) + " " +
                    (name ? name : "-");
        } else if (cmd == "close") {
            r = gdClosePort();
        } else if (cmd == "reopen") {
            int v = -1;
            r = gdReopenPort(&v);
            extra = std::to_string(v);
        } else if (cmd == "restart") {
            r = gdRestart();
        } else if (cmd == "directstart") {
            r = gdStartDirectOperation(nullptr);
        } else if (cmd == "directend") {
            r = gdEndDirectOperation();
        } else if (cmd == "post" || cmd == "send") {
            int c = 0, p = 0, wait = 0;
            in >> std::hex >> c >> p >> std::dec;
            if (cmd == "send") in >> wait;
            auto d = hex(rest());
            int reply = -1;
            r = cmd == "post" ? gdPostDirectCommand(c, p, static_cast<int>(d.size()), d.data())
                              : gdSendDirectCommand(c, p, static_cast<int>(d.size()), d.data(), wait, &reply);
            extra = std::to_string(reply);
        } else if (cmd == "bytes") {
            auto d = hex(rest());
            r = gdSendDirectBytes(static_cast<int>(d.size()), d.data());
        } else if (cmd == "ccb") {
            int count = 0;
            in >> count;
            auto d = hex(rest());
            d.resize(static_cast<std::size_t>(count) * 8, 0);
            r = gdSendV2CCB(d.data(), count);
        } else if (cmd == "move" || cmd == "click" || cmd == "drag") {
            int x = 0, y = 0, b = 0;
            in >> x >> y >> b;
            r = cmd == "move" ? gdSendMouseMove(0, x, y, 0)
                : cmd == "click" ? gdSendMouseClick(0, x, y, 0, b)
                                 : gdStartMouseDrag(0, x, y, 0, b);
        } else if (cmd == "mousestate") {
            int inside = -1, x = -1, y = -1;
            r = gdGetMouseState(0, 0, &inside, &x, &y);
            extra = std::to_string(inside) + " " + std::to_string(x) + " " + std::to_string(y);
        } else if (cmd == "end") {
            r = gdEnd();
        } else if (cmd == "pid") {
            r = static_cast<int>(::getpid());
        } else if (cmd == "quit") {
            say("quit 1");
            return 0;
        } else {
            say(cmd + " unknown");
            continue;
        }
        say(cmd + " " + std::to_string(r) + (extra.empty() ? "" : " " + extra));
    }
    return 0;
}
