// padsim: the virtual tactile display. The command line and the signals
// around the simulator that serves the port.
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "options.h"
#include "simulator.h"

namespace {

// The one simulator of the process, for the signal handler (stop() only writes to an eventfd).
padsim::Simulator* g_simulator = nullptr;
void onSignal(int) {
    if (g_simulator) g_simulator->stop();
}

}  // namespace

int main(int argc, char** argv) {
    padsim::Options opt;
    std::string err;
    if (!padsim::parseOptions(std::vector<std::string>(argv + 1, argv + argc), opt, err)) {
        std::fprintf(stderr, "padsim: %s\n", err.c_str());
        return 2;
    }
    if (opt.version) {
        std::printf("padsim %s\n", TAVIK_VERSION_STRING);
        return 0;
    }
    if (opt.help) {
        std::fputs(padsim::helpText().c_str(), stdout);
        return 0;
    }
    padsim::Simulator sim(std::move(opt));
    g_simulator = &sim;
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return sim.run();
}
