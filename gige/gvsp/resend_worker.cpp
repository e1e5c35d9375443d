// The thread that answers PACKETRESEND (see resend_worker.h).
#include "resend_worker.h"

#include <algorithm>

namespace gvsp {

namespace {
// Served requests remembered for merging; more than a client can repeat within kRecentlySent at full rate.
constexpr std::size_t kServedRemembered = 256;

bool sameBlock(std::uint64_t blockId, bool extendedIds, std::uint64_t otherBlockId, bool otherExtendedIds) {
    return blockId == otherBlockId && extendedIds == otherExtendedIds;
}
}  // namespace

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
        served_.clear();
    }
    changed_.notify_all();
    thread_.join();
}

bool ResendWorker::mergeLocked(const Request& next) {
    for (Request& waiting : queue_) {
        if (!sameBlock(waiting.blockId, waiting.extendedIds, next.blockId, next.extendedIds)) continue;
        // Overlapping or touching ranges become one; the ids are 32-bit, so the +1 is done in 64 bits.
        if (std::uint64_t{next.first} > std::uint64_t{waiting.last} + 1 ||
            std::uint64_t{waiting.first} > std::uint64_t{next.last} + 1) {
            continue;
        }
        waiting.first = std::min(waiting.first, next.first);
        waiting.last = std::max(waiting.last, next.last);
        return true;
    }
    const auto recent = std::chrono::steady_clock::now() - kRecentlySent;
    for (auto served = served_.rbegin(); served != served_.rend() && served->at >= recent; ++served) {
        const Request& done = served->request;
        if (sameBlock(done.blockId, done.extendedIds, next.blockId, next.extendedIds) && done.first <= next.first &&
            next.last <= done.last) {
            return true;
        }
    }
    return false;
}

void ResendWorker::request(std::uint64_t blockId, std::uint32_t first, std::uint32_t last, bool extendedIds) {
    if (first > last) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!thread_.joinable() || stopping_) return;
        const Request next{blockId, first, last, extendedIds};
        if (mergeLocked(next)) {
            merged_.fetch_add(1);
            return;
        }
        if (queue_.size() == kQueueLength) {
            queue_.pop_front();
            dropped_.fetch_add(1);
        }
        queue_.push_back(next);
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
        // Remembered from when its packets have left, the moment the client's repeats are measured against.
        if (served_.size() == kServedRemembered) served_.pop_front();
        served_.push_back(Served{next, std::chrono::steady_clock::now()});
    }
}

}  // namespace gvsp
