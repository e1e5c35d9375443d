// The message channel end to end: a camera served on 127.0.10.x, a raw GVCP client that takes control and
// configures the channel, and a listener socket that receives the events. Acknowledged events, and in a
// private network namespace tshark decoding them and their acknowledges; a listener that never answers; and
// the channel closing with the control.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "camera.h"
#include "raw_client.h"
#include "support/script_output.h"

using namespace gvcp_test;

namespace {

constexpr std::uint16_t kFrameEnd = 0x9003;
constexpr std::uint16_t kError = 0x9006;
constexpr std::uint32_t kListenerAddress = 0x7F000001;
constexpr const char* kInsideVariable = "MESSAGE_CHANNEL_INSIDE_NAMESPACE";

std::uint16_t be16(const Bytes& bytes, std::size_t at) {
    return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}
std::uint64_t be64(const Bytes& bytes, std::size_t at) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i) value = (value << 8) | bytes[at + i];
    return value;
}

// A camera with two of the bridge's events, one client in control of it and a listener for its events.
struct Channel {
    gige::Camera camera;
    std::uint32_t device;
    std::string xml;
    gige::UdpSocket listener;
    RawClient client;

    explicit Channel(const char* address) : device(0), client(parsed(address)) {
        device = parsed(address);
        camera.addCategory("EventControl", "Root");
        EXPECT_TRUE(camera.addEvent("FrameEnd", kFrameEnd, nullptr, "EventControl"));
        EXPECT_TRUE(camera.addEvent("Error", kError, "EventErrorCode", "EventControl"));
        EXPECT_EQ(camera.startServer(address), 0);
        xml = camera.genicamXml();
        std::string error;
        EXPECT_TRUE(listener.open(kListenerAddress, 0, false, error)) << error;
        EXPECT_EQ(client.writeReg(0x0A00, 0x2), 0);
    }
    static std::uint32_t parsed(const char* address) {
        std::uint32_t value = 0;
        gige::parseAddress(address, value);
        return value;
    }
    // Points the channel at the listener and switches both events on.
    void configure(std::uint32_t timeoutMs, std::uint32_t retries) {
        const std::uint32_t notification = registerAddress(xml, "regEventNotification");
        ASSERT_NE(notification, 0U);
        EXPECT_EQ(client.writeReg(notification + 4 * kFrameEnd, 1), 0);
        EXPECT_EQ(client.writeReg(notification + 4 * kError, 1), 0);
        EXPECT_EQ(client.writeReg(0x0B14, timeoutMs), 0);
        EXPECT_EQ(client.writeReg(0x0B18, retries), 0);
        EXPECT_EQ(client.writeReg(0x0B10, kListenerAddress), 0);
        EXPECT_EQ(client.writeReg(0x0B00, listener.localPort()), 0);
    }
    std::uint32_t dropped() {
        std::uint32_t value = 0xFFFFFFFF;
        client.readReg(registerAddress(xml, "regEventDroppedCount"), value);
        return value;
    }
    // The next datagram at the listener within `timeoutMs`; empty when none came.
    Bytes receive(int timeoutMs) {
        gige::UdpSocket* sockets[1] = {&listener};
        if (gige::UdpSocket::waitReadable(sockets, 1, timeoutMs) == 0) return {};
        std::uint8_t buffer[2048];
        gige::Endpoint from;
        const long size = listener.receive(buffer, sizeof buffer, from);
        if (size < 0) return {};
        EXPECT_EQ(from.address, device);
        EXPECT_EQ(from.port, 3956);  // MCSP: events leave from the control port
        return Bytes(buffer, buffer + size);
    }
    void acknowledge(const Bytes& event) {
        const Bytes ack = {0, 0, event[2], static_cast<std::uint8_t>(event[3] + 1), 0, 0, event[6], event[7]};
        listener.send(ack.data(), ack.size(), {device, 3956});
    }
};

}  // namespace

