// A multicast stream between two private network namespaces the test makes for itself. The device's namespace
// has two veth interfaces, mcdev (10.77.1.1) and mcother (10.77.2.1), and a multicast route by mcother, so the
// routing table alone would send the group's packets the wrong way. Their other ends sit in the peers'
// namespace: the controlling client (10.77.1.2) and two plain receivers, UDP sockets joined to 239.1.2.3 that
// never take control. The device serves on mcdev's address, or on every interface; either way 100
// Coord3D_ABC16 frames reach both receivers whole, captures on each of the device's interfaces show the group's
// packets leaving by mcdev only, with the time to live the client set, tshark decodes them without malformed
// packets or expert warnings, and a resend that the receiver without control asks for reaches both receivers.
#include "camera.h"
#include "child_process.h"
#include "gev_camera.h"
#include "gvcp/raw_client.h"
#include "script_output.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

using gvcp_test::be32;
using gvcp_test::Bytes;

namespace {

constexpr std::uint32_t kDevice = 0x0A4D0101;      // 10.77.1.1 on mcdev
constexpr std::uint32_t kOther = 0x0A4D0201;       // 10.77.2.1 on mcother
constexpr std::uint32_t kController = 0x0A4D0102;  // 10.77.1.2, the peers' end of mcdev
constexpr std::uint32_t kAsker = 0x0A4D0103;       // 10.77.1.3, the same end: the receiver without control
constexpr std::uint32_t kGroup = 0xEF010203;       // 239.1.2.3
constexpr std::uint16_t kStreamPort = 50010;
constexpr std::uint16_t kProbePort = 9;
constexpr std::uint32_t kTtl = 4;
constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr std::size_t kFrameBytes = std::size_t{kWidth} * kHeight * 6;  // Coord3D_ABC16
constexpr std::size_t kDataPerPacket = 1500 - 36;                       // the default packet size less headers
constexpr int kFrames = 100;

std::uint8_t frameByte(std::uint16_t block, std::size_t offset) {
    return static_cast<std::uint8_t>(offset * 31 + block);
}

int openNamespace() { return ::open("/proc/thread-self/ns/net", O_RDONLY); }

// Runs `command` through the shell in the namespace `ns`, then returns to `back`.
bool runIn(int ns, int back, const std::string& command) {
    if (::setns(ns, CLONE_NEWNET) != 0) return false;
    const bool ok = std::system(command.c_str()) == 0;
    return ::setns(back, CLONE_NEWNET) == 0 && ok;
}

std::string nsPath(int fd) { return "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(fd); }

// A plain receiver in the peers' namespace: a UDP socket bound to the group and its port, joined on the peers'
// end of mcdev. It counts the blocks that arrive whole with the bytes they were sent with, and the payload
// packets that come again for a block already whole.
class GroupReceiver {
public:
    bool open() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        // Room for several frames, so that a receiver the scheduler holds back a moment loses nothing.
        const int bufferBytes = 16 << 20;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &bufferBytes, sizeof bufferBytes);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(kGroup);
        local.sin_port = htons(kStreamPort);
        ip_mreq join{};
        join.imr_multiaddr.s_addr = htonl(kGroup);
        join.imr_interface.s_addr = htonl(kController);
        return fd_ >= 0 && ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 &&
               ::setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) == 0;
    }
    void start() {
        thread_ = std::thread([this] { run(); });
    }
    ~GroupReceiver() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    int whole() const { return whole_.load(); }
    int damaged() const { return damaged_.load(); }
    int resent() const { return resent_.load(); }

