// End to end: the braille server on padsim's 64 x 48 model through the real
// controller and plug-in, spoken to by the real client library (Debian's
// Python binding) and by hand-made hostile clients on the same socket.
// Skipped when a program is not built or the Python binding is missing.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/brlapi/server_rig.h"

using namespace brlapi_test;

namespace {

// A client on the raw socket: packets in and out, every read bounded.
class RawClient {
public:
    explicit RawClient(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    // On a local socket.
    explicit RawClient(const std::string& path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        error_ = connected_ ? 0 : errno;
    }
    ~RawClient() { ::close(fd_); }
    int error() const { return error_; }
    bool connected() const { return connected_; }
    void sendBytes(const std::vector<uint8_t>& b) { (void)!::send(fd_, b.data(), b.size(), MSG_NOSIGNAL); }
    void send(uint32_t type, const std::vector<uint8_t>& body = {}) { sendBytes(brl::encodePacket(type, body)); }
    // The next packet; nullopt on end of stream or after the bound.
    std::optional<brl::Packet> next(int boundMs = 10000) {
        std::vector<brl::Packet> got;
        while (got.empty()) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, boundMs) <= 0) return std::nullopt;
            uint8_t buf[512];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) return std::nullopt;
            reader_.feed({buf, static_cast<size_t>(n)}, got);
            for (size_t i = 1; i < got.size(); ++i) extra_.push_back(got[i]);
        }
        if (!extra_.empty()) {
            extra_.push_back(got[0]);
            std::rotate(extra_.begin(), extra_.end() - 1, extra_.end());
            auto p = extra_.front();
            extra_.erase(extra_.begin());
            return p;
        }
        return got[0];
    }
    // True when the server closed the stream (within the bound).
    bool closed() {
        for (int i = 0; i < 100; ++i) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0) return false;
            uint8_t buf[512];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) return true;
        }
        return false;
    }
    // Version and key: ready for requests.
    bool handshake(const std::vector<uint8_t>& key) {
        auto v = next();
        if (!v || v->type != brl::pkt::kVersion) return false;
        send(brl::pkt::kVersion, v->body);
        auto a = next();
        if (!a || a->type != brl::pkt::kAuth) return false;
        std::vector<uint8_t> body;
        brl::putU32(body, brl::auth::kKey);
        body.insert(body.end(), key.begin(), key.end());
        send(brl::pkt::kAuth, body);
        auto ack = next();
        return ack && ack->type == brl::pkt::kAck;
    }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    bool connected_ = false;
    int error_ = 0;
    brl::PacketReader reader_;
    std::vector<brl::Packet> extra_;
};

uint32_t errorCode(const brl::Packet& p) {
    return p.body.size() >= 4 ? (uint32_t{p.body[0]} << 24 | uint32_t{p.body[1]} << 16 | uint32_t{p.body[2]} << 8 | p.body[3]) : ~0u;
}

std::vector<uint8_t> u32s(std::initializer_list<uint32_t> v) {
    std::vector<uint8_t> b;
    for (uint32_t x : v) brl::putU32(b, x);
    return b;
}

}  // namespace

