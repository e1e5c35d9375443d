// The stream sender against a plain UDP receiver on 127.0.7.1: packet sizes, leader/payload/trailer,
// block-id wrap, PACKETRESEND answers for packets lost on the way, closing and pacing.
#include "gvsp_test_packets.h"
#include "pixel_formats.h"
#include "stream_sender.h"

#include <gtest/gtest.h>

#include <numeric>
#include <chrono>
#include <set>
#include <thread>

using namespace gvsp;
using namespace gvsp_test;

namespace {

constexpr std::uint32_t kDevice = ipv4(127, 0, 7, 1);
constexpr std::uint32_t kHost = ipv4(127, 0, 7, 2);

// A channel whose block ids can start near the end of the 16-bit sequence.
class WrappingStreamSender : public StreamSender {
public:
    void startBlockIdsAt(std::uint64_t id) { nextBlock_ = id; }
};

// Leaves out about `perMille` of every thousand payload packets, as a lossy network would; a fixed sequence, so a
// failing run can be repeated.
std::vector<Packet> loseSome(const std::vector<Packet>& packets, std::uint32_t perMille) {
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    std::vector<Packet> kept;
    for (const Packet& packet : packets) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        if (packet.format == 3 && state % 1000 < perMille) continue;
        kept.push_back(packet);
    }
    return kept;
}

class StreamSenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(channel.open(kDevice, &error)) << error;
    }
    void configure(std::uint32_t packetSize, std::uint32_t packetDelay = 0) {
        ChannelSettings settings;
        settings.port = host.port();
        settings.destination = kHost;
        settings.packetSize = packetSize;
        settings.packetDelay = packetDelay;
        channel.configure(settings);
    }
    std::vector<Packet> received(int quietMs = 100) {
        std::vector<Packet> packets;
        for (const Datagram& datagram : host.drain(quietMs)) {
            sizes.push_back(datagram.size());
            packets.push_back(parse(datagram));
        }
        return packets;
    }
    SendOutcome sendFrame(std::uint32_t width, std::uint32_t height, std::uint32_t format, bool temperature) {
        image.resize(std::size_t{width} * height * bytesPerPixel(format));
        std::iota(image.begin(), image.end(), static_cast<std::uint8_t>(frames++));
        parts.begin();
        if (temperature) {
            const std::uint8_t value[4] = {0, 0, 0, 35};
            parts.add(value, 4, 0xFFFFF0);
        }
        parts.add(nullptr, static_cast<std::uint32_t>(image.size()), 0);
        LeaderFields leader;
        leader.timestamp = 123456789;
        leader.pixelFormat = format;
        leader.width = width;
        leader.height = height;
        if (!parts.compose(image.data(), image.size(), &payload)) return SendOutcome::NetworkFailed;
        return channel.send(leader, payload);
    }
    std::vector<std::uint8_t> expectedPayload() const {
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 0; i < payload.segmentCount; ++i) {
            bytes.insert(bytes.end(), payload.segments[i].data, payload.segments[i].data + payload.segments[i].length);
        }
        return bytes;
    }

    WrappingStreamSender channel;
    UdpReceiver host{kHost};
    FrameParts parts;
    ComposedPayload payload;
    std::vector<std::uint8_t> image;
    std::vector<std::size_t> sizes;
    int frames = 0;
};

}  // namespace

