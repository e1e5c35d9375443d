// Multipart blocks and extended ids end to end on loopback: the device library in this process sends the
// three parts of a trigger and a libaravis client that enabled multipart and extended ids receives them part
// by part (component ids, formats, sizes, bytes) with the temperature chunk, and, run by ctest in a namespace
// whose loopback loses a share of the stream's payload packets, through packets lost and resent; without multipart the
// same client gets the part in PixelFormat as an image, still with 64-bit ids; either way every block is as large as
// PayloadSize; tshark decodes the multipart stream without malformed or expert items.
#include "gev_camera.h"

#include <arv.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

constexpr std::uint32_t kWidth = 160;
constexpr std::uint32_t kHeight = 120;
constexpr std::uint32_t kPixels = kWidth * kHeight;
constexpr std::uint32_t kTemperatureChunkId = 0xFFFFF0;
constexpr std::uint32_t kTemperature = 38;

struct PartPattern {
    std::vector<std::uint8_t> range = std::vector<std::uint8_t>(kPixels * 12);
    std::vector<std::uint8_t> intensity = std::vector<std::uint8_t>(kPixels * 2);
    std::vector<std::uint8_t> confidence = std::vector<std::uint8_t>(kPixels);
    PartPattern() {
        for (std::size_t i = 0; i < range.size(); ++i) range[i] = static_cast<std::uint8_t>(i * 13 + i / 251);
        for (std::size_t i = 0; i < intensity.size(); ++i) intensity[i] = static_cast<std::uint8_t>(i * 5 + 1);
        for (std::size_t i = 0; i < confidence.size(); ++i) confidence[i] = (i / 7) % 3 == 0 ? 0 : 255;
    }
};

