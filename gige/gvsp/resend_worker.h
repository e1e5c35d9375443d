// Serves PACKETRESEND requests on a thread of its own, so that the control channel answers register accesses
// at once while packets are being resent (and, with a throughput limit, paced). Requests wait in a short queue
// in the order they came; when a client asks faster than packets can leave, the oldest requests give way, since
// the client gives up on old frames first.
#pragma once

#include "stream_sender.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace gvsp {

class ResendWorker {
public:
    static constexpr std::size_t kQueueLength = 64;

    explicit ResendWorker(StreamSender& channel) : channel_(channel) {}
    ~ResendWorker() { stop(); }
    ResendWorker(const ResendWorker&) = delete;
    ResendWorker& operator=(const ResendWorker&) = delete;

    void start();
    // Forgets the waiting requests and ends the thread once the resend under way is done.
    void stop();
    // Queues packets first..last of a block for StreamSender::resend; `extendedIds`: the request's id layout.
    void request(std::uint64_t blockId, std::uint32_t first, std::uint32_t last, bool extendedIds = false);

private:
    struct Request {
        std::uint64_t blockId;
        std::uint32_t first;
        std::uint32_t last;
        bool extendedIds;
    };
    void serve();

    StreamSender& channel_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Request> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace gvsp
