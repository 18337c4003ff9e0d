// A private temporary folder for one test, removed with everything in it when
// the object goes (kept when TAVIK_KEEP_TEST_DIR is set, to look at after a
// failure).
#pragma once

#include <string>

namespace tavik::test {

class TempDir {
public:
    // Creates "<temp>/tavik-<tag>-XXXXXX"; throws std::runtime_error when it cannot.
    explicit TempDir(const std::string& tag);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace tavik::test
