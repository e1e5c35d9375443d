// Events end to end: an emulated sensor, the bridge program and two listeners of its message channel on the
// loopback. The capture tool (a libaravis client) shows the events of a Continuous acquisition beside the frames
// it received: each block's ExposureEnd comes before its FrameEnd. A listener that never acknowledges gets each
// event exactly retry count + 1 times, the device counts what it had to drop, and the stream goes on; the
// frame rates with and without that listener are printed.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <arv.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bridge_process.h"
#include "emulator_process.h"
#include "support/script_output.h"

namespace {

constexpr const char* kSensorAddress = "127.0.22.1";
constexpr const char* kListenerAddress = "127.0.0.1";
constexpr std::uint32_t kMessageChannelPort = 0x0B00;
constexpr std::uint32_t kMessageChannelDestination = 0x0B10;
constexpr std::uint32_t kMessageChannelTimeout = 0x0B14;
constexpr std::uint32_t kMessageChannelRetries = 0x0B18;

struct Line {
    std::string kind;  // "event <name>" or "frame"
    std::uint64_t block = 0;
};

// The capture tool's lines "event <name> block <id> timestamp <t>" and "frame <n> block <id> timestamp <t>".
std::vector<Line> eventAndFrameLines(const std::string& output) {
    std::vector<Line> lines;
    std::istringstream text(output);
    for (std::string line; std::getline(text, line);) {
        std::istringstream words(line);
        std::string first, second, blockWord;
        Line parsed;
        if (!(words >> first >> second >> blockWord >> parsed.block) || blockWord != "block") continue;
        if (first == "event") parsed.kind = "event " + second;
        if (first == "frame") parsed.kind = "frame";
        if (!parsed.kind.empty()) lines.push_back(parsed);
    }
    return lines;
}

std::ptrdiff_t indexOf(const std::vector<Line>& lines, const std::string& kind, std::uint64_t block) {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == kind && lines[i].block == block) return static_cast<std::ptrdiff_t>(i);
    return -1;
}

class EventsEndToEnd : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(emulator.waitReady());
        bridge = std::make_unique<BridgeProcess>(std::vector<std::string>{"-i", kSensorAddress, "-s", deviceAddress});
        ASSERT_TRUE(bridge->waitForError("GigeServer is online\n"));
    }
    void TearDown() override {
        if (HasFailure() && bridge) std::printf("--- program:\n%s", bridge->err().c_str());
    }

    EmulatorProcess emulator{{"--address", kSensorAddress, "--width", "320", "--height", "240"}};
    // Under wine the device serves on 127.0.0.1 (see wine_namespace.sh).
    const std::string deviceAddress = program_under_test::deviceAddress("127.0.22.2");
    std::unique_ptr<BridgeProcess> bridge;
};

TEST_F(EventsEndToEnd, EachCaptureIsReportedBeforeItsBlockLeavesWithTheBlockIdTheClientReceived) {
    const std::string output = script_output::run(std::string(CAPTURE_TOOL) + " --address " + deviceAddress +
                                                  " --format Coord3D_ABC32f --count 3 --events 2>&1");
    const std::vector<Line> lines = eventAndFrameLines(output);
    ASSERT_FALSE(lines.empty()) << output;
    EXPECT_EQ(lines.front().kind, "event AcquisitionStart") << output;
    int frames = 0;
    for (const Line& line : lines) {
        if (line.kind != "frame") continue;
        ++frames;
        const std::ptrdiff_t exposureEnd = indexOf(lines, "event ExposureEnd", line.block);
        const std::ptrdiff_t frameEnd = indexOf(lines, "event FrameEnd", line.block);
        EXPECT_GE(exposureEnd, 0) << "no ExposureEnd for block " << line.block << "\n" << output;
        EXPECT_GT(frameEnd, exposureEnd) << "block " << line.block << "\n" << output;
    }
    EXPECT_EQ(frames, 3) << output;
    EXPECT_EQ(lines.back().kind, "event AcquisitionEnd") << output;
}

// A UDP socket on the loopback that receives the device's events and never answers them.
class SilentListener {
public:
    SilentListener() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        ::inet_pton(AF_INET, kListenerAddress, &address.sin_addr);
        ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~SilentListener() { ::close(fd_); }
    std::uint16_t port() const { return port_; }

