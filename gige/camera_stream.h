// Stream channel 0 of the camera: the stream path (gige/gvsp/) plugged into the camera's hooks. The camera
// keeps and checks the channel's registers; this object takes the settings they hold, owns the socket the
// stream leaves from (bound to the served address, its port is SCSP), answers PACKETRESEND on a thread of its
// own (a resend, paced or not, never holds up the control channel) and sends the frames.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "gvsp/frame_sender.h"
#include "gvsp/resend_worker.h"
#include "gvsp/stream_sender.h"

namespace gige {

// The camera's hooks for the stream path, called on the control thread with no camera lock held.
class StreamHooks {
public:
    virtual ~StreamHooks() = default;
    // The settings the channel's registers hold after a client wrote one of them.
    virtual void configure(const gvsp::ChannelSettings& settings) = 0;
    // A client set the fire-test bit of SCPS (the bit itself is never stored: it reads back clear).
    virtual void fireTestPacket() = 0;
    virtual void packetResend(const std::uint8_t* payload, std::size_t size, std::uint8_t flags) = 0;
    virtual void stop() = 0;
};

class StreamPath final : public StreamHooks {
public:
    // Most packets one PACKETRESEND is answered with.
    static constexpr std::uint32_t kMaxResendPackets = 256;

    // Opens the socket on the served address (host byte order, 0 for every interface).
    bool open(std::uint32_t address, std::string& error);
    void close();
    std::uint16_t sourcePort() const { return channel_.sourcePort(); }
    void setResendEnabled(bool enabled) { channel_.setResendEnabled(enabled); }
    void setSendTimeout(int milliseconds) { channel_.setSendTimeout(milliseconds); }

    void configure(const gvsp::ChannelSettings& settings) override { channel_.configure(settings); }
    void fireTestPacket() override { channel_.sendTestPacket(); }
    void packetResend(const std::uint8_t* payload, std::size_t size, std::uint8_t flags) override;
    void stop() override;
    void abortFrame() { channel_.abortFrame(); }

    gvsp::FrameSender& frames() { return frames_; }
    // Says on standard error why a frame was refused, the first time each reason occurs; returns `result`.
    int reportRefusal(int result);

private:
    gvsp::StreamSender channel_;
    gvsp::FrameSender frames_{channel_};
    gvsp::ResendWorker resends_{channel_};  // after the channel: it ends first
    std::atomic<unsigned> reported_{0};
};

}  // namespace gige
