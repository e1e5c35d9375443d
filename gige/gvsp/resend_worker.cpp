// The thread that answers PACKETRESEND (see resend_worker.h).
#include "resend_worker.h"

namespace gvsp {

void ResendWorker::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable()) return;
    stopping_ = false;
    thread_ = std::thread([this] { serve(); });
}

void ResendWorker::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!thread_.joinable()) return;
        stopping_ = true;
        queue_.clear();
    }
    changed_.notify_all();
    thread_.join();
}

void ResendWorker::request(std::uint64_t blockId, std::uint32_t first, std::uint32_t last, bool extendedIds) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!thread_.joinable() || stopping_) return;
        if (queue_.size() == kQueueLength) queue_.pop_front();
        queue_.push_back(Request{blockId, first, last, extendedIds});
    }
    changed_.notify_one();
}

void ResendWorker::serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        const Request next = queue_.front();
        queue_.pop_front();
        lock.unlock();
        channel_.resend(next.blockId, next.first, next.last, next.extendedIds);
        lock.lock();
    }
}

}  // namespace gvsp
