// The joystick's poll logic as a function of samples: stick directions become
// key events (code 5), button chords become key events (code 4) with the
// shift bits of shift buttons, and changes of the shift bits become
// broadcasts to every client. No device and no clock of its own: the caller
// passes each sample with the time it was taken.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tavik::controller {

constexpr int kJoystickButtons = 10;
constexpr int kJoystickActionCount = 13;  // 0 "None", 1..8 key actions, 9..12 shift actions

struct JoystickAction {
    uint8_t keyCode;
    uint8_t keyBits;
    uint8_t shiftBits;
};
extern const std::array<JoystickAction, kJoystickActionCount> kJoystickActions;
inline bool isKeyAction(int action) { return action >= 1 && action <= 8; }
inline bool isShiftAction(int action) { return action >= 9 && action <= 12; }

// Settings of section "Joystick"; out-of-range stored values read as defaults.
struct JoystickSettings {
    bool use = true;
    int channel = 0;  // 0 automatic, 1 the first joystick, 2 the second
    int speed = 2;    // index into the poll intervals
    std::array<int, kJoystickButtons> actions{2, 4, 3, 1, 5, 6, 7, 8, 0, 0};
};
JoystickSettings readJoystickSettings(const std::string& iniPath);
void writeJoystickSettings(const JoystickSettings& settings, const std::string& iniPath);
// 10, 15, 20, 25, 30, 40, 50 or 60 ms for speed 0..7 (20 for anything else).
int joystickIntervalMs(int speed);

// One reading: X and Y in 0..65535 (centre 0x7FFF), bit k of `buttons` is
// button k + 1 (bits above the tenth are ignored).
struct JoystickSample {
    uint32_t x = 0x7FFF;
    uint32_t y = 0x7FFF;
    uint32_t buttons = 0;
};

// Four event bytes, byte 0 lowest: the value posted with the notification.
inline uint32_t packEvent(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    return b0 | (uint32_t{b1} << 8) | (uint32_t{b2} << 16) | (uint32_t{b3} << 24);
}

struct JoystickOutput {
    std::optional<uint32_t> keyEvent;        // notify code 4 to the client in front
    std::optional<uint32_t> shiftBroadcast;  // notify code 5 to every client
    // While the joystick dialog is open, where the focus should go instead:
    // -1 none, 0 the speed list, 1..10 the action list of that button.
    int dialogFocus = -1;
};

class JoystickPoller {
public:
    explicit JoystickPoller(const std::array<int, kJoystickButtons>& actions = JoystickSettings{}.actions);

    // Back to the start state (joystick started); keeps the actions.
    void reset();
    void setActions(const std::array<int, kJoystickButtons>& actions);

    // One tick. `nowMs` is a monotonic time in milliseconds.
    JoystickOutput poll(const JoystickSample& sample, uint64_t nowMs, bool dialogOpen = false);

    // The device went away: every button counts as released without sending
    // a key, and shift bits that were set are broadcast as 0.
    JoystickOutput deviceLost(uint64_t nowMs);

    uint8_t shiftBits() const { return shift_; }

private:
    enum ButtonState : uint8_t { Idle = 0, Pressed = 1, Released = 2 };
    // Button chords without a direction; false ends the tick.
    bool chords(uint32_t buttons, uint64_t nowMs, uint8_t& keyCode, uint8_t& keyBits, uint8_t& shiftBits);
    void setShift(uint8_t bits, uint64_t nowMs);
    uint32_t broadcast(uint64_t nowMs, uint8_t keyCode) const;

    std::array<int, kJoystickButtons> actions_{};
    std::array<ButtonState, kJoystickButtons> state_{};
    uint8_t shift_ = 0;
    uint64_t shiftSince_ = 0;
    bool shiftChanged_ = false;
    bool blocked_ = false;
    bool keyPressed_ = false;
    bool halfRate_ = false;
};

}  // namespace tavik::controller
