// padsim as a process: started on a pseudo-terminal, it answers
// identification on the port, shows a text frame in its state file, sends a
// key event on a control command and removes its link when it quits.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "frame.h"
#include "frame_parser.h"
#include "tests/support/padsim.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
namespace proto = tavik::proto;
using namespace tavik::test;

namespace {

// Reads exactly n bytes from fd, waiting up to the bound.
std::vector<uint8_t> readBytes(int fd, size_t n) {
    std::vector<uint8_t> out;
    waitUntil([&] {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
            uint8_t buf[256];
            const ssize_t k = ::read(fd, buf, std::min(sizeof buf, n - out.size()));
            if (k > 0) out.insert(out.end(), buf, buf + k);
        }
        return out.size() >= n;
    });
    return out;
}

void writeAll(int fd, const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

}  // namespace

TEST(PadsimProcess, ServesThePortAndReportsState) {
    const TempDir dir("padsim-process");
    Padsim proc(dir.path(), {"--model", "PX-Test", "--multilevel"});
    ASSERT_TRUE(proc.started());
    const std::string link = proc.link();

    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);

    // Identification: 32 bare bytes with the name and the multi-level flag.
    const auto ident = proto::frameHeader(0x10, 0, 0);
    writeAll(fd, {ident.begin(), ident.end()});
    const auto reply = readBytes(fd, 32);
    ASSERT_EQ(reply.size(), 32u);
    EXPECT_EQ(reply[2], 2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data() + 8)), "PX-Test");

    // A text frame shows up in the state file.
    std::vector<uint8_t> text = {0xFF, 0xFF, 0x91, 0, 4, 0, 0x11, 0x22, 0x33, 0x44};
    writeAll(fd, text);
    EXPECT_TRUE(proc.waitState("frames_received", "2"));
    EXPECT_EQ(proc.value("text").substr(0, 14), "11223344000000") << proc.state();
    EXPECT_EQ(proc.value("multilevel"), "1");

    // A key command on the control FIFO arrives as a key frame on the port.
    ASSERT_TRUE(proc.command("key 4 1 0"));
    const auto keyBytes = readBytes(fd, 10);
    struct Sink : proto::ParserSink {
        std::vector<uint8_t> cmds, payload;
        void onFrame(const proto::ParsedFrame& f) override {
            cmds.push_back(f.command);
            payload.assign(f.payload.begin(), f.payload.end());
        }
        void onStray(std::span<const uint8_t>) override {}
    } sink;
    auto parser = std::make_unique<proto::FrameParser>(sink);
    parser->feed(keyBytes, 0);
    ASSERT_EQ(sink.cmds, (std::vector<uint8_t>{0xE1}));
    EXPECT_EQ(sink.payload, (std::vector<uint8_t>{4, 1, 0, 0}));

    // Closing and reopening the port keeps padsim serving it.
    ::close(fd);
    const int fd2 = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd2, 0);
    ::tcsetattr(fd2, TCSANOW, &t);
    writeAll(fd2, {ident.begin(), ident.end()});
    EXPECT_EQ(readBytes(fd2, 32).size(), 32u);
    ::close(fd2);

    // The log has one line per frame.
    const std::string l = proc.log();
    EXPECT_NE(l.find("rx 91 param 0 len 4: text"), std::string::npos) << l;
    EXPECT_NE(l.find("tx key: ff ff e1"), std::string::npos) << l;

    ASSERT_TRUE(proc.command("quit"));
    EXPECT_EQ(proc.waitExit(), 0);
    EXPECT_FALSE(fs::is_symlink(link));
}
