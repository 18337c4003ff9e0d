// padsim started and driven as a separate process.
#include "tests/drivers/padsim_process.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tavik::test {

PadsimProcess::PadsimProcess(const std::string& folder, const std::vector<std::string>& extraArgs) {
    link_ = folder + "/padsim-tty";
    control_ = folder + "/padsim.ctl";
    stateFile_ = folder + "/padsim.state";
    ::mkfifo(control_.c_str(), 0600);
    const char* dir = std::getenv("TAVIK_BIN_DIR");
    std::string exe = std::string(dir ? dir : ".") + "/padsim";
    std::vector<std::string> args = {exe, "--quiet", "--link", link_, "--control", control_, "--state", stateFile_};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (::posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ) == 0) pid_ = pid;
    posix_spawn_file_actions_destroy(&fa);
    // Ready when the link to its pseudo-terminal exists.
    for (int i = 0; i < 500 && pid_ > 0; ++i) {
        struct stat st {};
        if (::lstat(link_.c_str(), &st) == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

PadsimProcess::~PadsimProcess() {
    kill();
    ::unlink(control_.c_str());
}

void PadsimProcess::kill() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
}

bool PadsimProcess::command(const std::string& line) {
    int fd = ::open(control_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::string text = line + "\n";
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

std::string PadsimProcess::state() const {
    std::ifstream in(stateFile_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string PadsimProcess::value(const std::string& key) const {
    std::istringstream in(state());
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + " ", 0) == 0) return line.substr(key.size() + 1);
    return {};
}

std::vector<std::string> PadsimProcess::grid(const std::string& name) const {
    std::istringstream in(state());
    std::string line;
    std::vector<std::string> rows;
    bool inGrid = false;
    while (std::getline(in, line)) {
        if (line == name) {
            inGrid = true;
            continue;
        }
        if (inGrid) {
            if (line.empty() || line.find(' ') != std::string::npos ||
                (line.find('#') == std::string::npos && line.find('.') == std::string::npos && name != "levels"))
                break;
            rows.push_back(line);
        }
    }
    return rows;
}

bool PadsimProcess::waitState(const std::string& key, const std::string& expected, int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (value(key) == expected) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return value(key) == expected;
}

}  // namespace tavik::test
