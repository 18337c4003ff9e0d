// A joystick read through the Linux joystick interface (/dev/input/jsN):
// events are drained without blocking into the current X, Y and ten buttons.
// X and Y come from the stick and from the hat (D-pad), whichever is pushed
// farther. The device may come and go; a vanished device reads as absent.
// One process at a time reads a joystick: the open node is locked (flock),
// and a joystick another process holds reads as absent until it lets go.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "controller/joystick/joystick_poll.h"

namespace tavik::controller {

// What an axis of the joystick interface stands for, from the input event
// code the driver reports for it (ABS_X, ABS_HAT0X, ...).
enum class AxisRole : uint8_t { None, StickX, StickY, HatX, HatY };
AxisRole axisRole(uint8_t absCode);
// The event code of axis `number` when the driver's axis map cannot be read
// (the usual gamepad order: X, Y, Z, RX, RY, RZ, HAT0X, HAT0Y).
uint8_t defaultAxisCode(uint8_t number);
// One direction of the sample from the stick's and the hat's values (both
// 0..65535): the one farther from the centre; the stick on a tie.
uint32_t combineAxis(uint32_t stick, uint32_t hat);

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
    // Reads between two tries to take a joystick another process holds.
    static constexpr int kRetryReads = 25;

    // The node of joystick id (0 or 1): $TAVIK_JOYSTICK_DEVICE<id> when set
    // (scripted tests), else /dev/input/js<id>.
    static std::string devicePath(int id);

private:
    void close();
    bool openAndLock();

    std::string path_;
    int fd_ = -1;
    int retryIn_ = 0;
    std::array<uint8_t, 256> axisCodes_{};
    uint32_t stickX_ = 0x7FFF, stickY_ = 0x7FFF, hatX_ = 0x7FFF, hatY_ = 0x7FFF;
    JoystickSample sample_{};
};

}  // namespace tavik::controller
