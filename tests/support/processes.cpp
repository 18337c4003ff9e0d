// Looking up the suite's processes in /proc.
#include "tests/support/processes.h"

#include <cstdlib>
#include <dirent.h>
#include <filesystem>

#include "tests/support/files.h"

namespace tavik::test {

std::vector<pid_t> controllerPids(const std::string& program, int portIndex) {
    std::vector<pid_t> out;
    DIR* d = ::opendir("/proc");
    if (!d) return out;
    const std::string want = std::filesystem::weakly_canonical(program).string();
    while (dirent* e = ::readdir(d)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
        if (pid <= 0) continue;
        const std::string proc = "/proc/" + std::string(e->d_name);
        std::error_code ec;
        const auto exe = std::filesystem::read_symlink(proc + "/exe", ec);
        if (ec || exe.string() != want) continue;
        std::string cmd = readFile(proc + "/cmdline");
        for (auto& c : cmd)
            if (c == 0) c = ' ';
        const std::string stat = readFile(proc + "/stat");
        const auto close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z') continue;
        if (cmd.find("/Port:" + std::to_string(portIndex) + " ") != std::string::npos) out.push_back(pid);
    }
    ::closedir(d);
    return out;
}

}  // namespace tavik::test
