// End to end: a scripted joystick (a FIFO of js_event records) and a
// scripted pen (report lines for the pen SDK stand-in) reach a client's
// callbacks through the real controller, plug-in and padsim. The controller
// runs with its window on Qt's offscreen platform, in the Japanese interface
// (pen input is offered there only), and without any display.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <linux/joystick.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/padsim.h"
#include "tests/support/processes.h"
#include "tests/support/suite_env.h"
#include "tests/support/temp_dir.h"

using namespace tavik::test;

namespace {

class WriteEnd {
public:
    explicit WriteEnd(const std::string& fifo) {
        EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        fd_ = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);  // a writer from now on (not the children)
    }
    ~WriteEnd() { close(); }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    void write(const void* data, std::size_t size) { ASSERT_EQ(::write(fd_, data, size), static_cast<ssize_t>(size)); }
    void line(const std::string& text) { write((text + "\n").data(), text.size() + 1); }
    void js(uint8_t type, uint8_t number, int16_t value) {
        js_event e{0, value, type, number};
        write(&e, sizeof e);
    }

private:
    int fd_ = -1;
};

TEST(InputEndToEnd, JoystickAndPenReachTheClientInFront) {
    const std::string bin = binDir();
    for (const char* f : {"TAVIK", "Padrik.so", "padsim", "SkrivoNoteSDK.so"})
        if (!std::filesystem::exists(bin + "/" + f)) GTEST_SKIP() << f << " not built";
    const TempDir tmp("input-e2e");
    const std::string dir = tmp.path();
    const int port = 10 + ::getpid() % 50;
    Padsim pad(dir);
    writePortMap(dir, port, pad.link(), "[Joystick]\nJoystickButton9=9\n[Skrivo]\nUseSkrivo=1\n");
    WriteEnd joystick(dir + "/js0");
    WriteEnd pen(dir + "/pen");
    const auto env = suiteEnv(dir, {"TAVIK_JOYSTICK_DEVICE0=" + dir + "/js0", "SKRIVO_SCRIPT=" + dir + "/pen",
                                    "QT_QPA_PLATFORM=offscreen", "LC_ALL=ja_JP.UTF-8", "DISPLAY="});
    Child client(testsDir() + "/input_client", {std::to_string(port)}, env);
    writeFile(dir + "/fg", std::to_string(client.pid()) + "\n");
    ASSERT_TRUE(client.expect("ready"));

    // The stick held fully right repeats direction events (code 5, bit 0x02).
    joystick.js(JS_EVENT_AXIS, 0, 32767);
    auto key = client.expect("key ");
    ASSERT_TRUE(key);
    EXPECT_EQ(*key, "key 5 2 0");
    joystick.js(JS_EVENT_AXIS, 0, 0);

    // The pen: touch, move onto dot (0, 0), drag to (1, 1), lift.
    pen.line("1 0 0");
    pen.line("3 1540 700");
    auto event = client.expect("pen ");
    ASSERT_TRUE(event);
    EXPECT_EQ(*event, "pen 1 0 0 128");
    pen.line("3 1585 745");
    pen.line("2 0 0");
    event = client.expect("pen ");
    ASSERT_TRUE(event);
    EXPECT_EQ(*event, "pen 2 1 1 128");
    event = client.expect("pen ");
    ASSERT_TRUE(event);
    EXPECT_EQ(*event, "pen 3 1 1 0");
    // A report the SDK cannot parse is dropped, the next one still counts.
    pen.line("3 nonsense");
    pen.line("3 1630 700");
    event = client.expect("pen ");
    ASSERT_TRUE(event);
    EXPECT_EQ(*event, "pen 0 2 0 0");

    // Button 9 is "ShiftUp": its shift bits go to every client; when the
    // joystick is unplugged while it is held, they are released.
    joystick.js(JS_EVENT_BUTTON, 8, 1);
    auto shift = client.expect("broadcast ");
    ASSERT_TRUE(shift);
    EXPECT_EQ(shift->rfind("broadcast 64 ", 0), 0u) << *shift;
    joystick.close();
    shift = client.expect("broadcast ");
    ASSERT_TRUE(shift);
    EXPECT_EQ(shift->rfind("broadcast 0 ", 0), 0u) << *shift;

    client.send("quit");
    EXPECT_TRUE(client.waitExit());
    EXPECT_TRUE(waitUntil([&] { return controllerPids(bin + "/TAVIK", port).empty(); }));
}

TEST(InputEndToEnd, JoystickWorksWithoutAWindow) {
    // No display at all: the controller runs headless and still reads the
    // joystick (as it does after a restart without its window).
    const std::string bin = binDir();
    for (const char* f : {"TAVIK", "Padrik.so", "padsim"})
        if (!std::filesystem::exists(bin + "/" + f)) GTEST_SKIP() << f << " not built";
    const TempDir tmp("input-headless");
    const std::string dir = tmp.path();
    const int port = 10 + ::getpid() % 50;
    Padsim pad(dir);
    writePortMap(dir, port, pad.link());
    WriteEnd joystick(dir + "/js0");
    const auto env = suiteEnv(dir, {"TAVIK_JOYSTICK_DEVICE0=" + dir + "/js0", "QT_QPA_PLATFORM=", "DISPLAY=",
                                    "WAYLAND_DISPLAY=", "LC_ALL=C"});
    Child client(testsDir() + "/input_client", {std::to_string(port)}, env);
    writeFile(dir + "/fg", std::to_string(client.pid()) + "\n");
    ASSERT_TRUE(client.expect("ready"));

    // The hat (D-pad, axis 6 on a gamepad) steers like the stick: left.
    joystick.js(JS_EVENT_AXIS, 6, -32767);
    auto key = client.expect("key ");
    ASSERT_TRUE(key);
    EXPECT_EQ(*key, "key 5 16 0");
    joystick.js(JS_EVENT_AXIS, 6, 0);

    client.send("quit");
    EXPECT_TRUE(client.waitExit());
    EXPECT_TRUE(waitUntil([&] { return controllerPids(bin + "/TAVIK", port).empty(); }));
}

}  // namespace
