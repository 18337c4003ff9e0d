// A joystick read through the Linux joystick interface (/dev/input/jsN):
// events are drained without blocking into the current X, Y and ten buttons.
// The device may come and go; a vanished device reads as absent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "controller/joystick/joystick_poll.h"

namespace tavik::controller {

// Where joystick samples come from (the device, or a script in tests).
class JoystickSource {
public:
    virtual ~JoystickSource() = default;
    // The current reading, or nullopt when the joystick is not there (never
    // opened, unplugged, read error). Never blocks.
    virtual std::optional<JoystickSample> read() = 0;
};

class LinuxJoystick final : public JoystickSource {
public:
    // `path`: the device node, e.g. "/dev/input/js0" (or a FIFO carrying the
    // same 8-byte events).
    explicit LinuxJoystick(std::string path);
    ~LinuxJoystick() override;
    LinuxJoystick(const LinuxJoystick&) = delete;
    LinuxJoystick& operator=(const LinuxJoystick&) = delete;

    // Opens the device if it is closed (at most one try per call), then takes
    // at most kMaxEventsPerRead pending events: a flood cannot hold the caller.
    std::optional<JoystickSample> read() override;
    bool isOpen() const { return fd_ >= 0; }

    static constexpr int kMaxEventsPerRead = 512;

    // The node of joystick id (0 or 1): $TAVIK_JOYSTICK_DEVICE<id> when set
    // (scripted tests), else /dev/input/js<id>.
    static std::string devicePath(int id);

private:
    void close();

    std::string path_;
    int fd_ = -1;
    JoystickSample sample_{};
};

}  // namespace tavik::controller
