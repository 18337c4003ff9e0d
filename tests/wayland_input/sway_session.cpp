// Starting and ending the tests' headless sway.
#include "sway_session.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace wayland_test {

namespace {

namespace fs = std::filesystem;

std::string findProgram(const char* name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t at = 0;
    while (at <= dirs.size()) {
        const size_t end = dirs.find(':', at);
        const std::string dir = dirs.substr(at, end == std::string::npos ? std::string::npos : end - at);
        const fs::path p = fs::path(dir.empty() ? "." : dir) / name;
        if (::access(p.c_str(), X_OK) == 0) return p.string();
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return {};
}

// fork + exec with the environment `env` added; stdout to `out` (or /dev/null), stderr to `err`.
pid_t launch(std::vector<std::string> argv, const std::vector<std::string>& env, const std::string& out,
             const std::string& err) {
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    ::setpgid(0, 0);
    for (const auto& e : env) ::putenv(const_cast<char*>(e.c_str()));
    const int o = ::open(out.empty() ? "/dev/null" : out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = ::open(err.empty() ? "/dev/null" : err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o >= 0) ::dup2(o, 1);
    if (e >= 0) ::dup2(e, 2);
    ::execvp(args[0], args.data());
    ::_exit(127);
}

void stop(pid_t pid) {
    if (pid <= 0) return;
    ::kill(-pid, SIGTERM);
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 40; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
        ::usleep(50000);
    }
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

}  // namespace

SwaySession::SwaySession() {
    const std::string sway = findProgram("sway");
    if (sway.empty() || findProgram("swaymsg").empty()) {
        missing_ = "sway is not installed (scripts/deps.sh installs it)";
        return;
    }
    char tmpl[] = "/tmp/tavik-sway-XXXXXX";
    if (!::mkdtemp(tmpl)) {
        missing_ = "no temporary folder";
        return;
    }
    runtime_ = tmpl;
    ::chmod(runtime_.c_str(), 0700);
    const bool root = ::getuid() == 0;
    if (root && ::chown(runtime_.c_str(), 65534, 65534) != 0) {
        missing_ = "cannot hand the runtime folder to the unprivileged user";
        return;
    }
    {
        std::ofstream cfg(runtime_ + "/config");
        cfg << "output HEADLESS-1 resolution 1024x768 position 0 0\n"
               "default_border none\n"
               "focus_follows_mouse no\n";
    }
    std::vector<std::string> argv;
    if (root) {
        if (findProgram("setpriv").empty()) {
            missing_ = "sway refuses to run as root and setpriv is missing";
            return;
        }
        argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    }
    argv.insert(argv.end(), {sway, "-c", runtime_ + "/config"});
    const std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + runtime_, "HOME=" + runtime_,
                                          "WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1",
                                          "WLR_RENDERER=pixman", "WAYLAND_DISPLAY=", "DISPLAY=",
                                          "SWAYSOCK=" + runtime_ + "/sway-ipc.sock"};
    ::unsetenv("WAYLAND_DISPLAY");
    sway_ = launch(argv, env, "", runtime_ + "/sway.log");
    ipc_ = runtime_ + "/sway-ipc.sock";
    const bool up = eventually(
        [&] {
            for (const auto& entry : fs::directory_iterator(runtime_)) {
                const std::string n = entry.path().filename().string();
                if (n.rfind("wayland-", 0) == 0 && n.find(".lock") == std::string::npos) socket_ = entry.path().string();
            }
            return !socket_.empty() && fs::exists(ipc_) && !swaymsg({"-t", "get_version"}).empty();
        },
        20);
    if (!up) {
        missing_ = "headless sway did not start (see " + runtime_ + "/sway.log)";
        stop(sway_);
        sway_ = -1;
    }
}

SwaySession::~SwaySession() {
    for (pid_t p : children_) stop(p);
    stop(sway_);
    if (!runtime_.empty() && missing_.empty()) {
        std::error_code ec;
        fs::remove_all(runtime_, ec);
    }
}

PrivateBus::PrivateBus(bool services) {
    if (findProgram("dbus-daemon").empty()) return;
    char tmpl[] = "/tmp/tavik-bus-XXXXXX";
    if (!::mkdtemp(tmpl)) return;
    dir_ = tmpl;
    const std::string out = dir_ + "/address";
    {
        std::ofstream cfg(dir_ + "/bus.conf");
        cfg << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>unix:dir=" << dir_ << "</listen><auth>EXTERNAL</auth>\n"
            << (services ? "<standard_session_servicedirs/>\n" : "")
            << "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
               "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    }
    pid_ = launch({"dbus-daemon", "--config-file=" + dir_ + "/bus.conf", "--nofork", "--nopidfile",
                   "--print-address=1"},
                  {}, out, dir_ + "/bus.log");
    if (pid_ <= 0) return;
    std::string address;
    eventually(
        [&] {
            std::ifstream f(out);
            std::getline(f, address);
            return !address.empty() && f.good();
        },
        10);
    if (address.empty()) return;
    address_ = address;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    ::unsetenv("AT_SPI_BUS_ADDRESS");
}

PrivateBus::~PrivateBus() {
    stop(pid_);
    if (!dir_.empty()) {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
}

std::string SwaySession::startSessionBus() {
    // One bus for the whole test program: the accessibility library connects once per process
    // and never follows a bus that went away.
    static PrivateBus shared;
    bus_ = shared.address();
    return bus_;
}

std::string SwaySession::swaymsg(const std::vector<std::string>& args) const {
    std::string cmd = "SWAYSOCK='" + ipc_ + "' swaymsg";
    for (const auto& a : args) cmd += " '" + a + "'";
    cmd += " 2>/dev/null";
    FILE* f = ::popen(cmd.c_str(), "r");
    if (!f) return {};
    std::string out;
    char buf[4096];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    return ::pclose(f) == 0 ? out : std::string{};
}

pid_t SwaySession::spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         const std::string& outFile) {
    std::vector<std::string> all = {"WAYLAND_DISPLAY=" + socket_, "XDG_RUNTIME_DIR=" + runtime_, "DISPLAY=",
                                    "SWAYSOCK=" + ipc_};
    if (!bus_.empty()) all.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus_);
    all.insert(all.end(), env.begin(), env.end());
    const pid_t pid = launch(argv, all, outFile, outFile.empty() ? std::string{} : outFile + ".err");
    if (pid > 0) children_.push_back(pid);
    return pid;
}

}  // namespace wayland_test
