// The pool behind runParts: workers wait on one condition variable for a new generation of work,
// each takes the part numbered after it, and the last to finish wakes the caller.
#include "imaging/workers.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "imaging/lumoutil.h"

namespace lumo {

namespace {

constexpr int kMaxThreads = 8;
std::atomic<int> gThreads{1};  // the setting; 1 = no helper threads

class Pool {
public:
    static Pool& instance() {
        static Pool pool;
        return pool;
    }

    void run(int parts, PartJob job, void* context) {
        std::lock_guard caller(callerLock_);  // one pass at a time uses the pool
        ensureWorkers(parts - 1);
        parts = std::min<int>(parts, int(workers_.size()) + 1);
        {
            std::lock_guard lock(lock_);
            job_ = job;
            context_ = context;
            parts_ = parts;
            pending_ = parts - 1;
            ++generation_;
        }
        wake_.notify_all();
        job(context, 0, parts);
        std::unique_lock lock(lock_);
        done_.wait(lock, [&] { return pending_ == 0; });
    }

    ~Pool() {
        {
            std::lock_guard lock(lock_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (auto& t : workers_) t.join();
    }

private:
    void ensureWorkers(int wanted) {
        while (int(workers_.size()) < wanted) {
            const int index = int(workers_.size()) + 1;
            try {
                workers_.emplace_back([this, index] { work(index); });
            } catch (...) {
                return;  // fewer helpers: run() gives the rest to the caller's part count
            }
        }
    }

    void work(int index) {
        uint64_t seen = 0;
        std::unique_lock lock(lock_);
        for (;;) {
            wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) return;
            seen = generation_;
            if (index >= parts_) continue;
            const PartJob job = job_;
            void* const context = context_;
            const int parts = parts_;
            lock.unlock();
            job(context, index, parts);
            lock.lock();
            if (--pending_ == 0) done_.notify_one();
        }
    }

    std::mutex callerLock_;
    std::mutex lock_;
    std::condition_variable wake_, done_;
    std::vector<std::thread> workers_;
    PartJob job_ = nullptr;
    void* context_ = nullptr;
    int parts_ = 0;
    int pending_ = 0;
    uint64_t generation_ = 0;
    bool stopping_ = false;
};

}  // namespace

int scanThreads() { return gThreads.load(std::memory_order_relaxed); }

void runParts(int parts, PartJob job, void* context) {
    if (parts <= 1) {
        job(context, 0, 1);
        return;
    }
    Pool::instance().run(parts, job, context);
}

}  // namespace lumo

TAVIK_API int32_t lumoSetScanThreads(int32_t threads) {
    const int32_t previous = lumo::gThreads.load();
    lumo::gThreads.store(std::clamp<int32_t>(threads, 1, lumo::kMaxThreads));
    return previous;
}