TEST_F(BrailleServer, ScreenReaderReadsTheTextLineAndGetsTheKeys) {
    Child& a = client();
    ASSERT_EQ(a.call("open"), "open ok");
    EXPECT_EQ(a.call("size"), "size 32 1");
    EXPECT_EQ(a.call("driver"), "driver Tavik");
    EXPECT_EQ(a.call("param 28"), std::string("param '") + kTable + "'");
    ASSERT_EQ(a.call("tty"), "tty 0");

    // Text with a cursor: liblouis's cells, dots 7 and 8 under the cursor.
    ASSERT_EQ(a.call("write 3 Hello, World 42!"), "write ok");
    EXPECT_TRUE(lineShows(expectedLine(a, "Hello, World 42!", 3))) << pad_->value("text");
    // Dots are shown as sent.
    ASSERT_EQ(a.call("dots 01 03 ff"), "dots ok");
    std::vector<unsigned char> sent(32, 0);
    sent[0] = 0x80, sent[1] = 0xC0, sent[2] = 0xFF;
    EXPECT_TRUE(lineShows(hexOf(sent))) << pad_->value("text");

    // Panning keys and the routing key above cell 3 (0-based 2).
    ASSERT_TRUE(pad_->command("key 4 8 0"));
    EXPECT_EQ(a.call("key 10000"), "key 0x20000017");
    ASSERT_TRUE(pad_->command("key 4 4 0"));
    EXPECT_EQ(a.call("key 10000"), "key 0x20000018");
    ASSERT_TRUE(pad_->command("key 2 15 0"));
    EXPECT_EQ(a.call("key 10000"), "key 0x20010002");
    // An ignored key does not arrive; the one accepted again does.
    ASSERT_EQ(a.call("ignoreall"), "ignoreall ok");
    ASSERT_EQ(a.call("accept 0x20000018"), "accept ok");
    ASSERT_TRUE(pad_->command("key 4 8 0"));
    ASSERT_TRUE(pad_->command("key 4 4 0"));
    EXPECT_EQ(a.call("key 10000"), "key 0x20000018");

    // A client of higher priority takes the display and the keys, and gives
    // them back when it leaves.
    Child& b = client();
    ASSERT_EQ(b.call("open"), "open ok");
    ASSERT_EQ(b.call("tty"), "tty 0");
    ASSERT_EQ(b.call("prio 70"), "prio ok");
    ASSERT_EQ(b.call("write 0 urgent"), "write ok");
    EXPECT_TRUE(lineShows(expectedLine(b, "urgent", 0))) << pad_->value("text");
    ASSERT_TRUE(pad_->command("key 4 1 0"));
    EXPECT_EQ(b.call("key 10000"), "key 0x20000001");
    ASSERT_EQ(b.call("close"), "close ok");
    EXPECT_TRUE(lineShows(hexOf(sent))) << pad_->value("text");

    // Decrease and Increase together move the braille to the pin field: 21 x 9 cells of
    // 2 x 4 pins a cell, one pin apart; the text line is cleared.
    ASSERT_TRUE(pad_->command("key 4 144 0"));
    EXPECT_TRUE(lineShows(hexOf(std::vector<unsigned char>(32, 0))));
    EXPECT_TRUE(waitUntil([&] { return a.call("param 6") == "param [21, 9]"; })) << a.call("param 6");
    // The client's next write is drawn as cells on the pins.
    ASSERT_EQ(a.call("write 0 Pins"), "write ok");
    const auto want = louisPins(a, "Pins");
    EXPECT_TRUE(pad_->waitState([&](const std::string& s) { return Padsim::grid(s, "plane1") == want; }));
    // And back to the text line.
    ASSERT_TRUE(pad_->command("key 4 144 0"));
    EXPECT_TRUE(waitUntil([&] { return a.call("param 6") == "param [32, 1]"; }));
}

TEST_F(BrailleServer, HostileClientsGetErrorsAndNeverStopTheOthers) {
    const auto k = key();
    ASSERT_FALSE(k.empty());
    {  // A client of another protocol version.
        RawClient c(tcpPort());
        ASSERT_TRUE(c.connected());
        ASSERT_TRUE(c.next());
        c.send(brl::pkt::kVersion, u32s({7}));
        auto e = c.next();
        ASSERT_TRUE(e);
        EXPECT_EQ(e->type, brl::pkt::kError);
        EXPECT_EQ(errorCode(*e), 13u);
        EXPECT_TRUE(c.closed());
    }
    {  // The wrong key.
        RawClient c(tcpPort());
        EXPECT_FALSE(c.handshake({'n', 'o', 'p', 'e'}));
        EXPECT_TRUE(c.closed());
    }
    {  // An oversized packet.
        RawClient c(tcpPort());
        ASSERT_TRUE(c.handshake(k));
        c.sendBytes(u32s({1u << 20, brl::pkt::kWrite}));
        auto e = c.next();
        ASSERT_TRUE(e);
        EXPECT_EQ(errorCode(*e), 7u);
        EXPECT_TRUE(c.closed());
    }
    {  // A write past the display, modes not offered, an unknown packet.
        RawClient c(tcpPort());
        ASSERT_TRUE(c.handshake(k));
        c.send(brl::pkt::kEnterTtyMode, {0, 0, 0, 0, 0});
        ASSERT_EQ(c.next()->type, brl::pkt::kAck);
        c.send(brl::pkt::kWrite, u32s({brl::wf::kRegion, 30, 10}));
        auto e = c.next();
        ASSERT_TRUE(e);
        EXPECT_EQ(e->type, brl::pkt::kException);
        EXPECT_EQ(errorCode(*e), 6u);
        c.send(brl::pkt::kEnterRawMode, u32s({0xdeadbeef}));
        EXPECT_EQ(errorCode(*c.next()), 9u);
        c.send(brl::pkt::kSuspendDriver, u32s({0xdeadbeef}));
        EXPECT_EQ(errorCode(*c.next()), 9u);
        c.send('?');
        EXPECT_EQ(errorCode(*c.next()), 4u);
        // A packet cut short by the client going away.
        c.sendBytes({0, 0, 0, 40, 0, 0, 0, 'w', 1, 2});
    }
    // Sixty-four clients at once, one that never reads, and the screen reader
    // is still served.
    std::vector<std::unique_ptr<RawClient>> many;
    for (int i = 0; i < 64; ++i) {
        many.push_back(std::make_unique<RawClient>(tcpPort()));
        ASSERT_TRUE(many.back()->connected());
    }
    RawClient deaf(tcpPort());
    ASSERT_TRUE(deaf.handshake(k));
    std::vector<uint8_t> flood;
    for (int i = 0; i < 20000; ++i) {
        auto p = brl::encodePacket(brl::pkt::kGetDisplaySize, {});
        flood.insert(flood.end(), p.begin(), p.end());
    }
    for (int i = 0; i < 40; ++i) deaf.sendBytes(flood);
    Child& a = client();
    ASSERT_EQ(a.call("open"), "open ok");
    EXPECT_EQ(a.call("size"), "size 32 1");
    ASSERT_EQ(a.call("tty"), "tty 0");
    ASSERT_EQ(a.call("write 1 still here"), "write ok");
    EXPECT_TRUE(lineShows(expectedLine(a, "still here", 1)));
    for (auto& c : many) EXPECT_TRUE(c->next()) << "a waiting client got no greeting";
}