// Runs only inside the namespace of the next test, where tshark watches the loopback.
TEST(MessageChannelInside, AcknowledgedEventsInBothIdLayouts) {
    if (std::getenv(kInsideVariable) == nullptr) GTEST_SKIP() << "runs inside a private namespace only";
    Channel channel("127.0.10.1");
    channel.configure(1000, 3);
    std::uint32_t value = 0;
    EXPECT_EQ(channel.client.readReg(0x0B1C, value), 0);
    EXPECT_EQ(value, 3956U);

    ASSERT_TRUE(channel.camera.sendEvent(kFrameEnd, 7, 0x0102030405060708ULL, 0));
    const Bytes event = channel.receive(5000);
    ASSERT_EQ(event.size(), 8U + 16U);
    EXPECT_EQ(event[1], 0x01);  // acknowledge required, standard ids
    EXPECT_EQ(be16(event, 2), 0x00C0);
    EXPECT_EQ(be16(event, 4), 16);
    EXPECT_NE(be16(event, 6), 0);
    EXPECT_EQ(be16(event, 8 + 2), kFrameEnd);
    EXPECT_EQ(be16(event, 8 + 6), 7);
    EXPECT_EQ(be64(event, 8 + 8), 0x0102030405060708ULL);
    channel.acknowledge(event);

    // Extended ids on the stream: the records carry 64-bit block ids too.
    EXPECT_EQ(channel.client.writeReg(0x0960, 0x40000000), 0);
    ASSERT_TRUE(channel.camera.sendEvent(kError, 0x123456789ULL, 42, 0xCAFE));
    const Bytes data = channel.receive(5000);
    ASSERT_EQ(data.size(), 8U + 24U + 4U);
    EXPECT_EQ(data[1], 0x11);
    EXPECT_EQ(be16(data, 2), 0x00C2);
    EXPECT_NE(be16(data, 6), be16(event, 6));
    EXPECT_EQ(be16(data, 8), 28);  // the record's size, data included
    EXPECT_EQ(be16(data, 8 + 2), kError);
    EXPECT_EQ(be64(data, 8 + 8), 0x123456789ULL);
    EXPECT_EQ(be64(data, 8 + 16), 42U);
    EXPECT_EQ(be16(data, 8 + 24 + 2), 0xCAFE);
    channel.acknowledge(data);

    // Acknowledged: neither is sent again, and nothing counts as dropped.
    ASSERT_TRUE(channel.camera.sendEvent(kFrameEnd, 8, 1, 0));
    const Bytes next = channel.receive(5000);
    ASSERT_EQ(next.size(), 8U + 24U);
    EXPECT_EQ(be16(next, 2), 0x00C0);
    channel.acknowledge(next);
    EXPECT_EQ(channel.dropped(), 0U);
    channel.camera.stopServer();
}

TEST(MessageChannel, EventsAndAcknowledgesDecodeInTshark) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0) GTEST_SKIP() << "tshark is not installed";
    if (std::system("unshare -n true >/dev/null 2>&1") != 0) GTEST_SKIP() << "no private network namespace here";
    const std::string capture = ::testing::TempDir() + std::to_string(getpid()) + "_events.pcap";
    const std::string script = ::testing::TempDir() + std::to_string(getpid()) + "_events.sh";
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    std::ofstream(script) << "set -u\nip link set lo up\nCAP=" << capture << "\nrm -f $CAP\n"
                          << R"sh(tshark -i lo -f "udp port 3956" -w $CAP >/dev/null 2>&1 & CAPTURE=$!
for i in $(seq 300); do [ -s $CAP ] && break; sleep 0.1; done  # capturing once the file has its header
sleep 0.5
)sh" << kInsideVariable << "=1 "
                          << self
                          << R"sh( --gtest_filter=MessageChannelInside.* 2>&1 | grep -E "PASSED|FAILED|Failure|error"
