// The device end of a pseudo-terminal line, the private port configuration, the
// write-to-wire loop and the latency counters of the end-to-end benchmarks.
#include "bench/support/line_latency.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

namespace tavik::bench {

namespace {
uint64_t monotonicMs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
}
}  // namespace

PtyDevice::PtyDevice(Pick timed) : timed_(std::move(timed)) {}

PtyDevice::~PtyDevice() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

bool PtyDevice::start(std::string& error) {
    if (thread_.joinable()) return true;
    if (!pty_.open(error)) return false;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        error = e.what();
        return false;
    }
    return true;
}

uint64_t PtyDevice::count() {
    std::lock_guard lock(m_);
    return count_;
}

std::optional<Clock::time_point> PtyDevice::waitBeyond(uint64_t count, std::chrono::milliseconds bound) {
    std::unique_lock lock(m_);
    if (!cv_.wait_for(lock, bound, [&] { return count_ > count; })) return std::nullopt;
    return last_;
}

void PtyDevice::sendKey(uint8_t group, uint8_t key) {
    const uint8_t bytes[4] = {group, key, 0, 0};
    std::vector<uint8_t> frame;
    {
        std::lock_guard lock(m_);
        frame = model_.keyFrame(bytes);
    }
    (void)!::write(pty_.master(), frame.data(), frame.size());
}

void PtyDevice::run() {
    padsim::HostFrameReader reader(
        [&](const padsim::HostFrame& f) {
            std::vector<uint8_t> reply;
            {
                std::lock_guard lock(m_);
                reply = model_.handle(f).reply;
                if (timed_ && timed_(f)) {
                    ++count_;
                    last_ = Clock::now();
                    cv_.notify_all();
                }
            }
            if (!reply.empty()) (void)!::write(pty_.master(), reply.data(), reply.size());
        },
        [](std::span<const uint8_t>) {});
    std::vector<uint8_t> buf(4096);
    while (!stop_) {
        pollfd p{pty_.master(), POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) {
            reader.poll(monotonicMs());  // a frame cut off half-way is dropped after a second
            continue;
        }
        const ssize_t n = ::read(pty_.master(), buf.data(), buf.size());
        if (n <= 0) continue;
        reader.feed({buf.data(), static_cast<std::size_t>(n)}, monotonicMs());
    }
}

PortConfig::PortConfig(const std::string& name, int port, const std::string& line) {
    namespace fs = std::filesystem;
    std::error_code ec;
    dir_ = (fs::temp_directory_path(ec) / (name + "-" + std::to_string(::getpid()))).string();
    if (ec) return;
    const std::string folder = dir_ + "/Orvane/TAVIK200_J";
    fs::create_directories(folder, ec);
    if (ec) return;
    std::ofstream ini(folder + "/TAVIK.ini");
    ini << "[Ports]\nCom" << port + 1 << "=" << line << "\n";
    ok_ = static_cast<bool>(ini.flush());
}

PortConfig::~PortConfig() {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

bool BenchLine::open(const std::string& name) {
    const char* dir = std::getenv("TAVIK_BIN_DIR");
    if (!dir) return false;
    bin = dir;
    std::string error;
    if (!device.start(error)) return false;
    port = 10 + ::getpid() % 50;
    config.emplace(name, port, device.path());
    return config->ok();
}

void reportLatency(benchmark::State& state, std::vector<double>& ms) {
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p99_ms"] = ms[std::min(ms.size() - 1, (ms.size() * 99) / 100)];
}

void timeRounds(benchmark::State& state, std::chrono::milliseconds idle, const std::function<void(int n)>& prepare,
                const std::function<void()>& send, const std::function<Arrival()>& arrived, const char* what) {
    std::vector<double> ms;
    int n = 0;
    for (auto _ : state) {
        if (idle.count() > 0) std::this_thread::sleep_for(idle);
        prepare(n++);
        const auto t0 = Clock::now();
        send();
        const Arrival t1 = arrived();
        if (!t1) {
            state.SkipWithError((std::string("no ") + what + " within 10 s").c_str());
            return;
        }
        const double d = millisBetween(t0, *t1);
        state.SetIterationTime(d / 1000.0);
        ms.push_back(d);
    }
    reportLatency(state, ms);
}

void timeWritesToWire(benchmark::State& state, PtyDevice& device, const std::function<void(int n)>& prepare,
                      const std::function<void()>& send, const char* what) {
    uint64_t before = 0;
    timeRounds(
        state, std::chrono::milliseconds(state.range(0)),
        [&](int n) {
            prepare(n);
            before = device.count();
        },
        send, [&] { return device.waitBeyond(before); }, what);
}

}  // namespace tavik::bench
