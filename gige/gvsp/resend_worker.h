// Serves PACKETRESEND requests on a thread of its own, so that the control channel answers register accesses
// at once while packets are being resent (and, with a throughput limit, paced). Requests wait in a queue in the
// order they came.
//
// A client that reads its packets late asks again for packets it has not seen yet, every time its packet
// time-out passes, so the same packets are asked for many times over while the answer is still on its way.
// Answering every copy would fill the link with duplicates and push the stream's own packets back, so a
// request for packets that already wait joins the waiting request (their ranges are merged), and a request
// for packets that left within the last kRecentlySent is already answered. A later repeat is served again,
// since then the resent packet may have been lost itself. The queue holds kQueueLength distinct requests; when
// a client asks faster than packets can leave, the oldest request gives way, since the client gives up on old
// frames first, and each one given up is counted.
#pragma once

#include "stream_sender.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace gvsp {

class ResendWorker {
public:
    static constexpr std::size_t kQueueLength = 1024;
    static constexpr std::chrono::milliseconds kRecentlySent{5};

    explicit ResendWorker(StreamSender& channel) : channel_(channel) {}
    ~ResendWorker() { stop(); }
    ResendWorker(const ResendWorker&) = delete;
    ResendWorker& operator=(const ResendWorker&) = delete;

    void start();
    // Forgets the waiting requests and ends the thread once the resend under way is done.
    void stop();
    // Queues packets first..last of a block for StreamSender::resend; `extendedIds`: the request's id layout.
    void request(std::uint64_t blockId, std::uint32_t first, std::uint32_t last, bool extendedIds = false);

    // Requests given up unserved because the queue was full, since the worker was made.
    std::uint64_t droppedCount() const { return dropped_.load(); }
    // Requests answered by one waiting or just served (duplicates), since the worker was made.
    std::uint64_t mergedCount() const { return merged_.load(); }

private:
    struct Request {
        std::uint64_t blockId;
        std::uint32_t first;
        std::uint32_t last;
        bool extendedIds;
    };
    struct Served {
        Request request;
        std::chrono::steady_clock::time_point at;
    };
    // Under the lock: true when `next` is covered by a waiting request (which is widened to hold it) or by
    // one served within kRecentlySent.
    bool mergeLocked(const Request& next);
    void serve();

    StreamSender& channel_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Request> queue_;
    std::deque<Served> served_;  // the last requests served, newest last
    bool stopping_ = false;
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<std::uint64_t> merged_{0};
    std::thread thread_;
};

}  // namespace gvsp
