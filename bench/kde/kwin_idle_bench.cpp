// The screen viewer's idle cost on KDE Plasma: Lumo with its controller, the serial plug-in and
// padsim in a headless KWin of its own (tests/kde/kwin_session.sh), a Qt window in front that
// KWin's window facts report, refresh 0.1 s, nothing changing. Reports the share of one core Lumo
// and its controller use over 20 s. Run outside a session, the program starts the session with
// itself inside. No screen cast runs: Plasma's portal asks which screen to share in a dialog that
// nothing answers headlessly, so Lumo goes on without the screen (it says so on stderr).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/lumo_on_padsim.h"
#include "tests/support/processes.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

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

void BM_LumoIdleOnKWin(benchmark::State& state) {
    if (!std::getenv("TAVIK_KWIN_SESSION")) {
        state.SkipWithError("not inside tests/kde/kwin_session.sh");
        return;
    }
    const tavik::test::TempDir dir("lumo-kwin-idle");
    tavik::test::Child window(PATTERN_WINDOW, {"tavik.idle"}, {"QT_QPA_PLATFORM=wayland"});
    if (!window.expect("painted")) {
        state.SkipWithError("the test window did not paint");
        return;
    }
    tavik::test::LumoOnPadsim lumo(dir.path(), {"QT_QPA_PLATFORM=wayland", "HOME=" + dir.path()},
                                   "ScanningMode=1\nRefresh=1\nViewFrame=0\n");
    if (!lumo.started()) {
        state.SkipWithError("padsim or Lumo did not start");
        return;
    }
    std::this_thread::sleep_for(5s);  // start-up over: facts loaded, first passes done
    const auto controllers = tavik::test::controllerPids(tavik::test::binDir() + "/TAVIK", lumo.port());
    const pid_t controller = controllers.empty() ? 0 : controllers.front();
    const pid_t viewer = lumo.app().pid();
    constexpr double kSpan = 20;
    for (auto _ : state) {
        const double v0 = cpuSeconds(viewer), c0 = controller ? cpuSeconds(controller) : 0;
        std::this_thread::sleep_for(std::chrono::duration<double>(kSpan));
        const double v1 = cpuSeconds(viewer), c1 = controller ? cpuSeconds(controller) : 0;
        state.counters["lumo_core_pct"] = (v1 - v0) / kSpan * 100;
        state.counters["controller_core_pct"] = controller ? (c1 - c0) / kSpan * 100 : -1;
    }
}
BENCHMARK(BM_LumoIdleOnKWin)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("TAVIK_KWIN_SESSION")) {
        // Start the session with this program inside it.
        std::vector<char*> args = {const_cast<char*>(SESSION_SCRIPT), const_cast<char*>("--")};
        char self[4096] = {};
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0) return 1;
        args.push_back(self);
        for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        execv(SESSION_SCRIPT, args.data());
        return 1;
    }
    if (!std::getenv("TAVIK_BIN_DIR")) {
        // The programs are built beside the benchmarks: build/bin next to build/bench.
        char self[4096] = {};
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        std::string dir = n > 0 ? std::string(self, size_t(n)) : std::string();
        dir = dir.substr(0, dir.rfind('/'));
        dir = dir.substr(0, dir.rfind('/')) + "/bin";
        ::setenv("TAVIK_BIN_DIR", dir.c_str(), 1);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
