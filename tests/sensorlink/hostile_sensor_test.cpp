// The SDK against a sensor that breaks the protocol: wrong magic, lengths up to 4 GiB, wrong request ids,
// short frames and hang-ups in mid-frame, a 10 MB descriptor, a descriptor that never ends or trickles in, and
// point clouds whose size disagrees with the greeting. Every case ends in a clear code within the call's time
// limit, and memory stays bounded.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hostile_sensor.h"
#include "sensor_client.h"
#include "tavrion.h"

namespace {

using sensorlink::MessageKind;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int kCallMs = 500;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes u32(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}
Bytes code(std::int32_t value) { return u32(static_cast<std::uint32_t>(value)); }

// A header that announces `length` payload bytes, and nothing after it.
Bytes header(MessageKind kind, std::uint32_t id, std::uint32_t length) {
    Bytes out(sensorlink::kHeaderSize);
    sensorlink::encodeHeader(static_cast<std::uint8_t>(kind) | sensorlink::kReplyBit, id, length, out.data());
    return out;
}

// Peak resident memory of this process in KiB (Linux), 0 when unknown.
long peakKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Each test serves its own address: ctest runs them in parallel, and a client of one must never reach the
// other's sensor on the shared port.
class HostileSensorTest : public testing::Test {
protected:
    explicit HostileSensorTest(unsigned lastByte = 33)
        : address_(0x7F000300U | lastByte), sensor("127.0.3." + std::to_string(lastByte)) {}

    std::unique_ptr<sensorlink::SensorClient> open(HostileSensor::Script script) {
        sensor.dropConnections();
        sensor.setScript(std::move(script));
        sensorlink::ClientLimits limits;
        limits.connectMs = kCallMs;
        limits.statusMs = kCallMs;
        limits.callMs = kCallMs;
        return sensorlink::SensorClient::open(address_, 32001, limits);
    }
    const std::uint32_t address_;
    HostileSensor sensor;
};

class HostileRepliesTest : public HostileSensorTest {
protected:
    HostileRepliesTest() : HostileSensorTest(38) {}
};

TEST_F(HostileSensorTest, BrokenGreetingsAreRefusedPromptlyWithoutBigAllocations) {
    ASSERT_TRUE(sensor.listening());
    Bytes wrongMagic = HostileSensor::greeting();
    wrongMagic[0] ^= 0xFF;
    Bytes wrongId = HostileSensor::greeting();
    wrongId[11] = 7;
    const Bytes whole = HostileSensor::greeting();
    const struct {
        const char* what;
        HostileSensor::Script script;
    } cases[] = {
        {"wrong magic", {wrongMagic}},
        {"wrong request id", {wrongId}},
        {"4 GiB payload", {header(MessageKind::Hello, 1, 0xFFFFFFFF) + code(0) + Bytes(64, 0)}},
        {"hang-up mid-frame", {Bytes(whole.begin(), whole.begin() + 22), 0, true}},
        {"short frame, then silence", {Bytes(whole.begin(), whole.begin() + 22)}},
        {"zero-sized sensor", {HostileSensor::greeting(0, 0)}},
    };
    const long before = peakKiB();
    for (const auto& c : cases) {
        const auto start = Clock::now();
        EXPECT_EQ(open(c.script), nullptr) << c.what;
        EXPECT_LT(millisecondsSince(start), kCallMs + 500) << c.what;
    }
    EXPECT_LT(peakKiB() - before, 64 * 1024) << "peak memory grew by more than 64 MiB";
}

TEST_F(HostileRepliesTest, BrokenRepliesFailTheCallWithAClearCode) {
    const Bytes hello = HostileSensor::greeting(4, 2);  // 8 pixels
    const std::uint32_t cloudBody = 4 + 4 + 8 * 26;
    const Bytes cloudSamples(8 * 26, 0x40);
    std::vector<std::uint8_t> cloud(8 * 26);
    std::vector<char> text(132000);
    const auto fetchCloud = [&](sensorlink::SensorClient& client) {
        return client.pointCloud(cloud.data(), cloud.data() + 8 * 24, static_cast<std::int32_t>(cloud.size()));
    };
    const auto readDescriptor = [&](sensorlink::SensorClient& client) {
        return client.query("GetXmlDescriptor", text.data(), static_cast<std::int32_t>(text.size()));
    };
    const struct {
        const char* what;
        HostileSensor::Script script;
        std::function<std::int32_t(sensorlink::SensorClient&)> call;
        std::int32_t expected;
    } cases[] = {
        {"status reply with another request id",
         {hello + HostileSensor::reply(MessageKind::Status, 9, code(0) + code(1))},
         [](sensorlink::SensorClient& client) {
             std::int32_t word = 0;
             const std::int32_t result = client.status(word);
             return result == TAVRION_OK && (word & TAVRION_STATUS_LINK_ALIVE) == 0 ? TAVRION_ERR_PROTOCOL : result;
         },
         TAVRION_ERR_PROTOCOL},
        {"10 MB descriptor",
         {hello + header(MessageKind::Query, 2, 10'000'000) + code(0) + Bytes(4096, 'x')},
         readDescriptor,
         TAVRION_ERR_PROTOCOL},
        {"descriptor without its end",
         {hello + header(MessageKind::Query, 2, 1000) + code(0) + Bytes(10, 'x')},
         readDescriptor,
         TAVRION_ERR_TIMEOUT},
        {"descriptor trickling in",
         {hello + header(MessageKind::Query, 2, 4 + 2000) + code(0) + Bytes(2000, 'x'), 400},
         readDescriptor,
         TAVRION_ERR_TIMEOUT},
        {"point cloud of another pixel count",
         {hello + HostileSensor::reply(MessageKind::PointCloud, 2, code(0) + u32(9) + cloudSamples)},
         fetchCloud,
         TAVRION_ERR_PROTOCOL},
        {"point cloud larger than the sensor",
         {hello + HostileSensor::reply(MessageKind::PointCloud, 2, code(0) + u32(8) + cloudSamples + Bytes(26, 0))},
         fetchCloud,
         TAVRION_ERR_PROTOCOL},
        {"hang-up in mid-cloud",
         {hello + header(MessageKind::PointCloud, 2, cloudBody) + code(0) + u32(8) + Bytes(100, 0), 0, true},
         fetchCloud,
         TAVRION_ERR_LINK_DOWN},
    };
    for (const auto& c : cases) {
        auto client = open(c.script);
        ASSERT_NE(client, nullptr) << c.what;
        const auto start = Clock::now();
        EXPECT_EQ(c.call(*client), c.expected) << c.what;
        // A whole-call limit: a trickling sensor cannot stretch it.
        EXPECT_LT(millisecondsSince(start), kCallMs + 500) << c.what;
    }
}

}  // namespace