TEST_F(BrailleServer, LocalSocketAdmitsOnlyItsOwnUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "a second user needs root to become it";
    // A second server on a local socket in a folder every user may enter.
    const std::string folder = dir_ + "/sock";
    std::filesystem::create_directories(folder);
    ::chmod(dir_.c_str(), 0711);
    ::chmod(folder.c_str(), 01777);
    // Its own runtime folder: the one-server-a-user lock is the first server's.
    std::filesystem::create_directories(dir_ + "/run2");
    std::vector<std::string> env = env_;
    env.back() = "XDG_RUNTIME_DIR=" + dir_ + "/run2";
    Child local(binDir() + "/tavik-brlapi",
                {"--port", std::to_string(port_), "--host", ":0", "--socket-folder", folder, "--table", kTable}, env);
    ASSERT_TRUE(local.expect("listening :0"));
    const std::string path = folder + "/0";
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Its own user needs no key.
    RawClient own(path);
    ASSERT_TRUE(own.connected());
    auto v = own.next();
    ASSERT_TRUE(v);
    own.send(brl::pkt::kVersion, v->body);
    auto offer = own.next();
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->body, u32s({brl::auth::kNone}));
    own.send(brl::pkt::kGetDisplaySize);
    auto size = own.next();
    ASSERT_TRUE(size);
    EXPECT_EQ(size->body, u32s({32, 1}));

    // A second server finds :0 answered and takes the next number, and says
    // where clients must look.
    {
        std::filesystem::create_directories(dir_ + "/run3");
        std::vector<std::string> env3 = env_;
        env3.back() = "XDG_RUNTIME_DIR=" + dir_ + "/run3";
        Child next(binDir() + "/tavik-brlapi",
                   {"--port", std::to_string(port_), "--host", ":0", "--socket-folder", folder, "--table", kTable}, env3);
        EXPECT_TRUE(next.expect("listening :1"));
        EXPECT_EQ(readFile(dir_ + "/run3/tavik-brlapi.env"), "BRLAPI_HOST=:1\n");
    }

    // Another user cannot open the socket; with the socket opened up by hand,
    // the server still turns that user away.
    auto asNobody = [&] {
        return Child([path] {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 3;
            RawClient c(path);
            if (!c.connected()) return c.error() == EACCES ? 10 : 4;
            auto e = c.next();
            return e && e->type == brl::pkt::kError && errorCode(*e) == 17 && c.closed() ? 20 : 5;
        });
    };
    {
        Child other = asNobody();
        EXPECT_EQ(other.waitExit(), 10);
    }
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    {
        Child other = asNobody();
        EXPECT_EQ(other.waitExit(), 20);
    }
}