TEST_F(StreamSenderTest, FrameIsLeaderFullPayloadPacketsAndTrailer) {
    configure(1400);
    // 100 x 37 Coord3D_ABC16 = 22200 bytes plus chunks: not a multiple of the 1364 data bytes per packet.
    ASSERT_EQ(sendFrame(100, 37, 0x023000B9, true), SendOutcome::Sent);
    const auto packets = received();
    const std::uint32_t dataPerPacket = 1400 - 36;
    const std::uint64_t total = payloadSize(100, 37, 0x023000B9, 4, 1);
    const std::uint32_t payloadPackets = static_cast<std::uint32_t>((total + dataPerPacket - 1) / dataPerPacket);
    ASSERT_EQ(packets.size(), payloadPackets + 2);

    const Packet& leader = packets.front();
    EXPECT_EQ(leader.format, 1);
    EXPECT_EQ(leader.id, 0u);
    EXPECT_EQ(leader.block, 1);
    ASSERT_EQ(leader.body.size(), 36u);
    EXPECT_EQ(be(&leader.body[2], 2), PayloadImageWithChunks);
    EXPECT_EQ(be(&leader.body[12], 4), 0x023000B9u);
    EXPECT_EQ(be(&leader.body[16], 4), 100u);
    EXPECT_EQ(be(&leader.body[20], 4), 37u);

    for (std::size_t i = 1; i + 1 < packets.size(); ++i) {
        EXPECT_EQ(packets[i].format, 3);
        EXPECT_EQ(packets[i].id, i);
        // Every payload packet but the last fills the packet size exactly (UDP payload = SCPS - 28).
        if (i + 2 < packets.size()) {
            EXPECT_EQ(sizes[i], 1400u - 28);
        }
    }
    const Packet& trailer = packets.back();
    EXPECT_EQ(trailer.format, 2);
    EXPECT_EQ(trailer.id, payloadPackets + 1);
    EXPECT_EQ(be(&trailer.body[2], 2), PayloadImageWithChunks);
    EXPECT_EQ(be(&trailer.body[4], 4), 37u);
    EXPECT_EQ(assemble(packets, 1, dataPerPacket), expectedPayload());

    // Without chunks the block is a plain image whose payload is the image alone.
    ASSERT_EQ(sendFrame(64, 48, 0x01080001, false), SendOutcome::Sent);
    const auto plain = received();
    EXPECT_EQ(be(&plain.front().body[2], 2), PayloadImage);
    EXPECT_EQ(plain.front().block, 2);
    EXPECT_EQ(assemble(plain, 2, dataPerPacket), image);
    EXPECT_EQ(plain.back().body.size(), 8u);
}

TEST_F(StreamSenderTest, NothingIsSentWithoutDestinationOrAfterClosing) {
    ASSERT_EQ(sendFrame(16, 16, 0x01080001, false), SendOutcome::NoDestination);
    configure(1500);
    channel.closeChannel();
    ASSERT_EQ(sendFrame(16, 16, 0x01080001, false), SendOutcome::NoDestination);
    EXPECT_TRUE(host.drain(50).empty());
    EXPECT_EQ(channel.settings().port, 0u);
    // A dropped frame uses no block id: the next block sent is still 1.
    configure(1500);
    ASSERT_EQ(sendFrame(16, 16, 0x01080001, false), SendOutcome::Sent);
    EXPECT_EQ(received().front().block, 1);
}

TEST_F(StreamSenderTest, BlockIdWrapsFromFFFFToOne) {
    configure(1500);
    channel.startBlockIdsAt(0xFFFF);
    ASSERT_EQ(sendFrame(8, 8, 0x01080001, false), SendOutcome::Sent);
    ASSERT_EQ(sendFrame(8, 8, 0x01080001, false), SendOutcome::Sent);
    std::set<std::uint16_t> blocks;
    for (const Packet& packet : received()) blocks.insert(packet.block);
    EXPECT_EQ(blocks, (std::set<std::uint16_t>{0xFFFF, 1}));
}

