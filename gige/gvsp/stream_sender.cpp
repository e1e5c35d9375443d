// Packetizing, pacing and resending of stream channel 0 (see stream_sender.h).
#include "stream_sender.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "byte_writer.h"
#include "os.h"

namespace gvsp {

namespace {

constexpr std::size_t kPayloadHeaderCapacity = kMaxHeaderSize + kMultipartPacketInfoSize;

// The packets of one block, sent the first time or again: the leader (id 0), the trailer (the last id) and the
// payload packets between them, each a header with `flags`, written into the caller's buffer, and its slice of
// the payload.
struct BlockPackets {
    const BlockLayout& layout;
    std::uint64_t blockId;
    Span leader;
    Span trailer;
    std::uint16_t flags;
    const Span* payload;  // the whole payload, in one or more segments
    std::size_t payloadSegments;

    void fill(std::uint64_t id, std::uint8_t* header, OutPacket& packet) const {
        packet.spanCount = 1;
        if (id == 0) {
            packet.spans[0] = leader;
        } else if (id == layout.trailerId()) {
            packet.spans[0] = trailer;
        } else {
            const BlockLayout::Slice slice = layout.slice(id);
            packet.spans[0] =
                Span{header, layout.encodePayloadHeader(header, kPayloadHeaderCapacity, blockId, id, flags)};
            packet.spanCount += sliceSegments(payload, payloadSegments, slice.offset, slice.length, packet.spans + 1,
                                              OutPacket::kMaxSpans - 1);
        }
    }
};

}  // namespace

StreamSender::StreamSender(std::uint64_t tickFrequency, std::uint64_t resendBudget)
    : tickFrequency_(tickFrequency == 0 ? 1 : tickFrequency), store_(resendBudget) {}

bool StreamSender::open(std::uint32_t address, std::string* error) {
    std::unique_lock<std::shared_mutex> lock(socketMutex_);
    if (!socket_.open(address, error)) return false;
    sourcePort_ = socket_.localPort();
    std::lock_guard<std::mutex> config(configMutex_);
    socket_.setDoNotFragment(settings_.doNotFragment);
    socket_.setMulticast(settings_.multicastInterface, settings_.multicastTtl);
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
    socket_.setMulticast(settings.multicastInterface, settings.multicastTtl);
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

std::uint16_t StreamSender::nextBlockId() const {
    const std::uint64_t next = nextBlock_.load();
    return next > 0xFFFF ? 1 : static_cast<std::uint16_t>(next);
}

namespace {

// The id a frame takes when the next id is `next`: with 16-bit ids, one left from extended ids starts the
// sequence again.
std::uint64_t idTaken(std::uint64_t next, bool extendedIds) { return !extendedIds && next > 0xFFFF ? 1 : next; }

std::uint64_t idAfter(std::uint64_t id, bool extendedIds) {
    return extendedIds ? (id + 1 == 0 ? 1 : id + 1) : gvsp::nextBlockId(static_cast<std::uint16_t>(id));
}

}  // namespace

std::uint64_t StreamSender::takeBlockId(bool extendedIds) {
    const std::uint64_t id = idTaken(nextBlock_.load(), extendedIds);
    nextBlock_ = idAfter(id, extendedIds);
    lastBlock_ = id;
    return id;
}

std::uint64_t StreamSender::blockIdAhead(int ahead) const {
    if (ahead <= 0) return lastBlock_.load();
    const bool extendedIds = settings().extendedIds;
    std::uint64_t id = idTaken(nextBlock_.load(), extendedIds);
    for (int i = 1; i < ahead; ++i) id = idAfter(id, extendedIds);
    return id;
}

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

    const BlockLayout layout = BlockLayout::single(
        payload.totalBytes, packetDataSize(config.packetSize, config.extendedIds, false), config.extendedIds);
    if (!layout.fitsPacketIds()) return SendOutcome::TooManyPackets;

    PacketHeader header;
    header.extendedIds = config.extendedIds;
    header.blockId = takeBlockId(config.extendedIds);
    LeaderFields leader = leaderFields;
    leader.payloadType = payload.hasChunks ? PayloadImageWithChunks : PayloadImage;
    std::uint8_t leaderPacket[kMaxLeaderPacket];
    const std::size_t leaderLength = encodeLeader(leaderPacket, sizeof leaderPacket, header, leader);
    TrailerFields trailer;
    trailer.payloadType = leader.payloadType;
    trailer.linesSent = leader.height;
    trailer.chunkDataLength = static_cast<std::uint32_t>(payload.totalBytes);
    trailer.chunkLayoutId = payload.chunkLayoutId;
    header.packetId = static_cast<std::uint32_t>(layout.trailerId());
    std::uint8_t trailerPacket[kMaxTrailerPacket];
    const std::size_t trailerLength = encodeTrailer(trailerPacket, sizeof trailerPacket, header, trailer);
    return transmit(config, generation, header.blockId, layout, Span{leaderPacket, leaderLength},
                    Span{trailerPacket, trailerLength}, payload.segments, payload.segmentCount);
}

SendOutcome StreamSender::sendMultipart(const MultipartBlock& block) {
    std::lock_guard<std::mutex> frameLock(frameMutex_);
    const std::uint32_t generation = generation_.load();
    const ChannelSettings config = settings();
    if (config.port == 0 || config.destination == 0) return SendOutcome::NoDestination;
    if (!config.multipart || !config.extendedIds) return SendOutcome::MultipartOff;

    std::uint64_t lengths[kMaxParts];
    Span data[kMaxParts];
    for (std::uint32_t i = 0; i < block.partCount && i < kMaxParts; ++i) {
        lengths[i] = block.parts[i].length;
        data[i] = Span{static_cast<const std::uint8_t*>(block.parts[i].data),
                       static_cast<std::size_t>(block.parts[i].length)};
    }
    const BlockLayout layout =
        BlockLayout::ofParts(lengths, block.partCount, packetDataSize(config.packetSize, true, true), true);
    if (layout.partCount == 0 || !layout.fitsPacketIds()) return SendOutcome::TooManyPackets;

    PacketHeader header;
    header.extendedIds = true;
    header.blockId = takeBlockId(true);
    std::uint8_t leaderPacket[kMaxLeaderPacket];
    const std::size_t leaderLength =
        encodeMultipartLeader(leaderPacket, sizeof leaderPacket, header, block.payloadType, block.timestamp,
                              block.parts, block.partCount, block.offsetX, block.offsetY);
    header.packetId = static_cast<std::uint32_t>(layout.trailerId());
    std::uint8_t trailerPacket[kMaxTrailerPacket];
    const std::size_t trailerLength =
        encodeMultipartTrailer(trailerPacket, sizeof trailerPacket, header, block.payloadType, block.parts,
                               block.partCount, block.chunkDataLength, block.chunkLayoutId);
    return transmit(config, generation, header.blockId, layout, Span{leaderPacket, leaderLength},
                    Span{trailerPacket, trailerLength}, data, block.partCount);
}

SendOutcome StreamSender::transmit(const ChannelSettings& config, std::uint32_t generation, std::uint64_t blockId,
                                   const BlockLayout& layout, const Span& leader, const Span& trailer,
                                   const Span* segments, std::size_t segmentCount) {
    const std::uint64_t trailerId = layout.trailerId();
    const std::uint64_t totalBytes = layout.payloadBytes;
    // The resend copy is made a batch ahead of the packets, which then leave from it while it is in the cache.
    const int kept = store_.begin(blockId, layout, leader, trailer);
    struct Finish {
        ResendStore& store;
        int handle;
        ~Finish() {
            if (handle >= 0) store.finish(handle);
        }
    } finish{store_, kept};
    const std::uint8_t* copy = kept >= 0 ? store_.payloadCopy(kept) : nullptr;
    std::uint64_t copied = 0;

    // Without a copy the packets leave from the caller's segments.
    const Span copySpan{copy, static_cast<std::size_t>(totalBytes)};
    const BlockPackets packets{layout,
                               blockId,
                               leader,
                               trailer,
                               0,
                               copy != nullptr ? &copySpan : segments,
                               copy != nullptr ? 1 : segmentCount};

    std::shared_lock<std::shared_mutex> socketLock(socketMutex_);
    const bool paced = pacer_.active();
    const std::size_t batchLimit = pacer_.burstPackets(config.packetSize, StreamSocket::kMaxBatch);

    OutPacket batch[StreamSocket::kMaxBatch];
    std::uint8_t headers[StreamSocket::kMaxBatch][kPayloadHeaderCapacity];
    std::uint64_t next = 0;  // packet id about to be queued
    // Datagrams a packet filter refused: lost as on the wire, for the client to ask again. Only a block of
    // which every datagram was refused counts as a failed send, since then nothing gets through at all.
    std::size_t refused = 0;
    std::size_t handed = 0;
    while (next <= trailerId) {
        if (generation_.load() != generation) return SendOutcome::Stopped;
        std::size_t count = 0;
        for (; count < batchLimit && next <= trailerId; ++next) {
            if (copy != nullptr && next != 0 && next != trailerId) {
                const BlockLayout::Slice slice = layout.slice(next);
                if (slice.offset + slice.length > copied) {
                    copied = std::min<std::uint64_t>(
                        totalBytes, slice.offset + std::uint64_t{layout.dataPerPacket} * StreamSocket::kMaxBatch);
                    store_.append(kept, segments, segmentCount, copied);
                }
            }
            packets.fill(next, headers[count], batch[count]);
            ++count;
        }
        if (paced && !pace(batch, count, generation)) return SendOutcome::Stopped;
        if (generation_.load() != generation) return SendOutcome::Stopped;
        if (socket_.send(config.destination, config.port, batch, count, &refused) != count) {
            return SendOutcome::NetworkFailed;
        }
        handed += count;
    }
    return refused == handed ? SendOutcome::NetworkFailed : SendOutcome::Sent;
}

void StreamSender::resend(std::uint64_t blockId, std::uint32_t first, std::uint32_t last, bool extendedIds) {
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

    auto unavailable = [&](std::uint32_t packetId) {
        PacketHeader header;
        header.status = StatusPacketUnavailable;
        header.blockId = blockId;
        header.packetId = packetId;
        header.extendedIds = extendedIds;
        std::uint8_t bytes[kMaxHeaderSize];
        OutPacket packet;
        packet.spans[0] = Span{bytes, encodeHeader(bytes, sizeof bytes, header)};
        packet.spanCount = 1;
        sendBatch(&packet, 1);
    };
    // A 16-bit request names only blocks sent with 16-bit ids.
    if (blockId == 0 || (!extendedIds && blockId > 0xFFFF)) {
        unavailable(first);
        return;
    }
    store_.visit(blockId, [&](const HeldFrame* frame) {
        if (frame == nullptr || frame->layout.extendedIds != extendedIds) {
            unavailable(first);
            return;
        }
        const BlockLayout& layout = frame->layout;
        const std::uint64_t trailerId = layout.trailerId();
        // Resent copies are the originals; with extended ids their flags say they are resent.
        const std::uint16_t flags = extendedIds ? kFlagResent : 0;
        std::uint8_t leader[kMaxLeaderPacket];
        std::uint8_t trailer[kMaxTrailerPacket];
        std::memcpy(leader, frame->leader.data, frame->leader.length);
        std::memcpy(trailer, frame->trailer.data, frame->trailer.length);
        if (extendedIds) {
            wire::ByteWriter(leader + 2, 2).u16(flags);
            wire::ByteWriter(trailer + 2, 2).u16(flags);
        }
        const Span held{frame->payload, static_cast<std::size_t>(frame->availableBytes)};
        const BlockPackets packets{
            layout, blockId, Span{leader, frame->leader.length}, Span{trailer, frame->trailer.length}, flags, &held, 1};
        OutPacket batch[StreamSocket::kMaxBatch];
        std::uint8_t headers[StreamSocket::kMaxBatch][kPayloadHeaderCapacity];
        std::size_t count = 0;
        std::uint64_t id = first;
        for (; id <= last && id <= trailerId; ++id) {
            // Packets of the frame being sent are held once copied; the trailer once all are.
            if (id == trailerId && frame->availableBytes != frame->payloadBytes) break;
            if (id != 0 && id != trailerId) {
                const BlockLayout::Slice slice = layout.slice(id);
                if (slice.offset + slice.length > frame->availableBytes) break;
            }
            packets.fill(id, headers[count], batch[count]);
            if (++count == batchLimit) {
                if (!sendBatch(batch, count)) return;
                count = 0;
            }
        }
        if (count != 0 && !sendBatch(batch, count)) return;
        // A client that waited long for the next packet of a frame the sender is still at (its data reaches the
        // device slowly) asks for packets not sent yet: they leave with the frame, and an unavailable answer
        // would make the client give them up.
        if (id <= last && !(frame->sending && id <= trailerId)) unavailable(static_cast<std::uint32_t>(id));
    });
}

}  // namespace gvsp
