// The screen viewer's idle cost on KDE Plasma: Lumo with its controller, the serial plug-in and
// padsim in a headless KWin of its own (tests/kde/kwin_session.sh), a Qt window in front that
// KWin's window facts report, refresh 0.1 s, nothing changing. Reports the share of one core Lumo,
// its controller, KWin and PipeWire use over 20 s. Run outside a session, the program starts the
// session with itself inside. Where the session grants KWin's fake input to the answering helper,
// Plasma's screen chooser is answered, so the screen cast runs while it measures (the counter
// screen_cast is 1); otherwise Lumo goes on without the screen (0).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <dirent.h>
#include <filesystem>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef FAKE_POINTER
#include "platform/desktop/kde/kwin_facts.h"
#include "tests/kde/plasma_chooser.h"
#endif
#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/lumo_on_padsim.h"
#include "tests/support/processes.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

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

// The process of this session (its runtime folder is ours) whose name (comm) is `name`; 0 when
// none. Other sessions on the machine run programs of the same names.
pid_t sessionProcess(const std::string& name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime) return 0;
    const std::string mark = std::string("XDG_RUNTIME_DIR=") + runtime;
    std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
    if (!proc) return 0;
    while (dirent* e = readdir(proc.get())) {
        const pid_t pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        const std::string base = "/proc/" + std::to_string(pid);
        std::ifstream comm(base + "/comm");
        std::string got;
        if (!std::getline(comm, got) || got != name) continue;
        std::ifstream env(base + "/environ");
        std::string entry;
        while (std::getline(env, entry, '\0'))
            if (entry == mark) return pid;
    }
    return 0;
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
    bool casting = false;
#ifdef FAKE_POINTER
    if (auto facts = tavik::desktop::kde::KWinFacts::open(10000)) {
        std::string why;
        const std::string token = dir / "config/Orvane/TAVIK200_J/ScreenCast.token";
        casting = tavik::test::answerPlasmaChooser(*facts, FAKE_POINTER, why) &&
                  tavik::test::waitUntil([&] { return std::filesystem::exists(token); });
        if (!casting) std::fprintf(stderr, "no screen cast: %s\n", why.empty() ? "Lumo kept no permission" : why.c_str());
    }
#endif
    std::this_thread::sleep_for(5s);  // start-up over: facts loaded, first passes done
    const auto controllers = tavik::test::controllerPids(tavik::test::binDir() + "/TAVIK", lumo.port());
    struct Measured {
        const char* counter;
        pid_t pid;
        double before = 0;
    };
    std::vector<Measured> all = {{"lumo_core_pct", lumo.app().pid()},
                                 {"controller_core_pct", controllers.empty() ? 0 : controllers.front()},
                                 {"kwin_core_pct", sessionProcess("kwin_wayland")},
                                 {"pipewire_core_pct", sessionProcess("pipewire")}};
    constexpr double kSpan = 20;
    for (auto _ : state) {
        for (auto& m : all) m.before = m.pid ? cpuSeconds(m.pid) : 0;
        std::this_thread::sleep_for(std::chrono::duration<double>(kSpan));
        for (const auto& m : all) {
            const double after = m.pid ? cpuSeconds(m.pid) : -1;
            state.counters[m.counter] = after >= 0 && m.before >= 0 ? (after - m.before) / kSpan * 100 : -1;
        }
        state.counters["screen_cast"] = casting ? 1 : 0;
    }
}
BENCHMARK(BM_LumoIdleOnKWin)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("TAVIK_KWIN_SESSION")) {
        // Start the session with this program inside it.
        std::vector<char*> args = {const_cast<char*>(SESSION_SCRIPT)};
#ifdef FAKE_POINTER
        args.push_back(const_cast<char*>("--portal"));
        args.push_back(const_cast<char*>("--grant"));
        args.push_back(const_cast<char*>(FAKE_POINTER));
#endif
        args.push_back(const_cast<char*>("--"));
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
