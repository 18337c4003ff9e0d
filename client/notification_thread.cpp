// Notify-message dispatch and the status watch of an entry.
#include "client/notification_thread.h"

#include "common/shared_block.h"
#include "platform/atomic_word.h"
#include "platform/thread_queue.h"

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>

namespace tavik::client {
namespace {

constexpr int kStatusPollMs = 50;
constexpr int kWatchEveryPolls = 10;

int byteOf(int64_t lParam, int n) { return static_cast<int>((static_cast<uint64_t>(lParam) >> (8 * n)) & 0xFF); }

}  // namespace

void dispatchNotify(const Callbacks& cb, int32_t code, int64_t lParam) {
    const int32_t low = static_cast<int32_t>(static_cast<uint32_t>(lParam & 0xFFFFFFFF));
    switch (code) {
    case 4:
        if (auto f = cb.key.load()) f(byteOf(lParam, 0), byteOf(lParam, 1), byteOf(lParam, 2));
        break;
    case 5:
        if (auto f = cb.broadcast.load()) f(byteOf(lParam, 0), low >> 8, byteOf(lParam, 3));
        break;
    case 11:
        if (auto f = cb.pen.load()) f(byteOf(lParam, 0), byteOf(lParam, 1), byteOf(lParam, 2), byteOf(lParam, 3));
        break;
    case 6: {
        auto block = SharedBlock::open(low);
        if (!block || block->payloadSize() < 8) return;
        auto f = cb.dataBlock.load();
        if (f) {
            const int count = (block->payloadSize() - 8) & 0xFFFF;
            f(block->read(4) & 0xFF, count, block->payload() + 8);
        }
        publishBlockResult(*block, f ? 1 : -1);
        break;
    }
    case 8: {
        auto block = SharedBlock::open(low);
        if (!block || block->payloadSize() < 16) return;
        auto f = cb.directOperation.load();
        if (f) f(block->read(4), block->read(8), block->read(12), block->payload() + 16);
        publishBlockResult(*block, f ? 1 : -1);
        break;
    }
    default:
        break;
    }
}

struct NotificationThread::Shared {
    std::shared_ptr<PortMap> map;
    Callbacks* callbacks = nullptr;
    uint32_t notifyMessage = 0;
    std::function<void()> watch;
    std::atomic<bool> stop{false};
    std::atomic<int32_t> threadId{0};
    std::mutex m;
    std::condition_variable cv;
    bool finished = false;
};

namespace {

void run(std::shared_ptr<NotificationThread::Shared> s, std::promise<int32_t> ready) {
    auto queue = platform::ThreadQueue::createForCurrentThread();
    if (!queue) {
        ready.set_value(0);
    } else {
        s->threadId = queue->threadId();
        ready.set_value(queue->threadId());
        int32_t lastStatus = 0;
        auto nextWatch = std::chrono::steady_clock::now();
        while (!s->stop.load()) {
            if (s->watch && std::chrono::steady_clock::now() >= nextWatch) {
                nextWatch = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStatusPollMs * kWatchEveryPolls);
                s->watch();
            }
            platform::ThreadMessage msg;
            if (queue->peek(msg)) {
                if (msg.message == s->notifyMessage && msg.message != 0)
                    dispatchNotify(*s->callbacks, static_cast<int32_t>(msg.wParam), msg.lParam);
                continue;
            }
            const int32_t status = platform::loadWord(s->map->map().status);
            if (status != lastStatus) {
                lastStatus = status;
                if (auto f = s->callbacks->status.load()) f(status);
                continue;
            }
            // Sleeps until the next status poll, or less when a message comes.
            if (queue->wait(msg, kStatusPollMs) && !s->stop.load() && msg.message == s->notifyMessage &&
                msg.message != 0)
                dispatchNotify(*s->callbacks, static_cast<int32_t>(msg.wParam), msg.lParam);
        }
    }
    std::lock_guard lock(s->m);
    s->finished = true;
    s->cv.notify_all();
}

}  // namespace

NotificationThread::NotificationThread(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

std::unique_ptr<NotificationThread> NotificationThread::start(std::shared_ptr<PortMap> map, Callbacks& callbacks,
                                                              uint32_t notifyMessage, std::function<void()> watch) {
    if (!map) return nullptr;
    auto shared = std::make_shared<Shared>();
    shared->map = std::move(map);
    shared->watch = std::move(watch);
    shared->callbacks = &callbacks;
    shared->notifyMessage = notifyMessage;
    auto t = std::make_unique<NotificationThread>(shared);
    std::promise<int32_t> ready;
    auto tid = ready.get_future();
    try {
        t->thread_ = std::thread(run, shared, std::move(ready));
    } catch (const std::system_error&) {
        return nullptr;
    }
    if (tid.get() == 0) {
        t->thread_.join();
        return nullptr;
    }
    return t;
}

int32_t NotificationThread::threadId() const { return shared_->threadId.load(); }

void NotificationThread::stop() {
    if (!thread_.joinable()) return;
    shared_->stop = true;
    if (std::this_thread::get_id() == thread_.get_id()) {
        // Called from a callback: the thread ends when the callback returns.
        thread_.detach();
        return;
    }
    // Wakes the thread from its status wait at once.
    platform::postThreadMessage(shared_->threadId.load(), 0, 0, 0, 0);
    std::unique_lock lock(shared_->m);
    const bool done =
        shared_->cv.wait_for(lock, std::chrono::milliseconds(kStopWaitMs), [&] { return shared_->finished; });
    lock.unlock();
    if (done)
        thread_.join();
    else
        thread_.detach();
}

NotificationThread::~NotificationThread() { stop(); }

}  // namespace tavik::client
