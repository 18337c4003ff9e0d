// The virtual display's program as an object: serves the device side of the
// protocol on a pseudo-terminal (or two descriptors), shows the pins live and
// takes events from the keyboard, a script, standard input or a control FIFO.
// main() runs one; tests run one on a thread of their own.
#pragma once

#include <termios.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "control.h"
#include "device_model.h"
#include "host_frame_reader.h"
#include "options.h"
#include "port.h"

namespace padsim {

// Puts the terminal on standard input into single-key mode and restores it.
class RawKeyboard {
public:
    RawKeyboard() = default;
    RawKeyboard(const RawKeyboard&) = delete;
    RawKeyboard& operator=(const RawKeyboard&) = delete;
    bool enable();
    ~RawKeyboard();

private:
    termios saved_{};
    bool active_ = false;
};

// A source of command lines with its own pause (wait MS).
struct CommandSource {
    explicit CommandSource(std::string n) : name(std::move(n)) {}
    std::string name;
    std::deque<std::string> lines;
    std::string partial;
    uint64_t resumeAt = 0;
    void take(const char* data, size_t n) {
        partial.append(data, n);
        size_t nl;
        while ((nl = partial.find('\n')) != std::string::npos) {
            lines.push_back(partial.substr(0, nl));
            partial.erase(0, nl + 1);
        }
    }
};

// The virtual display: the device model on its port, the command sources,
// the keyboard and the outputs (state file, log, picture, live view), all
// served by run() on the calling thread.
class Simulator {
public:
    explicit Simulator(Options opt);
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Serves until "quit", the keyboard's q, the end of a descriptor port or
    // stop(). 0 then; 1 when setting up failed (said on standard error) or
    // polling failed.
    int run();
    // Makes run() return soon. Safe from any thread and from a signal handler.
    void stop();

private:
    bool setUp();
    void onFrame(const HostFrame& f);
    void onJunk(std::span<const uint8_t> b);
    void send(std::vector<uint8_t> bytes, const std::string& what);
    void flushOut();
    void runSources(uint64_t now);
    void execute(const ControlCommand& c, CommandSource& src, uint64_t now);
    void onKeyboard(std::string_view bytes);
    void log(const std::string& line);
    void error(const std::string& line);
    void writeOutputs();
    void draw();
    bool writePng(const std::string& path);

    Options opt_;
    Fd stop_;  // eventfd: stop() makes it readable
    DeviceModel model_;
    HostFrameReader reader_;
    PtyPort pty_;
    PortLink link_;
    int in_ = -1, out_ = -1;
    Fd fifo_;
    RawKeyboard keyboard_;
    bool interactive_ = false, readStdin_ = false, live_ = false, running_ = true;
    std::vector<CommandSource> sources_;  // 0 script, then stdin, then fifo (by index below)
    int stdinSource_ = -1, fifoSource_ = -1;
    std::vector<uint8_t> outQ_;
    std::unique_ptr<FILE, int (*)(FILE*)> logFile_{nullptr, &std::fclose};
    std::deque<std::string> recent_;
    bool stateDirty_ = true, displayDirty_ = true;
    uint64_t lastDraw_ = 0;
    uint64_t portQuietUntil_ = 0;  // a pseudo-terminal without a reader is left out of the wait until then
};

}  // namespace padsim
