// Multipart end to end: the emulated sensor (dumping every cloud and intensity image it serves), the bridge
// program and a libaravis client that selects SynchronizedComponents, enables multipart and extended ids through
// its own switch and the standard features and takes the temperature chunk. Every block's Range, Intensity and
// Confidence parts must carry their component ids, formats and sizes and equal what this test computes on its
// own from one fetch's dumps, and every block, multipart or (with the switch off) the Range image alone, is as
// large as the PayloadSize read after the switch. The last component cannot be disabled in this mode, nor an
// acquisition started without one.
#include <gtest/gtest.h>

#include <arv.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "bridge_process.h"
#include "emulator_process.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr std::size_t kPixels = static_cast<std::size_t>(kWidth) * kHeight;

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

struct Scaling {
    double scale[3];
    double offset[3];
};

// Range and Confidence of one dumped cloud: the coordinates with the advertised scaling, (0, 0, 0) and
// confidence 0 where nothing was measured or a 16-bit coordinate would not fit, confidence 255 elsewhere.
void expectedParts(const Bytes& cloud, bool sixteen, const Scaling& s, Bytes& range, Bytes& confidence) {
    range.clear();
    confidence.clear();
    for (std::size_t i = 0; i < kPixels; ++i) {
        double xyz[3];
        std::memcpy(xyz, cloud.data() + 24 * i, 24);
        double abc[3];
        for (int axis = 0; axis < 3; ++axis) abc[axis] = (xyz[axis] - s.offset[axis]) / s.scale[axis];
        bool valid = !(0.0 >= xyz[2]);
        if (sixteen) {
            for (double v : abc) valid = valid && std::trunc(v) >= 0.0 && std::trunc(v) <= 65535.0;
        }
        for (int axis = 0; axis < 3; ++axis) {
            if (sixteen) {
                const auto value = valid ? static_cast<std::uint16_t>(std::trunc(abc[axis])) : std::uint16_t{0};
                range.insert(range.end(), {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)});
            } else {
                const float value = valid ? static_cast<float>(abc[axis]) : 0.0f;
                const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
                range.insert(range.end(), bytes, bytes + 4);  // this machine is little-endian, as the wire data
            }
        }
        confidence.push_back(valid ? 255 : 0);
    }
}

Bytes partBytes(ArvBuffer* buffer, guint part) {
    size_t size = 0;
    const auto* data = static_cast<const std::uint8_t*>(arv_buffer_get_part_data(buffer, part, &size));
    return data == nullptr ? Bytes{} : Bytes(data, data + size);
}

struct Block {
    ArvBufferPayloadType type = ARV_BUFFER_PAYLOAD_TYPE_UNKNOWN;
    std::size_t size = 0;  // the bytes the block brought
    std::vector<guint> components;
    std::vector<ArvPixelFormat> formats;
    std::vector<Bytes> parts;
    std::int64_t temperature = -1;
};

class MultipartEndToEnd : public testing::Test {
protected:
    void SetUp() override {
        dumpDir = std::filesystem::path(testing::TempDir()) / "e2e-multipart-dumps";
        std::filesystem::remove_all(dumpDir);
        emulator = std::make_unique<EmulatorProcess>(std::vector<std::string>{
            "--address", "127.0.14.11", "--width", std::to_string(kWidth), "--height", std::to_string(kHeight),
            "--dump-dir", dumpDir.string(), "--trigger-delay-ms", "5"});
        ASSERT_TRUE(emulator->waitReady());
        deviceAddress = program_under_test::deviceAddress("127.0.14.12");
        bridge = std::make_unique<BridgeProcess>(std::vector<std::string>{"-i", "127.0.14.11", "-s", deviceAddress});
        ASSERT_TRUE(bridge->waitForError("GigeServer is online\n")) << bridge->err();
    }

