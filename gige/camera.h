// The GigE Vision device behind CGevCamera: the feature store, the register map (bootstrap block, feature
// registers, GenICam XML) and the control channel server.
//
// Stream channel 0 (gige/gvsp/):
// - The channel's registers (the 0x0D00 block) live only in the bootstrap image, where the camera checks
//   every write. After a client wrote one of them, or DeviceLinkThroughputLimitMode,
//   DeviceLinkThroughputLimit or GevSCMulticastTTL, the channel takes the settings they now hold, and sends the
//   test packet when the write asked for it; it closes when control is lost or the server stops (SCP already
//   reads 0 then). PACKETRESEND commands (never acknowledged) are queued for the resend thread. All of it runs
//   on the control thread with no camera lock held.
// - The channel's socket is bound to the served address; its port is what SCSP reports. A stream to a
//   multicast group (SCDA in 224.0.0.0/4) leaves by the served address's interface, or, serving every
//   interface, by the one on the controlling client's network; any receiver of the group may ask for resends,
//   which go to the group. Opening and closing the socket, PACKETRESEND and the report of refused frames live
//   in camera_stream.cpp.
// - setPacketResendSupported(): sets the PACKETRESEND capability bit clients look at.
// - timestampTicks(): the device clock (ns ticks, the frequency the bootstrap registers announce): the host's
//   real-time clock until a client resets it.
// - The frame operations of CGevCamera live in camera_frames.cpp; PayloadSize follows updatePayloadSize().
#pragma once

#include <atomic>
#include <optional>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "gev_camera.h"
#include "genicam/feature_store.h"
#include "genicam/register_layout.h"
#include "gvcp/action_signals.h"
#include "gvcp/bootstrap_registers.h"
#include "gvcp/control_privilege.h"
#include "gvcp/message_channel.h"
#include "gvcp/server.h"
#include "gvsp/frame_sender.h"
#include "gvsp/resend_worker.h"
#include "gvsp/stream_sender.h"
#include "net/udp_socket.h"

namespace gige {

class Camera final : public CGevCamera, private gvcp::DeviceRegisters {
public:
    Camera();
    ~Camera() override;

    int startServer(const char* address) override;
    void stopServer() override;
    bool addCategory(const char* name, const char* parent) override;
    bool addFeature(int type, const char* name, const char* category, std::uint16_t access, const char* registerName,
                    std::uint16_t withRegister) override;
    bool addNode(const char* nodeType, const char* name, const char* category, std::uint16_t reserved) override;
    bool addChunkCategory(const char* name) override;
    bool addChunkFeature(std::uint32_t chunkId, const char* name, const char* category, std::uint16_t access,
                         std::uint32_t length, const char* description) override;
    bool setIntValue(const char* name, std::int64_t value) override;
    bool setFloatValue(const char* name, float value) override;
    bool setStringValue(const char* name, const char* value) override;
    bool setEnumValue(const char* name, const char* entryName) override;
    bool getIntValue(const char* name, std::int64_t* value) override;
    bool getFloatValue(const char* name, float* value) override;
    bool getStringValue(const char* name, char* buffer, int size) override;
    bool setNodeElement(const char* node, const char* element, const char* text, bool append) override;
    bool setNodeElementAttribute(const char* node, const char* element, const char* elementText, const char* attribute,
                                 const char* attributeText) override;
    bool addEnumEntry(const char* enumName, const char* entryName, std::int64_t value) override;
    bool setEnumEntryElement(const char* enumName, const char* entryName, const char* element, const char* text,
                             bool append) override;
    bool removeNodeElement(const char* node, const char* element, int occurrence) override;
    bool setFloatRange(const char* name, float min, float max) override;
    bool setIntRange(const char* name, std::int64_t min, std::int64_t max, int increment) override;
    bool setDescription(const char* name, const char* text) override;
    bool setAccessMode(const char* name, std::uint16_t access) override;
    int getInterfaceCount() override;
    bool getInterfaceAddress(int index, char buffer[16]) override;
    bool isServerRunning() override;
    int beginFrame(int stream) override;
    int sendImage(const void* frame, std::int64_t byteCount, int stream) override;
    int sendPointCloud(const void* frame, std::int64_t pointCount, int stream) override;
    void abortFrame(int stream) override;
    void setServerOptionA(int answerBroadcastDiscovery) override;
    void setServerOptionB(int keepFramesForResend) override;
    void setServerOptionC(int enforceHeartbeat, int heartbeatTimeoutMs) override;
    void setServerOptionD(int callReadCallback) override;
    void setServerOptionE(int sendPendingAck, int pendingAckTimeMs) override;
    void setServerTimeouts(int callbackLimitMs, int sendLimitMs) override;
    void setReadCallback(void* context, GevRegisterCallback callback) override;
    void setWriteCallback(void* context, GevRegisterCallback callback) override;
    void setConnectionCallback(void* context, GevConnectionCallback callback) override;
    int addChunkData(const void* frame, const void* data, std::uint32_t length, std::uint32_t chunkId,
                     int stream) override;
    bool addPixelFormat(const char* name) override;
    bool setImageSize(std::uint16_t width, std::uint16_t height, int stream) override;
    bool setImageOffset(std::uint16_t x, std::uint16_t y, int stream) override;
    bool setChunkLayout(std::uint16_t chunkBytes, std::uint16_t chunkCount, int stream) override;
    int getWidth(int stream) override;
    int getHeight(int stream) override;
    const char* getPixelFormatName(int value) override;
    int addIpAddress(const char* ip, const char* mask, const char* gateway) override;
    bool setMacAddress(const char* text) override;
    bool setDeviceInfo(const char* vendor, const char* model, const char* version, const char* info,
                       const char* serial) override;
    bool setUserDefinedName(const char* text) override;
    bool setMultipartOffered(bool offered) override;
    bool setMultipartLayout(std::uint64_t partBytes, int partCount, int stream) override;
    bool multipartActive(int stream) override;
    int sendMultipart(const GevPart* parts, int partCount, int stream) override;
    std::uint64_t getTimestamp() override;
    void setFrameTimestamp(std::uint64_t ticks, int stream) override;
    void setActionCallback(void* context, GevActionCallback callback) override;
    bool addEvent(const char* name, std::uint16_t eventId, const char* dataFeature, const char* category) override;
    bool sendEvent(std::uint16_t eventId, std::uint64_t blockId, std::uint64_t ticks, std::uint32_t data) override;
    std::uint64_t getLastBlockId(int stream) override;
    std::uint64_t getUpcomingBlockId(int stream, int ahead) override;