TEST_F(StreamSenderTest, ResendAnswersHeldPacketsAndReportsTheRestUnavailable) {
    configure(576);
    // More frames than the store has room for, so the first ones are gone.
    const int frameCount = static_cast<int>(ResendStore::kFrameCount) + 6;
    for (int i = 0; i < frameCount; ++i) ASSERT_EQ(sendFrame(64, 32, 0x01100007, true), SendOutcome::Sent);
    const auto original = received();
    std::map<std::pair<int, std::uint32_t>, std::vector<std::uint8_t>> sent;
    for (const Packet& packet : original) sent[{packet.block, packet.id}] = packet.body;
    const std::uint32_t payloadPackets =
        static_cast<std::uint32_t>((payloadSize(64, 32, 0x01100007, 4, 1) + 539) / 540);

    // The newest frames are held: packets come back unchanged, status 0, leader and trailer included.
    const auto newest = static_cast<std::uint16_t>(frameCount);
    for (std::uint16_t block = newest; block > newest - 3; --block) {
        channel.resend(block, 0, payloadPackets + 1);
        const auto again = received();
        ASSERT_EQ(again.size(), payloadPackets + 2) << block;
        for (const Packet& packet : again) {
            EXPECT_EQ(packet.status, 0);
            EXPECT_EQ(packet.body, (sent[{block, packet.id}])) << block << "/" << packet.id;
        }
    }
    // The oldest is gone, a future block was never sent: one PACKET_UNAVAILABLE each.
    for (std::uint16_t block : {std::uint16_t{1}, static_cast<std::uint16_t>(newest + 5)}) {
        channel.resend(block, 3, 4);
        const auto answer = received();
        ASSERT_EQ(answer.size(), 1u);
        EXPECT_EQ(answer[0].status, StatusPacketUnavailable);
        EXPECT_EQ(answer[0].block, block);
        EXPECT_EQ(answer[0].id, 3u);
        EXPECT_TRUE(answer[0].body.empty());
    }
    // A reversed range is ignored; a range past the trailer gets the held part and one unavailable.
    channel.resend(newest, 4, 3);
    EXPECT_TRUE(received(50).empty());
    channel.resend(newest, payloadPackets, payloadPackets + 10);
    const auto tail = received();
    ASSERT_EQ(tail.size(), 3u);
    EXPECT_EQ(tail[2].status, StatusPacketUnavailable);
    EXPECT_EQ(tail[2].id, payloadPackets + 2);
    // Extended block ids are never held.
    channel.resend(0x10005, 1, 1);
    ASSERT_EQ(received().size(), 1u);
}

TEST_F(StreamSenderTest, DroppedPacketsAreRecoveredThroughResends) {
    configure(1500);
    ASSERT_EQ(sendFrame(256, 64, 0x023000B9, true), SendOutcome::Sent);
    auto packets = loseSome(received(), 100);
    const std::uint32_t dataPerPacket = 1500 - 36;
    const std::uint32_t trailerId = packets.back().id;
    std::set<std::uint32_t> have;
    for (const Packet& packet : packets) have.insert(packet.id);
    std::vector<std::uint32_t> missing;
    for (std::uint32_t id = 0; id <= trailerId; ++id) {
        if (!have.count(id)) missing.push_back(id);
    }
    ASSERT_FALSE(missing.empty());
    for (std::uint32_t id : missing) channel.resend(1, id, id);
    for (const Packet& packet : received()) packets.push_back(packet);
    EXPECT_EQ(assemble(packets, 1, dataPerPacket), expectedPayload());
}

TEST_F(StreamSenderTest, EveryDroppedPacketOfManyFramesIsHeldForResend) {
    configure(1500);
    for (int frame = 0; frame < 20; ++frame) ASSERT_EQ(sendFrame(50, 50, 0x01100007, false), SendOutcome::Sent);
    auto packets = loseSome(received(), 500);  // so the last packets of some frames are lost too
    for (std::uint16_t block = 1; block <= 20; ++block) {
        std::set<std::uint32_t> have;
        for (const Packet& packet : packets) {
            if (packet.block == block) have.insert(packet.id);
        }
        for (std::uint32_t id = 1; id <= 4; ++id) {
            if (!have.count(id)) channel.resend(block, id, id);
        }
    }
    for (const Packet& packet : received()) {
        EXPECT_EQ(packet.status, 0) << packet.block << "/" << packet.id;
        packets.push_back(packet);
    }
    for (std::uint16_t block = 1; block <= 20; ++block) {
        EXPECT_EQ(assemble(packets, block, 1464).size(), 5000u) << block;
    }
}

TEST_F(StreamSenderTest, ClosingTheChannelStopsAFrameWaitingOnItsPacketDelay) {
    // A second between packets: the frame would take seconds if closing did not end the wait.
    configure(1500, 1000000000);
    SendOutcome outcome = SendOutcome::Sent;
    std::thread sender([&] { outcome = sendFrame(100, 100, 0x01080001, false); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    channel.closeChannel();
    sender.join();
    EXPECT_EQ(outcome, SendOutcome::Stopped);
    EXPECT_LE(received(50).size(), 2u);  // the leader, perhaps the first payload packet
}

TEST_F(StreamSenderTest, PacedFrameArrivesComplete) {
    // 2000 ticks of a 1 GHz clock: 2 microseconds between packets.
    configure(9000, 2000);
    ASSERT_EQ(sendFrame(300, 100, 0x026000C0, false), SendOutcome::Sent);
    const auto packets = received();
    EXPECT_EQ(assemble(packets, 1, 9000 - 36), image);
}
