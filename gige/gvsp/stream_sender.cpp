// Packetizing, pacing and resending of stream channel 0 (see stream_sender.h).
#include "stream_sender.h"

#include "test_packet_loss.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "os.h"

namespace gvsp {

StreamSender::StreamSender(std::uint64_t tickFrequency, std::uint64_t resendBudget)
    : tickFrequency_(tickFrequency == 0 ? 1 : tickFrequency), store_(resendBudget) {
    setTestDropRatio(testPacketDropRatio());
}

bool StreamSender::open(std::uint32_t address, std::string* error) {
    std::unique_lock<std::shared_mutex> lock(socketMutex_);
    if (!socket_.open(address, error)) return false;
    sourcePort_ = socket_.localPort();
    std::lock_guard<std::mutex> config(configMutex_);
    socket_.setDoNotFragment(settings_.doNotFragment);
    return true;
}

void StreamSender::close() {
    closeChannel();
    std::unique_lock<std::shared_mutex> lock(socketMutex_);
    socket_.close();
    sourcePort_ = 0;
}

void StreamSender::setSendTimeout(int milliseconds) {
    std::shared_lock<std::shared_mutex> lock(socketMutex_);
    socket_.setSendTimeout(milliseconds);
}

ChannelSettings StreamSender::settings() const {
    std::lock_guard<std::mutex> lock(configMutex_);
    return settings_;
}

void StreamSender::closeChannel() {
    {
        std::lock_guard<std::mutex> lock(configMutex_);
        settings_.port = 0;
    }
    ++generation_;
    store_.clear();
}

void StreamSender::configure(const ChannelSettings& settings) {
    {
        std::lock_guard<std::mutex> lock(configMutex_);
        if (settings.port != settings_.port || settings.destination != settings_.destination) ++generation_;
        settings_ = settings;
    }
    pacer_.configure(std::uint64_t{settings.packetDelay} * 1000000000ull / tickFrequency_, settings.throughputLimit);
    std::shared_lock<std::shared_mutex> lock(socketMutex_);
    socket_.setDoNotFragment(settings.doNotFragment);
}

bool StreamSender::sendTestPacket() {
    const ChannelSettings now = settings();
    if (now.port == 0 || now.destination == 0) return false;
    // The client checks only the length: the UDP payload is the packet size less the IP and UDP headers.
    static const std::vector<std::uint8_t> testData = [] {
        std::vector<std::uint8_t> data(kMaxPacketSize);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
        return data;
    }();
    OutPacket packet;
    packet.spans[0] = Span{testData.data(), now.packetSize - kIpUdpOverhead};
    packet.spanCount = 1;
    std::shared_lock<std::shared_mutex> lock(socketMutex_);
    socket_.setDoNotFragment(now.doNotFragment);
    return socket_.send(now.destination, now.port, &packet, 1) == 1;
}

void StreamSender::setTestDropRatio(double ratio) {
    if (!(ratio > 0.0)) ratio = 0.0;
    if (ratio > 0.5) ratio = 0.5;
    dropPerMillion_ = static_cast<std::uint32_t>(ratio * 1e6);
}

bool StreamSender::shouldDrop() {
    const std::uint32_t perMillion = dropPerMillion_.load(std::memory_order_relaxed);
    if (perMillion == 0) return false;
    // xorshift: a fixed sequence, so a failing run can be repeated.
    dropState_ ^= dropState_ << 13;
    dropState_ ^= dropState_ >> 7;
    dropState_ ^= dropState_ << 17;
    return dropState_ % 1000000 < perMillion;
}

std::uint16_t StreamSender::nextBlockId() const { return nextBlock_.load(); }

void StreamSender::setNextBlockId(std::uint16_t id) { nextBlock_ = id == 0 ? 1 : id; }

bool StreamSender::pace(const OutPacket* packets, std::size_t count, std::uint32_t generation) {
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < count; ++i) {
        bytes += kIpUdpOverhead;
        for (std::size_t s = 0; s < packets[i].spanCount; ++s) bytes += packets[i].spans[s].length;
    }
    const std::uint64_t due = pacer_.book(count, bytes, os::monotonicNs());
    // A long wait must not hold a closed channel's frame: it ends when the channel changes.
    for (std::uint64_t now = os::monotonicNs(); now < due; now = os::monotonicNs()) {
        if (generation_.load() != generation) return false;
        std::this_thread::sleep_for(std::chrono::nanoseconds(std::min<std::uint64_t>(due - now, 10000000)));
    }
    return generation_.load() == generation;
}

