// The SDK against the emulator's front end running in this process: the socket layer of every platform
// (this test also runs in the Windows build), the descriptor, a point cloud and the link going down.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "command_log.h"
#include "emulator_server.h"
#include "frame_dump.h"
#include "protocol.h"
#include "sensor_model.h"
#include "socket.h"
#include "tavrion.h"

namespace {

class InProcessSensor {
public:
    explicit InProcessSensor(const std::string& address)
        : model_(config()), dump_(""), server_(model_, log_, dump_, 0) {
        std::string error;
        listening_ = server_.listen(address, 32001, error);
        EXPECT_TRUE(listening_) << error;
        if (listening_) thread_ = std::thread([this] { server_.serve(stop_); });
    }
    ~InProcessSensor() { stop(); }
    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

private:
    static emulator::EmulatorConfig config() {
        emulator::EmulatorConfig config;
        config.width = 32;
        config.height = 24;
        config.triggerDelayMs = 0;
        config.databaseBytes = 10000;
        return config;
    }
    emulator::SensorModel model_;
    emulator::CommandLog log_;
    emulator::FrameDump dump_;
    emulator::EmulatorServer server_;
    std::atomic<bool> stop_{false};
    bool listening_ = false;
    std::thread thread_;
};

}  // namespace

TEST(SdkInProcess, RoundTripsAndNoticesTheSensorGoing) {
    auto sensor = std::make_unique<InProcessSensor>("127.0.3.40");
    void* handle = Tavrion_Connect("127.0.3.40", "32001", 0);
    ASSERT_NE(handle, nullptr);
    std::int32_t word = 0;
    ASSERT_EQ(Tavrion_GetSensorStatus(handle, &word), TAVRION_OK);
    EXPECT_EQ(word, TAVRION_STATUS_LINK_ALIVE);
    std::vector<char> xml(132000);
    ASSERT_EQ(Tavrion_ReadData(handle, "GetXmlDescriptor", xml.data(), 132000, 0), TAVRION_OK);
    EXPECT_NE(std::string(xml.data()).find("<pixel_x_max>32</pixel_x_max>"), std::string::npos);
    ASSERT_EQ(Tavrion_WriteData(handle, "SetAcquisitionStart=1", 0), TAVRION_OK);
    ASSERT_EQ(Tavrion_WriteData(handle, "SetTriggerSoftware", 0), TAVRION_OK);
    std::vector<double> xyz(3 * 32 * 24);
    std::vector<std::uint16_t> mono(32 * 24);
    void* buffers[2] = {xyz.data(), mono.data()};
    ASSERT_EQ(Tavrion_GetPointCloud(handle, buffers, 26 * 32 * 24, 0, 0), TAVRION_OK);
    EXPECT_GT(*std::max_element(xyz.begin(), xyz.end()), 300.0);

    sensor.reset();  // the sensor goes away: connections closed, nobody listening
    ASSERT_EQ(Tavrion_GetSensorStatus(handle, &word), TAVRION_OK);
    EXPECT_EQ(word & TAVRION_STATUS_LINK_ALIVE, 0);
    EXPECT_EQ(Tavrion_WriteData(handle, "SetGain=1.000000", 0), TAVRION_ERR_LINK_DOWN);
    EXPECT_EQ(Tavrion_Disconnect(handle), TAVRION_OK);
}

namespace {

// A peer that greets correctly and then answers the next request with `reply` bytes of its own making.
class MisbehavingSensor {
public:
    MisbehavingSensor(const std::string& address, std::vector<std::uint8_t> reply) {
        std::uint32_t host = 0;
        sensorlink::parseIpv4(address, host);
        std::string error;
        EXPECT_TRUE(listener_.listenOn(host, 32001, error)) << error;
        thread_ = std::thread([this, reply = std::move(reply)] {
            sensorlink::TcpStream peer = listener_.acceptClient(5000);
            std::uint8_t head[sensorlink::kHeaderSize];
            std::vector<std::uint8_t> payload(64);
            // Hello: a proper answer.
            if (peer.receiveAll(head, sizeof head, 5000) != sensorlink::IoStatus::Ok) return;
            const auto hello = sensorlink::decodeHeader(head, sizeof head);
            peer.receiveAll(payload.data(), hello->payloadLength, 5000);
            const auto greeting =
                sensorlink::encodeMessage(hello->kind | sensorlink::kReplyBit, hello->requestId,
                                          sensorlink::encodeHelloReply({sensorlink::kProtocolVersion, 4, 3, "FAKE-1"}));
            peer.sendAll(greeting.data(), greeting.size(), 5000);
            // The next request: the bytes under test, then nothing until the client gives up.
            if (peer.receiveAll(head, sizeof head, 5000) != sensorlink::IoStatus::Ok) return;
            const auto request = sensorlink::decodeHeader(head, sizeof head);
            peer.receiveAll(payload.data(), request->payloadLength, 5000);
            peer.sendAll(reply.data(), reply.size(), 5000);
            std::uint8_t rest;
            peer.receiveAll(&rest, 1, 5000);
        });
    }
    ~MisbehavingSensor() { thread_.join(); }

private:
    sensorlink::TcpListener listener_;
    std::thread thread_;
};

std::vector<std::uint8_t> commandReply(std::uint32_t requestId, std::vector<std::uint8_t> payload) {
    return sensorlink::encodeMessage(
        static_cast<std::uint8_t>(sensorlink::MessageKind::Command) | sensorlink::kReplyBit, requestId, payload);
}

}  // namespace

TEST(SdkInProcess, RepliesThatBreakTheProtocolAreRefused) {
    // The client numbers its requests from 1: the greeting was 1, the command is 2.
    const std::vector<std::vector<std::uint8_t>> broken = {
        commandReply(7, {0, 0, 0, 0}),        // another request's id
        commandReply(2, {0, 0}),              // no room for the result code
        commandReply(2, {0, 0, 0, 0, 0x55}),  // bytes after a success code
        {'H', 'T', 'T', 'P', '/', '1', '.', '1', ' ', '2', '0', '0', ' ', 'O', 'K', '\n'},
    };
    for (std::size_t i = 0; i < broken.size(); ++i) {
        MisbehavingSensor fake("127.0.3.41", broken[i]);
        void* handle = Tavrion_Connect("127.0.3.41", "32001", 0);
        ASSERT_NE(handle, nullptr) << i;
        EXPECT_EQ(Tavrion_WriteData(handle, "SetGain=1.000000", 0), TAVRION_ERR_PROTOCOL) << i;
        EXPECT_EQ(Tavrion_Disconnect(handle), TAVRION_OK);
    }
}