    // Selects SynchronizedComponents in `format` with `intensity` on or off and grabs `count` blocks, with the
    // client's multipart switch as `multipart` says.
    std::vector<Block> grab(const char* format, bool intensity, int count, guint* payload, bool multipart = true) {
        std::vector<Block> blocks;
        GError* error = nullptr;
        ArvCamera* camera = arv_camera_new(deviceAddress.c_str(), &error);
        EXPECT_NE(camera, nullptr) << (error ? error->message : "");
        if (camera == nullptr) return blocks;
        arv_camera_set_pixel_format_from_string(camera, format, &error);
        arv_camera_set_string(camera, "AcquisitionMultiPartMode", "SynchronizedComponents", &error);
        arv_camera_set_string(camera, "ComponentSelector", "Intensity", &error);
        arv_camera_set_boolean(camera, "ComponentEnable", intensity, &error);
        arv_camera_set_chunks(camera, "Temperature", &error);
        // A multipart block needs 64-bit ids for its part count; Aravis reads them but never asks for them itself.
        arv_camera_set_string(camera, "GevGVSPExtendedIDMode", "On", &error);
        arv_camera_gv_set_multipart(camera, multipart, &error);
        EXPECT_EQ(arv_camera_get_boolean(camera, "GevSCCFGMultiPartEnabled", nullptr), multipart);
        const char* axes[3] = {"CoordinateA", "CoordinateB", "CoordinateC"};
        for (int axis = 0; axis < 3; ++axis) {
            arv_camera_set_string(camera, "Scan3dCoordinateSelector", axes[axis], &error);
            scaling.scale[axis] = arv_camera_get_float(camera, "Scan3dCoordinateScale", &error);
            scaling.offset[axis] = arv_camera_get_float(camera, "Scan3dCoordinateOffset", &error);
        }
        EXPECT_EQ(error, nullptr) << (error ? error->message : "");
        g_clear_error(&error);
        ArvStream* stream = arv_camera_create_stream(camera, nullptr, nullptr, &error);
        ArvChunkParser* parser = arv_camera_create_chunk_parser(camera);
        *payload = arv_camera_get_payload(camera, nullptr);
        const int buffers = count * 3;  // each used once, as in stream_e2e_test.cpp
        for (int i = 0; i < buffers; ++i) arv_stream_push_buffer(stream, arv_buffer_new(*payload, nullptr));
        arv_camera_start_acquisition(camera, nullptr);
        for (int i = 0; i < buffers && static_cast<int>(blocks.size()) < count; ++i) {
            ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, 3000000);
            if (buffer == nullptr) break;
            if (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS) {
                Block block;
                block.type = arv_buffer_get_payload_type(buffer);
                arv_buffer_get_data(buffer, &block.size);
                for (guint part = 0; part < arv_buffer_get_n_parts(buffer); ++part) {
                    block.components.push_back(arv_buffer_get_part_component_id(buffer, part));
                    block.formats.push_back(arv_buffer_get_part_pixel_format(buffer, part));
                    block.parts.push_back(partBytes(buffer, part));
                }
                if (arv_buffer_has_chunks(buffer))
                    block.temperature = arv_chunk_parser_get_integer_value(parser, buffer, "ChunkTemperature", nullptr);
                blocks.push_back(std::move(block));
            }
            g_object_unref(buffer);
        }
        arv_camera_stop_acquisition(camera, nullptr);
        g_object_unref(parser);
        g_object_unref(stream);
        g_object_unref(camera);
        g_clear_error(&error);
        return blocks;
    }

    // The index of the dump whose cloud gives `range`, or -1.
    int fetchOf(const Bytes& range, bool sixteen) {
        for (int n = 1; std::filesystem::exists(dump("cloud", n)); ++n) {
            Bytes expectedRange, confidence;
            expectedParts(readFile(dump("cloud", n)), sixteen, scaling, expectedRange, confidence);
            if (expectedRange == range) return n;
        }
        return -1;
    }
    std::filesystem::path dump(const char* kind, int n) {
        char name[32];
        std::snprintf(name, sizeof name, "%s-%06d.bin", kind, n);
        return dumpDir / name;
    }

    std::filesystem::path dumpDir;
    std::string deviceAddress;
    Scaling scaling{};
    std::unique_ptr<EmulatorProcess> emulator;
    std::unique_ptr<BridgeProcess> bridge;
};

TEST_F(MultipartEndToEnd, PartsOfEveryBlockEqualOneFetchOfTheSensor) {
    for (const bool sixteen : {false, true}) {
        guint payload = 0;
        const auto blocks = grab(sixteen ? "Coord3D_ABC16" : "Coord3D_ABC32f", true, 3, &payload);
        const std::size_t rangeBytes = kPixels * (sixteen ? 6 : 12);
        EXPECT_EQ(payload, rangeBytes + kPixels * 2 + kPixels + 4 + 8) << "three parts and the chunk part";
        ASSERT_EQ(blocks.size(), 3u) << sixteen;
        for (const Block& block : blocks) {
            EXPECT_EQ(block.type, ARV_BUFFER_PAYLOAD_TYPE_MULTIPART);
            EXPECT_EQ(block.size, payload);
            ASSERT_EQ(block.parts.size(), 4u);
            EXPECT_EQ(block.components, (std::vector<guint>{1, 2, 3, 0}));
            EXPECT_EQ(block.formats[0], sixteen ? 0x023000B9u : 0x026000C0u);
            EXPECT_EQ(block.formats[1], 0x01100007u);
            EXPECT_EQ(block.formats[2], 0x010800C6u);
            ASSERT_EQ(block.parts[0].size(), rangeBytes);
            const int fetch = fetchOf(block.parts[0], sixteen);
            ASSERT_GT(fetch, 0) << "the Range part is no cloud the sensor served";
            Bytes range, confidence;
            expectedParts(readFile(dump("cloud", fetch)), sixteen, scaling, range, confidence);
            EXPECT_EQ(block.parts[1], readFile(dump("mono16", fetch))) << "Intensity of the same fetch";
            EXPECT_EQ(block.parts[2], confidence);
            EXPECT_NE(std::count(confidence.begin(), confidence.end(), 0), 0) << "the scene has unmeasured points";
            EXPECT_GE(block.temperature, 30);
            EXPECT_LE(block.temperature, 50);
        }
    }
}

