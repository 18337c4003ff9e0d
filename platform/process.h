// Starting programs and asking whether a process is still alive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavik::platform {

// Starts `path` with `args` (argv[1..]) in the background; the child is reaped
// by a detached waiter so it never lingers as a zombie. Returns its process id,
// or -1 when it could not be started.
int32_t startProgram(const std::string& path, const std::vector<std::string>& args);

// True when a process with that id exists and has not ended (a zombie counts
// as ended).
bool processAlive(int32_t pid);

// Folder of the file that holds `address` (a program or shared library), without a trailing
// slash; the program's folder when the loader knows the file only by a bare name; empty when
// unknown. The one lookup of "the folder of this module" in the suite.
std::string moduleFolder(const void* address);

// Folder of the running program, without a trailing slash; empty when unknown.
std::string programFolder();

// Finds `name` on PATH; empty when absent.
std::string findOnPath(const std::string& name);

}  // namespace tavik::platform