private:
    struct Block {
        bool leader = false;
        std::uint32_t trailerId = 0;
        std::set<std::uint32_t> payloadIds;
        std::vector<std::uint8_t> bytes;
        bool whole = false;
    };

    void run() {
        std::vector<std::uint8_t> datagram(9000);
        while (!stop_) {
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0) continue;
            const ssize_t size = ::recv(fd_, datagram.data(), datagram.size(), 0);
            if (size >= 8) take(datagram.data(), static_cast<std::size_t>(size));
        }
    }

    void take(const std::uint8_t* packet, std::size_t size) {
        // A packet with a status (a resend the device could not serve) carries no data.
        if (packet[0] != 0 || packet[1] != 0) return;
        const std::uint16_t blockId = static_cast<std::uint16_t>((packet[2] << 8) | packet[3]);
        const std::uint8_t format = packet[4] & 0x7F;
        const std::uint32_t id = (std::uint32_t{packet[5]} << 16) | (std::uint32_t{packet[6]} << 8) | packet[7];
        Block& block = blocks_[blockId];
        if (block.whole) {
            if (format == 3) ++resent_;
            return;
        }
        if (format == 1) block.leader = true;
        if (format == 2) block.trailerId = id;
        if (format == 3 && id >= 1) {
            const std::size_t offset = (id - 1) * kDataPerPacket;
            if (block.bytes.empty()) block.bytes.resize(kFrameBytes);
            if (offset + (size - 8) <= kFrameBytes) std::copy(packet + 8, packet + size, block.bytes.begin() + offset);
            block.payloadIds.insert(id);
        }
        if (!block.leader || block.trailerId == 0 || block.payloadIds.size() + 1 != block.trailerId) return;
        block.whole = true;
        bool same = true;
        for (std::size_t i = 0; i < kFrameBytes && same; ++i) same = block.bytes[i] == frameByte(blockId, i);
        ++(same ? whole_ : damaged_);
        block.bytes = {};
    }

    int fd_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::map<std::uint16_t, Block> blocks_;  // the receiver's thread only
    std::atomic<int> whole_{0};
    std::atomic<int> damaged_{0};
    std::atomic<int> resent_{0};
};

// Sends `text` to the group's probe port out of the interface holding `from` (device's namespace).
void probe(std::uint32_t from, const std::string& text) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    in_addr outgoing{};
    outgoing.s_addr = htonl(from);
    ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof outgoing);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(kGroup);
    to.sin_port = htons(kProbePort);
    ::sendto(fd, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    ::close(fd);
}

long fileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : 0;
}

