// The sending side of stream channel 0: the packetizer that turns one frame into leader, payload and
// trailer packets, the test packet of packet-size negotiation, and the answers to PACKETRESEND. Its settings
// come from the channel's registers, which the camera keeps and checks; this class holds only what it
// was last configured with.
//
// Threads: configuration and resends arrive on the control thread, frames on the caller's thread.
// The settings are read once per frame under a lock; closing the channel (SCP = 0, control lost) or
// pointing it elsewhere stops a frame in flight before its next batch of packets.
#pragma once

#include "gvsp_packets.h"
#include "frame_parts.h"
#include "resend_store.h"
#include "stream_pacer.h"
#include "stream_socket.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string>

namespace gvsp {

enum class SendOutcome {
    Sent,
    NoDestination,   // the client has not configured the channel (or closed it): dropped on purpose
    Stopped,         // the channel was closed while the frame was on its way
    NetworkFailed,   // the socket refused a packet or blocked longer than the send limit
    TooManyPackets,  // the payload needs more packets than the packet ids can number
    MultipartOff,    // a multipart block, but the client has not enabled multipart and extended ids
};

struct ChannelSettings {
    std::uint16_t port = 0;
    std::uint32_t destination = 0;
    std::uint32_t packetSize = kDefaultPacketSize;
    bool doNotFragment = false;
    std::uint32_t packetDelay = 0;      // SCPD, in ticks of the device clock
    std::uint64_t throughputLimit = 0;  // bytes per second of IP packets, 0 for no limit
    bool extendedIds = false;           // 64-bit block ids and 32-bit packet ids (GVSP configuration register)
    bool multipart = false;             // the client accepts multipart blocks (SCCFG)
    // For a multicast destination: the address of the interface the group's packets leave by (0: the routing
    // table's choice) and their time to live.
    std::uint32_t multicastInterface = 0;
    std::uint32_t multicastTtl = kDefaultMulticastTtl;
};

// One multipart block: its parts, each with its bytes, in the order of the leader's records.
struct MultipartBlock {
    std::uint64_t timestamp = 0;
    std::uint16_t payloadType = PayloadMultipart;
    GevPart parts[kMaxParts];
    std::uint32_t partCount = 0;
    // Where every part lies in the sensor's image.
    std::uint32_t offsetX = 0;
    std::uint32_t offsetY = 0;
    // With chunks: the chunk part's length and its layout id, for the trailer.
    std::uint32_t chunkDataLength = 0;
    std::uint32_t chunkLayoutId = 0;
};

class StreamSender {
public:
    // `tickFrequency`: ticks per second of the device clock, the unit of SCPD.
    explicit StreamSender(std::uint64_t tickFrequency = 1000000000,
                          std::uint64_t resendBudget = ResendStore::kDefaultByteBudget);

    // The socket: bound to the served address (host byte order) so packets carry the device's address.
    bool open(std::uint32_t address, std::string* error);
    void close();

    // The UDP port packets leave from (SCSP), 0 while the socket is closed.
    std::uint16_t sourcePort() const { return sourcePort_.load(); }

    // Takes the settings the channel's registers now hold. A new port or destination stops a frame in
    // flight: its remaining packets would reach a receiver that never saw its leader.
    void configure(const ChannelSettings& settings);
    // Sends one datagram of the configured packet size to the configured destination (the client checks
    // only its length); false when the channel is closed or the socket refused it.
    bool sendTestPacket();

    // SCP := 0: nothing more is sent until a client configures the channel again (control released or
    // heartbeat expired).
    void closeChannel();
    ChannelSettings settings() const;

    void setResendEnabled(bool enabled) { store_.setEnabled(enabled); }
    void setSendTimeout(int milliseconds);

    // Sends one frame as one block. `leader` gives everything but the payload type, which follows from
    // whether the payload has chunks.
    SendOutcome send(const LeaderFields& leader, const ComposedPayload& payload);
    // Sends one multipart block. A multipart leader carries its part count in the extended-id header only, so
    // the block goes out only while the client has enabled both multipart and extended ids (MultipartOff
    // otherwise, nothing sent). Every part must have at least one byte.
    SendOutcome sendMultipart(const MultipartBlock& block);

    // PACKETRESEND for packets first..last of a block: held packets are sent again unchanged (with extended
    // ids, flagged as resent); one packet with status PACKET_UNAVAILABLE answers for a block or packets no
    // longer (or never) held. A reversed range is ignored. The answer goes where the stream goes, never to
    // the asker: to a multicast group every receiver sees it, as each saw the block. Resent packets keep the
    // channel's pace, so a paced resend holds the caller. `extendedIds`: the request's id layout.
    void resend(std::uint64_t blockId, std::uint32_t first, std::uint32_t last, bool extendedIds = false);

    // Ends the frame being sent: its remaining packets and pacing waits are skipped; send() returns Stopped.
    void abortFrame() { ++generation_; }

    // The id the next frame gets with standard ids.
    std::uint16_t nextBlockId() const;
    // The id the `ahead`-th frame from now takes (1: the next) with the channel's id layout now; with
    // `ahead` 0 the id the last frame took (0 before the first).
    std::uint64_t blockIdAhead(int ahead) const;
    ResendStore& resendStore() { return store_; }

protected:
    // The id the next frame takes (never 0); a test of the 16-bit wrap starts it near the end.
    std::atomic<std::uint64_t> nextBlock_{1};
    std::atomic<std::uint64_t> lastBlock_{0};

private:
    // Books the wire time of `count` packets and waits for it; false when the channel changed meanwhile.
    bool pace(const OutPacket* packets, std::size_t count, std::uint32_t generation);
    // Takes the next block id: 1..0xFFFF with standard ids, 64-bit with extended ones.
    std::uint64_t takeBlockId(bool extendedIds);
    // Sends leader, payload packets and trailer of a block whose packets are numbered by `layout`.
    SendOutcome transmit(const ChannelSettings& config, std::uint32_t generation, std::uint64_t blockId,
                         const BlockLayout& layout, const Span& leader, const Span& trailer, const Span* segments,
                         std::size_t segmentCount);

    const std::uint64_t tickFrequency_;
    mutable std::mutex configMutex_;
    ChannelSettings settings_;
    std::atomic<std::uint32_t> generation_{0};
    StreamPacer pacer_;

    mutable std::shared_mutex socketMutex_;  // senders share it; open and close take it alone
    StreamSocket socket_;
    std::atomic<std::uint16_t> sourcePort_{0};

    std::mutex frameMutex_;  // one frame at a time
    ResendStore store_;
};

}  // namespace gvsp
