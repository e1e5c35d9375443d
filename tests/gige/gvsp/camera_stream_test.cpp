// Stream channel 0 through the camera, driven by a plain GVCP client on 127.0.0.1 against a device on
// 127.0.7.80: registers through READREG and READMEM alike, packets from the served address and SCSP,
// packet sizes refused or rounded, the test packet, PACKETRESEND answers in both id layouts, multipart blocks,
// the stream stopping on SCP = 0, on release of control and on heartbeat expiry, the throughput limit, and paced
// resends beside the control channel, the leader's timestamp. Each test serves its own address (127.0.7.80 to
// .89), so the tests can run in parallel.
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
constexpr std::uint32_t kScc = 0x0D20;
constexpr std::uint32_t kSccfg = 0x0D24;
constexpr std::uint32_t kGvspConfig = 0x0960;
constexpr std::uint32_t kExtendedIds = 0x40000000;

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
    Bytes extendedResendCommand(std::uint64_t block, std::uint32_t first, std::uint32_t last) {
        Bytes payload = gvcp_test::concat(gvcp_test::concat(Bytes{0, 0, 0, 0}, be32(first)), be32(last));
        payload = gvcp_test::concat(payload, be32(static_cast<std::uint32_t>(block >> 32)));
        payload = gvcp_test::concat(payload, be32(static_cast<std::uint32_t>(block)));
        return gvcp_test::makeCommand(0x0040, payload, client->nextId(), 0x10);
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
    // Without multipart blocks from the program, the multipart bit is neither offered nor kept, though some
    // clients set it on every run.
    client->readReg(kScc, capability);
    EXPECT_EQ(capability, 0x1u);
    ASSERT_EQ(client->writeReg(kSccfg, 0x41), 0);
    client->readReg(kSccfg, capability);
    EXPECT_EQ(capability, 0x1u);

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
    // A client writing its MTU off the increment gets the next smaller size instead of no stream.
    EXPECT_EQ(client->writeReg(kScps, 1503), 0);
    client->readReg(kScps, size);
    EXPECT_EQ(size, 1500u);

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

TEST_F(CameraStreamTest, LeaderCarriesTheFrameTimestampOnceElseTheDeviceClock) {
    start(89);
    const auto leaderTimestamp = [this] {
        for (const Packet& packet : received()) {
            if (packet.format == 1) return (std::uint64_t{be(&packet.body[4], 4)} << 32) | be(&packet.body[8], 4);
        }
        return std::uint64_t{0};
    };
    camera->beginFrame(0);
    camera->addChunkData(image.data(), nullptr, static_cast<std::uint32_t>(image.size()), 0, 0);
    camera->setFrameTimestamp(0x0102030405060708ull, 0);
    ASSERT_EQ(camera->sendImage(image.data(), 0, 0), 0);
    EXPECT_EQ(leaderTimestamp(), 0x0102030405060708ull);
    // beginFrame forgets it: the next block carries the device clock at its send.
    camera->setFrameTimestamp(42, 0);
    const std::uint64_t before = camera->getTimestamp();
    sendFrame();
    const std::uint64_t after = camera->getTimestamp();
    const std::uint64_t stamped = leaderTimestamp();
    EXPECT_GE(stamped, before);
    EXPECT_LE(stamped, after);
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

    // The mode is still Off: the whole frame at once. It is read while it is sent, since 2 MB arriving in one
    // burst can overflow the socket's buffer of a receiver that waits for the send to end (seen under wine).
    std::thread unpaced([this] { sendFrame(); });
    std::size_t unpacedPackets = host.drain(200).size();
    unpaced.join();
    unpacedPackets += host.drain(50).size();
    EXPECT_EQ(unpacedPackets, framePackets);

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
    // The rest follows; a busy machine may hold the paced sender for longer than one quiet spell of the drain.
    std::size_t resent = beforeTheAnswer;
    for (std::size_t more = host.drain(500).size(); more > 0 && resent < 180u; more = host.drain(500).size())
        resent += more;
    EXPECT_EQ(resent, 180u);
}

TEST_F(CameraStreamTest, ExtendedIdsOnceEnabledWithTheirResendsAndStandardIdsForTheNextClient) {
    start(87);
    std::uint32_t value = 0;
    ASSERT_EQ(client->writeReg(kGvspConfig, kExtendedIds), 0);
    client->readReg(kGvspConfig, value);
    EXPECT_EQ(value, kExtendedIds);
    sendFrame();
    sendFrame();
    const auto packets = received();
    ASSERT_EQ(packets.size(), 10u);  // per block: leader, 3 payload packets of 1452 + 1452 + 168 bytes, trailer
    for (const Packet& packet : packets) EXPECT_TRUE(packet.extended);
    EXPECT_EQ(packets[6].block64, 2u);
    EXPECT_EQ(packets[6].id, 1u);
    EXPECT_EQ(packets[6].body.size(), 1500u - 48);
    EXPECT_EQ(packets[9].format, 2);
    EXPECT_EQ(packets[9].id, 4u);

    // PACKETRESEND with 64-bit block ids: the same bytes, flagged as resent.
    client->send(extendedResendCommand(2, 2, 4));
    auto answer = received();
    ASSERT_EQ(answer.size(), 3u);
    EXPECT_EQ(answer[0].body, packets[7].body);
    EXPECT_EQ(answer[0].flags, 0x0001);
    EXPECT_EQ(answer[2].format, 2);
    client->send(extendedResendCommand(0x100000002ull, 1, 1));  // never sent
    answer = received();
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[0].status, 0x800C);
    EXPECT_EQ(answer[0].block64, 0x100000002ull);

    // The next client that never asks for extended ids gets today's headers.
    ASSERT_EQ(client->writeReg(kCcp, 0), 0);
    ASSERT_EQ(client->writeReg(kCcp, 2), 0);
    client->readReg(kGvspConfig, value);
    EXPECT_EQ(value, 0u);
    ASSERT_EQ(client->writeReg(kScp, host.port()), 0);
    sendFrame();
    answer = received();
    ASSERT_EQ(answer.size(), 5u);
    EXPECT_FALSE(answer[0].extended);
}

