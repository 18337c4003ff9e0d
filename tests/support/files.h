// Small file and location helpers of the tests.
#pragma once

#include <string>
#include <vector>

namespace tavik::test {

// The folder of the built programs ($TAVIK_BIN_DIR, "" when unset).
std::string binDir();
// The folder of the test helper programs (beside binDir()).
std::string testsDir();
// Writes `text` through a temporary file and rename, creating the folders on the way.
void writeFile(const std::string& path, const std::string& text);
// The whole file ("" when it cannot be read).
std::string readFile(const std::string& path);
// Bytes as lower-case hexadecimal without separators ("0a1f").
std::string hexOf(const std::vector<unsigned char>& bytes);

}  // namespace tavik::test
