// The receive thread's notification step: posting one event to a client
// whose thread reads its queue (as fast as the loop goes, so a flood), and
// the turn that finds nothing waiting (paid on every idle turn of the
// receive thread).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "drivers/core/notify_outbox.h"
#include "platform/thread_queue.h"

namespace {

constexpr uint32_t kNotify = 0xC123;

uint64_t nowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// A client thread that takes every message as it comes.
class Reader {
public:
    Reader() {
        thread_ = std::thread([this] {
            auto q = tavik::platform::ThreadQueue::createForCurrentThread();
            if (!q) return;
            tid_ = q->threadId();
            tavik::platform::ThreadMessage m;
            while (!stop_)
                if (q->wait(m, 10)) ++taken_;
        });
        while (tid_ == 0) std::this_thread::yield();
    }
    ~Reader() {
        stop_ = true;
        thread_.join();
    }
    int32_t tid() const { return tid_; }

private:
    std::thread thread_;
    std::atomic<int32_t> tid_{0};
    std::atomic<bool> stop_{false};
    std::atomic<long> taken_{0};
};

void BM_OutboxPostToReadingClient(benchmark::State& state) {
    Reader reader;
    tavik::drv::NotifyOutbox outbox(kNotify);
    int dropped = 0;
    for (auto _ : state) {
        const uint64_t now = nowMs();
        dropped += outbox.post(0, reader.tid(), 4, 0x0104, now);
        dropped += outbox.flush(now);
    }
    // A flood faster than the reader: what its full line could not hold.
    state.counters["dropped"] = dropped;
}
BENCHMARK(BM_OutboxPostToReadingClient);

void BM_OutboxIdleFlush(benchmark::State& state) {
    tavik::drv::NotifyOutbox outbox(kNotify);
    uint64_t now = 0;
    for (auto _ : state) benchmark::DoNotOptimize(outbox.flush(++now));
}
BENCHMARK(BM_OutboxIdleFlush);

}  // namespace

BENCHMARK_MAIN();
