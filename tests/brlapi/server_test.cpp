// The server loop with a stand-in display on a local socket of the test's own:
// a model without a text line gets its braille as cells on the pins (and says
// so in the display size), a client that sends dots sees them as sent, and a
// routing key reaches the client in tty mode.
#include <gtest/gtest.h>

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "brlapi/server.h"

using namespace tavik::brl;

namespace {

class FakeDisplay final : public Display {
public:
    FakeDisplay() : wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) { eq_ = {"PX-48", 0, 48, 32}; }
    const Equipment& equipment() const override { return eq_; }
    int keyFd() const override { return wake_.get(); }
    std::vector<DeviceKey> takeKeys() override {
        uint64_t n = 0;
        (void)!::read(wake_.get(), &n, sizeof n);
        return std::exchange(keys_, {});
    }
    bool showText(std::span<const uint8_t> cells) override {
        texts.emplace_back(cells.begin(), cells.end());
        return true;
    }
    bool showPins(std::span<const uint8_t> plane) override {
        pins.emplace_back(plane.begin(), plane.end());
        return true;
    }
    void claim(Destination where) override { claims.push_back(where); }
    std::vector<Destination> claims;
    void press(DeviceKey k) {
        keys_.push_back(k);
        const uint64_t one = 1;
        (void)!::write(wake_.get(), &one, sizeof one);
    }
    std::vector<std::vector<uint8_t>> texts, pins;

private:
    Equipment eq_;
    Fd wake_;
    std::vector<DeviceKey> keys_;
};

std::vector<uint8_t> u32s(std::initializer_list<uint32_t> v) {
    std::vector<uint8_t> b;
    for (uint32_t x : v) putU32(b, x);
    return b;
}

class ServerLoop : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/brlapi-server-XXXXXX";
        ASSERT_TRUE(::mkdtemp(tmpl));
        folder_ = tmpl;
        std::string error;
        listener_ = Listener::open(*parseHost(":0"), folder_, error);
        ASSERT_TRUE(listener_) << error;
        server_.emplace(*listener_, display_, BrailleTable("en-us-comp8-ext.utb"), Destination::TextLine,
                        std::vector<uint8_t>{});
        client_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s/0", folder_.c_str());
        ASSERT_EQ(::connect(client_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    }
    void TearDown() override {
        client_.reset();
        server_.reset();
        listener_.reset();
        std::filesystem::remove_all(folder_);
    }
    void send(uint32_t type, const std::vector<uint8_t>& body = {}) {
        auto b = encodePacket(type, body);
        ASSERT_EQ(::send(client_.get(), b.data(), b.size(), MSG_NOSIGNAL), static_cast<ssize_t>(b.size()));
    }
    // Turns the server until the client has a packet (a bounded number of turns).
    std::optional<Packet> next() {
        for (int turn = 0; turn < 100; ++turn) {
            if (!pending_.empty()) {
                Packet p = pending_.front();
                pending_.erase(pending_.begin());
                return p;
            }
            server_->step(20);
            uint8_t buf[512];
            const ssize_t n = ::recv(client_.get(), buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0) reader_.feed({buf, static_cast<size_t>(n)}, pending_);
        }
        return std::nullopt;
    }

    std::string folder_;
    FakeDisplay display_;
    std::optional<Listener> listener_;
    std::optional<Server> server_;
    Fd client_;
    PacketReader reader_;
    std::vector<Packet> pending_;
};

}  // namespace

TEST_F(ServerLoop, NoTextLineMeansCellsOnThePinsAndKeysReachTheClient) {
    ASSERT_EQ(next()->type, pkt::kVersion);
    send(pkt::kVersion, u32s({8}));
    EXPECT_EQ(next()->body, u32s({auth::kNone}));  // the owner of a local socket needs no key
    send(pkt::kGetDisplaySize);
    EXPECT_EQ(next()->body, u32s({16, 6}));  // 48 x 32 pins: 16 x 6 cells
    send(pkt::kEnterTtyMode, {0, 0, 0, 0, 0});
    ASSERT_EQ(next()->type, pkt::kAck);

    // Dots 1 and 8 in cell 2 (U+2881), sent as text in UTF-8.
    auto body = u32s({wf::kRegion | wf::kText | wf::kCharset, 2, 1, 3});
    body.insert(body.end(), {0xE2, 0xA2, 0x81, 5, 'U', 'T', 'F', '-', '8'});
    send(pkt::kWrite, body);
    send(pkt::kSynchronize);
    ASSERT_EQ(next()->type, pkt::kAck);
    ASSERT_FALSE(display_.pins.empty());
    const auto& plane = display_.pins.back();
    ASSERT_EQ(plane.size(), 48u * 4);
    // Cell 2 starts at pin column 3: dot 1 at (3, 0), dot 8 at (4, 3); nothing else.
    EXPECT_EQ(plane[3], 0x01);
    EXPECT_EQ(plane[4], 0x08);
    EXPECT_EQ(std::count_if(plane.begin(), plane.end(), [](uint8_t b) { return b != 0; }), 2);
    EXPECT_TRUE(display_.texts.empty());  // no text line to write

    display_.press({2, 13 + 5, 0});
    auto k = next();
    ASSERT_TRUE(k);
    EXPECT_EQ(k->type, pkt::kKey);
    EXPECT_EQ(k->body, u32s({0, static_cast<uint32_t>(key::command(key::kCommandRoute | 5))}));
    // Without a text line the chord takes the braille off the pins and back;
    // clients keep writing to the same size meanwhile.
    display_.press({4, navkey::kDecrease | navkey::kIncrease, 0});
    send(pkt::kGetDisplaySize);
    EXPECT_EQ(next()->body, u32s({16, 6}));
    EXPECT_EQ(display_.claims, (std::vector<Destination>{Destination::Pins, Destination::Hidden}));
}
