// Settings folder and environment of the programs a test starts.
#include "tests/support/suite_env.h"

#include "tests/support/files.h"

namespace tavik::test {

void writePortMap(const std::string& dir, int port, const std::string& device, const std::string& more) {
    writeFile(dir + "/config/Orvane/TAVIK200_J/TAVIK.ini",
              "[Ports]\nCom" + std::to_string(port + 1) + "=" + device + "\n" + more);
}

std::vector<std::string> suiteEnv(const std::string& dir, const std::vector<std::string>& extra) {
    std::vector<std::string> env = {"XDG_CONFIG_HOME=" + dir + "/config", "TAVIK_PATH=" + binDir() + "/TAVIK",
                                    "TAVIK_FOREGROUND_PID_FILE=" + dir + "/fg"};
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

}  // namespace tavik::test