TEST_F(CameraStreamTest, MultipartBlocksStartEachPartInAPacketOfItsOwn) {
    camera->setMultipartOffered(true);
    camera->setChunkLayout(4, 1, 0);
    camera->setMultipartLayout(64 * 48 * 12 + 64 * 48 * 2 + 64 * 48, 3, 0);
    camera->addPixelFormat("Coord3D_ABC32f");
    camera->setEnumValue("PixelFormat", "Coord3D_ABC32f");
    start(88);
    std::uint32_t value = 0;
    client->readReg(kScc, value);
    EXPECT_EQ(value, 0x41u) << "multipart and extended chunk data";
    // Until the client takes multipart blocks, PayloadSize is the single image's: the image in PixelFormat, its
    // tail and the chunk.
    std::int64_t payload = 0;
    camera->getIntValue("PayloadSize", &payload);
    EXPECT_EQ(payload, 64 * 48 * 12 + 8 + 4 + 8);

    std::vector<std::uint8_t> range(64 * 48 * 12), intensity(64 * 48 * 2), confidence(64 * 48);
    for (std::size_t i = 0; i < range.size(); ++i) range[i] = static_cast<std::uint8_t>(i * 7);
    for (std::size_t i = 0; i < intensity.size(); ++i) intensity[i] = static_cast<std::uint8_t>(i * 3);
    for (std::size_t i = 0; i < confidence.size(); ++i) confidence[i] = i % 5 == 0 ? 0 : 255;
    const GevPart parts[] = {
        {range.data(), range.size(), 0x026000C0, 64, 48, GevPart3DImage, 1},
        {intensity.data(), intensity.size(), 0x01100007, 64, 48, GevPart2DImage, 2},
        {confidence.data(), confidence.size(), 0x010800C6, 64, 48, GevPartConfidenceMap, 3},
    };
    const std::uint8_t temperature[4] = {0, 0, 0, 41};
    auto sendParts = [&] {
        camera->beginFrame(0);
        camera->addChunkData(nullptr, temperature, 4, 0xFFFFF0, 0);
        return camera->sendMultipart(parts, 3, 0);
    };

    // Multipart selected on the channel but no extended ids: the part in PixelFormat alone, as an image with
    // chunks, and PayloadSize stays.
    ASSERT_EQ(client->writeReg(kSccfg, 0x40), 0);
    camera->getIntValue("PayloadSize", &payload);
    EXPECT_EQ(payload, 64 * 48 * 12 + 8 + 4 + 8);
    ASSERT_EQ(sendParts(), 0);
    auto packets = received();
    ASSERT_GE(packets.size(), 3u);
    EXPECT_FALSE(packets[0].extended);
    EXPECT_EQ(be(&packets[0].body[2], 2), 0x4001u);
    EXPECT_EQ(be(&packets[0].body[12], 4), 0x026000C0u);
    EXPECT_EQ(assemble(packets, packets[0].block, 1464).size(), range.size() + 8 + 12);

    ASSERT_EQ(client->writeReg(kGvspConfig, kExtendedIds), 0);
    camera->getIntValue("PayloadSize", &payload);
    EXPECT_EQ(payload, 64 * 48 * 15 + 4 + 8) << "the three parts and the chunk part";
    ASSERT_EQ(sendParts(), 0);
    packets = received();
    ASSERT_FALSE(packets.empty());
    const Packet& leader = packets.front();
    EXPECT_EQ(leader.formatInfo, 4) << "three images and the chunk part";
    EXPECT_EQ(be(&leader.body[2], 2), 0x400Au);
    ASSERT_EQ(leader.body.size(), 12u + 4 * 48);
    const std::uint32_t types[] = {5, 1, 9, 0x0A};
    const std::uint32_t formats[] = {0x026000C0, 0x01100007, 0x010800C6, 0};
    const std::size_t lengths[] = {range.size(), intensity.size(), confidence.size(), 12};
    for (std::size_t part = 0; part < 4; ++part) {
        const std::uint8_t* record = &leader.body[12 + part * 48];
        EXPECT_EQ(be(record, 2), types[part]) << part;
        EXPECT_EQ(be(record + 4, 4), lengths[part]) << part;
        EXPECT_EQ(be(record + 8, 4), formats[part]) << part;
        EXPECT_EQ(be(record + 20, 2), part < 3 ? part + 1 : 0) << "component id";
        EXPECT_EQ(be(record + 24, 4), part < 3 ? 64u : 0u) << part;
    }
    // Each part from a new packet of 1500 - 56 data bytes, placed by the offset the packet carries.
    std::vector<std::uint8_t> block(static_cast<std::size_t>(payload), 0xEE);
    std::vector<std::uint32_t> firstPacketOfPart(4, 0);
    for (const Packet& packet : packets) {
        if (packet.format != 7) continue;
        const std::uint8_t part = packet.body[0];
        const std::uint64_t offset = (std::uint64_t{be(&packet.body[2], 2)} << 32) | be(&packet.body[4], 4);
        ASSERT_LT(part, 4);
        if (firstPacketOfPart[part] == 0) firstPacketOfPart[part] = packet.id;
        ASSERT_LE(offset + packet.body.size() - 8, block.size());
        std::copy(packet.body.begin() + 8, packet.body.end(), block.begin() + static_cast<std::ptrdiff_t>(offset));
    }
    EXPECT_EQ(firstPacketOfPart, (std::vector<std::uint32_t>{1, 27, 32, 35}));  // 36864 bytes take 26 packets
    // The parts one after the other, then the chunk's id and length.
    const std::uint8_t chunkTrailer[] = {0x00, 0xFF, 0xFF, 0xF0, 0x00, 0x00, 0x00, 0x04};
    std::vector<std::uint8_t> expected(range.size() + intensity.size() + confidence.size() + sizeof temperature +
                                       sizeof chunkTrailer);
    auto next = std::copy(range.begin(), range.end(), expected.begin());
    next = std::copy(intensity.begin(), intensity.end(), next);
    next = std::copy(confidence.begin(), confidence.end(), next);
    next = std::copy(temperature, temperature + sizeof temperature, next);
    std::copy(chunkTrailer, chunkTrailer + sizeof chunkTrailer, next);
    EXPECT_EQ(block, expected);
    EXPECT_EQ(packets.back().format, 2);
    EXPECT_EQ(packets.back().id, 36u);
    EXPECT_EQ(packets.back().body.size(), 4u + 4 * 16 + 8) << "part records, chunk length and layout id";

    // A resent packet of the chunk part names its part and offset again.
    client->send(extendedResendCommand(leader.block64, 35, 35));
    const auto again = received();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].body[0], 3);
    EXPECT_EQ(std::vector<std::uint8_t>(again[0].body.begin() + 8, again[0].body.end()),
              std::vector<std::uint8_t>(expected.end() - 12, expected.end()));
}