// dumpcap (tshark's capture engine, quicker to start) capturing the group's datagrams on one of the device's
// interfaces. Capturing once a probe sent out of that interface has reached the file.
pid_t startCapture(const std::string& interface, std::uint32_t address, const std::string& file) {
    const pid_t pid = startChild(
        {"/usr/bin/dumpcap", "-i", interface, "-B", "64", "-f", "udp and dst host 239.1.2.3", "-w", file, "-q"},
        {-1, "/dev/null", "/dev/null"});
    for (int i = 0; i < 600 && fileSize(file) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const long header = fileSize(file);
    for (int i = 0; i < 600 && fileSize(file) == header; ++i) {
        probe(address, "capturing?");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return pid;
}

// Whether the last 64 KiB of the file hold `marker`.
bool endHolds(const std::string& path, const std::string& marker) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = file.tellg();
    const std::streamoff from = std::max<std::streamoff>(0, size - 65536);
    std::string tail(static_cast<std::size_t>(size - from), '\0');
    file.seekg(from);
    file.read(tail.data(), static_cast<std::streamsize>(tail.size()));
    return tail.find(marker) != std::string::npos;
}

// Ends a capture once a last probe, sent after everything else, is in its file: the packets before it are too.
void stopCapture(pid_t capture, std::uint32_t address, const std::string& file) {
    const std::string marker = "end of stream";
    for (int i = 0; i < 600 && !endHolds(file, marker); ++i) {
        probe(address, marker);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(capture, SIGINT);
    ::waitpid(capture, nullptr, 0);
}

// What tshark makes of the stream's packets in a capture, read in one pass.
struct Decoded {
    int packets = 0;
    int leaders = 0;
    int otherTtl = 0;  // packets whose time to live is not the one the client set
};

Decoded decode(const std::string& file) {
    const std::string lines = script_output::run("tshark -r " + file + " -d udp.port==" + std::to_string(kStreamPort) +
                                                 ",gvsp -Y 'udp.dstport == " + std::to_string(kStreamPort) +
                                                 "' -T fields -e ip.ttl -e gvsp.format 2>/dev/null");
    Decoded decoded;
    for (std::size_t at = 0; at < lines.size();) {
        const std::size_t end = std::min(lines.find('\n', at), lines.size());
        unsigned ttl = 0, format = 0;
        if (std::sscanf(lines.c_str() + at, "%u\t%x", &ttl, &format) >= 1) {
            ++decoded.packets;
            if (format == 1) ++decoded.leaders;
            if (ttl != kTtl) ++decoded.otherTtl;
        }
        at = end + 1;
    }
    return decoded;
}

int count(const std::string& file, const std::string& filter) {
    const std::string out = script_output::run("tshark -r " + file + " -d udp.port==" + std::to_string(kStreamPort) +
                                               ",gvsp -Y '" + filter + "' 2>/dev/null | wc -l");
    return std::atoi(out.c_str());
}

// Streams kFrames frames with the device serving `served` (empty: every interface) and checks what the
// receivers and the captures saw.
void streamToTheGroup(const std::string& served) {
    if (::geteuid() != 0 || ::access("/usr/bin/tshark", X_OK) != 0 || ::access("/usr/bin/dumpcap", X_OK) != 0)
        GTEST_SKIP() << "needs root, tshark and dumpcap";
    const int original = openNamespace();
    if (::unshare(CLONE_NEWNET) != 0) GTEST_SKIP() << "no private network namespace here";
    const int device = openNamespace();
    ASSERT_EQ(::unshare(CLONE_NEWNET), 0);
    const int peers = openNamespace();
    ASSERT_EQ(::setns(device, CLONE_NEWNET), 0);
    ASSERT_EQ(std::system(("set -e; ip link set lo up\n"
                           "ip link add mcdev type veth peer name mcdev-peer\n"
                           "ip link add mcother type veth peer name mcother-peer\n"
                           "ip link set mcdev-peer netns " +
                           nsPath(peers) + "; ip link set mcother-peer netns " + nsPath(peers) +
                           "\nip addr add 10.77.1.1/24 dev mcdev; ip addr add 10.77.2.1/24 dev mcother\n"
                           "ip link set mcdev up; ip link set mcother up\n"
                           "ip route add 224.0.0.0/4 dev mcother\n")
                              .c_str()),
              0);
    ASSERT_TRUE(runIn(peers, device,
                      "set -e; ip link set lo up\n"
                      "ip addr add 10.77.1.2/24 dev mcdev-peer; ip addr add 10.77.1.3/24 dev mcdev-peer\n"
                      "ip addr add 10.77.2.2/24 dev mcother-peer\n"
                      "ip link set mcdev-peer up; ip link set mcother-peer up\n"));

    const std::string work = ::testing::TempDir() + "multicast_" + std::to_string(::getpid()) + "_";
    const std::string onDevice = work + "mcdev.pcapng";
    const std::string onOther = work + "mcother.pcapng";
    const pid_t captureDevice = startCapture("mcdev", kDevice, onDevice);
    const pid_t captureOther = startCapture("mcother", kOther, onOther);

    std::unique_ptr<CGevCamera> camera{createCamera()};
    camera->setImageSize(kWidth, kHeight, 0);
    ASSERT_TRUE(camera->setEnumValue("PixelFormat", "Coord3D_ABC16"));
    ASSERT_EQ(camera->startServer(served.empty() ? nullptr : served.c_str()), 0);

    // The client and the receivers open their sockets in the peers' namespace, where they stay.
    ASSERT_EQ(::setns(peers, CLONE_NEWNET), 0);
    gvcp_test::RawClient client(kDevice, kController);
    gvcp_test::RawClient asker(kDevice, kAsker);
    GroupReceiver receivers[2];
    for (GroupReceiver& receiver : receivers) ASSERT_TRUE(receiver.open());
    ASSERT_EQ(::setns(device, CLONE_NEWNET), 0);
    for (GroupReceiver& receiver : receivers) receiver.start();

    ASSERT_EQ(client.writeReg(0x0A00, 2), 0);
    const std::uint32_t ttl =
        gvcp_test::registerAddress(dynamic_cast<gige::Camera&>(*camera).genicamXml(), "regGevSCMulticastTTL");
    ASSERT_NE(ttl, 0u);
    ASSERT_EQ(client.writeMem(ttl, gvcp_test::concat(be32(0), be32(kTtl))), 0);
    ASSERT_EQ(client.writeReg(0x0D18, kGroup), 0);
    ASSERT_EQ(client.writeReg(0x0D00, kStreamPort), 0);

    // Waits until `done` holds or 10 s have passed, reading a register every half second: the controlling
    // client's heartbeat, as it keeps control while the receivers take the stream.
    auto waitFor = [&client](auto done) {
        std::uint32_t privilege = 0;
        for (int i = 1; i <= 2000 && !done(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (i % 100 == 0) client.readReg(0x0A00, privilege);
        }
    };
    std::vector<std::uint8_t> frame(kFrameBytes);
    for (int sent = 1; sent <= kFrames; ++sent) {
        for (std::size_t i = 0; i < kFrameBytes; ++i) frame[i] = frameByte(static_cast<std::uint16_t>(sent), i);
        camera->beginFrame(0);
        ASSERT_EQ(camera->sendPointCloud(frame.data(), kWidth * kHeight, 0), 0);
        // One frame at a time: each receiver has it, whole or not, before the next leaves. A frame lost for
        // good ends the test when the wait ends.
        auto arrived = [&] {
            return receivers[0].whole() + receivers[0].damaged() >= sent &&
                   receivers[1].whole() + receivers[1].damaged() >= sent;
        };
        waitFor(arrived);
        ASSERT_TRUE(arrived()) << "frame " << sent << " did not reach both receivers whole: " << receivers[0].whole()
                               << " and " << receivers[1].whole() << " frames arrived";
        std::uint32_t privilege = 0;
        if (sent % 10 == 0) {
            ASSERT_EQ(client.readReg(0x0A00, privilege), 0);
        }
    }
    // The receiver without control asks for packets 1 to 3 of block 99; the device answers to the group.
    const Bytes request = gvcp_test::concat(Bytes{0, 0, 0, kFrames - 1}, gvcp_test::concat(be32(1), be32(3)));
    asker.send(gvcp_test::makeCommand(0x0040, request, asker.nextId(), 0x00));
    waitFor([&] { return receivers[0].resent() >= 3 && receivers[1].resent() >= 3; });
    std::uint32_t privilege = 0;
    EXPECT_EQ(client.readReg(0x0A00, privilege), 0);
    EXPECT_EQ(privilege & 0x2, 0x2u) << "the controlling client still holds control";

    for (int i = 0; i < 2; ++i) {
        std::printf("receiver %d (no control): %d of %d frames whole, %d damaged, %d resent packets\n", i + 1,
                    receivers[i].whole(), kFrames, receivers[i].damaged(), receivers[i].resent());
        EXPECT_EQ(receivers[i].whole(), kFrames);
        EXPECT_EQ(receivers[i].damaged(), 0);
        EXPECT_EQ(receivers[i].resent(), 3);
    }
    camera->stopServer();
    stopCapture(captureDevice, kDevice, onDevice);
    stopCapture(captureOther, kOther, onOther);

    const std::string stream = "udp.dstport == " + std::to_string(kStreamPort);
    const std::size_t packetsPerFrame = (kFrameBytes + kDataPerPacket - 1) / kDataPerPacket + 2;
    const Decoded byDevice = decode(onDevice);
    const Decoded byOther = decode(onOther);
    std::printf("group packets out of mcdev: %d (%d leaders), out of mcother: %d\n", byDevice.packets, byDevice.leaders,
                byOther.packets);
    EXPECT_EQ(byDevice.packets, static_cast<int>(kFrames * packetsPerFrame + 3));
    EXPECT_EQ(byDevice.leaders, kFrames) << "leaders decoded as GVSP";
    EXPECT_EQ(byDevice.otherTtl, 0);
    EXPECT_EQ(byOther.packets, 0) << "the group's packets left by the other interface";
    EXPECT_GT(count(onOther, "udp.dstport == " + std::to_string(kProbePort)), 0) << "the capture on mcother ran";
    EXPECT_EQ(count(onDevice, stream + " && (_ws.malformed || _ws.expert.severity >= warning)"), 0);

    ::unlink(onDevice.c_str());
    ::unlink(onOther.c_str());
    ::setns(original, CLONE_NEWNET);
    for (int fd : {original, device, peers}) ::close(fd);
}

}  // namespace

TEST(MulticastStream, ServedOnOneInterfaceTheGroupGetsEveryFrameByThatInterface) { streamToTheGroup("10.77.1.1"); }

TEST(MulticastStream, ServingEveryInterfaceTheGroupLeavesByTheControllingClientsInterface) { streamToTheGroup(""); }
