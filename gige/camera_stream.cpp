#include "camera_stream.h"

#include "camera.h"
#include "gvsp/gvsp_packets.h"

#include <cstdio>

namespace gige {

namespace {
// PACKETRESEND flag: 64-bit block ids and 32-bit packet ids.
constexpr std::uint8_t kExtendedIds = 0x10;
}  // namespace

StreamPath::StreamPath(Camera& camera) : camera_(camera) {}

// Called by startServer under the camera's lock: the channel's settings already match the registers, which
// only clients change (and SCP reads 0 again once the previous server stopped).
bool StreamPath::open(std::uint32_t address, std::string& error) { return channel_.open(address, &error); }

void StreamPath::close() { channel_.close(); }

std::uint16_t StreamPath::sourcePort() const {
    std::uint32_t port = 0;
    channel_.readRegister(gvsp::kRegSourcePort, &port);
    return static_cast<std::uint16_t>(port);
}

void StreamPath::registerWritten(std::uint32_t offset, std::uint32_t value) {
    // The camera has checked and stored the value; the channel acts on it (the fire-test bit sends the
    // test packet), and the bit clears itself so a later read-modify-write does not fire again.
    channel_.writeRegister(offset, value);
    if (offset == gvsp::kRegPacketSize && (value & gvsp::kPacketSizeFireTest) != 0) {
        camera_.setStreamRegister(offset, value & ~gvsp::kPacketSizeFireTest);
    }
}

void StreamPath::packetResend(const std::uint8_t* payload, std::size_t size, std::uint8_t flags) {
    gvsp::ResendRequest request;
    // Malformed requests and other channels (only channel 0 exists) get nothing, as no ack is ever due.
    if (!gvsp::decodePacketResend(payload, size, (flags & kExtendedIds) != 0, &request) || request.channel != 0) {
        return;
    }
    // One request is served for at most kMaxResendPackets packets, so 20 bytes in can never ask for a whole
    // frame out; the rest of a longer range is left to a later request.
    const std::uint32_t last = request.lastPacket >= request.firstPacket &&
                                       request.lastPacket - request.firstPacket >= kMaxResendPackets
                                   ? request.firstPacket + (kMaxResendPackets - 1)
                                   : request.lastPacket;
    channel_.resend(request.blockId, request.firstPacket, last);
}

void StreamPath::stop() { channel_.closeChannel(); }

int StreamPath::reportRefusal(int result) {
    if (result <= 0 || result >= 32 || (reported_.fetch_or(1u << result) & (1u << result)) != 0) return result;
    const char* reason = "it was refused";
    switch (result) {
        case gvsp::kFrameNoSuchStream: reason = "only stream channel 0 exists"; break;
        case gvsp::kFrameTooLarge: reason = "it is larger than PayloadSize"; break;
        case gvsp::kFrameSizeMismatch: reason = "its image part is not width x height pixels of the current PixelFormat"; break;
        case gvsp::kFrameInvalid: reason = "the frame or one of its chunks is invalid"; break;
        case gvsp::kFrameNetworkFailed: reason = "the network refused its packets or blocked past the send limit"; break;
        default: break;
    }
    std::fprintf(stderr, "ERROR: a frame was not sent because %s (shown once)\n", reason);
    return result;
}

}  // namespace gige
