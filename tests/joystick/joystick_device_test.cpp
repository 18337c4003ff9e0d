// The joystick device side: js_event records read from a FIFO standing in for
// /dev/input/jsN (flood, bad button numbers, the device going away), and
// joystick input choosing, losing and finding its joystick again.
#include "controller/joystick/joystick_input.h"
#include "controller/joystick/linux_joystick.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <fcntl.h>
#include <filesystem>
#include <linux/input.h>
#include <linux/joystick.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace tavik::controller;

class Fifo {
public:
    Fifo() {
        path_ = (std::filesystem::temp_directory_path() / ("js_test_" + std::to_string(::getpid()))).string();
        ::unlink(path_.c_str());
        EXPECT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    }
    ~Fifo() {
        closeWriter();
        ::unlink(path_.c_str());
    }
    // Read-write: the FIFO has a writer from now on, whoever reads it.
    void openWriter() { writer_ = ::open(path_.c_str(), O_RDWR | O_NONBLOCK); }
    void closeWriter() {
        if (writer_ >= 0) ::close(writer_);
        writer_ = -1;
    }
    void send(uint8_t type, uint8_t number, int16_t value) {
        js_event e{0, value, type, number};
        ASSERT_EQ(::write(writer_, &e, sizeof e), static_cast<ssize_t>(sizeof e));
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int writer_ = -1;
};

TEST(LinuxJoystick, EventsBecomeSamples) {
    Fifo fifo;
    LinuxJoystick js(fifo.path());
    EXPECT_FALSE(js.read().has_value());  // nobody there yet
    fifo.openWriter();
    EXPECT_TRUE(js.read().has_value());  // plugged in, nothing pressed
    fifo.send(JS_EVENT_BUTTON | JS_EVENT_INIT, 0, 0);
    fifo.send(JS_EVENT_AXIS, 0, 32767);
    fifo.send(JS_EVENT_AXIS, 1, -32767);
    fifo.send(JS_EVENT_BUTTON, 2, 1);
    fifo.send(JS_EVENT_BUTTON, 9, 1);
    fifo.send(JS_EVENT_BUTTON, 10, 1);   // an eleventh button: ignored
    fifo.send(JS_EVENT_BUTTON, 255, 1);  // nonsense number: ignored
    fifo.send(JS_EVENT_AXIS, 7, 100);    // other axes: ignored
    auto s = js.read();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->x, 65535u);
    EXPECT_EQ(s->y, 1u);
    EXPECT_EQ(s->buttons, (1u << 2) | (1u << 9));
    fifo.send(JS_EVENT_BUTTON, 2, 0);
    s = js.read();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->buttons, 1u << 9);
    // The device goes: absent, and nothing it held is kept.
    fifo.closeWriter();
    EXPECT_FALSE(js.read());
    EXPECT_FALSE(js.isOpen());
}

TEST(LinuxJoystick, FloodIsTakenInBoundedSteps) {
    Fifo fifo;
    LinuxJoystick js(fifo.path());
    fifo.openWriter();
    js.read();
    // 1000 events (8000 bytes fit the pipe): one read takes at most 512.
    for (int i = 0; i < 1000; ++i) fifo.send(JS_EVENT_BUTTON, 1, i % 2 ? 0 : 1);
    fifo.send(JS_EVENT_BUTTON, 3, 1);
    auto s = js.read();
    ASSERT_TRUE(s);
    EXPECT_FALSE(s->buttons & (1u << 3));  // not reached yet
    s = js.read();
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->buttons & (1u << 3));
    EXPECT_FALSE(s->buttons & (1u << 1));
}

// A scripted source: each read takes the next sample; nullopt entries mean
// "unplugged".
class Script final : public JoystickSource {
public:
    explicit Script(std::deque<std::optional<JoystickSample>>* samples) : samples_(samples) {}
    std::optional<JoystickSample> read() override {
        if (samples_->empty()) return JoystickSample{};
        auto s = samples_->front();
        samples_->pop_front();
        return s;
    }

private:
    std::deque<std::optional<JoystickSample>>* samples_;
};

