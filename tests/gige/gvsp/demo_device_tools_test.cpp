// The demo device as a process against Aravis's own tools and tshark, each test in a private network
// namespace (so discovery broadcasts stay on its loopback) and on its own 127.0.7.x address:
// arv-camera-test streams every pixel format with the temperature chunk and no failed buffer; arv-test passes
// its acquisition, software-trigger and chunk checks; the packet size a client negotiates follows the MTU
// (the test packet honours do-not-fragment); tshark decodes the stream as GVSP with nothing malformed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {

std::string run(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
        pclose(pipe);
    }
    return output;
}

// Runs `before`, the demo device on `address` (empty: every interface) with `options`, then `after`, as one script in a
// fresh network namespace; says SKIP-NAMESPACE when the system cannot make one (not root, no unshare). Files of this
// run only: test runs of other build trees share the temporary folder.
std::string ownTempFile(const std::string& name) {
    return ::testing::TempDir() + std::to_string(getpid()) + "_" + name;
}

std::string inNamespace(const std::string& address, const std::string& options, const std::string& before,
                        const std::string& after) {
    const std::string script = ownTempFile("gvsp_tools_" + (address.empty() ? "any" : address) + ".sh");
    std::ofstream(script) << "set -u\nip link set lo up\n"
                          << before << "\n"
                          << DEMO_DEVICE << (address.empty() ? "" : " --address " + address) << " --quiet " << options
                          << " >/dev/null 2>&1 & DEVICE=$!\nsleep 1\n"
                          << after << "\nkill $DEVICE; wait $DEVICE 2>/dev/null\n";
    if (std::system("unshare -n true >/dev/null 2>&1") != 0) return "SKIP-NAMESPACE";
    return run("unshare -n -- bash " + script);
}

bool skipped(const std::string& output) { return output.find("SKIP-NAMESPACE") != std::string::npos; }

}  // namespace

TEST(DemoDeviceTools, ArvCameraTestStreamsEveryFormatWithoutFailedBuffers) {
    // A Coord3D_ABC32f frame (900 KiB) sent at full speed is four times the receiver's socket buffer: a client
    // that loses its processor for a moment loses packets. Paced, as a user would stream to a busy client, the
    // buffer holds a few bursts only and every frame arrives whole.
    const std::string output = inNamespace("127.0.7.70", "--width 320 --height 240 --fps 50", "",
                                           R"(for format in Mono8 Mono16 RGB16 Coord3D_ABC16 Coord3D_ABC32f; do
  echo "format $format"
  arv-camera-test-0.8 -n 127.0.7.70 --duration=1 -u Temperature --features "PixelFormat=$format DeviceLinkThroughputLimitMode=On DeviceLinkThroughputLimit=100000000" | grep -E "^n_(completed_buffers|failures) |ChunkTemperature" | sort -u | head -4
done)");
    if (skipped(output)) GTEST_SKIP() << "no private network namespace here";
    for (const char* format : {"Mono8", "Mono16", "RGB16", "Coord3D_ABC16", "Coord3D_ABC32f"}) {
        const auto at = output.find(std::string("format ") + format + "\n");
        ASSERT_NE(at, std::string::npos) << output;
        const std::string section = output.substr(at, output.find("format ", at + 1) - at);
        EXPECT_NE(section.find("n_failures             = 0"), std::string::npos) << section;
        EXPECT_EQ(section.find("n_completed_buffers    = 0\n"), std::string::npos) << section;
        EXPECT_NE(section.find("ChunkTemperature = 3"), std::string::npos) << section;
    }
}

