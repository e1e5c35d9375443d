// The frame operations as the bridge calls them: beginFrame, the temperature chunk, the declared image part,
// then sendImage or sendPointCloud; PayloadSize against the bytes that arrive, and the refusals.
#include "frame_sender.h"
#include "gvsp_test_packets.h"
#include "pixel_formats.h"

#include <gtest/gtest.h>

using namespace gvsp;
using namespace gvsp_test;

namespace {

constexpr std::uint32_t kDevice = ipv4(127, 0, 7, 3);
constexpr std::uint32_t kHost = ipv4(127, 0, 7, 4);

class FrameSenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(channel.open(kDevice, &error)) << error;
        ChannelSettings config;
        config.destination = kHost;
        config.packetSize = 1500;
        config.port = host.port();
        channel.configure(config);
    }
    ImageSettings settings(const char* format, bool chunks) {
        ImageSettings image;
        image.width = 40;
        image.height = 30;
        image.offsetX = 4;
        image.offsetY = 5;
        image.pixelFormat = findPixelFormat(format)->code;
        image.payloadSize = payloadSize(40, 30, image.pixelFormat, chunks ? 4 : 0, chunks ? 1 : 0);
        return image;
    }
    // The bridge's sequence for one frame.
    void prepare(const ImageSettings& image, bool temperature) {
        frame.assign(std::size_t{image.width} * image.height * bytesPerPixel(image.pixelFormat), 0x5A);
        ASSERT_EQ(sender.beginFrame(0), FrameOk);
        if (temperature) {
            const std::uint8_t bigEndian35[4] = {0, 0, 0, 35};
            ASSERT_EQ(sender.addChunkData(bigEndian35, 4, 0xFFFFF0, 0), FrameOk);
        }
        ASSERT_EQ(sender.addChunkData(nullptr, static_cast<std::uint32_t>(frame.size()), 0, 0), FrameOk);
    }
    std::vector<Packet> received() {
        std::vector<Packet> packets;
        for (const Datagram& datagram : host.drain(100)) packets.push_back(parse(datagram));
        return packets;
    }

    StreamSender channel;
    FrameSender sender{channel};
    UdpReceiver host{kHost};
    std::vector<std::uint8_t> frame;
};

}  // namespace

TEST_F(FrameSenderTest, PayloadSizeEqualsTheBytesOfEveryFormatWithChunksOnAndOff) {
    std::uint16_t block = 1;
    for (const char* format : {"Mono8", "Mono16", "RGB16", "Coord3D_ABC16", "Coord3D_ABC32f"}) {
        for (bool chunks : {false, true}) {
            const ImageSettings image = settings(format, chunks);
            prepare(image, chunks);
            const bool cloud = isCoordinateFormat(image.pixelFormat);
            const int result = cloud ? sender.sendPointCloud(frame.data(), 40 * 30, 0, image, 99)
                                     : sender.sendImage(frame.data(), 0, 0, image, 99);
            ASSERT_EQ(result, FrameOk) << format;
            const auto packets = received();
            ASSERT_FALSE(packets.empty()) << format;
            const auto payload = assemble(packets, block, 1500 - 36);
            EXPECT_EQ(payload.size(), image.payloadSize) << format << " chunks " << chunks;
            const Packet& leader = packets.front();
            EXPECT_EQ(be(&leader.body[2], 2), chunks ? PayloadImageWithChunks : PayloadImage);
            EXPECT_EQ(be(&leader.body[8], 4), 99u);  // low half of the timestamp
            EXPECT_EQ(be(&leader.body[12], 4), image.pixelFormat);
            EXPECT_EQ(be(&leader.body[24], 4), 4u);
            EXPECT_EQ(be(&leader.body[28], 4), 5u);
            if (chunks) {
                EXPECT_EQ(be(&payload[payload.size() - 8], 4), 0xFFFFF0u);
                EXPECT_EQ(be(&payload[payload.size() - 12], 4), 35u);
            }
            ++block;
        }
    }
}

TEST_F(FrameSenderTest, RefusedFramesSendNothing) {
    ImageSettings image = settings("Mono16", true);
    // More than PayloadSize: a chunk the layout does not account for.
    prepare(image, true);
    const std::uint8_t extra[4] = {};
    sender.addChunkData(extra, 4, 0x42, 0);
    EXPECT_EQ(sender.sendImage(frame.data(), 0, 0, image, 0), FrameTooLarge);

    // The client switched the format after the frame was built: the leader would lie about the data.
    prepare(image, true);
    image.pixelFormat = findPixelFormat("Mono8")->code;
    EXPECT_EQ(sender.sendImage(frame.data(), 0, 0, image, 0), FrameSizeMismatch);
    EXPECT_EQ(sender.sendPointCloud(frame.data(), 1200, 0, image, 0), FrameSizeMismatch);

    image = settings("Coord3D_ABC16", false);
    prepare(image, false);
    EXPECT_EQ(sender.sendPointCloud(frame.data(), 1199, 0, image, 0), FrameSizeMismatch);
    EXPECT_EQ(sender.sendPointCloud(frame.data(), -1, 0, image, 0), FrameInvalid);
    EXPECT_EQ(sender.sendPointCloud(nullptr, 1200, 0, image, 0), FrameInvalid);
    // The buffer is said to hold fewer bytes than the declared image part.
    EXPECT_EQ(sender.sendImage(frame.data(), 100, 0, image, 0), FrameInvalid);

    EXPECT_EQ(sender.beginFrame(1), FrameNoSuchStream);
    EXPECT_EQ(sender.addChunkData(extra, 4, 1, 1), FrameNoSuchStream);
    EXPECT_EQ(sender.sendImage(frame.data(), 0, 1, image, 0), FrameNoSuchStream);
    EXPECT_EQ(sender.addChunkData(extra, 3, 1, 0), FrameInvalid);
    EXPECT_TRUE(host.drain(50).empty());
}

TEST_F(FrameSenderTest, ImageSizeIsDerivedWhenNoPartIsDeclared) {
    const ImageSettings image = settings("Mono8", false);
    frame.assign(1200, 1);
    sender.beginFrame(0);
    ASSERT_EQ(sender.sendImage(frame.data(), 0, 0, image, 0), FrameOk);
    EXPECT_EQ(assemble(received(), 1, 1464), frame);
    // No destination: dropped without error.
    channel.closeChannel();
    EXPECT_EQ(sender.sendImage(frame.data(), 1200, 0, image, 0), FrameOk);
    EXPECT_TRUE(host.drain(50).empty());
}
