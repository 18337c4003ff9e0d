// A new window in front to the first plane on the wire: the program Lumo with the controller,
// the serial plug-in and padsim (a "Pinora PX-2", 48 x 32) on a private Xvfb. Each iteration
// makes the other of two test windows of different content the window in front
// (_NET_ACTIVE_WINDOW) and times until padsim has received the plane of it. padsim sits on a
// pseudo-terminal, which adds no wire time: the figure is the time beyond the wire, reported
// beside the wire time of that plane at the display's 38400 baud. Then the program's share of
// one core on the unchanged desktop, without and with the mouse emulation on.
#include <benchmark/benchmark.h>
#include <sys/inotify.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/screenviewer_integration/bench_screen.h"
#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/padsim.h"
#include "tests/support/processes.h"
#include "tests/support/suite_env.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kPlaneBytes = 48.0 * 32 / 8;
constexpr double kFrameOverhead = 8;
constexpr double kBaud = 38400;
constexpr int kWindowX = 200, kWindowY = 150, kWindowW = 300, kWindowH = 200;

// The folder of the suite's programs: $TAVIK_BIN_DIR, else bin/ beside this program's folder.
std::string programsDir() {
    if (const char* d = std::getenv("TAVIK_BIN_DIR")) return d;
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    return (self.parent_path().parent_path() / "bin").string();
}

// Counts the first planes padsim logs, reading the log as it grows (woken by inotify).
class PlaneWatch {
public:
    explicit PlaneWatch(std::string path) : path_(std::move(path)) {
        fd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (fd_ >= 0) inotify_add_watch(fd_, path_.c_str(), IN_MODIFY);
    }
    ~PlaneWatch() {
        if (fd_ >= 0) close(fd_);
    }
    // Planes seen so far.
    int count() {
        std::ifstream in(path_, std::ios::binary);
        in.seekg(std::streamoff(offset_));
        std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t lineEnd = chunk.rfind('\n');
        if (lineEnd == std::string::npos) return planes_;
        for (size_t at = 0; (at = chunk.find(" plane 1:", at)) != std::string::npos && at < lineEnd; ++at) ++planes_;
        offset_ += lineEnd + 1;
        return planes_;
    }
    // Waits (bounded) until more than `seen` planes were logged; the time it saw the new one.
    std::optional<Clock::time_point> waitBeyond(int seen, std::chrono::milliseconds bound) {
        const auto end = Clock::now() + bound;
        while (Clock::now() < end) {
            if (count() > seen) return Clock::now();
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 5) > 0) {
                char buf[4096];
                while (read(fd_, buf, sizeof buf) > 0) {
                }
            }
        }
        return std::nullopt;
    }

private:
    std::string path_;
    int fd_ = -1;
    size_t offset_ = 0;
    int planes_ = 0;
};

// CPU seconds (user and system) the process has used so far; -1 when unknown.
double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// Share of one core the process uses over `span` of an unchanged desktop, in percent.
double idlePercent(pid_t pid, std::chrono::seconds span) {
    const double before = cpuSeconds(pid);
    std::this_thread::sleep_for(span);
    const double after = cpuSeconds(pid);
    return before < 0 || after < 0 ? -1 : (after - before) / double(span.count()) * 100;
}

Window stripedWindow(Display* dpy, int x, int y, bool vertical) {
    const Window w = tavik::test::makeWindow(dpy, DefaultRootWindow(dpy), x, y, kWindowW, kWindowH, 0xFFFFFF);
    for (int i = 0; i < 12; ++i) {
        if (vertical) tavik::test::fill(dpy, w, 4 + i * 9, 4, 3, 40 + i * 3, 0x000000);
        else tavik::test::fill(dpy, w, 4, 4 + i * 7, 30 + i * 5, 3, 0x000000);
    }
    return w;
}

