// The tests' temporary folder.
#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace tavik::test {

TempDir::TempDir(const std::string& tag) {
    const std::string pattern = (std::filesystem::temp_directory_path() / ("tavik-" + tag + "-XXXXXX")).string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back(0);
    if (!::mkdtemp(buf.data())) throw std::runtime_error("cannot create a folder like " + pattern);
    path_ = buf.data();
}

TempDir::~TempDir() {
    if (std::getenv("TAVIK_KEEP_TEST_DIR")) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace tavik::test
