// Process start and liveness on POSIX.
#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tavik::platform {

int32_t startProgram(const std::string& path, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The child starts its own process group so that a terminal's Ctrl+C to
    // the starting application does not end a shared controller.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, path.c_str(), nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return -1;
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return static_cast<int32_t>(pid);
}

bool processAlive(int32_t pid) {
    if (pid <= 0) return false;
    if (::kill(pid, 0) != 0 && errno == ESRCH) return false;
    // A zombie has ended although its id still exists.
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
    std::ifstream in(path);
    if (!in) return ::kill(pid, 0) == 0 || errno == EPERM;
    std::string line;
    std::getline(in, line);
    auto close = line.rfind(')');
    if (close != std::string::npos && close + 2 < line.size()) {
        char state = line[close + 2];
        if (state == 'Z' || state == 'X') return false;
    }
    return true;
}

std::string moduleFolder(const void* address) {
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || !info.dli_fname) return {};
    std::string file = info.dli_fname;
    if (file.find('/') == std::string::npos) return programFolder();
    char resolved[4096];
    if (::realpath(file.c_str(), resolved)) file = resolved;
    auto slash = file.rfind('/');
    return slash == std::string::npos ? std::string{} : file.substr(0, slash);
}

std::string programFolder() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    buf[n] = 0;
    std::string file(buf);
    auto slash = file.rfind('/');
    return slash == std::string::npos ? std::string{} : file.substr(0, slash);
}

std::string findOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (!path || name.empty()) return {};
    std::string all(path);
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(':', start);
        if (end == std::string::npos) end = all.size();
        std::string dir = all.substr(start, end - start);
        if (dir.empty()) dir = ".";
        std::string candidate = dir + "/" + name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

}  // namespace tavik::platform