TEST(DemoDeviceTools, ArvTestPassesAcquisitionTriggerAndChunkChecks) {
    const std::string config = ownTempFile("gvsp_arv_test.cfg");
    std::ofstream(config) << "[Pellicor:DemoDevice]\nChunkList=Temperature\n";
    // arv-test finds devices by discovery only, so the device serves every interface of the namespace. Its
    // stream warnings (frames timed out, packets missing) come along, so that a failed check shows what the
    // client saw.
    const std::string output = inNamespace("", "--width 320 --height 240", "", "arv-test-0.8 -d stream:1 -c " + config);
    if (skipped(output)) GTEST_SKIP() << "no private network namespace here";
    for (const char* check : {"SingleAcquisition:BufferCheck", "SoftwareTrigger:BufferCheck",
                              "MultipleAcquisitionA:BufferCheck", "MultipleAcquisitionB:BufferCheck",
                              "Chunks:BufferCheck", "Multipart:NoSupport", "GigEVision:StreamChannel"}) {
        const auto at = output.find(check);
        ASSERT_NE(at, std::string::npos) << check << "\n" << output;
        EXPECT_NE(output.substr(at, output.find('\n', at) - at).find("SUCCESS"), std::string::npos) << output;
    }
}

TEST(DemoDeviceTools, NegotiatedPacketSizeFollowsTheMtu) {
    const std::string output =
        inNamespace("127.0.7.71", "--width 64 --height 48 --fps 20", "ip link set lo mtu 1500",
                    R"(arv-camera-test-0.8 -n 127.0.7.71 --duration=1 -j always | grep -E "packet size|^n_failures")");
    if (skipped(output)) GTEST_SKIP() << "no private network namespace here";
    // Test packets above 1500 bytes are sent with do-not-fragment, so they never arrive.
    EXPECT_NE(output.find("gv packet size         = 1500 bytes"), std::string::npos) << output;
    EXPECT_NE(output.find("n_failures             = 0"), std::string::npos) << output;
}

TEST(DemoDeviceTools, TsharkDecodesTheStreamWithoutMalformedPackets) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0) GTEST_SKIP() << "tshark is not installed";
    const std::string capture = ownTempFile("gvsp_stream.pcap");
    const std::string output = inNamespace(
        "127.0.7.72", "--width 160 --height 120 --fps 20", "CAP=" + capture + R"sh(
rm -f $CAP
tshark -i lo -f "udp and src host 127.0.7.72" -w $CAP >/dev/null 2>&1 & CAPTURE=$!
for i in $(seq 300); do [ -s $CAP ] && break; sleep 0.1; done  # capturing once the file has its header
sleep 0.5)sh",
        R"sh(arv-camera-test-0.8 -n 127.0.7.72 --duration=1 -u Temperature --features PixelFormat=Coord3D_ABC32f >/dev/null
sleep 0.5; kill $CAPTURE; wait $CAPTURE 2>/dev/null
PORT=$(tshark -r $CAP -Y "udp.srcport != 3956" -T fields -e udp.dstport 2>/dev/null | sort | uniq -c | sort -rn | head -1 | awk "{print \$2}")
echo "leaders $(tshark -r $CAP -d udp.port==$PORT,gvsp -Y "gvsp.format == 1 && gvsp.payloadtype == 0x4001" 2>/dev/null | wc -l)"
echo "payload $(tshark -r $CAP -d udp.port==$PORT,gvsp -Y "gvsp.format == 3" 2>/dev/null | wc -l)"
echo "malformed $(tshark -r $CAP -d udp.port==$PORT,gvsp -Y "_ws.malformed || _ws.expert.severity >= error" 2>/dev/null | wc -l)")sh");
    if (skipped(output)) GTEST_SKIP() << "no private network namespace here";
    int leaders = 0, payload = 0, malformed = -1;
    std::sscanf(output.substr(output.find("leaders")).c_str(), "leaders %d", &leaders);
    std::sscanf(output.substr(output.find("payload")).c_str(), "payload %d", &payload);
    std::sscanf(output.substr(output.find("malformed")).c_str(), "malformed %d", &malformed);
    EXPECT_GT(leaders, 5) << output;
    EXPECT_GT(payload, 100) << output;
    EXPECT_EQ(malformed, 0) << output;
}
