// The simulator in this process on a socket pair instead of a pseudo-terminal:
// it answers on the port and ends when the other side closes it, stop() ends
// it in the middle of a script's long pause, and a port nobody reads holds a
// bounded amount of output, every byte of which still arrives.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <future>
#include <string>
#include <vector>

#include "frame.h"
#include "simulator.h"
#include "state_file.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

using namespace tavik::test;

namespace {

// A simulator on one end of a socket pair, run on a thread of its own.
class Rig {
public:
    Rig(const TempDir& dir, const std::string& script) : state_(dir / "state"), log_(dir / "log") {
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_), 0);
        padsim::Options opt;
        opt.fdIn = opt.fdOut = fds_[0];
        opt.quiet = true;
        opt.stateFile = state_;
        opt.logFile = log_;
        if (!script.empty()) {
            opt.script = dir / "script";
            writeFile(opt.script, script);
        }
        sim_ = std::make_unique<padsim::Simulator>(std::move(opt));
        result_ = std::async(std::launch::async, [this] { return sim_->run(); });
    }
    ~Rig() {
        if (fds_[1] >= 0) ::close(fds_[1]);  // ends run() if nothing else did
        if (result_.valid()) result_.wait();
        ::close(fds_[0]);
    }
    int host() const { return fds_[1]; }
    void closeHost() {
        ::close(fds_[1]);
        fds_[1] = -1;
    }
    padsim::Simulator& sim() { return *sim_; }
    // run()'s result once it returned within the bound; nullopt while it still runs.
    std::optional<int> ended() {
        if (result_.wait_for(kWait) != std::future_status::ready) return std::nullopt;
        return result_.get();
    }
    std::string value(const std::string& key) const { return padsim::StateReader(readFile(state_)).value(key); }
    std::string log() const { return readFile(log_); }

private:
    int fds_[2] = {-1, -1};
    std::string state_, log_;
    std::unique_ptr<padsim::Simulator> sim_;
    std::future<int> result_;
};

// Reads what is there now, without waiting.
std::vector<uint8_t> drain(int fd) {
    std::vector<uint8_t> all;
    uint8_t buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0) return all;
        all.insert(all.end(), buf, buf + n);
    }
}

}  // namespace

TEST(PadsimSimulator, AnswersOnTheDescriptorsAndEndsWhenTheOtherSideCloses) {
    const TempDir dir("padsim-sim");
    Rig rig(dir, "");
    const auto ident = tavik::proto::frameHeader(0x10, 0, 0);
    ASSERT_EQ(::write(rig.host(), ident.data(), ident.size()), static_cast<ssize_t>(ident.size()));
    std::vector<uint8_t> reply;
    ASSERT_TRUE(waitUntil([&] {
        const auto more = drain(rig.host());
        reply.insert(reply.end(), more.begin(), more.end());
        return reply.size() >= 32;
    }));
    EXPECT_EQ(reply.size(), 32u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data() + 8)), "PX-64");
    rig.closeHost();
    EXPECT_EQ(rig.ended(), 0);
    EXPECT_EQ(rig.value("identifications"), "1");
    EXPECT_NE(rig.log().find("port closed by the other side"), std::string::npos) << rig.log();
}

TEST(PadsimSimulator, StopEndsItDuringAScriptsLongPause) {
    const TempDir dir("padsim-sim");
    Rig rig(dir, "log before\nwait 600000\nkey 4 1 0\n");
    ASSERT_TRUE(waitUntil([&] { return rig.log().find("log before") != std::string::npos; }));
    rig.sim().stop();
    EXPECT_EQ(rig.ended(), 0) << "stop() did not end run()";
    EXPECT_TRUE(drain(rig.host()).empty()) << "the key after the pause was sent";
}

TEST(PadsimSimulator, APortNobodyReadsHoldsABoundedOutputThatArrivesWhole) {
    const TempDir dir("padsim-sim");
    constexpr int kKeys = 120000;  // 1.2 MB of key frames, more than padsim keeps for a port
    std::string script;
    for (int i = 0; i < kKeys; ++i) script += "key 4 1 0\n";
    Rig rig(dir, script);
    ASSERT_TRUE(waitUntil([&] { return rig.value("commands") == std::to_string(kKeys); }));
    const long sent = std::stol(rig.value("frames_sent"));
    EXPECT_LT(sent, kKeys);
    EXPECT_LE(sent * 10, 1 << 20);
    EXPECT_NE(rig.log().find("nobody reads the port: key dropped"), std::string::npos);
    // Every frame counted as sent arrives, whole and in order.
    std::vector<uint8_t> got;
    ASSERT_TRUE(waitUntil([&] {
        const auto more = drain(rig.host());
        got.insert(got.end(), more.begin(), more.end());
        return got.size() >= static_cast<size_t>(sent) * 10;
    }));
    EXPECT_EQ(got.size(), static_cast<size_t>(sent) * 10);
    const uint8_t payload[] = {4, 1, 0, 0};
    const std::vector<uint8_t> key = padsim::DeviceModel::frame(0xE1, 0, payload);
    ASSERT_EQ(key.size(), 10u);
    for (size_t at = 0; at + 10 <= got.size(); at += 10)
        ASSERT_TRUE(std::equal(key.begin(), key.end(), got.begin() + static_cast<std::ptrdiff_t>(at))) << at;
}
