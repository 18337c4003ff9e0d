// Reading /dev/input/jsN: struct js_event records, the stick's and the hat's
// axes mapped from -32767..32767 to 0..65535, buttons 0..9.
#include "controller/joystick/linux_joystick.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/input.h>
#include <linux/joystick.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tavik::controller {

namespace {

constexpr uint32_t kCentre = 0x7FFF;

uint32_t axisValue(int16_t v) {
    const int32_t shifted = int32_t{v} + 32768;  // -32768..32767 -> 0..65535
    return static_cast<uint32_t>(shifted < 0 ? 0 : (shifted > 65535 ? 65535 : shifted));
}

uint32_t distanceFromCentre(uint32_t v) { return v > kCentre ? v - kCentre : kCentre - v; }

}  // namespace

AxisRole axisRole(uint8_t absCode) {
    switch (absCode) {
        case ABS_X: return AxisRole::StickX;
        case ABS_Y: return AxisRole::StickY;
        case ABS_HAT0X: return AxisRole::HatX;
        case ABS_HAT0Y: return AxisRole::HatY;
        default: return AxisRole::None;
    }
}

uint8_t defaultAxisCode(uint8_t number) {
    static constexpr uint8_t kOrder[] = {ABS_X, ABS_Y, ABS_Z, ABS_RX, ABS_RY, ABS_RZ, ABS_HAT0X, ABS_HAT0Y};
    return number < sizeof kOrder ? kOrder[number] : ABS_MISC;
}

uint32_t combineAxis(uint32_t stick, uint32_t hat) {
    return distanceFromCentre(hat) > distanceFromCentre(stick) ? hat : stick;
}

LinuxJoystick::LinuxJoystick(std::string path) : path_(std::move(path)) {}

LinuxJoystick::~LinuxJoystick() { close(); }

void LinuxJoystick::close() {
    if (fd_ >= 0) ::close(fd_);  // lets go of the lock too
    fd_ = -1;
    sample_ = {};
    stickX_ = stickY_ = hatX_ = hatY_ = kCentre;
}

std::string LinuxJoystick::devicePath(int id) {
    const std::string name = "TAVIK_JOYSTICK_DEVICE" + std::to_string(id);
    if (const char* v = std::getenv(name.c_str()); v && *v) return v;
    return "/dev/input/js" + std::to_string(id);
}

bool LinuxJoystick::openAndLock() {
    if (retryIn_ > 0) {
        --retryIn_;
        return false;
    }
    const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Another controller reads this joystick; look again now and then.
        ::close(fd);
        retryIn_ = kRetryReads;
        return false;
    }
    fd_ = fd;
    sample_ = {};
    stickX_ = stickY_ = hatX_ = hatY_ = kCentre;
    // The driver's own axis map; a node without one (a FIFO in tests) has
    // the usual gamepad order.
    uint8_t axes = 0;
    std::array<uint8_t, ABS_CNT> map{};
    const bool mapped = ::ioctl(fd_, JSIOCGAXES, &axes) == 0 && ::ioctl(fd_, JSIOCGAXMAP, map.data()) >= 0;
    for (std::size_t i = 0; i < axisCodes_.size(); ++i)
        axisCodes_[i] = mapped ? (i < static_cast<std::size_t>(axes) && i < map.size() ? map[i] : uint8_t{ABS_MISC})
                               : defaultAxisCode(static_cast<uint8_t>(i));
    return true;
}

std::optional<JoystickSample> LinuxJoystick::read() {
    if (fd_ < 0 && !openAndLock()) return std::nullopt;
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
                const uint32_t v = axisValue(e.value);
                switch (axisRole(axisCodes_[e.number])) {
                    case AxisRole::StickX: stickX_ = v; break;
                    case AxisRole::StickY: stickY_ = v; break;
                    case AxisRole::HatX: hatX_ = v; break;
                    case AxisRole::HatY: hatY_ = v; break;
                    case AxisRole::None: break;
                }
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
    sample_.x = combineAxis(stickX_, hatX_);
    sample_.y = combineAxis(stickY_, hatY_);
    return sample_;
}

}  // namespace tavik::controller