    void setPacketResendSupported(bool supported);
    std::uint64_t timestampTicks() const;

    // Test seam: one control datagram handled on the caller's thread (see gvcp::Server::handleDatagram).
    void handleControlDatagram(const std::uint8_t* data, std::size_t size, const Endpoint& from) {
        server_.handleDatagram(data, size, from);
    }

    // The GenICam XML: the one served while the server runs, else one written from the declarations now.
    std::string genicamXml();

private:
    // gvcp::DeviceRegisters, on the control thread.
    gvcp::Status readMemory(std::uint32_t address, std::uint32_t count, std::uint8_t* out) override;
    gvcp::Status writeMemory(std::uint32_t address, const std::uint8_t* data, std::uint32_t count) override;
    std::uint32_t switchoverKey() override;
    void discoveryBlock(const gvcp::Peer& from, std::uint8_t* out) override;
    void packetResend(const gvcp::Peer& from, const std::uint8_t* payload, std::size_t size,
                      std::uint8_t flags) override;
    void controlChanged(bool controlled) override;
    void eventAcknowledged(const gvcp::Peer& from, std::uint16_t code, std::uint16_t ackId) override;
    // The message channel's settings from its registers, the id layout and the control privilege; the lock is held.
    gvcp::MessageChannel::Settings messageSettings() const;
    // An action for `signal` took effect: the program's callback, on the action thread.
    void deliverAction(int signal, std::uint64_t actionTicks);

