// Latency of the braille road, measured from a screen reader's side: a write
// packet sent on the server's socket until the text frame it makes is complete
// on the device's end of the line, and a device key frame written on the line
// until the client has read its key packet. The real server, controller and
// serial plug-in run in between; the device end is played in-process on a
// pseudo-terminal with padsim's device model. Median and 99th percentile are
// counters (milliseconds); wire_ms is what the same text frame takes on a
// real serial line at the model's 38400 bit/s (10 bits a byte), which a
// pseudo-terminal does not add.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/line_latency.h"
#include "brlapi/protocol.h"

namespace brl = tavik::brl;

namespace {

using tavik::bench::Clock;
using tavik::bench::millisBetween;
constexpr double kLineBitsPerSecond = 38400;

// The server process, its client connection in tty mode, and the device.
struct Stack {
    // The device end times each completed text frame.
    tavik::bench::BenchLine line{[](const padsim::HostFrame& f) { return f.command == 0x91; }};
    std::string dir;
    pid_t server = -1;
    int sock = -1;
    brl::PacketReader reader;
    bool ok = false;

    Stack() {
        if (!line.open("tavik-brlapi-bench")) return;
        dir = line.dir();
        const int number = 1 + ::getpid() % 90;
        if (!startServer(line.bin, line.port, number)) return;
        ok = connectClient(number);
    }
    ~Stack() {
        if (sock >= 0) ::close(sock);
        if (server > 0) {
            ::kill(server, SIGTERM);
            ::waitpid(server, nullptr, 0);
        }
    }

    bool startServer(const std::string& bin, int port, int number) {
        int out[2];
        if (::pipe(out) != 0) return false;
        server = ::fork();
        if (server == 0) {
            ::dup2(out[1], 1);
            ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
            ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
            ::setenv("TAVIK_PATH", (bin + "/TAVIK").c_str(), 1);
            ::unsetenv("DISPLAY");
            const std::string exe = bin + "/tavik-brlapi", p = std::to_string(port),
                              host = "127.0.0.1:" + std::to_string(number), key = dir + "/key";
            ::execl(exe.c_str(), exe.c_str(), "--port", p.c_str(), "--host", host.c_str(), "--key-file", key.c_str(),
                    "--table", "en-us-comp8-ext.utb", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        // Up and serving once it says where it listens.
        std::string said;
        char c;
        pollfd p{out[0], POLLIN, 0};
        while (said.find("listening") == std::string::npos && ::poll(&p, 1, 15000) > 0 && ::read(out[0], &c, 1) == 1)
            said += c;
        ::close(out[0]);
        return said.find("listening") != std::string::npos;
    }

    void send(uint32_t type, const std::vector<uint8_t>& body) {
        auto b = brl::encodePacket(type, body);
        (void)!::send(sock, b.data(), b.size(), MSG_NOSIGNAL);
    }
    std::optional<brl::Packet> next() {
        std::vector<brl::Packet> got;
        while (got.empty()) {
            pollfd p{sock, POLLIN, 0};
            uint8_t buf[256];
            if (::poll(&p, 1, 10000) <= 0) return std::nullopt;
            const ssize_t n = ::recv(sock, buf, sizeof buf, 0);
            if (n <= 0) return std::nullopt;
            reader.feed({buf, static_cast<std::size_t>(n)}, got);
        }
        return got[0];
    }

    bool connectClient(int number) {
        sock = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(4101 + number));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(sock, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
        auto v = next();
        if (!v) return false;
        send(brl::pkt::kVersion, v->body);
        if (!next()) return false;
        std::ifstream keyFile(dir + "/key", std::ios::binary);
        std::vector<uint8_t> proof;
        brl::putU32(proof, brl::auth::kKey);
        proof.insert(proof.end(), std::istreambuf_iterator<char>(keyFile), {});
        send(brl::pkt::kAuth, proof);
        auto ack = next();
        if (!ack || ack->type != brl::pkt::kAck) return false;
        send(brl::pkt::kEnterTtyMode, {0, 0, 0, 0, 0});
        ack = next();
        return ack && ack->type == brl::pkt::kAck;
    }
};

void BM_WriteToWire(benchmark::State& state) {
    Stack* rig = tavik::bench::sharedRig<Stack>(state, "server, controller, plug-in or device not available");
    if (!rig) return;
    Stack& s = *rig;
    // Argument: idle time before each write.
    std::vector<uint8_t> body;
    tavik::bench::timeWritesToWire(
        state, s.line.device,
        [&](int n) {
            // A full line of text that differs from the one before.
            body.clear();
            brl::putU32(body, brl::wf::kRegion | brl::wf::kText | brl::wf::kCursor);
            brl::putU32(body, 1);
            brl::putU32(body, 32);
            brl::putU32(body, 32);
            for (int i = 0; i < 32; ++i) body.push_back(static_cast<uint8_t>('a' + (n + i) % 26));
            brl::putU32(body, static_cast<uint32_t>(1 + n % 32));
        },
        [&] { s.send(brl::pkt::kWrite, body); }, "text frame on the device");
    state.counters["wire_ms"] = (6 + 32) * 10 / kLineBitsPerSecond * 1000;
}
BENCHMARK(BM_WriteToWire)->Arg(0)->Arg(250)->UseManualTime()->Iterations(60)->Unit(benchmark::kMillisecond);

void BM_KeyToClient(benchmark::State& state) {
    Stack* rig = tavik::bench::sharedRig<Stack>(state, "server, controller, plug-in or device not available");
    if (!rig) return;
    Stack& s = *rig;
    tavik::bench::timeRounds(
        state, std::chrono::milliseconds(0), [](int) {}, [&] { s.line.device.sendKey(4, 0x08); },  // Left: window left
        [&]() -> tavik::bench::Arrival {
            auto k = s.next();
            if (!k || k->type != brl::pkt::kKey) return std::nullopt;
            return Clock::now();
        },
        "key packet");
}
BENCHMARK(BM_KeyToClient)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
