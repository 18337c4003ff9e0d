// A private headless sway for the Wayland input tests: its own runtime folder (0700), no input
// devices, one 1024x768 output; killed with the test. As root it runs as the unprivileged
// user 65534, since sway refuses to run as root.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace wayland_test {

// A private D-Bus session bus (dbus-daemon) in a folder of its own, killed with the object. Its
// address goes into this process's environment ($DBUS_SESSION_BUS_ADDRESS).
class PrivateBus {
public:
    // `services`: the system's D-Bus service files are used (the accessibility bus is started
    // on demand); without, no service is ever started by the bus.
    explicit PrivateBus(bool services = true);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;
    // "" when dbus-daemon is missing or did not start.
    const std::string& address() const { return address_; }

private:
    std::string dir_;
    std::string address_;
    pid_t pid_ = -1;
};

class SwaySession {
public:
    SwaySession();
    ~SwaySession();
    SwaySession(const SwaySession&) = delete;
    SwaySession& operator=(const SwaySession&) = delete;

    // Empty when the session is up; else why not (for GTEST_SKIP).
    const std::string& missing() const { return missing_; }
    // The compositor socket as an absolute path (usable as WAYLAND_DISPLAY).
    const std::string& socket() const { return socket_; }
    const std::string& runtimeDir() const { return runtime_; }
    // The compositor's IPC socket (what a sway session exports as $SWAYSOCK).
    const std::string& ipcSocket() const { return ipc_; }

    // Starts a private D-Bus session bus (the accessibility bus is started on it on demand),
    // one for the whole test program, and puts its address in this process's environment and
    // in every later spawn(). The address, or "" when dbus-daemon is missing or did not start.
    std::string startSessionBus();

    // Runs swaymsg with `args`; its standard output ("" when it failed).
    std::string swaymsg(const std::vector<std::string>& args) const;

    // Starts `argv` with WAYLAND_DISPLAY, XDG_RUNTIME_DIR and SWAYSOCK of this session (plus `env`
    // entries "NAME=value"), its standard output into `outFile`. The process is killed with
    // the session. Returns its pid (-1 on failure).
    pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                const std::string& outFile);

private:
    std::string missing_;
    std::string runtime_;
    std::string socket_;
    std::string ipc_;
    pid_t sway_ = -1;
    std::string bus_;
    std::vector<pid_t> children_;
};

// Polls `done` every 50 ms for at most `seconds`; true as soon as it answers true.
template <typename Done>
bool eventually(Done done, int seconds = 20);

}  // namespace wayland_test

#include <chrono>
#include <thread>

template <typename Done>
bool wayland_test::eventually(Done done, int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}