    // Lays out the registers and writes the XML and its URL; the lock is held.
    bool describe(std::string& error);
    gvcp::Status readBootstrap(std::uint32_t address, std::uint32_t count, std::uint8_t* out);
    // `channelWritten` tells whether a stream channel register was written, `fireTest` whether the stream
    // path is to send the test packet.
    gvcp::Status writeBootstrap(std::uint32_t address, const std::uint8_t* data, std::uint32_t count,
                                bool& channelWritten, bool& fireTest);
    void writeBootstrapWord(std::uint32_t address, std::uint32_t value);
    gvcp::Status readFeatures(std::uint32_t address, std::uint32_t count, std::uint8_t* out);
    gvcp::Status writeFeatures(std::uint32_t address, const std::uint8_t* data, std::uint32_t count);
    bool runCallbacks(GevRegisterCallback callback, void* context, const std::vector<std::string>& names);
    gvcp::Status refreshWriteBounds(std::uint32_t address, std::uint32_t count);
    void updateCapabilities();
    // Stream channel 0's registers in the bootstrap image; the lock is held.
    std::uint32_t channelRegister(gvsp::ChannelRegister offset) const;
    void setChannelRegister(gvsp::ChannelRegister offset, std::uint32_t value);
    gvsp::ChannelSettings channelSettings() const;
    // Hands `settings` to the channel, with the interface a multicast stream leaves by when the device serves
    // every interface; without the lock.
    void configureChannel(gvsp::ChannelSettings settings);
    // The stream socket on the served address (host byte order, 0 for every interface), and the resend thread.
    bool openStream(std::uint32_t address, std::string& error);
    void closeStream();
    // Queues a PACKETRESEND command's packets for the resend thread; malformed requests are ignored.
    void queueResend(const std::uint8_t* payload, std::size_t size, std::uint8_t flags);
    // Says on standard error why a frame was refused, the first time each reason occurs; returns `result`.
    int reportRefusal(int result);
    // Recomputes PayloadSize from the image size, pixel format and chunk layout (camera_frames.cpp).
    void updatePayloadSize();
    bool chunkModeActive();
    // What the features say a frame is now, for the frame operations (camera_frames.cpp).
    gvsp::ImageSettings imageSettings();
    bool boundValue(const genicam::Node& feature, std::int64_t& value) const;
    bool setBoundValue(const genicam::Node& feature, std::int64_t value);
    bool declarable() const { return !server_.running(); }
    // The timestamp of the block about to be sent on stream 0: the one given with setFrameTimestamp (used
    // once), else the device clock now.
    std::uint64_t blockTimestamp();
    gvsp::ImageSettings imageSettingsLocked();
    // The program offers parts and the client enabled multipart and extended ids: blocks go out multipart,
    // and PayloadSize is theirs.
    bool multipartBlocksLocked() const;
    // Asks the host's ptp4l and keeps its answer in the Ptp* features; called without the lock, since the
    // question may wait for ptp4l (never longer than ptp::kQueryTimeoutMs).
    void latchPtpDataSet();

    mutable std::mutex mutex_;
    genicam::FeatureStore store_;
    genicam::RegisterLayout layout_;
    gvcp::BootstrapRegisters bootstrap_;
    gvcp::ControlPrivilege privilege_;
    gvcp::DeviceClock clock_;
    gvcp::ActionSignals actions_{clock_};
    // Stopped before the server, whose socket it sends from.
    gvcp::MessageChannel events_;
    gvcp::Server server_;
    std::string xml_;
    std::uint32_t servedAddress_ = 0;
    bool macGiven_ = false;
    std::vector<std::string> addedPixelFormats_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> addedAddresses_;  // (address, mask) added to the host

    // Start-up settings.
    gvcp::ServerOptions options_;
    bool callReadCallback_ = true;
    bool enforceHeartbeat_ = true;
    std::uint32_t heartbeatMs_ = 0;
    bool keepFramesForResend_ = true;
    std::uint32_t sendLimitMs_ = 10000;
    bool packetResendSupported_ = false;

    void* readContext_ = nullptr;
    GevRegisterCallback readCallback_ = nullptr;
    void* writeContext_ = nullptr;
    GevRegisterCallback writeCallback_ = nullptr;
    void* connectionContext_ = nullptr;
    GevConnectionCallback connectionCallback_ = nullptr;
    void* actionContext_ = nullptr;
    GevActionCallback actionCallback_ = nullptr;

    std::uint16_t chunkBytes_ = 0;
    std::uint16_t chunkCount_ = 0;
    bool multipartOffered_ = false;
    std::uint64_t multipartBytes_ = 0;
    int multipartParts_ = 0;
    // The image settings frames are described with while a client's write waits for the program's answer.
    std::optional<gvsp::ImageSettings> heldImage_;
    bool frameTimestampGiven_ = false;
    std::uint64_t frameTimestamp_ = 0;
    std::atomic<unsigned> reportedRefusals_{0};
    // Last members: destroyed first, after the destructor has stopped the server; the resend thread, which
    // uses the channel, ends before it.
    gvsp::StreamSender channel_;
    gvsp::FrameSender frames_{channel_};
    gvsp::ResendWorker resends_{channel_};
};

}  // namespace gige