TEST(JoystickInput, ChoosesByChannelAndReleasesWhenUnplugged) {
    std::deque<std::optional<JoystickSample>> first{std::nullopt, std::nullopt};  // id 0: not there
    std::deque<std::optional<JoystickSample>> second;                             // id 1: there
    std::vector<uint32_t> keys, broadcasts;
    std::vector<int> opened;
    JoystickInput input([&](uint32_t e) { keys.push_back(e); }, [&](uint32_t e) { broadcasts.push_back(e); },
                        [&](int id) {
                            opened.push_back(id);
                            return std::make_unique<Script>(id == 0 ? &first : &second);
                        });
    JoystickSettings settings;
    settings.actions[8] = 9;  // button 9 "ShiftUp"
    settings.speed = 7;
    ASSERT_TRUE(input.start(settings));
    EXPECT_EQ(opened, (std::vector<int>{0, 1}));
    EXPECT_EQ(input.intervalMs(), 60);

    uint64_t now = 5000;
    second = {JoystickSample{0x7FFF, 0x7FFF, 1u << 8}, JoystickSample{0x7FFF, 0x7FFF, (1u << 8) | 1u},
              JoystickSample{0x7FFF, 0x7FFF, 1u << 8}, std::nullopt};
    input.tick(now += 60);
    ASSERT_EQ(broadcasts.size(), 1u);
    EXPECT_EQ(broadcasts[0] & 0xFF, 0x40u);
    input.tick(now += 60);
    input.tick(now += 60);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0], packEvent(4, 0x02, 0x40, 0));
    // Unplugged with the shift button held: released for every client.
    input.tick(now += 60);
    EXPECT_FALSE(input.present());
    ASSERT_EQ(broadcasts.size(), 2u);
    EXPECT_EQ(broadcasts[1] & 0xFF, 0u);
    input.tick(now += 60);  // plugged again, nothing pressed: nothing sent
    EXPECT_TRUE(input.present());
    EXPECT_EQ(keys.size(), 1u);
    EXPECT_EQ(broadcasts.size(), 2u);

    // Channel 1 waits for joystick 1 (id 0) even when it is absent.
    opened.clear();
    first = {std::nullopt};
    settings.channel = 1;
    EXPECT_FALSE(input.start(settings));
    EXPECT_TRUE(input.active());
    EXPECT_EQ(opened, (std::vector<int>{0, 0}));
    input.stop(now);
    EXPECT_FALSE(input.active());
}

TEST(JoystickAxes, StickAndHatBothSteer) {
    // The driver's codes: the stick's and the hat's axes, nothing else.
    EXPECT_EQ(axisRole(ABS_X), AxisRole::StickX);
    EXPECT_EQ(axisRole(ABS_Y), AxisRole::StickY);
    EXPECT_EQ(axisRole(ABS_HAT0X), AxisRole::HatX);
    EXPECT_EQ(axisRole(ABS_HAT0Y), AxisRole::HatY);
    for (uint8_t other : {uint8_t{ABS_Z}, uint8_t{ABS_RX}, uint8_t{ABS_HAT1X}, uint8_t{ABS_MISC}, uint8_t{255}})
        EXPECT_EQ(axisRole(other), AxisRole::None) << int(other);
    // Without the driver's map: the usual gamepad order, the hat on axes 6 and 7.
    EXPECT_EQ(defaultAxisCode(0), ABS_X);
    EXPECT_EQ(defaultAxisCode(1), ABS_Y);
    EXPECT_EQ(defaultAxisCode(2), ABS_Z);
    EXPECT_EQ(defaultAxisCode(6), ABS_HAT0X);
    EXPECT_EQ(defaultAxisCode(7), ABS_HAT0Y);
    EXPECT_EQ(axisRole(defaultAxisCode(8)), AxisRole::None);
    EXPECT_EQ(axisRole(defaultAxisCode(255)), AxisRole::None);
    // The one pushed farther wins; the stick on a tie.
    EXPECT_EQ(combineAxis(0x7FFF, 65535), 65535u);
    EXPECT_EQ(combineAxis(0x7FFF, 0), 0u);
    EXPECT_EQ(combineAxis(1, 0x7FFF), 1u);
    EXPECT_EQ(combineAxis(40000, 0), 0u);
    EXPECT_EQ(combineAxis(0x7FFF - 5, 0x7FFF + 5), 0x7FFFu - 5);
}

TEST(LinuxJoystick, TheHatMovesLikeTheStick) {
    Fifo fifo;
    LinuxJoystick js(fifo.path());
    fifo.openWriter();
    ASSERT_TRUE(js.read());
    fifo.send(JS_EVENT_AXIS, 6, -32767);  // D-pad left
    auto s = js.read();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->x, 1u);
    EXPECT_EQ(s->y, 0x7FFFu);
    fifo.send(JS_EVENT_AXIS, 6, 0);
    fifo.send(JS_EVENT_AXIS, 7, 32767);  // D-pad down
    s = js.read();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->y, 65535u);
    EXPECT_LT(s->x > 0x7FFF ? s->x - 0x7FFF : 0x7FFF - s->x, 2u);
}

TEST(LinuxJoystick, OneReaderAtATime) {
    // Two controllers, one joystick: the first to take it reads it; the
    // other sees none until the first lets go.
    Fifo fifo;
    fifo.openWriter();
    auto first = std::make_unique<LinuxJoystick>(fifo.path());
    LinuxJoystick second(fifo.path());
    ASSERT_TRUE(first->read());
    for (int i = 0; i < 2 * LinuxJoystick::kRetryReads; ++i) EXPECT_FALSE(second.read()) << i;
    first.reset();
    bool taken = false;
    for (int i = 0; i <= LinuxJoystick::kRetryReads && !taken; ++i) taken = second.read().has_value();
    EXPECT_TRUE(taken);
    // Events now reach the second reader alone.
    fifo.send(JS_EVENT_BUTTON, 4, 1);
    auto s = second.read();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->buttons, 1u << 4);
}

}  // namespace
