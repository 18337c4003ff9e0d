// The joystick poll rules: directions, half-rate repeat, button chords and
// shift broadcasts; the joystick settings.
#include "controller/joystick/joystick_poll.h"

#include <cstdio>

#include "common/ini_store.h"
#include "common/settings.h"

namespace tavik::controller {

const std::array<JoystickAction, kJoystickActionCount> kJoystickActions{{
    {0, 0, 0},        // None
    {4, 0x01, 0},     // Up
    {4, 0x02, 0},     // Down
    {4, 0x08, 0},     // Left
    {4, 0x04, 0},     // Right
    {4, 0x20, 0},     // Home
    {4, 0x40, 0},     // End
    {4, 0x80, 0},     // Increase
    {4, 0x10, 0},     // Decrease
    {0, 0, 0x40},     // ShiftUp
    {0, 0, 0x20},     // ShiftCenter
    {0, 0, 0x80},     // ShiftDown
    {0, 0, 0x10},     // ShiftMulti
}};

namespace {

constexpr std::array<int, 8> kIntervals{10, 15, 20, 25, 30, 40, 50, 60};
constexpr uint32_t kCentre = 0x7FFF;
constexpr uint32_t kLowEdge = 0x5FFF;
constexpr uint32_t kHighEdge = 40958;
// Below this squared deflection a held stick repeats at half rate.
constexpr int64_t kFullDeflection = 858941028;
constexpr uint32_t kButtonMask = (1u << kJoystickButtons) - 1;

uint8_t directionBits(uint32_t x, uint32_t y) {
    uint8_t bits = 0;
    if (x <= kLowEdge) bits |= 0x10;
    if (x >= kHighEdge) bits |= 0x02;
    if (y <= kLowEdge) bits |= 0x08;
    if (y >= kHighEdge) bits |= 0x04;
    return bits;
}

int validAction(int action) { return action >= 0 && action < kJoystickActionCount ? action : 0; }

}  // namespace

JoystickSettings readJoystickSettings(const std::string& ini) {
    JoystickSettings s;
    s.use = profileGetInt("Joystick", "UseJoystick", 1, ini) == 1;
    const int32_t channel = profileGetInt("Joystick", "Channel", 0, ini);
    s.channel = channel >= 0 && channel <= 2 ? channel : 0;
    const int32_t speed = profileGetInt("Joystick", "Speed", 2, ini);
    s.speed = speed >= 0 && speed < static_cast<int32_t>(kIntervals.size()) ? speed : 2;
    const JoystickSettings defaults;
    for (int b = 0; b < kJoystickButtons; ++b) {
        char key[32];
        std::snprintf(key, sizeof key, "JoystickButton%d", b + 1);
        const int32_t a = profileGetInt("Joystick", key, defaults.actions[b], ini);
        s.actions[b] = a >= 0 && a < kJoystickActionCount ? a : defaults.actions[b];
    }
    return s;
}

void writeJoystickSettings(const JoystickSettings& s, const std::string& ini) {
    WriteProfileInt("Joystick", "UseJoystick", s.use ? 1 : 0, ini);
    WriteProfileInt("Joystick", "Channel", s.channel, ini);
    WriteProfileInt("Joystick", "Speed", s.speed, ini);
    for (int b = 0; b < kJoystickButtons; ++b) {
        char key[32];
        std::snprintf(key, sizeof key, "JoystickButton%d", b + 1);
        WriteProfileInt("Joystick", key, validAction(s.actions[b]), ini);
    }
}

int joystickIntervalMs(int speed) {
    return speed >= 0 && speed < static_cast<int>(kIntervals.size()) ? kIntervals[speed] : 20;
}

JoystickPoller::JoystickPoller(const std::array<int, kJoystickButtons>& actions) { setActions(actions); }

void JoystickPoller::setActions(const std::array<int, kJoystickButtons>& actions) {
    for (int b = 0; b < kJoystickButtons; ++b) actions_[b] = validAction(actions[b]);
}

void JoystickPoller::reset() {
    state_.fill(Idle);
    shift_ = 0;
    shiftSince_ = 0;
    shiftChanged_ = blocked_ = keyPressed_ = halfRate_ = false;
}

void JoystickPoller::setShift(uint8_t bits, uint64_t nowMs) {
    if (bits == shift_) return;
    if (shift_ == 0) shiftSince_ = nowMs;
    shift_ = bits;
    shiftChanged_ = true;
}

uint32_t JoystickPoller::broadcast(uint64_t nowMs, uint8_t keyCode) const {
    const uint64_t elapsed = nowMs >= shiftSince_ ? (nowMs - shiftSince_) / 10 : 0;
    const uint16_t units = elapsed > 6000 ? 6000 : static_cast<uint16_t>(elapsed);
    return packEvent(shift_, static_cast<uint8_t>(units & 0xFF), static_cast<uint8_t>(units >> 8), keyCode);
}

bool JoystickPoller::chords(uint32_t buttons, uint64_t nowMs, uint8_t& keyCode, uint8_t& keyBits,
                            uint8_t& shiftBits) {
    int pressedKeys = 0, pressedShifts = 0;
    uint8_t pressedShiftBits = 0;
    bool anyAssignedPressed = false;
    for (int b = 0; b < kJoystickButtons; ++b) {
        const bool down = buttons & (1u << b);
        if (down && state_[b] != Pressed)
            state_[b] = Pressed;
        else if (!down && state_[b] == Pressed)
            state_[b] = Released;
        if (!down) continue;
        const int a = actions_[b];
        if (a != 0) anyAssignedPressed = true;
        if (isKeyAction(a)) {
            ++pressedKeys;
            keyPressed_ = true;
        } else if (isShiftAction(a)) {
            ++pressedShifts;
            pressedShiftBits |= kJoystickActions[a].shiftBits;
        }
    }
    setShift(pressedShiftBits, nowMs);

    if (blocked_) {
        if (anyAssignedPressed) return false;
        blocked_ = false;
        state_.fill(Idle);
        return true;
    }
    if (pressedKeys > 0) return true;  // a chord ends when its last key button is up

    int pendingKeys = 0, pendingShifts = 0;
    for (int b = 0; b < kJoystickButtons; ++b) {
        if (state_[b] == Idle) continue;
        if (isKeyAction(actions_[b])) ++pendingKeys;
        if (isShiftAction(actions_[b])) ++pendingShifts;
    }
    if (pendingKeys == 0 && (!keyPressed_ || pendingShifts == 0 || pressedShifts != 0)) return true;

    keyPressed_ = false;
    for (int b = 0; b < kJoystickButtons; ++b) {
        if (state_[b] == Idle) continue;
        const int a = actions_[b];
        if (isKeyAction(a)) {
            keyCode = 4;
            keyBits |= kJoystickActions[a].keyBits;
            state_[b] = Idle;
        } else if (isShiftAction(a)) {
            shiftBits |= kJoystickActions[a].shiftBits;
            if (state_[b] == Released || pendingKeys == 0) state_[b] = Idle;
        } else {
            state_[b] = Idle;
        }
    }
    return true;
}

JoystickOutput JoystickPoller::poll(const JoystickSample& sample, uint64_t nowMs, bool dialogOpen) {
    JoystickOutput out;
    const uint32_t x = sample.x > 0xFFFF ? 0xFFFF : sample.x;
    const uint32_t y = sample.y > 0xFFFF ? 0xFFFF : sample.y;
    const uint32_t buttons = sample.buttons & kButtonMask;
    const uint8_t direction = directionBits(x, y);
    const int64_t dx = static_cast<int64_t>(x) - kCentre;
    const int64_t dy = static_cast<int64_t>(y) - kCentre;

    uint8_t keyCode = 0, keyBits = 0, shiftBits = 0;
    if (direction != 0) {
        if (dialogOpen) {
            out.dialogFocus = 0;
            return out;
        }
        const bool wasSet = halfRate_;
        halfRate_ = !halfRate_;
        if (dx * dx + dy * dy < kFullDeflection && wasSet) return out;
        keyCode = 5;
        keyBits = direction;
    }
    if (dialogOpen && buttons != 0) {
        for (int b = 0; b < kJoystickButtons; ++b)
            if (buttons & (1u << b)) {
                out.dialogFocus = b + 1;
                break;
            }
        return out;
    }
    if (direction != 0) {
        keyPressed_ = false;
        for (int b = 0; b < kJoystickButtons; ++b) {
            if (!(buttons & (1u << b))) continue;
            const int a = actions_[b];
            if (isKeyAction(a)) return out;  // a key button with the stick cancels the tick
            if (isShiftAction(a)) shiftBits |= kJoystickActions[a].shiftBits;
        }
    } else if (!chords(buttons, nowMs, keyCode, keyBits, shiftBits)) {
        return out;
    }
    if (keyCode != 0 || shiftBits != 0) out.keyEvent = packEvent(keyCode, keyBits, shiftBits, 0);
    if (shiftChanged_) {
        shiftChanged_ = false;
        out.shiftBroadcast = broadcast(nowMs, out.keyEvent ? keyCode : 0);
    }
    return out;
}

JoystickOutput JoystickPoller::deviceLost(uint64_t nowMs) {
    JoystickOutput out;
    state_.fill(Idle);
    keyPressed_ = blocked_ = halfRate_ = false;
    if (shift_ != 0) {
        shift_ = 0;
        out.shiftBroadcast = broadcast(nowMs, 0);
    }
    shiftChanged_ = false;
    return out;
}

}  // namespace tavik::controller