sleep 0.5; kill $CAPTURE; wait $CAPTURE 2>/dev/null
echo "== wire"
echo "event $(tshark -r $CAP -Y "gvcp.cmd.command == 0x00c0" 2>/dev/null | wc -l)"
echo "eventdata $(tshark -r $CAP -Y "gvcp.cmd.command == 0x00c2" 2>/dev/null | wc -l)"
echo "eventacks $(tshark -r $CAP -Y "gvcp.ack == 0x00c1" 2>/dev/null | wc -l)"
echo "eventdataacks $(tshark -r $CAP -Y "gvcp.ack == 0x00c3" 2>/dev/null | wc -l)"
echo "malformed $(tshark -r $CAP -Y "_ws.malformed || _ws.expert.severity >= warning" 2>/dev/null | wc -l)"
rm -f $CAP
)sh";
    const std::string output = script_output::run("unshare -n -- bash " + script + " 2>&1");
    std::remove(script.c_str());
    EXPECT_NE(output.find("PASSED"), std::string::npos) << output;
    EXPECT_EQ(output.find("FAILED"), std::string::npos) << output;
    const std::string wire = script_output::section(output, "wire");
    EXPECT_NE(wire.find("event 2\n"), std::string::npos) << output;
    EXPECT_NE(wire.find("eventdata 1\n"), std::string::npos) << output;
    EXPECT_NE(wire.find("eventacks 2\n"), std::string::npos) << output;
    EXPECT_NE(wire.find("eventdataacks 1\n"), std::string::npos) << output;
    EXPECT_NE(wire.find("malformed 0\n"), std::string::npos) << output;
}

TEST(MessageChannel, UnansweredEventIsSentRetriesPlusOneTimesThenDropped) {
    Channel channel("127.0.10.2");
    channel.configure(20, 2);
    ASSERT_TRUE(channel.camera.sendEvent(kFrameEnd, 1, 1, 0));
    // Dropped once its retries are spent; every send of it is in the listener's socket by then.
    for (int i = 0; i < 500 && channel.dropped() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(channel.dropped(), 1U);
    std::vector<Bytes> sends;
    for (Bytes event = channel.receive(0); !event.empty(); event = channel.receive(0)) sends.push_back(event);
    ASSERT_EQ(sends.size(), 3U);
    for (const auto& event : sends) EXPECT_EQ(event, sends.front());  // the same request id each time

    // A queue that stays full drops what comes on top.
    channel.configure(60000, 0);
    int queued = 0;
    while (queued < 200 && channel.camera.sendEvent(kFrameEnd, 2, 2, 0)) ++queued;
    EXPECT_EQ(queued, 64);
    EXPECT_EQ(channel.dropped(), 2U);
    channel.camera.stopServer();
}

TEST(MessageChannel, LosingControlClosesTheChannel) {
    Channel channel("127.0.10.3");
    channel.configure(60000, 0);
    ASSERT_TRUE(channel.camera.sendEvent(kFrameEnd, 1, 1, 0));
    EXPECT_FALSE(channel.receive(5000).empty());
    ASSERT_TRUE(channel.camera.sendEvent(kFrameEnd, 2, 2, 0));

    EXPECT_EQ(channel.client.writeReg(0x0A00, 0), 0);
    std::uint32_t port = 1;
    std::uint32_t destination = 1;
    EXPECT_EQ(channel.client.readReg(0x0B00, port), 0);
    EXPECT_EQ(channel.client.readReg(0x0B10, destination), 0);
    EXPECT_EQ(port, 0U);
    EXPECT_EQ(destination, 0U);
    EXPECT_FALSE(channel.camera.sendEvent(kFrameEnd, 3, 3, 0));
    // The queued event went with the channel; it is not counted as dropped.
    EXPECT_EQ(channel.dropped(), 0U);

    // Control again: the channel stays closed until the client configures it.
    EXPECT_EQ(channel.client.writeReg(0x0A00, 0x2), 0);
    EXPECT_FALSE(channel.camera.sendEvent(kFrameEnd, 4, 4, 0));
    channel.configure(60000, 0);
    ASSERT_TRUE(channel.camera.sendEvent(kFrameEnd, 5, 5, 0));
    const Bytes event = channel.receive(5000);
    ASSERT_FALSE(event.empty());
    EXPECT_EQ(be16(event, 8 + 6), 5);
    channel.camera.stopServer();
}
