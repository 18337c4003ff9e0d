// The virtual display's main loop and what it does with frames, commands and keys.
#include "simulator.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <fstream>

#include "keys.h"
#include "picture.h"
#include "state_file.h"

namespace padsim {

namespace {

uint64_t nowMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

bool RawKeyboard::enable() {
    if (::tcgetattr(STDIN_FILENO, &saved_) != 0) return false;
    termios t = saved_;
    t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    active_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &t) == 0;
    return active_;
}

RawKeyboard::~RawKeyboard() {
    if (active_) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
}

Simulator::Simulator(Options opt)
    : opt_(std::move(opt)),
      stop_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      model_(opt_.device),
      reader_([this](const HostFrame& f) { onFrame(f); }, [this](std::span<const uint8_t> b) { onJunk(b); }) {}

void Simulator::stop() {
    const uint64_t one = 1;
    (void)!::write(stop_.get(), &one, sizeof one);
}

bool Simulator::setUp() {
    std::string err;
    if (!stop_) {
        std::fprintf(stderr, "padsim: eventfd: %s\n", std::strerror(errno));
        return false;
    }
    if (!opt_.logFile.empty()) {
        logFile_.reset(std::fopen(opt_.logFile.c_str(), "w"));
        if (!logFile_) {
            std::fprintf(stderr, "padsim: cannot write log %s: %s\n", opt_.logFile.c_str(), std::strerror(errno));
            return false;
        }
    }
    if (opt_.fdIn >= 0) {
        in_ = opt_.fdIn;
        out_ = opt_.fdOut;
        ::fcntl(in_, F_SETFL, ::fcntl(in_, F_GETFL) | O_NONBLOCK);
        ::fcntl(out_, F_SETFL, ::fcntl(out_, F_GETFL) | O_NONBLOCK);
    } else {
        if (!pty_.open(err)) {
            std::fprintf(stderr, "padsim: cannot open a pseudo-terminal: %s\n", err.c_str());
            return false;
        }
        in_ = out_ = pty_.master();
    }
    if (!opt_.script.empty()) {
        std::ifstream f(opt_.script);
        if (!f) {
            std::fprintf(stderr, "padsim: cannot read script %s\n", opt_.script.c_str());
            return false;
        }
        CommandSource s("script");
        for (std::string line; std::getline(f, line);) s.lines.push_back(line);
        sources_.push_back(std::move(s));
    }
    if (!opt_.control.empty()) {
        struct stat st{};
        if (::stat(opt_.control.c_str(), &st) != 0) {
            if (::mkfifo(opt_.control.c_str(), 0600) != 0) {
                std::fprintf(stderr, "padsim: cannot create FIFO %s: %s\n", opt_.control.c_str(), std::strerror(errno));
                return false;
            }
        } else if (!S_ISFIFO(st.st_mode)) {
            std::fprintf(stderr, "padsim: %s is not a FIFO\n", opt_.control.c_str());
            return false;
        }
        // Opened for writing too, so the FIFO never reports end-of-file between writers.
        fifo_ = Fd(::open(opt_.control.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        if (!fifo_) {
            std::fprintf(stderr, "padsim: cannot open FIFO %s: %s\n", opt_.control.c_str(), std::strerror(errno));
            return false;
        }
        fifoSource_ = static_cast<int>(sources_.size());
        sources_.emplace_back("fifo");
    }
    const bool stdinTty = ::isatty(STDIN_FILENO);
    live_ = !opt_.quiet && ::isatty(STDOUT_FILENO);
    if (stdinTty && !opt_.quiet) {
        interactive_ = keyboard_.enable();
    } else if (!stdinTty) {
        readStdin_ = true;
        stdinSource_ = static_cast<int>(sources_.size());
        sources_.emplace_back("stdin");
    }
    if (!pty_.slavePath().empty()) {
        std::printf("padsim: port %s\n", pty_.slavePath().c_str());
        if (!opt_.link.empty()) {
            if (!link_.create(opt_.link, pty_.slavePath(), err)) {
                std::fprintf(stderr, "padsim: %s\n", err.c_str());
                return false;
            }
            std::printf("padsim: link %s -> %s\n", opt_.link.c_str(), pty_.slavePath().c_str());
        }
        std::fflush(stdout);
    }
    return true;
}

void Simulator::log(const std::string& line) {
    if (logFile_) {
        std::fprintf(logFile_.get(), "%s\n", line.c_str());
        std::fflush(logFile_.get());
    }
    if (live_) {
        recent_.push_back(line);
        while (recent_.size() > 6) recent_.pop_front();
        displayDirty_ = true;
    } else if (!opt_.quiet) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
}

void Simulator::error(const std::string& line) {
    log("error: " + line);
    if (opt_.quiet || live_) std::fprintf(stderr, "padsim: %s\n", line.c_str());
}

void Simulator::onFrame(const HostFrame& f) {
    FrameOutcome r = model_.handle(f);
    log(r.log);
    if (!r.reply.empty()) outQ_.insert(outQ_.end(), r.reply.begin(), r.reply.end());
    stateDirty_ = true;
    if (r.displayChanged) displayDirty_ = true;
}

void Simulator::onJunk(std::span<const uint8_t> b) {
    model_.noteJunk(b.size());
    log("rx " + std::to_string(b.size()) + " byte(s) outside frames: " + hexBytes(b));
    stateDirty_ = true;
}

void Simulator::send(std::vector<uint8_t> bytes, const std::string& what) {
    constexpr size_t kMaxPending = 1 << 20;
    if (outQ_.size() + bytes.size() > kMaxPending) {
        error("nobody reads the port: " + what + " dropped");
        return;
    }
    outQ_.insert(outQ_.end(), bytes.begin(), bytes.end());
    ++model_.mutableState().framesSent;
    log("tx " + what + ": " + hexBytes(bytes, 24));
    stateDirty_ = true;
}

void Simulator::flushOut() {
    while (!outQ_.empty()) {
        const ssize_t n = ::write(out_, outQ_.data(), outQ_.size());
        if (n <= 0) {
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                error(std::string("write to port: ") + std::strerror(errno));
                outQ_.clear();
            }
            return;
        }
        outQ_.erase(outQ_.begin(), outQ_.begin() + n);
    }
}

bool Simulator::writePng(const std::string& path) {
    int w = 0, h = 0;
    const auto img = model_.pinImage(w, h);
    const int maxValue = model_.state().view == View::MultiLevel ? (1 << std::max(1, std::min(8, model_.state().multiLevelFormat))) - 1 : 2;
    return writePinsPng(path, img, w, h, maxValue);
}

void Simulator::execute(const ControlCommand& c, CommandSource& src, uint64_t now) {
    ++model_.mutableState().commands;
    stateDirty_ = true;
    switch (c.kind) {
    case CommandKind::Key: send(model_.keyFrame(c.bytes), model_.config().noteTaker() ? "note-taker key" : "key"); break;
    case CommandKind::NoteTakerKey: send(DeviceModel::noteTakerKeyFrame(c.bytes), "note-taker key"); break;
    case CommandKind::Broadcast: send(DeviceModel::broadcastFrame(c.bytes), "broadcast"); break;
    case CommandKind::DataBlock: send(DeviceModel::dataBlockFrame(c.code, c.bytes), "data block"); break;
    case CommandKind::Raw: send(c.bytes, "raw"); break;
    case CommandKind::Png:
        if (writePng(c.text)) log("picture written to " + c.text);
        else error("cannot write picture " + c.text);
        break;
    case CommandKind::State:
        if (writeFileAtomically(c.text, stateText(model_))) log("state written to " + c.text);
        else error("cannot write state " + c.text);
        break;
    case CommandKind::Wait: src.resumeAt = now + c.ms; break;
    case CommandKind::Log: log("log " + c.text); break;
    case CommandKind::Quit: log("quit (" + src.name + ")"); running_ = false; break;
    }
}

void Simulator::runSources(uint64_t now) {
    for (auto& src : sources_) {
        while (running_ && !src.lines.empty() && now >= src.resumeAt) {
            const std::string line = src.lines.front();
            src.lines.pop_front();
            const ParsedLine p = parseControlLine(line);
            if (!p.error.empty()) {
                error(src.name + ": " + p.error);
                continue;
            }
            if (p.command) execute(*p.command, src, now);
        }
    }
}

void Simulator::onKeyboard(std::string_view bytes) {
    for (const KeyInput* k : decodeKeys(bytes)) {
        switch (k->action) {
        case KeyAction::DeviceKey: {
            const uint8_t b[4] = {k->group, k->key, k->buttons, 0};
            send(model_.keyFrame(b), "key");
            break;
        }
        case KeyAction::Picture: {
            const std::string path = opt_.pngFile.empty() ? "padsim.png" : opt_.pngFile;
            if (writePng(path)) log("picture written to " + path);
            else error("cannot write picture " + path);
            break;
        }
        case KeyAction::Quit: running_ = false; break;
        }
    }
}

void Simulator::writeOutputs() {
    if (stateDirty_ && !opt_.stateFile.empty() && !writeFileAtomically(opt_.stateFile, stateText(model_)))
        std::fprintf(stderr, "padsim: cannot write state %s: %s\n", opt_.stateFile.c_str(), std::strerror(errno));
    stateDirty_ = false;
    if (displayDirty_ && !opt_.pngFile.empty() && !writePng(opt_.pngFile))
        std::fprintf(stderr, "padsim: cannot write picture %s\n", opt_.pngFile.c_str());
    if (displayDirty_ && live_) {
        const uint64_t now = nowMs();
        if (now - lastDraw_ < 40) return;  // keep displayDirty_ for the next round
        lastDraw_ = now;
        draw();
    }
    displayDirty_ = false;
}

void Simulator::draw() {
    int w = 0, h = 0;
    const auto img = model_.pinImage(w, h);
    const auto& st = model_.state();
    const auto& c = model_.config();
    std::string out = "\x1b[H\x1b[2J";
    char line[200];
    std::snprintf(line, sizeof line, "padsim  %s  %dx%d%s%s  port %s  frames in %llu out %llu  errors %llu\n",
                  c.model.c_str(), c.width, c.height, c.info[2] >= 2 ? "  multi-level" : "",
                  c.noteTaker() ? "  note-taker" : "", pty_.slavePath().empty() ? "(descriptors)" : pty_.slavePath().c_str(),
                  static_cast<unsigned long long>(st.framesReceived), static_cast<unsigned long long>(st.framesSent),
                  static_cast<unsigned long long>(st.errors));
    out += line;
    const char* label = st.view == View::MultiLevel ? "levels 1+ | levels 2+" : "raised | plane 2";
    if (st.view == View::MultiLevel) {
        std::snprintf(line, sizeof line, "view: multi-level (format %d)   %s\n", st.multiLevelFormat, label);
    } else if (st.view == View::Braille) {
        std::snprintf(line, sizeof line, "view: note-taker cells   %s\n", label);
    } else {
        std::snprintf(line, sizeof line, "view: two planes (plane 2 level %u)   %s\n", st.plane2Level, label);
    }
    out += line;
    const std::string left = brailleRows(img, w, h, 1), right = brailleRows(img, w, h, 2);
    size_t a = 0, b = 0;
    while (a < left.size()) {
        const size_t ea = left.find('\n', a), eb = right.find('\n', b);
        out += left.substr(a, ea - a) + "  \u2502  " + right.substr(b, eb - b) + "\n";
        a = ea + 1;
        b = eb + 1;
    }
    out += "text: " + brailleCells(st.text) + "\n      " + hexBytes(st.text, 32) + "\n";
    for (const auto& l : recent_) out += l.substr(0, 120) + "\n";
    if (interactive_)
        out += keyReminder() + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

int Simulator::run() {
    if (!setUp()) return 1;
    log("padsim ready: " + opt_.device.model + (opt_.device.info[2] >= 2 ? ", multi-level" : "") +
        (opt_.device.noteTaker() ? ", note-taker " + std::to_string(opt_.device.noteTakerCells) + " cells" : ""));
    std::vector<uint8_t> buf(4096);
    while (running_) {
        const uint64_t now = nowMs();
        runSources(now);
        flushOut();
        writeOutputs();
        if (!running_) break;

        int timeout = 100;
        for (const auto& s : sources_)
            if (!s.lines.empty() && s.resumeAt > now) timeout = static_cast<int>(std::min<uint64_t>(timeout, s.resumeAt - now));
        if (displayDirty_) timeout = std::min(timeout, 40);
        // A pseudo-terminal without a reader reports POLLHUP at once: leave it
        // out of the wait for a while instead of spinning on it.
        const bool portQuiet = now < portQuietUntil_;
        if (portQuiet) timeout = std::min(timeout, static_cast<int>(portQuietUntil_ - now));
        pollfd fds[5];
        nfds_t nf = 0;
        const int portIdx = 0, stopIdx = 1;
        fds[nf++] = {portQuiet ? -1 : in_, POLLIN, 0};
        fds[nf++] = {stop_.get(), POLLIN, 0};
        int stdinIdx = -1, fifoIdx = -1;
        if (!outQ_.empty() && !portQuiet) {
            if (out_ == in_) fds[portIdx].events |= POLLOUT;
            else fds[nf++] = {out_, POLLOUT, 0};
        }
        if (readStdin_ || interactive_) { stdinIdx = static_cast<int>(nf); fds[nf++] = {STDIN_FILENO, POLLIN, 0}; }
        if (fifo_) { fifoIdx = static_cast<int>(nf); fds[nf++] = {fifo_.get(), POLLIN, 0}; }
        const int pr = ::poll(fds, nf, timeout);
        if (pr < 0) {
            if (errno == EINTR) continue;
            error(std::string("poll: ") + std::strerror(errno));
            return 1;
        }
        if (fds[stopIdx].revents & POLLIN) break;
        const uint64_t t = nowMs();
        if (fds[portIdx].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::read(in_, buf.data(), buf.size());
            if (n > 0) {
                reader_.feed(std::span<const uint8_t>(buf.data(), static_cast<size_t>(n)), t);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                if (opt_.fdIn >= 0) {
                    log("port closed by the other side");
                    break;
                }
                if (fds[portIdx].revents & POLLHUP) portQuietUntil_ = t + 20;  // no reader on the slave yet
            }
        }
        reader_.poll(t);
        if (stdinIdx >= 0 && (fds[stdinIdx].revents & (POLLIN | POLLHUP))) {
            char kb[256];
            const ssize_t n = ::read(STDIN_FILENO, kb, sizeof kb);
            if (n > 0) {
                if (interactive_) onKeyboard(std::string_view(kb, static_cast<size_t>(n)));
                else sources_[static_cast<size_t>(stdinSource_)].take(kb, static_cast<size_t>(n));
            } else if (n == 0) {
                if (readStdin_ && !sources_[static_cast<size_t>(stdinSource_)].partial.empty())
                    sources_[static_cast<size_t>(stdinSource_)].take("\n", 1);
                readStdin_ = interactive_ = false;  // end of input: keep serving the port
            }
        }
        if (fifoIdx >= 0 && (fds[fifoIdx].revents & POLLIN)) {
            char cb[1024];
            const ssize_t n = ::read(fifo_.get(), cb, sizeof cb);
            if (n > 0) sources_[static_cast<size_t>(fifoSource_)].take(cb, static_cast<size_t>(n));
        }
    }
    flushOut();
    writeOutputs();
    if (live_) std::printf("\n");
    return 0;
}
}  // namespace padsim
