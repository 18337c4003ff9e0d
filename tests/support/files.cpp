// File and location helpers of the tests.
#include "tests/support/files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tavik::test {

std::string binDir() {
    const char* d = std::getenv("TAVIK_BIN_DIR");
    return d ? d : "";
}

std::string testsDir() { return std::filesystem::path(binDir()).parent_path().string() + "/tests"; }

void writeFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp);
        out << text;
    }
    std::filesystem::rename(tmp, path);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string hexOf(const std::vector<unsigned char>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string s;
    for (unsigned char b : bytes) {
        s += kDigits[b >> 4];
        s += kDigits[b & 15];
    }
    return s;
}

}  // namespace tavik::test
