// padsim as a process: started on a pseudo-terminal, it answers
// identification on the port, shows a text frame in its state file, sends a
// key event on a control command and removes its link when it quits.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "frame.h"
#include "frame_parser.h"

extern char** environ;

namespace fs = std::filesystem;
namespace proto = tavik::proto;

namespace {

// Waits (up to a generous bound that only matters when padsim is broken) for `pred`.
template <class Pred>
bool eventually(Pred pred) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return pred();
}

std::string readFile(const fs::path& p) {
    std::ifstream f(p);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// Reads exactly n bytes from fd, waiting as in eventually().
std::vector<uint8_t> readBytes(int fd, size_t n) {
    std::vector<uint8_t> out;
    eventually([&] {
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

struct PadsimProcess {
    pid_t pid = -1;
    ~PadsimProcess() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

}  // namespace

TEST(PadsimProcess, ServesThePortAndReportsState) {
    const char* binDir = std::getenv("TAVIK_BIN_DIR");
    ASSERT_NE(binDir, nullptr);
    const fs::path exe = fs::path(binDir) / "padsim";
    ASSERT_TRUE(fs::exists(exe)) << exe;

    const fs::path dir = fs::temp_directory_path() / ("padsim-test-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path link = dir / "tty", state = dir / "state", log = dir / "log", ctl = dir / "ctl";

    std::vector<std::string> args = {exe.string(), "--quiet", "--link", link.string(), "--state", state.string(),
                                     "--log", log.string(), "--control", ctl.string(), "--model", "PX-Test",
                                     "--multilevel"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    PadsimProcess proc;
    ASSERT_EQ(posix_spawn(&proc.pid, exe.c_str(), &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);

    ASSERT_TRUE(eventually([&] { return fs::is_symlink(link) && fs::exists(state); }));
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
    EXPECT_TRUE(eventually([&] { return readFile(state).find("\nframes_received 2\n") != std::string::npos; }));
    const std::string s = readFile(state);
    EXPECT_NE(s.find("\ntext 11223344000000"), std::string::npos) << s;
    EXPECT_NE(s.find("\nmultilevel 1\n"), std::string::npos);

    // A key command on the control FIFO arrives as a key frame on the port.
    {
        std::ofstream c(ctl);
        c << "key 4 1 0\n";
    }
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
    const std::string l = readFile(log);
    EXPECT_NE(l.find("rx 91 param 0 len 4: text"), std::string::npos) << l;
    EXPECT_NE(l.find("tx key: ff ff e1"), std::string::npos) << l;

    {
        std::ofstream c(ctl);
        c << "quit\n";
    }
    int status = 0;
    ASSERT_EQ(::waitpid(proc.pid, &status, 0), proc.pid);
    proc.pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(fs::is_symlink(link));
    fs::remove_all(dir);
}