SendOutcome StreamSender::send(const LeaderFields& leaderFields, const ComposedPayload& payload) {
    std::lock_guard<std::mutex> frameLock(frameMutex_);
    const std::uint32_t generation = generation_.load();
    const ChannelSettings config = settings();
    if (config.port == 0 || config.destination == 0) return SendOutcome::NoDestination;

    const std::uint32_t dataPerPacket = config.packetSize - kPacketOverhead;
    const std::uint64_t payloadPackets = (payload.totalBytes + dataPerPacket - 1) / dataPerPacket;
    if (payloadPackets + 1 > 0xFFFFFF) return SendOutcome::TooManyPackets;

    const std::uint16_t blockId = nextBlock_.load();
    LeaderFields leader = leaderFields;
    leader.payloadType = payload.hasChunks ? PayloadImageWithChunks : PayloadImage;
    std::uint8_t leaderPacket[kMaxLeaderPacket];
    const std::size_t leaderLength = encodeLeader(leaderPacket, sizeof leaderPacket, blockId, leader);
    TrailerFields trailer;
    trailer.payloadType = leader.payloadType;
    trailer.linesSent = leader.height;
    trailer.chunkDataLength = static_cast<std::uint32_t>(payload.totalBytes);
    trailer.chunkLayoutId = payload.chunkLayoutId;
    const auto trailerId = static_cast<std::uint32_t>(payloadPackets + 1);
    std::uint8_t trailerPacket[kMaxTrailerPacket];
    const std::size_t trailerLength = encodeTrailer(trailerPacket, sizeof trailerPacket, blockId, trailerId, trailer);

    // The resend copy is made a batch ahead of the packets, which then leave from it while it is in the cache.
    const int kept = store_.begin(blockId, dataPerPacket, Span{leaderPacket, leaderLength},
                                  Span{trailerPacket, trailerLength}, payload.totalBytes);
    struct Finish {
        ResendStore& store;
        int handle;
        ~Finish() {
            if (handle >= 0) store.finish(handle);
        }
    } finish{store_, kept};
    const std::uint8_t* copy = kept >= 0 ? store_.payloadCopy(kept) : nullptr;
    std::uint64_t copied = 0;
    nextBlock_ = gvsp::nextBlockId(blockId);

    std::shared_lock<std::shared_mutex> socketLock(socketMutex_);
    const bool paced = pacer_.active();
    const std::size_t batchLimit = pacer_.burstPackets(config.packetSize, StreamSocket::kMaxBatch);

    OutPacket batch[StreamSocket::kMaxBatch];
    std::uint8_t headers[StreamSocket::kMaxBatch][kHeaderSize];
    std::uint64_t next = 0;  // packet id about to be queued
    while (next <= trailerId) {
        if (generation_.load() != generation) return SendOutcome::Stopped;
        std::size_t count = 0;
        for (; count < batchLimit && next <= trailerId; ++next) {
            OutPacket& packet = batch[count];
            if (next == 0) {
                packet.spans[0] = Span{leaderPacket, leaderLength};
                packet.spanCount = 1;
            } else if (next == trailerId) {
                // Dropped last packets (the test switch) leave the copy short: complete it first.
                if (copy != nullptr && copied < payload.totalBytes) {
                    copied = payload.totalBytes;
                    store_.append(kept, payload.segments, payload.segmentCount, copied);
                }
                packet.spans[0] = Span{trailerPacket, trailerLength};
                packet.spanCount = 1;
            } else {
                if (shouldDrop()) continue;
                const std::uint64_t offset = (next - 1) * dataPerPacket;
                const auto length =
                    static_cast<std::size_t>(std::min<std::uint64_t>(dataPerPacket, payload.totalBytes - offset));
                encodeHeader(headers[count], kHeaderSize, StatusSuccess, blockId, PacketFormat::Payload,
                             static_cast<std::uint32_t>(next));
                packet.spans[0] = Span{headers[count], kHeaderSize};
                if (copy != nullptr) {
                    if (offset + length > copied) {
                        copied = std::min<std::uint64_t>(
                            payload.totalBytes, offset + std::uint64_t{dataPerPacket} * StreamSocket::kMaxBatch);
                        store_.append(kept, payload.segments, payload.segmentCount, copied);
                    }
                    packet.spans[1] = Span{copy + offset, length};
                    packet.spanCount = 2;
                } else {
                    packet.spanCount = 1 + sliceSegments(payload.segments, payload.segmentCount, offset, length,
                                                         packet.spans + 1, OutPacket::kMaxSpans - 1);
                }
            }
            ++count;
        }
        if (count == 0) continue;
        if (paced && !pace(batch, count, generation)) return SendOutcome::Stopped;
        if (generation_.load() != generation) return SendOutcome::Stopped;
        if (socket_.send(config.destination, config.port, batch, count) != count) return SendOutcome::NetworkFailed;
    }
    return SendOutcome::Sent;
}

