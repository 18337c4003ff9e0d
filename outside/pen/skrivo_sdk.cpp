// The pen SDK stand-in: a reader thread that turns a pen source (a script of
// report lines, or an evdev tablet read through libevdev) into reports for
// the pen window. When the source ends or the tablet goes away, a touching
// pen is lifted and held buttons are released, so nothing stays pressed; a
// tablet that went away is looked for again until pen mode ends, so pen mode
// carries on when it is plugged in again.
#include "outside/pen/skrivo_sdk.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>

#include <libevdev/libevdev.h>

#include "common/export.h"
#include "outside/pen/pen_device.h"

namespace {

// Remembers what is held, to release it when the source ends.
class Reporter {
public:
    explicit Reporter(SkrivoPenWindow window) : window_(window) {}
    void send(int32_t type, int32_t x = 0, int32_t y = 0) {
        switch (type) {
            case 1: touching_ = true; break;
            case 2: touching_ = false; break;
            case 4: button1_ = true; break;
            case 5: button1_ = false; break;
            case 6: button2_ = true; break;
            case 7: button2_ = false; break;
            default: break;
        }
        const SkrivoReport r{type, x, y};
        if (window_.report) window_.report(window_.context, &r);
    }
    void releaseAll() {
        if (touching_) send(2);
        if (button1_) send(5);
        if (button2_) send(7);
    }

private:
    SkrivoPenWindow window_;
    bool touching_ = false, button1_ = false, button2_ = false;
};

// A pen source: waits up to `ms` for input and reports it; false when the
// source has ended (end of script, device gone).
class PenSource {
public:
    virtual ~PenSource() = default;
    virtual bool pump(Reporter& out, int ms) = 0;
};

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool waitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

// Lines "type x y"; anything else (wrong count, type outside 1..7, lines over
// 255 characters) is skipped.
class ScriptSource final : public PenSource {
public:
    explicit ScriptSource(int fd) : fd_(fd) {}
    bool pump(Reporter& out, int ms) override {
        if (!waitReadable(fd_.get(), ms)) return true;
        char buf[512];
        const ssize_t n = ::read(fd_.get(), buf, sizeof buf);
        if (n < 0) return errno == EINTR || errno == EAGAIN;
        if (n == 0) return false;
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] != '\n') {
                if (line_.size() < 255)
                    line_ += buf[i];
                else
                    overlong_ = true;
                continue;
            }
            if (!overlong_) handle(out, line_);
            line_.clear();
            overlong_ = false;
        }
        return true;
    }

private:
    static void handle(Reporter& out, const std::string& line) {
        long type = 0, x = 0, y = 0;
        char extra = 0;
        if (std::sscanf(line.c_str(), "%ld %ld %ld %c", &type, &x, &y, &extra) != 3) return;
        if (type < 1 || type > 7 || x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX) return;
        out.send(static_cast<int32_t>(type), static_cast<int32_t>(x), static_cast<int32_t>(y));
    }
    FileDescriptor fd_;
    std::string line_;
    bool overlong_ = false;
};

// A tablet: absolute X and Y, BTN_TOUCH for touching, BTN_STYLUS and
// BTN_STYLUS2 for the two pen buttons.
class EvdevSource final : public PenSource {
public:
    static std::unique_ptr<EvdevSource> open(const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return nullptr;
        libevdev* dev = nullptr;
        if (libevdev_new_from_fd(fd, &dev) < 0) {
            ::close(fd);
            return nullptr;
        }
        skrivo::InputCapabilities caps;
        caps.absX = libevdev_has_event_code(dev, EV_ABS, ABS_X);
        caps.absY = libevdev_has_event_code(dev, EV_ABS, ABS_Y);
        caps.toolPen = libevdev_has_event_code(dev, EV_KEY, BTN_TOOL_PEN);
        caps.stylus = libevdev_has_event_code(dev, EV_KEY, BTN_STYLUS) || libevdev_has_event_code(dev, EV_KEY, BTN_STYLUS2);
        if (!skrivo::isPenDevice(caps)) {
            libevdev_free(dev);
            ::close(fd);
            return nullptr;
        }
        return std::unique_ptr<EvdevSource>(new EvdevSource(fd, dev));
    }
    ~EvdevSource() override { libevdev_free(dev_); }

