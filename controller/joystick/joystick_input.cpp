// Joystick input: device choice, ticks, and release when the device goes.
#include "controller/joystick/joystick_input.h"

namespace tavik::controller {

JoystickInput::JoystickInput(std::function<void(uint32_t)> sendKey, std::function<void(uint32_t)> sendAll,
                             std::function<std::unique_ptr<JoystickSource>(int id)> openSource)
    : sendKey_(std::move(sendKey)), sendAll_(std::move(sendAll)), openSource_(std::move(openSource)) {
    if (!openSource_)
        openSource_ = [](int id) { return std::make_unique<LinuxJoystick>(LinuxJoystick::devicePath(id)); };
}

bool JoystickInput::start(const JoystickSettings& settings) {
    if (active_) stop(0);
    poller_.setActions(settings.actions);
    poller_.reset();
    intervalMs_ = joystickIntervalMs(settings.speed);
    source_.reset();
    present_ = false;
    const int first = settings.channel == 2 ? 1 : 0;
    const int last = settings.channel == 1 ? 0 : 1;
    for (int id = first; id <= last && !present_; ++id) {
        auto source = openSource_(id);
        if (source && source->read()) {
            source_ = std::move(source);
            present_ = true;
        }
    }
    if (!source_) source_ = openSource_(first);
    active_ = source_ != nullptr;
    return present_;
}

void JoystickInput::stop(uint64_t nowMs) {
    if (!active_) return;
    send(poller_.deviceLost(nowMs));
    source_.reset();
    active_ = present_ = false;
}

void JoystickInput::send(const JoystickOutput& out) {
    if (out.keyEvent && sendKey_) sendKey_(*out.keyEvent);
    if (out.shiftBroadcast && sendAll_) sendAll_(*out.shiftBroadcast);
}

void JoystickInput::tick(uint64_t nowMs, bool dialogOpen) {
    lastFocus_ = -1;
    if (!active_ || !source_) return;
    const std::optional<JoystickSample> sample = source_->read();
    if (!sample) {
        if (present_) {
            // Unplugged: nothing stays pressed; the next plug starts afresh.
            send(poller_.deviceLost(nowMs));
            poller_.reset();
            present_ = false;
        }
        return;
    }
    present_ = true;
    const JoystickOutput out = poller_.poll(*sample, nowMs, dialogOpen);
    lastFocus_ = out.dialogFocus;
    send(out);
}

}  // namespace tavik::controller