TEST_F(MultipartEndToEnd, ADisabledComponentLeavesTheBlockAndThePayload) {
    guint payload = 0;
    const auto blocks = grab("Coord3D_ABC32f", false, 2, &payload);
    EXPECT_EQ(payload, kPixels * 12 + kPixels + 4 + 8);
    ASSERT_EQ(blocks.size(), 2u);
    for (const Block& block : blocks) EXPECT_EQ(block.components, (std::vector<guint>{1, 3, 0}));
}

TEST_F(MultipartEndToEnd, WithoutTheClientsSwitchBlocksAreTheRangeImageAsLargeAsPayloadSize) {
    guint payload = 0;
    const auto blocks = grab("Coord3D_ABC16", true, 2, &payload, false);
    EXPECT_EQ(payload, kPixels * 6 + 8 + 4 + 8) << "the image, its tail and the temperature chunk";
    ASSERT_EQ(blocks.size(), 2u);
    for (const Block& block : blocks) {
        EXPECT_EQ(block.type, ARV_BUFFER_PAYLOAD_TYPE_IMAGE);
        EXPECT_EQ(block.size, payload);
        ASSERT_EQ(block.parts.size(), 1u);
        EXPECT_EQ(block.formats[0], 0x023000B9u);
        // The client's image part runs on over the chunk data behind the image.
        ASSERT_GE(block.parts[0].size(), kPixels * 6);
        const Bytes image(block.parts[0].begin(), block.parts[0].begin() + kPixels * 6);
        EXPECT_GT(fetchOf(image, true), 0) << "the Range image of one fetch";
    }
}

TEST_F(MultipartEndToEnd, NoBlockIsLeftEmptyOfComponents) {
    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new(deviceAddress.c_str(), &error);
    ASSERT_NE(camera, nullptr) << (error ? error->message : "");
    arv_camera_set_pixel_format_from_string(camera, "Coord3D_ABC16", &error);
    arv_camera_set_string(camera, "AcquisitionMultiPartMode", "SynchronizedComponents", &error);
    for (const char* component : {"Range", "Intensity"}) {
        arv_camera_set_string(camera, "ComponentSelector", component, &error);
        arv_camera_set_boolean(camera, "ComponentEnable", FALSE, &error);
    }
    ASSERT_EQ(error, nullptr) << error->message;
    // The last enabled component stays, with an error to the client and a line on the console.
    arv_camera_set_string(camera, "ComponentSelector", "Confidence", &error);
    arv_camera_set_boolean(camera, "ComponentEnable", FALSE, &error);
    EXPECT_NE(error, nullptr);
    g_clear_error(&error);
    EXPECT_TRUE(arv_camera_get_boolean(camera, "ComponentEnable", nullptr));
    EXPECT_TRUE(bridge->waitForError("ComponentEnable = false refused for Confidence")) << bridge->err();

    // Disabled in SingleComponent mode, where components do not count, and back: the start is refused.
    arv_camera_set_string(camera, "AcquisitionMultiPartMode", "SingleComponent", &error);
    arv_camera_set_boolean(camera, "ComponentEnable", FALSE, &error);
    arv_camera_set_string(camera, "AcquisitionMultiPartMode", "SynchronizedComponents", &error);
    ASSERT_EQ(error, nullptr) << error->message;
    arv_camera_start_acquisition(camera, &error);
    EXPECT_NE(error, nullptr);
    g_clear_error(&error);
    EXPECT_TRUE(bridge->waitForError("AcquisitionStart refused")) << bridge->err();
    EXPECT_EQ(arv_camera_get_integer(camera, "AcquisitionStart", nullptr), 0);
    g_object_unref(camera);
}

}  // namespace