    // Sends seen per (event id, block id, request id) until nothing has come for `quietMs`.
    std::map<std::string, int> sendsUntilQuiet(int quietMs) {
        std::map<std::string, int> sends;
        std::uint8_t packet[1500];
        for (;;) {
            pollfd entry{fd_, POLLIN, 0};
            if (::poll(&entry, 1, quietMs) <= 0) return sends;
            const ssize_t size = ::recv(fd_, packet, sizeof packet, 0);
            if (size < 24) continue;
            const bool wide = (packet[1] & 0x10) != 0;
            const unsigned eventId = packet[10] << 8 | packet[11];
            std::uint64_t block = 0;
            if (wide) {
                for (int i = 16; i < 24; ++i) block = block << 8 | packet[i];
            } else {
                block = static_cast<std::uint64_t>(packet[14] << 8 | packet[15]);
            }
            const unsigned request = packet[6] << 8 | packet[7];
            ++sends[std::to_string(eventId) + "/" + std::to_string(block) + "/" + std::to_string(request)];
        }
    }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// Frames per second received in `seconds` of Continuous streaming of `camera`, whole frames only.
double streamRate(ArvCamera* camera, double seconds) {
    ArvStream* stream = arv_camera_create_stream(camera, nullptr, nullptr, nullptr);
    if (stream == nullptr) return 0;
    const guint payload = arv_camera_get_payload(camera, nullptr);
    for (int i = 0; i < 8; ++i) arv_stream_push_buffer(stream, arv_buffer_new(payload, nullptr));
    arv_camera_start_acquisition(camera, nullptr);
    int frames = 0;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds) {
        ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, 200000);
        if (buffer == nullptr) continue;
        if (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS) ++frames;
        arv_stream_push_buffer(stream, buffer);
    }
    arv_camera_stop_acquisition(camera, nullptr);
    g_object_unref(stream);
    return frames / seconds;
}

TEST_F(EventsEndToEnd, AListenerThatNeverAnswersGetsEachEventRetryCountPlusOneTimesAndTheStreamGoesOn) {
    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new(deviceAddress.c_str(), &error);
    ASSERT_NE(camera, nullptr) << (error ? error->message : "");
    ArvDevice* device = arv_camera_get_device(camera);
    arv_camera_set_pixel_format_from_string(camera, "Coord3D_ABC16", &error);
    arv_camera_set_acquisition_mode(camera, ARV_ACQUISITION_MODE_CONTINUOUS, &error);
    ASSERT_EQ(error, nullptr) << error->message;
    const double alone = streamRate(camera, 2.0);

    SilentListener listener;
    constexpr std::uint32_t kRetries = 2;
    in_addr listenerAddress{};
    ::inet_pton(AF_INET, kListenerAddress, &listenerAddress);
    arv_device_write_register(device, kMessageChannelTimeout, 10, &error);
    arv_device_write_register(device, kMessageChannelRetries, kRetries, &error);
    arv_device_write_register(device, kMessageChannelDestination, ntohl(listenerAddress.s_addr), &error);
    arv_device_write_register(device, kMessageChannelPort, listener.port(), &error);
    for (const char* event : {"ExposureEnd", "FrameEnd"}) {
        arv_device_set_string_feature_value(device, "EventSelector", event, &error);
        arv_device_set_string_feature_value(device, "EventNotification", "On", &error);
    }
    ASSERT_EQ(error, nullptr) << error->message;
    const double withSilentListener = streamRate(camera, 2.0);
    const std::map<std::string, int> sends = listener.sendsUntilQuiet(1000);
    const std::int64_t dropped = arv_device_get_integer_feature_value(device, "EventDroppedCount", &error);
    ASSERT_EQ(error, nullptr) << error->message;
    g_object_unref(camera);

    std::printf(
        "Coord3D_ABC16 320 x 240: %.1f frames/s without a message channel, %.1f with a listener that never "
        "acknowledges; %zu events sent, %lld dropped\n",
        alone, withSilentListener, sends.size(), static_cast<long long>(dropped));
    ASSERT_FALSE(sends.empty());
    for (const auto& [event, count] : sends) EXPECT_EQ(count, static_cast<int>(kRetries) + 1) << event;
    // Every event sent went unanswered, and far more were raised than the channel could try while the
    // stream ran: the device had to drop them, and says so.
    EXPECT_GE(dropped, static_cast<std::int64_t>(sends.size()));
    EXPECT_GT(withSilentListener, 0.0);
}

}  // namespace
