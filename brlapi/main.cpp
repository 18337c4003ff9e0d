// tavik-brlapi: the tactile display as a braille display for screen readers.
// Reads its settings, enters the port through the client library, opens the
// socket clients look for and serves until SIGTERM or SIGINT.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <spawn.h>
#include <sys/signalfd.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <string>
#include <string_view>
#include <vector>

#include "brlapi/braille_table.h"
#include "brlapi/device_link.h"
#include "brlapi/listener.h"
#include "brlapi/options.h"
#include "brlapi/server.h"
#include "common/settings.h"

using namespace tavik::brl;

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string localeName() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"})
        if (!env(name).empty()) return env(name);
    return "C";
}

// Tells the session where the server listens when it is not where clients look
// by default: a file in the runtime folder, and the session's environment for
// programs started from now on (systemd user manager and D-Bus activation).
void announceHost(const std::string& host) {
    const std::string runtime = env("XDG_RUNTIME_DIR");
    if (!runtime.empty()) std::ofstream(runtime + "/tavik-brlapi.env") << "BRLAPI_HOST=" << host << "\n";
    if (host == ":0") return;
    std::fprintf(stderr, "tavik-brlapi: clients must be started with BRLAPI_HOST=%s\n", host.c_str());
    const std::string assignment = "BRLAPI_HOST=" + host;
    char* argv[] = {const_cast<char*>("dbus-update-activation-environment"), const_cast<char*>("--systemd"),
                    const_cast<char*>(assignment.c_str()), nullptr};
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) return;
    // Bounded: a session without a bus must not hold the server up.
    for (int i = 0; i < 40; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

int fail(const std::string& what) {
    std::fprintf(stderr, "tavik-brlapi: %s\n", what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    tavik::InitSettingsPaths();
    readIni(o, tavik::TavikIniPath());
    std::vector<std::string_view> args(argv + 1, argv + argc);
    std::string error;
    if (!parseCommandLine(o, args, error)) return fail(error + " (see --help)"), 2;
    if (o.help) return std::fputs(usage().c_str(), stdout), 0;
    if (o.version) return std::printf("tavik-brlapi %s\n", TAVIK_VERSION_STRING), 0;

    if (o.ifConfigured && !o.configured) {
        std::fprintf(stderr, "tavik-brlapi: no [BrlAPI] Port in TAVIK.ini: not started\n");
        return 0;
    }
    // One server a user: a lock in the user's runtime folder, held while it runs.
    Fd lock;
    if (!env("XDG_RUNTIME_DIR").empty()) {
        lock.reset(::open((env("XDG_RUNTIME_DIR") + "/tavik-brlapi.lock").c_str(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (lock && ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0)
            return fail("a braille server of this user already runs");
    }
    if (o.host.empty()) o.host = env("BRLAPI_HOST");
    if (o.host.empty()) o.host = ":0";
    auto endpoint = parseHost(o.host);
    if (!endpoint) return fail("host \"" + o.host + "\" is not on this machine (\":N\" or \"127.0.0.1:N\")");
    if (o.table.empty()) o.table = tableForLocale(localeName(), tableFileExists);
    if (!tableInstalled(o.table)) return fail("braille table \"" + o.table + "\" cannot be loaded");

    // Signals arrive through a descriptor the loop polls.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    Fd stop(::signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!stop) return fail("no signal descriptor");

    std::vector<uint8_t> key;
    if (endpoint->kind != Endpoint::Kind::Local) {
        if (o.keyFile.empty()) {
            const std::string runtime = env("XDG_RUNTIME_DIR");
            if (runtime.empty()) return fail("a TCP endpoint needs --key-file (XDG_RUNTIME_DIR is not set)");
            o.keyFile = runtime + "/tavik-brlapi.key";
        }
        key = loadOrCreateKey(o.keyFile, error);
        if (key.empty()) return fail(error);
    }

    // The socket first: without one there is no reason to start the display's controller.
    auto listener = Listener::open(*endpoint, o.socketFolder.empty() ? std::string(kSocketFolder) : o.socketFolder, error);
    if (!listener) return fail(error);
    auto link = DeviceLink::open(o.model, o.port, error);
    if (!link) return fail(error);

    Server server(*listener, *link, BrailleTable(o.table), o.destination, key);
    const auto& f = server.facts();
    if (listener->local()) announceHost(listener->endpoint().host());
    std::printf("listening %s\n", listener->endpoint().host().c_str());
    if (!key.empty()) std::printf("key-file %s\n", o.keyFile.c_str());
    std::printf("display %ux%u %s table %s\n", f.columns, f.rows,
                server.destination() == Destination::TextLine ? "text-line" : server.destination() == Destination::Pins ? "pins" : "none", o.table.c_str());
    std::fflush(stdout);
    server.run(stop.get());
    return 0;
}
