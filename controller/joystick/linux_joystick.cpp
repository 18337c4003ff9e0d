// Reading /dev/input/jsN: struct js_event records, axis 0 and 1 mapped from
// -32767..32767 to 0..65535, buttons 0..9.
#include "controller/joystick/linux_joystick.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/joystick.h>
#include <unistd.h>

namespace tavik::controller {

namespace {

uint32_t axisValue(int16_t v) {
    const int32_t shifted = int32_t{v} + 32768;  // -32768..32767 -> 0..65535
    return static_cast<uint32_t>(shifted < 0 ? 0 : (shifted > 65535 ? 65535 : shifted));
}

}  // namespace

LinuxJoystick::LinuxJoystick(std::string path) : path_(std::move(path)) {}

LinuxJoystick::~LinuxJoystick() { close(); }

void LinuxJoystick::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    sample_ = {};
}

std::string LinuxJoystick::devicePath(int id) {
    const std::string name = "TAVIK_JOYSTICK_DEVICE" + std::to_string(id);
    if (const char* v = std::getenv(name.c_str()); v && *v) return v;
    return "/dev/input/js" + std::to_string(id);
}

std::optional<JoystickSample> LinuxJoystick::read() {
    if (fd_ < 0) {
        fd_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return std::nullopt;
        sample_ = {};
    }
    js_event events[64];
    int taken = 0;
    while (taken < kMaxEventsPerRead) {
        const ssize_t n = ::read(fd_, events, sizeof events);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
            close();  // ENODEV: unplugged
            return std::nullopt;
        }
        if (n == 0) {
            close();  // the writer of a FIFO went away
            return std::nullopt;
        }
        const std::size_t count = static_cast<std::size_t>(n) / sizeof(js_event);
        for (std::size_t i = 0; i < count; ++i) {
            const js_event& e = events[i];
            const uint8_t type = e.type & ~JS_EVENT_INIT;
            if (type == JS_EVENT_AXIS) {
                if (e.number == 0) sample_.x = axisValue(e.value);
                if (e.number == 1) sample_.y = axisValue(e.value);
            } else if (type == JS_EVENT_BUTTON && e.number < kJoystickButtons) {
                if (e.value)
                    sample_.buttons |= 1u << e.number;
                else
                    sample_.buttons &= ~(1u << e.number);
            }
        }
        taken += static_cast<int>(count);
        if (static_cast<std::size_t>(n) < sizeof events) break;
    }
    return sample_;
}

}  // namespace tavik::controller
