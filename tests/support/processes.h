// Finding the suite's processes from the tests.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tavik::test {

// Process ids of running (not zombie) controllers started for `portIndex` from `program`.
std::vector<pid_t> controllerPids(const std::string& program, int portIndex);

}  // namespace tavik::test
