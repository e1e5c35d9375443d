// Stream channel 0 through the camera, driven by a plain GVCP client on 127.0.0.1 against a device on
// 127.0.7.80: registers through READREG and READMEM alike, packets from the served address and SCSP,
// refused packet sizes, the test packet, PACKETRESEND answers, the stream stopping on SCP = 0, on
// release of control and on heartbeat expiry, the throughput limit, and paced resends beside the control
// channel. Each test serves its own address (127.0.7.80 to .86), so the tests can run in parallel.
#include "camera.h"
#include "gev_camera.h"
#include "gvcp/raw_client.h"
#include "gvsp_test_packets.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

using namespace gvsp_test;
using gvcp_test::be32;
using gvcp_test::Bytes;

namespace {

constexpr std::uint32_t kHost = ipv4(127, 0, 7, 90);
constexpr std::uint32_t kCcp = 0x0A00;
constexpr std::uint32_t kScp = 0x0D00;
constexpr std::uint32_t kScps = 0x0D04;
constexpr std::uint32_t kScda = 0x0D18;
constexpr std::uint32_t kScsp = 0x0D1C;

class CameraStreamTest : public ::testing::Test {
protected:
    void start(unsigned lastByte, int heartbeatMs = 0, std::uint16_t width = 64, std::uint16_t height = 48) {
        device = ipv4(127, 0, 7, lastByte);
        client = std::make_unique<gvcp_test::RawClient>(device);
        camera->setImageSize(width, height, 0);
        image.assign(std::size_t{width} * height, 0x11);
        if (heartbeatMs > 0) camera->setServerOptionC(1, heartbeatMs);
        ASSERT_EQ(camera->startServer(("127.0.7." + std::to_string(lastByte)).c_str()), 0);
        ASSERT_EQ(client->writeReg(kCcp, 2), 0);
        ASSERT_EQ(client->writeReg(kScda, kHost), 0);
        ASSERT_EQ(client->writeMem(kScp, be32(host.port())), 0);  // memory writes reach the channel too
    }
    void TearDown() override {
        streaming = false;
        if (frames.joinable()) frames.join();
        camera->stopServer();
    }
    void sendFrame() {
        camera->beginFrame(0);
        camera->addChunkData(image.data(), nullptr, static_cast<std::uint32_t>(image.size()), 0, 0);
        ASSERT_EQ(camera->sendImage(image.data(), 0, 0), 0);
    }
    void streamContinuously() {
        streaming = true;
        frames = std::thread([this] {
            while (streaming) {
                sendFrame();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    std::vector<Packet> received(int quietMs = 100) {
        std::vector<Packet> packets;
        for (const Datagram& datagram : host.drain(quietMs)) packets.push_back(parse(datagram));
        return packets;
    }
    // DeviceLinkThroughputLimit (bytes per second) and its mode, written as a client does.
    void limitThroughput(std::uint32_t bytesPerSecond, bool on) {
        const std::string xml = dynamic_cast<gige::Camera&>(*camera).genicamXml();
        const std::uint32_t limit = gvcp_test::registerAddress(xml, "regDeviceLinkThroughputLimit");
        const std::uint32_t mode = gvcp_test::registerAddress(xml, "regDeviceLinkThroughputLimitMode");
        ASSERT_NE(limit, 0u);
        ASSERT_NE(mode, 0u);
        ASSERT_EQ(client->writeMem(limit, gvcp_test::concat(be32(0), be32(bytesPerSecond))), 0);
        ASSERT_EQ(client->writeReg(mode, on ? 1 : 0), 0);
    }
    Bytes resendCommand(std::uint16_t channel, std::uint16_t block, std::uint32_t first, std::uint32_t last) {
        Bytes payload = {static_cast<std::uint8_t>(channel >> 8), static_cast<std::uint8_t>(channel),
                         static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(block)};
        payload = gvcp_test::concat(payload, be32(first));
        payload = gvcp_test::concat(payload, be32(last));
        return gvcp_test::makeCommand(0x0040, payload, client->nextId(), 0x00);
    }

    std::unique_ptr<CGevCamera> camera{createCamera()};
    std::uint32_t device = 0;
    std::unique_ptr<gvcp_test::RawClient> client;
    UdpReceiver host{kHost};
    std::vector<std::uint8_t> image = std::vector<std::uint8_t>(64 * 48, 0x11);
    std::atomic<bool> streaming{false};
    std::thread frames;
};

}  // namespace

TEST_F(CameraStreamTest, PacketsLeaveFromTheServedAddressAndTheAdvertisedPort) {
    start(80);
    std::uint32_t sourcePort = 0;
    ASSERT_EQ(client->readReg(kScsp, sourcePort), 0);
    Bytes memory;
    ASSERT_EQ(client->readMem(kScsp, 4, memory), 0);
    EXPECT_EQ(memory, be32(sourcePort));
    std::uint32_t capability = 0;
    client->readReg(0x0934, capability);
    EXPECT_NE(capability & 0x4, 0u) << "PACKETRESEND capability";
    client->readReg(0x092C, capability);
    EXPECT_EQ(capability, 0xC0000000u) << "SCSP and 16-bit block ids";

    sendFrame();
    std::vector<std::pair<std::uint32_t, std::uint16_t>> sources;
    const auto datagrams = host.drain(100, &sources);
    ASSERT_EQ(datagrams.size(), 5u);  // leader, 3 payload packets of 1464 + 144 bytes, trailer
    for (const auto& [address, port] : sources) {
        if (sourceAddressesAreReported()) {
            EXPECT_EQ(address, device);
        }
        EXPECT_EQ(port, sourcePort);
    }
}

TEST_F(CameraStreamTest, PacketSizeIsCheckedAndTheTestPacketHasTheRequestedSize) {
    start(81);
    EXPECT_EQ(client->writeReg(kScps, 20000), 0x8002);
    EXPECT_EQ(client->writeMem(kScps, be32(574)), 0x8002);
    std::uint32_t size = 0;
    client->readReg(kScps, size);
    EXPECT_EQ(size & 0xFFFF, 1500u);

    EXPECT_EQ(client->writeMem(kScps, be32(0xC0000000 | 1400)), 0);
    const auto datagrams = host.drain(100);
    ASSERT_EQ(datagrams.size(), 1u);
    EXPECT_EQ(datagrams[0].size(), 1400u - 28);
    client->readReg(kScps, size);
    EXPECT_EQ(size, 0x40000000u | 1400) << "the fire-test bit clears itself";

    sendFrame();
    const auto packets = received();
    ASSERT_GE(packets.size(), 3u);
    EXPECT_EQ(packets[1].body.size(), 1400u - 36);
}

TEST_F(CameraStreamTest, PacketResendCommandsAreAnsweredOnTheStream) {
    start(82);
    for (int i = 0; i < 3; ++i) sendFrame();
    const auto original = received();
    Bytes packetOne;
    for (const Packet& packet : original) {
        if (packet.block == 2 && packet.id == 1) packetOne = packet.body;
    }

    client->send(resendCommand(0, 2, 1, 1));
    auto answer = received();
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[0].status, 0);
    EXPECT_EQ(answer[0].body, packetOne);
    EXPECT_FALSE(client->receive(100).received) << "PACKETRESEND is never acknowledged";

    client->send(resendCommand(0, 200, 1, 2));  // a block not sent yet
    answer = received();
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[0].status, 0x800C);

    client->send(resendCommand(0, 2, 3, 1));  // reversed range
    client->send(resendCommand(1, 2, 1, 1));  // no such stream channel
    EXPECT_TRUE(received().empty());
}

TEST_F(CameraStreamTest, StreamStopsOnPortZeroAndWhenControlIsReleased) {
    start(83);
    streamContinuously();
    EXPECT_FALSE(received().empty());
    ASSERT_EQ(client->writeReg(kScp, 0), 0);
    host.drain(50);
    EXPECT_TRUE(host.drain(200).empty());

    ASSERT_EQ(client->writeReg(kScp, host.port()), 0);
    EXPECT_FALSE(received().empty());
    ASSERT_EQ(client->writeReg(kCcp, 0), 0);
    host.drain(50);
    EXPECT_TRUE(host.drain(200).empty());
    std::uint32_t port = 1;
    client->readReg(kScp, port);
    EXPECT_EQ(port, 0u);
}

TEST_F(CameraStreamTest, StreamStopsWhenTheHeartbeatExpires) {
    start(84, 500);
    streamContinuously();
    EXPECT_FALSE(received().empty());
    // No command from the controlling client for longer than the heartbeat time-out.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    host.drain(50);
    EXPECT_TRUE(host.drain(200).empty());
}

TEST_F(CameraStreamTest, ThroughputLimitPacesTheStreamOnlyWhileItsModeIsOn) {
    // 2 MB frames: at once without the limit, two seconds at the 1 MB/s the client sets.
    start(85, 0, 2048, 1024);
    ASSERT_NO_FATAL_FAILURE(limitThroughput(1000000, false));
    const std::size_t framePackets = (image.size() + 1500 - 36 - 1) / (1500 - 36) + 2;

    sendFrame();
    EXPECT_EQ(received().size(), framePackets);  // the mode is still Off

    ASSERT_NO_FATAL_FAILURE(limitThroughput(1000000, true));
    std::thread paced([this] { sendFrame(); });
    const std::size_t beforeClosing = host.drain(100).size();  // a second at most
    ASSERT_EQ(client->writeReg(kScp, 0), 0);                   // ends the paced frame early
    paced.join();
    EXPECT_GT(beforeClosing, 0u);
    EXPECT_LT(beforeClosing + host.drain(50).size(), framePackets * 3 / 4);
}

TEST_F(CameraStreamTest, APacedResendDoesNotHoldUpTheControlChannel) {
    start(86, 0, 1024, 256);  // 180 payload packets of 1464 bytes
    sendFrame();
    ASSERT_EQ(received().size(), 182u);
    // At 1 MB/s the resend of the whole frame takes about a quarter of a second.
    ASSERT_NO_FATAL_FAILURE(limitThroughput(1000000, true));
    client->send(resendCommand(0, 1, 1, 180));
    std::uint32_t port = 0;
    ASSERT_EQ(client->readReg(kScp, port), 0);
    const std::size_t beforeTheAnswer = host.drain(0).size();
    EXPECT_LT(beforeTheAnswer, 180u);
    EXPECT_EQ(beforeTheAnswer + host.drain(100).size(), 180u);
}