// The device: one trigger's three parts every 10 ms with the temperature chunk, between the client's
// AcquisitionStart and AcquisitionStop, so that a client's first block starts with its leader.
class Device {
public:
    explicit Device(const char* address) : camera_(createCamera()) {
        camera_->setDeviceInfo("Corvastrum", "MultipartTest", "1.0", "multipart test", "MP0001");
        camera_->addChunkCategory("ChunkDataControl");
        camera_->addChunkFeature(kTemperatureChunkId, "ChunkTemperature", "ChunkDataControl", GevReadOnly, 4, nullptr);
        camera_->setImageSize(kWidth, kHeight, 0);
        camera_->addPixelFormat("Coord3D_ABC32f");
        camera_->setEnumValue("PixelFormat", "Coord3D_ABC32f");
        camera_->setMultipartOffered(true);
        camera_->setChunkLayout(4, 1, 0);
        camera_->setMultipartLayout(kPixels * 15, 3, 0);
        camera_->setWriteCallback(this, [](void* self, const char* name) {
            const std::string feature = name;
            if (feature == "AcquisitionStart") static_cast<Device*>(self)->acquiring_ = true;
            if (feature == "AcquisitionStop") static_cast<Device*>(self)->acquiring_ = false;
            return true;
        });
        started_ = camera_->startServer(address) == 0;
        sender_ = std::thread([this] {
            const GevPart parts[] = {
                {pattern_.range.data(), pattern_.range.size(), 0x026000C0, kWidth, kHeight, GevPart3DImage, 1},
                {pattern_.intensity.data(), pattern_.intensity.size(), 0x01100007, kWidth, kHeight, GevPart2DImage, 2},
                {pattern_.confidence.data(), pattern_.confidence.size(), 0x010800C6, kWidth, kHeight,
                 GevPartConfidenceMap, 3},
            };
            const std::uint8_t temperature[4] = {0, 0, 0, kTemperature};
            while (running_) {
                if (!acquiring_) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
                camera_->beginFrame(0);
                camera_->addChunkData(nullptr, temperature, 4, kTemperatureChunkId, 0);
                if (camera_->sendMultipart(parts, 3, 0) != 0) ++refused_;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    ~Device() {
        running_ = false;
        sender_.join();
        camera_->stopServer();
    }
    bool started() const { return started_; }
    int refused() const { return refused_; }
    const PartPattern& pattern() const { return pattern_; }

private:
    std::unique_ptr<CGevCamera> camera_;
    PartPattern pattern_;
    bool started_ = false;
    std::atomic<bool> running_{true};
    std::atomic<bool> acquiring_{false};
    std::atomic<int> refused_{0};
    std::thread sender_;
};

struct Received {
    int complete = 0;
    int failed = 0;
    int wrong = 0;  // a part with other ids, format, size or bytes than sent
    std::int64_t temperature = -1;
    guint64 resendRequests = 0;  // packets the client asked for again
};

bool partIs(ArvBuffer* buffer, guint part, guint component, ArvBufferPartDataType type, ArvPixelFormat format,
            const std::vector<std::uint8_t>& bytes) {
    size_t size = 0;
    const auto* data = static_cast<const std::uint8_t*>(arv_buffer_get_part_data(buffer, part, &size));
    return arv_buffer_get_part_component_id(buffer, part) == component &&
           arv_buffer_get_part_data_type(buffer, part) == type &&
           arv_buffer_get_part_pixel_format(buffer, part) == format &&
           arv_buffer_get_part_width(buffer, part) == static_cast<gint>(kWidth) &&
           arv_buffer_get_part_height(buffer, part) == static_cast<gint>(kHeight) && size == bytes.size() &&
           data != nullptr && std::memcmp(data, bytes.data(), size) == 0;
}

// A client that enables extended ids (and multipart when asked) and checks `frames` blocks.
Received receive(const char* address, bool multipart, int frames, const PartPattern& pattern) {
    Received got;
    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new(address, &error);
    EXPECT_NE(camera, nullptr) << (error ? error->message : "");
    if (camera == nullptr) return got;
    // Aravis reads 64-bit ids but never asks for them itself.
    arv_device_write_register(arv_camera_get_device(camera), 0x0960, 0x40000000, &error);
    EXPECT_TRUE(arv_camera_gv_is_multipart_supported(camera, &error));
    arv_camera_gv_set_multipart(camera, multipart, &error);
    EXPECT_EQ(error, nullptr) << (error ? error->message : "");
    g_clear_error(&error);
    ArvStream* stream = arv_camera_create_stream(camera, nullptr, nullptr, &error);
    EXPECT_NE(stream, nullptr) << (error ? error->message : "");
    ArvChunkParser* parser = arv_camera_create_chunk_parser(camera);
    // Read after the switch: the parts and the chunk part, or the image in PixelFormat with its tail and chunk.
    const guint payload = arv_camera_get_payload(camera, nullptr);
    EXPECT_EQ(payload, multipart ? kPixels * 15 + 4 + 8 : kPixels * 12 + 8 + 4 + 8);
    // Each buffer is used once, as in aravis_stream_test.cpp.
    const int buffers = frames * 3;
    for (int i = 0; i < buffers; ++i) arv_stream_push_buffer(stream, arv_buffer_new(payload, nullptr));
    arv_camera_start_acquisition(camera, nullptr);
    for (int i = 0; i < buffers && got.complete < frames; ++i) {
        ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, 1000000);
        if (buffer == nullptr) break;
        if (arv_buffer_get_status(buffer) != ARV_BUFFER_STATUS_SUCCESS) {
            ++got.failed;
            g_object_unref(buffer);
            continue;
        }
        ++got.complete;
        size_t received = 0;
        arv_buffer_get_data(buffer, &received);
        if (received != payload) ++got.wrong;
        if (multipart) {
            const bool right =
                arv_buffer_get_payload_type(buffer) == ARV_BUFFER_PAYLOAD_TYPE_MULTIPART &&
                arv_buffer_get_n_parts(buffer) == 4 &&
                partIs(buffer, 0, 1, ARV_BUFFER_PART_DATA_TYPE_3D_IMAGE, 0x026000C0, pattern.range) &&
                partIs(buffer, 1, 2, ARV_BUFFER_PART_DATA_TYPE_2D_IMAGE, 0x01100007, pattern.intensity) &&
                partIs(buffer, 2, 3, ARV_BUFFER_PART_DATA_TYPE_CONFIDENCE_MAP, 0x010800C6, pattern.confidence) &&
                arv_buffer_get_part_data_type(buffer, 3) == ARV_BUFFER_PART_DATA_TYPE_CHUNK_DATA;
            if (!right) ++got.wrong;
        } else {
            size_t size = 0;
            const auto* data = static_cast<const std::uint8_t*>(arv_buffer_get_image_data(buffer, &size));
            const bool right = arv_buffer_get_image_pixel_format(buffer) == 0x026000C0 &&
                               size >= pattern.range.size() &&
                               std::memcmp(data, pattern.range.data(), pattern.range.size()) == 0;
            if (!right) ++got.wrong;
        }
        if (arv_buffer_has_chunks(buffer))
            got.temperature = arv_chunk_parser_get_integer_value(parser, buffer, "ChunkTemperature", nullptr);
        g_object_unref(buffer);
    }
    arv_camera_stop_acquisition(camera, nullptr);
    // Aravis counts resent packets of single-part blocks only; the requests it made count for both kinds.
    got.resendRequests = arv_stream_get_info_uint64_by_name(stream, "n_resend_requests");
    g_object_unref(parser);
    g_object_unref(stream);
    g_object_unref(camera);
    g_clear_error(&error);
    return got;
}

}  // namespace

TEST(AravisMultipart, PartsArriveWithTheirIdsAndChunksAndLostPacketsAreResentWithExtendedIds) {
    const char* where = std::getenv("LOSS_AT");
    const bool lossy = where != nullptr && std::string(where) == "egress";
    Device device("127.0.14.1");
    ASSERT_TRUE(device.started());
    for (bool multipart : {true, false}) {
        const Received got = receive("127.0.14.1", multipart, 20, device.pattern());
        EXPECT_EQ(got.complete, 20) << multipart;
        EXPECT_EQ(got.failed, 0) << multipart;
        EXPECT_EQ(got.wrong, 0) << multipart;
        EXPECT_EQ(got.temperature, kTemperature) << multipart;
        if (lossy) {
            EXPECT_GT(got.resendRequests, 0u) << multipart;
        }
    }
    EXPECT_EQ(device.refused(), 0);
}

TEST(AravisMultipart, TsharkDecodesMultipartBlocksWithoutMalformedOrExpertItems) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0) GTEST_SKIP() << "tshark is not installed";
    Device device("127.0.14.2");
    ASSERT_TRUE(device.started());
    const std::string capture = testing::TempDir() + std::to_string(getpid()) + "_multipart.pcap";
    std::remove(capture.c_str());
    // The capture ends by itself after a few seconds, so nothing has to be stopped from here.
    std::thread tshark([&capture] {
        std::system(
            ("tshark -i lo -f 'udp and src host 127.0.14.2' -a duration:5 -w " + capture + " >/dev/null 2>&1").c_str());
    });
    // Capturing once the file has its header.
    for (int i = 0; i < 300 && std::system(("test -s " + capture).c_str()) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const Received got = receive("127.0.14.2", true, 5, device.pattern());
    EXPECT_EQ(got.complete, 5);
    tshark.join();
    const auto count = [&](const std::string& filter) {
        const std::string command = "P=$(tshark -r " + capture +
                                    " -Y 'udp.srcport != 3956' -T fields -e udp.dstport 2>/dev/null | sort | uniq "
                                    "-c | sort -rn | head -1 | awk '{print $2}'); tshark -r " +
                                    capture + " -d udp.port==$P,gvsp -Y '" + filter + "' 2>/dev/null | wc -l";
        FILE* pipe = popen(command.c_str(), "r");
        int lines = -1;
        if (pipe != nullptr) {
            if (std::fscanf(pipe, "%d", &lines) != 1) lines = -1;
            pclose(pipe);
        }
        return lines;
    };
    EXPECT_GE(count("gvsp.format == 0x81 && gvsp.payloadtype == 0x400a && gvsp.numparts == 4"), 5);
    EXPECT_GT(count("gvsp.format == 0x87 && gvsp.partid == 2"), 5);
    EXPECT_EQ(count("gvsp.format == 0x82 && gvsp.chunklayoutidhex != 0"), count("gvsp.format == 0x81"));
    EXPECT_EQ(count("_ws.malformed || _ws.expert.severity >= error"), 0);
    std::remove(capture.c_str());
}
