// Costs on the message and shared-block paths: posting one message to a
// thread queue and taking it (credentials checked on every datagram), and a
// shared block's whole life (create, open by number, close both).
#include <benchmark/benchmark.h>

#include "common/shared_block.h"
#include "platform/thread_queue.h"

namespace {

void BM_PostAndTake(benchmark::State& state) {
    auto queue = tavik::platform::ThreadQueue::createForCurrentThread();
    if (!queue) {
        state.SkipWithError("no queue");
        return;
    }
    tavik::platform::ThreadMessage msg;
    for (auto _ : state) {
        tavik::platform::postThreadMessage(queue->threadId(), 0xC123, 4, 0x010203, 0);
        benchmark::DoNotOptimize(queue->peek(msg));
    }
}
BENCHMARK(BM_PostAndTake);

void BM_SharedBlockLife(benchmark::State& state) {
    for (auto _ : state) {
        auto block = tavik::SharedBlock::create(16);
        if (!block) {
            state.SkipWithError("no block");
            return;
        }
        auto server = tavik::SharedBlock::open(block->number());
        benchmark::DoNotOptimize(server.has_value());
    }
}
BENCHMARK(BM_SharedBlockLife);

}  // namespace

BENCHMARK_MAIN();