void BM_ForegroundSwitchToFirstPlane(benchmark::State& state) {
    static lumo_bench::Screen screen;
    if (!screen.dpy) {
        state.SkipWithError("no Xvfb");
        return;
    }
    const std::string bin = programsDir();
    ::setenv("TAVIK_BIN_DIR", bin.c_str(), 1);
    for (const char* f : {"TAVIK", "Padrik.so", "padsim", "Lumo"})
        if (!std::filesystem::exists(bin + "/" + f)) {
            state.SkipWithError((std::string(f) + " not built").c_str());
            return;
        }
    const tavik::test::TempDir temp("lumo-fg-bench");
    const std::string& dir = temp.path();
    const int port = 20 + ::getpid() % 40;
    auto pad = std::make_unique<tavik::test::Padsim>(dir, std::vector<std::string>{"--size", "48x32", "--cells", "0"});
    if (!pad->started()) {
        state.SkipWithError("padsim did not start");
        return;
    }
    tavik::test::writePortMap(dir, port, pad->link());
    const std::string cfg = dir + "/config/Orvane/TAVIK200_J/";
    tavik::test::writeFile(cfg + "Lumo.ini", "[Connection]\nPort=" + std::to_string(port) +
                                         "\nHardware=1\n[Browse]\nScanningMode=1\nRefresh=1\nViewFrame=0\n");
    tavik::test::writeFile(dir + "/script", "connect||1|ok\n");
    tavik::test::writeFile(dir + "/fg", "0\n");

    Display* dpy = screen.dpy;
    const Window a = stripedWindow(dpy, kWindowX, kWindowY, false);
    const Window b = stripedWindow(dpy, kWindowX + 350, kWindowY + 100, true);
    tavik::test::setPid(dpy, a, 5001);
    tavik::test::setPid(dpy, b, 5002);
    tavik::test::setActive(dpy, a);

    PlaneWatch planes(dir + "/log");
    auto app = std::make_unique<tavik::test::Child>(
        bin + "/Lumo", std::vector<std::string>{},
        tavik::test::suiteEnv(dir, {"DISPLAY=" + screen.xvfb.display(), "QT_QPA_PLATFORM=offscreen", "LANG=C",
                                    "TAVIK_UI_SCRIPT=" + dir + "/script", "TAVIK_UI_LOG=" + dir + "/ui.log",
                                    "HOME=" + dir}));
    tavik::test::writeFile(dir + "/fg", std::to_string(app->pid()) + "\n");
    if (!planes.waitBeyond(0, 20s)) {
        state.SkipWithError("no plane from Lumo");
    } else {
        std::this_thread::sleep_for(500ms);  // the start-up passes are over
        std::vector<double> ms;
        bool toB = true, failed = false;
        for (auto _ : state) {
            const int seen = planes.count();
            const auto t0 = Clock::now();
            tavik::test::setActive(dpy, toB ? b : a);
            const auto t1 = planes.waitBeyond(seen, 5s);
            if (!t1) {
                failed = true;
                state.SkipWithError("the switch sent no plane");
                break;
            }
            const double took = std::chrono::duration<double>(*t1 - t0).count();
            state.SetIterationTime(took);
            ms.push_back(took * 1000);
            toB = !toB;
            // Switches come one at a time: let the pass's pacing and the periodic refresh settle.
            state.PauseTiming();
            std::this_thread::sleep_for(250ms);
            state.ResumeTiming();
        }
        if (!failed && !ms.empty()) {
            std::sort(ms.begin(), ms.end());
            state.counters["median_ms"] = ms[ms.size() / 2];
            state.counters["max_ms"] = ms.back();
            state.counters["wire_ms"] = (kPlaneBytes + kFrameOverhead) * 10 / kBaud * 1000;
            // The same program on an unchanged desktop (refresh 0.1 s), then with the mouse
            // emulation on (the watch thread then follows the real pointer).
            state.counters["idle_cpu_pct"] = idlePercent(app->pid(), 10s);
            pad->command("key 4 12 0");  // Right+Left: mouse emulation on
            std::this_thread::sleep_for(1s);
            state.counters["emulating_idle_cpu_pct"] = idlePercent(app->pid(), 10s);
        }
    }
    app->kill(SIGTERM);
    if (!app->waitExit(5s)) app->kill(SIGKILL);
    app.reset();
    tavik::test::waitUntil([&] { return tavik::test::controllerPids(bin + "/TAVIK", port).empty(); }, 10s);
    pad.reset();
    XDestroyWindow(dpy, a);
    XDestroyWindow(dpy, b);
    XSync(dpy, False);
}
BENCHMARK(BM_ForegroundSwitchToFirstPlane)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
