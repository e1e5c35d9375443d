// The camera's stream channel: opening and closing the stream socket, PACKETRESEND requests (and, at the close,
// how many were given up), and the one-time report of why frames were refused.
#include "camera.h"

#include <cstdio>

#include "gvsp/gvsp_packets.h"

namespace gige {

namespace {
// PACKETRESEND flag: 64-bit block ids and 32-bit packet ids.
constexpr std::uint8_t kExtendedIds = 0x10;
// Most packets one PACKETRESEND is answered with.
constexpr std::uint32_t kMaxResendPackets = 256;
}  // namespace

// Called by startServer under the camera's lock, after the channel has taken the registers' settings.
bool Camera::openStream(std::uint32_t address, std::string& error) {
    if (!channel_.open(address, &error)) return false;
    resends_.start();
    return true;
}

void Camera::closeStream() {
    resends_.stop();
    channel_.close();
    // Said only when it happened: a client then lost frames because it asked for more than could be resent.
    const std::uint64_t dropped = resends_.droppedCount();
    if (dropped != 0) {
        std::fprintf(stderr, "WARNING: %llu packet resend requests were given up unserved (%llu repeats merged)\n",
                     static_cast<unsigned long long>(dropped), static_cast<unsigned long long>(resends_.mergedCount()));
    }
}

void Camera::queueResend(const std::uint8_t* payload, std::size_t size, std::uint8_t flags) {
    gvsp::ResendRequest request;
    // Malformed requests and other channels (only channel 0 exists) get nothing, as no ack is ever due.
    if (!gvsp::decodePacketResend(payload, size, (flags & kExtendedIds) != 0, &request) || request.channel != 0) {
        return;
    }
    // One request is served for at most kMaxResendPackets packets, so 20 bytes in can never ask for a whole
    // frame out; the rest of a longer range is left to a later request.
    const std::uint32_t last =
        request.lastPacket >= request.firstPacket && request.lastPacket - request.firstPacket >= kMaxResendPackets
            ? request.firstPacket + (kMaxResendPackets - 1)
            : request.lastPacket;
    resends_.request(request.blockId, request.firstPacket, last, (flags & kExtendedIds) != 0);
}

int Camera::reportRefusal(int result) {
    if (result <= 0 || result >= 32 || (reportedRefusals_.fetch_or(1u << result) & (1u << result)) != 0) return result;
    const char* reason = "it was refused";
    switch (result) {
        case gvsp::FrameNoSuchStream: reason = "only stream channel 0 exists"; break;
        case gvsp::FrameTooLarge: reason = "it is larger than PayloadSize"; break;
        case gvsp::FrameSizeMismatch:
            reason = "its image part is not width x height pixels of the current PixelFormat";
            break;
        case gvsp::FrameInvalid: reason = "the frame or one of its chunks is invalid"; break;
        case gvsp::FrameNetworkFailed: reason = "the network refused its packets or blocked past the send limit"; break;
        default: break;
    }
    std::fprintf(stderr, "ERROR: a frame was not sent because %s (shown once)\n", reason);
    return result;
}

}  // namespace gige
