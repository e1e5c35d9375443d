// The UDP socket a stream channel sends from, bound to the device's served address so that clients
// filtering on the source address accept the packets. One file per OS: on Linux a batch of packets
// leaves in one sendmmsg call; on Windows each packet is one gathered WSASendTo.
#pragma once

#include "payload_span.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace gvsp {

// One datagram: its pieces in order (the header first), sent without being joined.
struct OutPacket {
    static constexpr std::size_t kMaxSpans = 4;
    Span spans[kMaxSpans];
    std::size_t spanCount = 0;
};

class StreamSocket {
public:
    // Packets handed to one send call at most; callers batch this many.
    static constexpr std::size_t kMaxBatch = 64;

    StreamSocket() = default;
    ~StreamSocket();
    StreamSocket(const StreamSocket&) = delete;
    StreamSocket& operator=(const StreamSocket&) = delete;

    // Binds to `address` (IPv4, host byte order; 0 for any) and an ephemeral port. False with a
    // sentence in `error` when the socket cannot be made.
    bool open(std::uint32_t address, std::string* error);
    void close();
    bool isOpen() const;
    std::uint16_t localPort() const { return localPort_; }

    // Do-not-fragment on (datagrams larger than the path MTU fail) or off (they are fragmented).
    bool setDoNotFragment(bool enabled);
    // For datagrams to a multicast group: they leave by the interface holding `interfaceAddress` (host byte
    // order; 0 leaves it to the routing table), cross at most `ttl` routers, and are looped back to receivers
    // on this host that joined the group.
    bool setMulticast(std::uint32_t interfaceAddress, std::uint32_t ttl);
    // Longest one send call may block when the socket's buffer is full; 0 = no limit.
    bool setSendTimeout(int milliseconds);

    // Sends `count` (<= kMaxBatch) datagrams to address:port (host byte order). Returns how many were dealt
    // with; fewer than `count` means a failure (time-out, message too long, network error) stopped the rest.
    // With `refused`, a datagram the system refuses on its own (a packet filter's verdict on it, which
    // concerns neither the ones before nor after) counts as dealt with and is added to *refused; without,
    // it stops the rest like any failure.
    std::size_t send(std::uint32_t address, std::uint16_t port, const OutPacket* packets, std::size_t count,
                     std::size_t* refused = nullptr);

private:
    std::intptr_t handle_ = -1;
    std::uint16_t localPort_ = 0;
};

}  // namespace gvsp
