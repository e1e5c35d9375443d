// Stream channel 0 of the camera: the stream path (gige/gvsp/) plugged into the camera's hooks. The camera
// keeps the channel's registers as a client reads them; this object mirrors every write into the stream
// channel, owns the socket the stream leaves from (bound to the served address, its port is SCSP), answers
// PACKETRESEND and sends the frames.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "gvsp/frame_sender.h"
#include "gvsp/stream_channel.h"

namespace gige {

class Camera;

// The camera's hooks for the stream path, called on the control thread with no camera lock held.
class StreamChannel {
public:
    virtual ~StreamChannel() = default;
    virtual void registerWritten(std::uint32_t offset, std::uint32_t value) = 0;
    virtual void packetResend(const std::uint8_t* payload, std::size_t size, std::uint8_t flags) = 0;
    virtual void stop() = 0;
};

class StreamPath final : public StreamChannel {
public:
    // Most packets one PACKETRESEND is answered with.
    static constexpr std::uint32_t kMaxResendPackets = 256;

    explicit StreamPath(Camera& camera);

    // Opens the socket on the served address (host byte order, 0 for every interface).
    bool open(std::uint32_t address, std::string& error);
    void close();
    std::uint16_t sourcePort() const;
    void setResendEnabled(bool enabled) { channel_.setResendEnabled(enabled); }
    void setSendTimeout(int milliseconds) { channel_.setSendTimeout(milliseconds); }

    void registerWritten(std::uint32_t offset, std::uint32_t value) override;
    void packetResend(const std::uint8_t* payload, std::size_t size, std::uint8_t flags) override;
    void stop() override;
    void abortFrame() { channel_.abortFrame(); }

    gvsp::FrameSender& frames() { return frames_; }
    // Says on standard error why a frame was refused, the first time each reason occurs; returns `result`.
    int reportRefusal(int result);

private:
    Camera& camera_;
    gvsp::StreamChannel channel_;
    gvsp::FrameSender frames_{channel_};
    std::atomic<unsigned> reported_{0};
};

}  // namespace gige
