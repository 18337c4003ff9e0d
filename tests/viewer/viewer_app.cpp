// An application that shows a bitmap with the client library's viewer, for
// the end-to-end tests. Commands on standard input, one answer line each:
//   start PORT MODEL   -> "start R"          (model names may hold spaces)
//   open               -> "open R"           (a 640 x 480 test image)
//   state              -> "state LEFT TOP DIV OVERVIEW FRAME POINTER PX PY T MIN MAX MODE AUTO"
//                         ("state none" without an open viewer)
//   conditions N       -> "conditions C1 C2 ..." (N record copies taken back to back; each change
//                         of condition as T/MIN/MAX/MODE/AUTO, consecutive repeats left out)
//   move DX DY STEP / division D / overview F / endoverview -> "<verb> R"
//   condition T MIN MAX MODE AUTO -> "condition R"  (gdSetViewerCondition)
//   modebits MASK BITS -> "modebits R"       (gdSetViewerModeBits; both in hexadecimal)
//   hook N             -> "hook N"           (the key hook answers N and prints "key T K M" per key;
//                                             before the first hook command it passes keys silently)
//   close / end / pid
// The record is read only through gdCopyViewerRecord while the viewer is open, and
// the key hook is in place before the viewer opens.
// The viewer's mouse reports print "mouse MSG X Y BUTTONS".
#include <atomic>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <unistd.h>

#include "client/tavikutil.h"
#include "client/viewer/bitmap_viewer.h"
#include "tests/viewer/test_image.h"

namespace {

std::mutex outMutex;

void say(const std::string& line) {
    std::lock_guard lock(outMutex);
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void onMouse(int message, int x, int y, int buttons) {
    say("mouse " + std::to_string(message) + " " + std::to_string(x) + " " + std::to_string(y) + " " +
        std::to_string(buttons));
}

// -1: the hook passes every key on without a word.
std::atomic<int> hookAnswer{-1};

int keyHook(int type, int key, int modifier, BitmapViewerRecord*) {
    const int answer = hookAnswer.load();
    if (answer < 0) return 0;
    say("key " + std::to_string(type) + " " + std::to_string(key) + " " + std::to_string(modifier));
    return answer;
}

std::string conditionText(const BinCondition& c) {
    return std::to_string(c.bThreshfold) + "/" + std::to_string(c.bThreshfoldMin) + "/" +
           std::to_string(c.bThreshfoldMax) + "/" + std::to_string(c.bMode) + "/" + std::to_string(c.fAutoThreshfold);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--help") {
        std::puts("viewer_app: shows a test bitmap with gdOpenBitmapViewer; commands on standard input:\n"
                  "start PORT MODEL, open, state, move DX DY STEP, division D, overview F, endoverview,\n"
                  "hook N, close, end, pid. Prints \"mouse MSG X Y BUTTONS\" for the viewer's pointer reports.");
        return 0;
    }
    static BitmapViewerRecord record;
    LumoHBITMAP bitmap = nullptr;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string verb;
        in >> verb;
        if (verb == "start") {
            int port = 0;
            in >> port;
            std::string model;
            std::getline(in >> std::ws, model);
            say("start " + std::to_string(gdStart(model.c_str(), port, nullptr)));
        } else if (verb == "open") {
            if (!bitmap) bitmap = viewer_test::makeTestBitmap();
            std::memset(&record, 0, sizeof record);
            record.hSourceBitmap = bitmap;
            record.cellWidth = record.cellHeight = 1;
            record.condition.bMode = BIN_LIGHT;
            record.condition.bThreshfold = record.condition.bThreshfoldMin = record.condition.bThreshfoldMax =
                viewer_test::kThreshold;
            record.mouseCallback = onMouse;
            record.keyHook = keyHook;
            say("open " + std::to_string(gdOpenBitmapViewer(&record)));
        } else if (verb == "state") {
            static BitmapViewerRecord r;
            if (!gdCopyViewerRecord(&r)) {
                say("state none");
                continue;
            }
            std::ostringstream out;
            out << "state " << r.viewLeft << ' ' << r.viewTop << ' ' << r.cellWidth << ' ' << r.overviewMode << ' '
                << r.overviewFrame << ' ' << r.pointerMode << ' ' << r.pointerX << ' ' << r.pointerY << ' '
                << int(r.condition.bThreshfold) << ' ' << int(r.condition.bThreshfoldMin) << ' '
                << int(r.condition.bThreshfoldMax) << ' ' << int(r.condition.bMode) << ' '
                << r.condition.fAutoThreshfold;
            say(out.str());
        } else if (verb == "conditions") {
            int n = 0;
            in >> n;
            static BitmapViewerRecord r;
            std::string out = "conditions", last;
            for (int i = 0; i < n; ++i) {
                if (!gdCopyViewerRecord(&r)) break;
                std::string c = conditionText(r.condition);
                if (c != last) out += " " + c;
                last = std::move(c);
            }
            say(out);
        } else if (verb == "condition") {
            int t = 0, lo = 0, hi = 0, mode = 0, autoFlag = 0;
            in >> t >> lo >> hi >> mode >> autoFlag;
            BinCondition c{};
            c.bThreshfold = static_cast<uint8_t>(t);
            c.bThreshfoldMin = static_cast<uint8_t>(lo);
            c.bThreshfoldMax = static_cast<uint8_t>(hi);
            c.bMode = static_cast<uint16_t>(mode);
            c.fAutoThreshfold = autoFlag;
            say("condition " + std::to_string(gdSetViewerCondition(&c)));
        } else if (verb == "modebits") {
            int mask = 0, bits = 0;
            in >> std::hex >> mask >> bits;
            say("modebits " + std::to_string(gdSetViewerModeBits(mask, bits)));
        } else if (verb == "move") {
            int dx = 0, dy = 0, step = 0;
            in >> dx >> dy >> step;
            say("move " + std::to_string(gdMoveViewPosition(dx, dy, step)));
        } else if (verb == "division") {
            int d = 0;
            in >> d;
            say("division " + std::to_string(gdChangeDivision(d)));
        } else if (verb == "overview") {
            int f = 0;
            in >> f;
            say("overview " + std::to_string(gdStartOverviewMode(f)));
        } else if (verb == "endoverview") {
            say("endoverview " + std::to_string(gdEndOverviewMode()));
        } else if (verb == "hook") {
            int answer = 0;
            in >> answer;
            hookAnswer = answer < 0 ? 0 : answer;
            say("hook " + std::to_string(answer));
        } else if (verb == "close") {
            say("close " + std::to_string(gdCloseBitmapViewer()));
        } else if (verb == "end") {
            gdCloseBitmapViewer();
            say("end " + std::to_string(gdEnd()));
        } else if (verb == "pid") {
            say("pid " + std::to_string(::getpid()));
        } else if (!verb.empty()) {
            say("unknown " + verb);
        }
    }
    gdCloseBitmapViewer();
    gdEnd();
    lumoDeleteBitmap(bitmap);
    return 0;
}