    bool pump(Reporter& out, int ms) override {
        if (!waitReadable(fd_.get(), ms)) return true;
        // At most a bounded number of events a turn: a flood cannot starve the stop flag.
        for (int i = 0; i < 1024; ++i) {
            input_event ev{};
            int rc = libevdev_next_event(dev_, LIBEVDEV_READ_FLAG_NORMAL, &ev);
            if (rc == LIBEVDEV_READ_STATUS_SYNC) {
                while (rc == LIBEVDEV_READ_STATUS_SYNC) rc = libevdev_next_event(dev_, LIBEVDEV_READ_FLAG_SYNC, &ev);
                continue;
            }
            if (rc == -EAGAIN) return true;
            if (rc < 0) return false;  // -ENODEV: unplugged
            handle(out, ev);
        }
        return true;
    }

private:
    EvdevSource(int fd, libevdev* dev) : fd_(fd), dev_(dev) {}
    void handle(Reporter& out, const input_event& ev) {
        if (ev.type == EV_ABS && ev.code == ABS_X) {
            x_ = ev.value;
            moved_ = true;
        } else if (ev.type == EV_ABS && ev.code == ABS_Y) {
            y_ = ev.value;
            moved_ = true;
        } else if (ev.type == EV_KEY && ev.code == BTN_TOUCH) {
            touchChange_ = ev.value ? 1 : 2;
        } else if (ev.type == EV_KEY && ev.code == BTN_STYLUS) {
            out.send(ev.value ? 4 : 5);
        } else if (ev.type == EV_KEY && ev.code == BTN_STYLUS2) {
            out.send(ev.value ? 6 : 7);
        } else if (ev.type == EV_SYN && ev.code == SYN_REPORT) {
            if (touchChange_ == 1) out.send(1);
            if (moved_) out.send(3, x_, y_);
            if (touchChange_ == 2) out.send(2);
            touchChange_ = 0;
            moved_ = false;
        }
    }
    FileDescriptor fd_;
    libevdev* dev_;
    int32_t x_ = 0, y_ = 0;
    int touchChange_ = 0;
    bool moved_ = false;
};

std::unique_ptr<PenSource> openScript() {
    if (const char* script = std::getenv("SKRIVO_SCRIPT"); script && *script) {
        // Read-write on a FIFO: opening never waits for its writer.
        int fd = ::open(script, O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) fd = ::open(script, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        return fd < 0 ? nullptr : std::make_unique<ScriptSource>(fd);
    }
    return nullptr;
}

bool scripted() {
    const char* script = std::getenv("SKRIVO_SCRIPT");
    return script && *script;
}

// The tablet: $SKRIVO_DEVICE, else the first pen among /dev/input/event*.
std::unique_ptr<PenSource> openTablet() {
    if (const char* device = std::getenv("SKRIVO_DEVICE"); device && *device) return EvdevSource::open(device);
    DIR* dir = ::opendir("/dev/input");
    if (!dir) return nullptr;
    std::unique_ptr<PenSource> found;
    while (dirent* e = ::readdir(dir)) {
        if (std::strncmp(e->d_name, "event", 5) != 0) continue;
        auto source = EvdevSource::open(std::string("/dev/input/") + e->d_name);
        if (source) {
            found = std::move(source);
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// Pen mode of the process: one reader at a time, as the SDK allows.
struct PenMode {
    std::mutex mutex;
    std::thread reader;
    std::atomic<bool> stop{false};
};
PenMode& penMode() {
    static PenMode mode;
    return mode;
}

}  // namespace

TAVIK_API int32_t InitPenMode(const char* className, intptr_t window) {
    if (!className || window == 0) return 1;
    PenMode& mode = penMode();
    std::lock_guard<std::mutex> lock(mode.mutex);
    if (mode.reader.joinable()) return 2;
    const bool script = scripted();
    std::unique_ptr<PenSource> source = script ? openScript() : openTablet();
    if (!source) return 3;
    const SkrivoPenWindow target = *reinterpret_cast<const SkrivoPenWindow*>(window);
    mode.stop = false;
    mode.reader = std::thread([&mode, target, script, src = std::move(source)]() mutable {
        Reporter out(target);
        for (;;) {
            while (!mode.stop.load() && src->pump(out, 100)) {
            }
            out.releaseAll();
            src.reset();
            // A script that ended is over; a tablet that went away is looked
            // for until pen mode ends.
            if (script) break;
            while (!mode.stop.load() && !src) {
                for (int waited = 0; waited < skrivo::kPenRescanMs && !mode.stop.load(); waited += 50)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                if (!mode.stop.load()) src = openTablet();
            }
            if (!src) break;
        }
    });
    return 0;
}

TAVIK_API void StopPenMode(void) {
    PenMode& mode = penMode();
    std::lock_guard<std::mutex> lock(mode.mutex);
    if (!mode.reader.joinable()) return;
    mode.stop = true;
    mode.reader.join();
}