void StreamSender::resend(std::uint64_t blockId, std::uint32_t first, std::uint32_t last) {
    if (first > last) return;
    const ChannelSettings config = settings();
    if (config.port == 0 || config.destination == 0) return;
    const std::uint32_t generation = generation_.load();
    const bool paced = pacer_.active();
    const std::size_t batchLimit = pacer_.burstPackets(config.packetSize, StreamSocket::kMaxBatch);
    std::shared_lock<std::shared_mutex> socketLock(socketMutex_);
    auto sendBatch = [&](const OutPacket* packets, std::size_t count) {
        if (paced && !pace(packets, count, generation)) return false;
        return socket_.send(config.destination, config.port, packets, count) == count;
    };

    auto unavailable = [&](std::uint16_t block, std::uint32_t packetId) {
        std::uint8_t header[kHeaderSize];
        encodeHeader(header, sizeof header, StatusPacketUnavailable, block, PacketFormat::Payload, packetId);
        OutPacket packet;
        packet.spans[0] = Span{header, sizeof header};
        packet.spanCount = 1;
        sendBatch(&packet, 1);
    };
    // Extended (64-bit) block ids are never used by this device, so such a block is not held.
    if (blockId == 0 || blockId > 0xFFFF) {
        unavailable(static_cast<std::uint16_t>(blockId), first);
        return;
    }
    const auto block = static_cast<std::uint16_t>(blockId);
    store_.visit(block, [&](const HeldFrame* frame) {
        if (frame == nullptr) {
            unavailable(block, first);
            return;
        }
        const std::uint32_t trailerId = frame->payloadPackets + 1;
        const bool complete = frame->availableBytes == frame->payloadBytes;
        // Packets of the frame being sent are held once copied; the trailer once all are.
        const auto copiedPackets = static_cast<std::uint32_t>(frame->availableBytes / frame->packetDataSize);
        const std::uint32_t held = complete ? trailerId : copiedPackets;
        const std::uint32_t end = std::min(last, held);
        OutPacket batch[StreamSocket::kMaxBatch];
        std::uint8_t headers[StreamSocket::kMaxBatch][kHeaderSize];
        std::size_t count = 0;
        for (std::uint64_t id = first; id <= end; ++id) {
            OutPacket& packet = batch[count];
            if (id == 0) {
                packet.spans[0] = frame->leader;
                packet.spanCount = 1;
            } else if (id == trailerId) {
                packet.spans[0] = frame->trailer;
                packet.spanCount = 1;
            } else {
                const std::uint64_t offset = (id - 1) * frame->packetDataSize;
                const auto length = static_cast<std::size_t>(
                    std::min<std::uint64_t>(frame->packetDataSize, frame->payloadBytes - offset));
                // A resent packet is the original, status 0: standard-id clients expect it unchanged.
                encodeHeader(headers[count], kHeaderSize, StatusSuccess, block, PacketFormat::Payload,
                             static_cast<std::uint32_t>(id));
                packet.spans[0] = Span{headers[count], kHeaderSize};
                packet.spans[1] = Span{frame->payload + offset, length};
                packet.spanCount = 2;
            }
            if (++count == batchLimit) {
                if (!sendBatch(batch, count)) return;
                count = 0;
            }
        }
        if (count != 0 && !sendBatch(batch, count)) return;
        if (last > held) unavailable(block, std::max(first, held + 1));
    });
}

}  // namespace gvsp
