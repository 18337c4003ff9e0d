// An application that shows a bitmap with the client library's viewer, for
// the end-to-end tests. Commands on standard input, one answer line each:
//   start PORT MODEL   -> "start R"          (model names may hold spaces)
//   open               -> "open R"           (a 640 x 480 test image)
//   state              -> "state LEFT TOP DIV OVERVIEW FRAME POINTER PX PY T MIN MAX MODE AUTO"
//   move DX DY STEP / division D / overview F / endoverview -> "<verb> R"
//   hook N             -> "hook N"           (a key hook answering N; prints "key T K M" per key)
//   close / end / pid
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

std::atomic<int> hookAnswer{0};

int keyHook(int type, int key, int modifier, BitmapViewerRecord*) {
    say("key " + std::to_string(type) + " " + std::to_string(key) + " " + std::to_string(modifier));
    return hookAnswer.load();
}

// Fields the notification thread writes while keys are handled.
int32_t peek(int32_t& field) { return std::atomic_ref<int32_t>(field).load(); }

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
            say("open " + std::to_string(gdOpenBitmapViewer(&record)));
        } else if (verb == "state") {
            BitmapViewerRecord& r = record;
            std::ostringstream out;
            out << "state " << peek(r.viewLeft) << ' ' << peek(r.viewTop) << ' ' << peek(r.cellWidth) << ' '
                << peek(r.overviewMode) << ' ' << peek(r.overviewFrame) << ' ' << peek(r.pointerMode) << ' '
                << peek(r.pointerX) << ' ' << peek(r.pointerY) << ' ' << int(r.condition.bThreshfold) << ' '
                << int(r.condition.bThreshfoldMin) << ' ' << int(r.condition.bThreshfoldMax) << ' '
                << int(r.condition.bMode) << ' ' << r.condition.fAutoThreshfold;
            say(out.str());
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
            hookAnswer = answer;
            record.keyHook = keyHook;
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
