// Command line of padsim.
#pragma once

#include <string>
#include <vector>

#include "device_model.h"

namespace padsim {

struct Options {
    DeviceConfig device;
    std::string link;          // symlink to the pty slave
    int fdIn = -1, fdOut = -1; // pipe mode instead of a pty
    std::string script;
    std::string control;       // FIFO of control commands
    std::string stateFile;
    std::string logFile;
    std::string pngFile;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// Parses argv. False with `error` set on a bad argument.
bool parseOptions(const std::vector<std::string>& args, Options& opt, std::string& error);

// The --help text.
std::string helpText();

}  // namespace padsim
