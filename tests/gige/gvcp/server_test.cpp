// The GVCP server over real UDP: each test serves a camera on its own 127.0.5.x address and talks to it
// with raw datagrams, malformed ones included.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "camera.h"
#include "raw_client.h"

using namespace gvcp_test;

namespace {

constexpr std::uint32_t address(int n) { return 0x7F000500U + static_cast<std::uint32_t>(n); }
std::string text(int n) { return "127.0.5." + std::to_string(n); }

struct Device {
    gige::Camera camera;
    std::atomic<int> reads{0};
    std::atomic<int> writes{0};
    std::atomic<int> gained{0};
    std::atomic<int> lost{0};
    std::atomic<int> writeDelayMs{0};
    std::atomic<bool> refuseWrites{false};
    std::string xml;

    explicit Device(int n, int heartbeatMs = 0, int callbackLimitMs = 10000) {
        camera.setServerOptionD(1);
        camera.setServerOptionA(1);
        camera.setServerOptionE(1, 0);
        camera.setServerTimeouts(callbackLimitMs, 10000);
        camera.setReadCallback(this, &Device::onRead);
        camera.setWriteCallback(this, &Device::onWrite);
        camera.setConnectionCallback(this, &Device::onConnection);
        camera.setServerOptionC(1, heartbeatMs);
        camera.setDeviceInfo("TestVendor", "TestModel", "2.0", "info", "SN42");
        camera.setMacAddress("02:11:22:33:44:55");
        camera.addCategory("Mine", "Root");
        camera.addFeature(GevInteger, "Ranged", "Mine", GevReadWrite, nullptr, 1);
        camera.setIntRange("Ranged", 0, 10, 1);
        camera.addFeature(GevInteger, "Stepped", "Mine", GevReadWrite, nullptr, 1);
        camera.setIntRange("Stepped", 2, 20, 3);
        camera.addFeature(GevInteger, "Fixed", "Mine", GevReadOnly, nullptr, 1);
        camera.setIntValue("Fixed", 77);
        camera.addFeature(GevInteger, "Counter", "Mine", GevReadOnly, nullptr, 1);
        camera.addFeature(GevFloat, "Ratio", "Mine", GevReadWrite, nullptr, 1);
        camera.setFloatRange("Ratio", -1.0F, 1.0F);
        camera.addFeature(GevInteger, "Lock", "Mine", GevReadWrite, nullptr, 1);
        camera.setIntRange("Lock", 0, 1, 1);
        camera.addFeature(GevInteger, "Guarded", "Mine", GevReadWrite, nullptr, 1);
        camera.setNodeElement("Guarded", "pIsLocked", "regLock", false);
        EXPECT_EQ(camera.startServer(text(n).c_str()), 0);
        xml = camera.genicamXml();
    }
    std::uint32_t reg(const char* name) const { return registerAddress(xml, std::string("reg") + name); }

    static bool onRead(void* context, const char* name) {
        auto* self = static_cast<Device*>(context);
        ++self->reads;
        // Callbacks run without the library's lock, so they may set values; the client reads this one.
        if (std::string(name) == "Counter") self->camera.setIntValue("Counter", self->reads.load());
        return true;
    }
    static bool onWrite(void* context, const char*) {
        auto* self = static_cast<Device*>(context);
        std::this_thread::sleep_for(std::chrono::milliseconds(self->writeDelayMs.load()));
        ++self->writes;
        return !self->refuseWrites;
    }
    static void onConnection(void* context, bool connected) {
        auto* self = static_cast<Device*>(context);
        ++(connected ? self->gained : self->lost);
    }
};

template <typename Predicate>
bool eventually(Predicate predicate, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace

TEST(GvcpServer, RefusedCommandsGetTheirStatus) {
    Device device(1);
    RawClient client(address(1));
    const std::uint32_t ranged = device.reg("Ranged");
    const std::uint32_t fixed = device.reg("Fixed");
    const std::uint32_t ratio = device.reg("Ratio");
    ASSERT_NE(ranged, 0U);
    struct Case {
        const char* what;
        std::uint16_t code;
        Bytes payload;
        std::uint16_t status;
    };
    const std::vector<Case> cases = {
        {"readreg unaligned", 0x0080, be32(0x0002), 0x8005},
        {"readreg unmapped", 0x0080, be32(0x0800), 0x8003},
        {"readreg past the feature area", 0x0080, be32(0x00F00000), 0x8003},
        {"readmem count 0", 0x0084, concat(be32(0x200), {0, 0, 0, 0}), 0x8002},
        {"readmem count 540", 0x0084, concat(be32(0x200), {0, 0, 0x02, 0x1C}), 0x8002},
        {"readmem count 536", 0x0084, concat(be32(0x200), {0, 0, 0x02, 0x18}), 0x0000},
        {"readmem wrapping", 0x0084, concat(be32(0xFFFFFFFC), {0, 0, 0, 8}), 0x8003},
        {"readmem across the bootstrap end", 0x0084, concat(be32(0x0FFC), {0, 0, 0, 8}), 0x8003},
        {"readmem payload too short", 0x0084, be32(0x200), 0x8002},
        {"writereg read-only bootstrap", 0x0082, concat(be32(0x0000), be32(1)), 0x8004},
        {"writemem read-only name", 0x0086, concat(be32(0x0048), be32(0x41414141)), 0x8004},
        {"writemem unaligned data", 0x0086, concat(be32(0x00E8), {1, 2, 3, 4, 5, 6}), 0x8005},
        {"writemem above the range", 0x0086, concat(be32(ranged), concat(be32(0), be32(11))), 0x8002},
        {"writemem within the range", 0x0086, concat(be32(ranged), concat(be32(0), be32(10))), 0x0000},
        {"writemem off the increment", 0x0086, concat(be32(device.reg("Stepped")), concat(be32(0), be32(6))), 0x8002},
        {"writemem on the increment", 0x0086, concat(be32(device.reg("Stepped")), concat(be32(0), be32(8))), 0x0000},
        {"writemem float above the range", 0x0086, concat(be32(ratio), be32(0x40000000)), 0x8002},
        {"writemem read-only feature", 0x0086, concat(be32(fixed), concat(be32(0), be32(1))), 0x8004},
        {"writereg half a feature", 0x0082, concat(be32(fixed + 4), be32(1)), 0x8004},
        {"forceip for this device", 0x0004, concat({0, 0, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55}, Bytes(48, 0)), 0x8001},
        {"action of the wrong length", 0x0100, Bytes(8, 0), 0x8002},
        {"unknown command", 0x7770, {}, 0x8001},
    };
    for (const auto& c : cases) {
        const std::uint16_t id = client.nextId();
        const Ack ack = client.transact(makeCommand(c.code, c.payload, id));
        ASSERT_TRUE(ack.received) << c.what;
        EXPECT_EQ(ack.status, c.status) << c.what;
        EXPECT_EQ(ack.code, c.code + 1) << c.what;
        EXPECT_EQ(ack.id, id) << c.what;
    }
    // Malformed headers: answered INVALID_HEADER when an ack is asked for.
    Bytes longer = makeCommand(0x0080, be32(0x0000), client.nextId());
    longer[5] = 12;
    EXPECT_EQ(client.transact(longer).status, 0x800E);
    EXPECT_EQ(client.transact(makeCommand(0x0080, be32(0x0000), 0)).status, 0x800E);
    // A FORCEIP for another device's MAC address is not this device's business.
    EXPECT_FALSE(client.transact(makeCommand(0x0004, Bytes(56, 0), client.nextId()), 200).received);
    // Not GVCP, or shorter than a header: dropped.
    Bytes wrongKey = makeCommand(0x0080, be32(0x0000), client.nextId());
    wrongKey[0] = 0x43;
    EXPECT_FALSE(client.transact(wrongKey, 200).received);
    EXPECT_FALSE(client.transact(Bytes{0x42, 0x01, 0x00, 0x80, 0x00, 0x04, 0x01}, 200).received);
    // No ack asked for: nothing comes back, the write still happens.
    client.send(makeCommand(0x0082, concat(be32(0x00E8), be32(0x41424300)), client.nextId(), 0x00));
    EXPECT_FALSE(client.receive(200).received);
    std::uint32_t value = 0;
    EXPECT_EQ(client.readReg(0x00E8, value), 0);
    EXPECT_EQ(value, 0x41424300U);
    std::int64_t stored = 0;
    ASSERT_TRUE(device.camera.getIntValue("Ranged", &stored));
    EXPECT_EQ(stored, 10);
}

TEST(GvcpServer, EveryTruncationOfValidCommandsIsHandled) {
    Device device(2);
    RawClient client(address(2));
    const std::vector<Bytes> valid = {
        makeCommand(0x0002, {}, 0x0200),
        makeCommand(0x0080, concat(be32(0x0934), be32(0x0A00)), 0x0201),
        makeCommand(0x0082, concat(be32(device.reg("Ranged") + 4), be32(5)), 0x0202),
        makeCommand(0x0084, concat(be32(0x0048), {0, 0, 0, 32}), 0x0203),
        makeCommand(0x0086, concat(be32(0x00E8), be32(0x61626300)), 0x0204),
    };
    for (const auto& datagram : valid) {
        // Shorter than a header: dropped, so the next answer must belong to the next datagram.
        for (std::size_t size = 0; size < 8; ++size)
            client.send(Bytes(datagram.begin(), datagram.begin() + static_cast<long>(size)));
        for (std::size_t size = 8; size < datagram.size(); ++size) {
            const Ack ack = client.transact(Bytes(datagram.begin(), datagram.begin() + static_cast<long>(size)));
            EXPECT_EQ(ack.status, 0x800E) << "command " << int{datagram[3]} << " cut to " << size;
            EXPECT_EQ(ack.id, (datagram[6] << 8) | datagram[7]);
        }
        const Ack ack = client.transact(datagram);
        EXPECT_EQ(ack.status, 0) << int{datagram[3]};
    }
    EXPECT_FALSE(client.receive(100).received);
    EXPECT_EQ(device.writes.load(), 1);
}

TEST(GvcpServer, RetransmittedRequestIsAnsweredWithoutRunningAgain) {
    Device device(3);
    RawClient client(address(3));
    const Bytes write = makeCommand(0x0086, concat(be32(device.reg("Ranged")), concat(be32(0), be32(3))), 0x0777);
    const Ack first = client.transact(write);
    const Ack again = client.transact(write);
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.payload, first.payload);
    EXPECT_EQ(device.writes.load(), 1);
    EXPECT_EQ(client.transact(makeCommand(0x0086, concat(be32(device.reg("Ranged")), concat(be32(0), be32(3))), 0x0778))
                  .status,
              0);
    EXPECT_EQ(device.writes.load(), 2);
    // Another client with the same id is another request.
    RawClient other(address(3));
    EXPECT_EQ(other.transact(write).status, 0);
    EXPECT_EQ(device.writes.load(), 3);
}

TEST(GvcpServer, SlowCallbackGetsPendingAckAndBusyAtTheLimit) {
    Device device(4, 0, 600);
    RawClient client(address(4));
    device.writeDelayMs = 350;
    const std::uint16_t id = client.nextId();
    client.send(makeCommand(0x0086, concat(be32(device.reg("Ranged")), concat(be32(0), be32(4))), id));
    const Ack pending = client.receive();
    EXPECT_EQ(pending.code, 0x0089);
    EXPECT_EQ(pending.id, id);
    ASSERT_EQ(pending.payload.size(), 4U);
    EXPECT_EQ(pending.payload[0], 0);  // reserved half stays zero
    EXPECT_EQ(pending.payload[1], 0);
    const Ack done = client.receive();
    EXPECT_EQ(done.code, 0x0087);
    EXPECT_EQ(done.status, 0);

    device.writeDelayMs = 1000;
    const std::uint16_t slow = client.nextId();
    const Bytes command = makeCommand(0x0086, concat(be32(device.reg("Ranged")), concat(be32(0), be32(5))), slow);
    client.send(command);
    Ack busy = client.receive();
    while (busy.received && busy.code == 0x0089) busy = client.receive();
    EXPECT_EQ(busy.status, 0x8007);
    EXPECT_EQ(busy.id, slow);
    EXPECT_TRUE(eventually([&] { return device.writes.load() == 2; }, 2000));
    // A retransmission gets the answer the client already had, without a second run.
    EXPECT_EQ(client.transact(command).status, 0x8007);
    EXPECT_EQ(device.writes.load(), 2);
}

TEST(GvcpServer, OneControllerAndExclusiveAccess) {
    Device device(5);
    RawClient owner(address(5));
    RawClient other(address(5));
    std::uint32_t value = 0;
    EXPECT_EQ(owner.writeReg(0x0A00, 0x2), 0);
    EXPECT_EQ(device.gained.load(), 1);
    EXPECT_EQ(owner.readReg(0x0A00, value), 0);
    EXPECT_EQ(value, 0x2U);
    EXPECT_EQ(owner.readReg(0x0A04, value), 0);
    EXPECT_EQ(value, owner.port());  // primary application port
    EXPECT_EQ(other.readReg(0x0934, value), 0);
    EXPECT_EQ(other.writeReg(0x0A00, 0x2), 0x8006);
    EXPECT_EQ(other.writeMem(device.reg("Ranged"), concat(be32(0), be32(1))), 0x8006);
    EXPECT_EQ(owner.writeReg(0x0A00, 0x1), 0);
    EXPECT_EQ(other.readReg(0x0934, value), 0x8006);
    Bytes data;
    EXPECT_EQ(other.readMem(0x0000, 8, data), 0x8006);
    EXPECT_EQ(owner.writeReg(0x0A00, 0), 0);
    EXPECT_EQ(device.lost.load(), 1);
    EXPECT_EQ(device.gained.load(), 1);
    EXPECT_EQ(other.writeReg(0x0A00, 0x2), 0);
    EXPECT_EQ(device.gained.load(), 2);
}

TEST(GvcpServer, SwitchoverNeedsTheKeyTheControllerWrote) {
    Device device(21);
    RawClient owner(address(21));
    RawClient withoutKey(address(21));
    RawClient withKey(address(21));
    EXPECT_EQ(owner.writeReg(0x0A00, 0x6), 0);            // control with switchover enabled
    EXPECT_EQ(withKey.writeReg(0x095C, 0x1234), 0x8006);  // only the controller sets the key
    EXPECT_EQ(owner.writeReg(0x095C, 0x1234), 0);
    std::uint32_t value = 0;
    EXPECT_EQ(owner.readReg(0x095C, value), 0);
    EXPECT_EQ(value, 0U);  // write-only: the key is never read back
    EXPECT_EQ(withoutKey.writeReg(0x0A00, 0x2), 0x8006);
    EXPECT_EQ(withoutKey.writeReg(0x0A00, 0x43210002), 0x8006);
    EXPECT_EQ(withKey.writeReg(0x0A00, 0x12340002), 0);
    EXPECT_EQ(withKey.readReg(0x0A04, value), 0);
    EXPECT_EQ(value, withKey.port());                // the new primary application
    EXPECT_EQ(owner.writeReg(0x0A00, 0x2), 0x8006);  // and the old one lost control
}

TEST(GvcpServer, SilentControllerLosesControlByTimer) {
    Device device(6, 500);
    RawClient owner(address(6));
    std::uint32_t value = 0;
    EXPECT_EQ(owner.readReg(0x0938, value), 0);
    EXPECT_EQ(value, 500U);
    EXPECT_EQ(owner.writeReg(0x0D00, 40000), 0);
    EXPECT_EQ(owner.writeReg(0x0A00, 0x2), 0);
    // No further packet from anybody: the timer alone must end control and close the stream channel.
    EXPECT_TRUE(eventually([&] { return device.lost.load() == 1; }, 2000));
    RawClient other(address(6));
    EXPECT_EQ(other.readReg(0x0A00, value), 0);
    EXPECT_EQ(value, 0U);
    EXPECT_EQ(other.readReg(0x0D00, value), 0);
    EXPECT_EQ(value, 0U);
    EXPECT_EQ(device.lost.load(), 1);
}

TEST(GvcpServer, TakenPortFailsAndStopFreesIt) {
    Device first(7);
    gige::Camera second;
    testing::internal::CaptureStderr();
    EXPECT_NE(second.startServer(text(7).c_str()), 0);
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_NE(told.find("UDP port 3956 on " + text(7) + " is already used by another program"), std::string::npos)
        << told;
    EXPECT_NE(told.find("End that program, or serve on another address."), std::string::npos) << told;
    EXPECT_FALSE(second.isServerRunning());
    EXPECT_NE(first.camera.startServer(text(7).c_str()), 0);  // already running
    EXPECT_NE(second.startServer("192.0.2.1"), 0);            // not an address of this host
    EXPECT_NE(second.startServer("not an address"), 0);
    first.camera.stopServer();
    EXPECT_FALSE(first.camera.isServerRunning());
    EXPECT_EQ(second.startServer(text(7).c_str()), 0);
    EXPECT_TRUE(second.isServerRunning());
    second.stopServer();
}

TEST(GvcpServer, InstancesCoexistAndAnswerDiscoveryForThemselves) {
    {
        gige::UdpSocket first;
        gige::UdpSocket second;
        std::string error;
        if (!first.open(address(12), 3955, false, error) || !second.open(address(13), 3955, false, error))
            GTEST_SKIP() << "this system lets one port serve only one loopback address (wine does): " << error;
    }
    Device a(8);
    Device b(9);
    for (int n : {8, 9}) {
        RawClient client(address(n));
        const Ack ack = client.transact(makeCommand(0x0002, {}, 0xFFFF));
        ASSERT_EQ(ack.length, 248);
        ASSERT_EQ(ack.payload.size(), 248U);
        EXPECT_EQ(ack.id, 0xFFFF);
        const std::uint32_t ip = (std::uint32_t{ack.payload[0x24]} << 24) | (std::uint32_t{ack.payload[0x25]} << 16) |
                                 (std::uint32_t{ack.payload[0x26]} << 8) | ack.payload[0x27];
        EXPECT_EQ(ip, address(n));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&ack.payload[0x48])), "TestVendor");
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&ack.payload[0xD8])), "SN42");
    }
}

TEST(GvcpServer, RegistersHoldWhatClientsExpect) {
    Device device(10);
    RawClient client(address(10));
    std::uint32_t value = 0;
    EXPECT_EQ(client.readReg(0x0004, value), 0);
    EXPECT_EQ(value, 0x80000001U);
    EXPECT_EQ(client.readReg(0x0904, value), 0);
    EXPECT_EQ(value, 1U);
    EXPECT_EQ(client.readReg(0x0934, value), 0);
    EXPECT_EQ(value & 0xC0000022U, 0xC0000022U);  // user name, serial, PENDING_ACK, WRITEMEM
    EXPECT_EQ(client.readReg(0x0940, value), 0);
    EXPECT_EQ(value, 1000000000U);
    EXPECT_EQ(client.writeReg(0x0938, 100), 0);
    EXPECT_EQ(client.readReg(0x0938, value), 0);
    EXPECT_EQ(value, 500U);
    EXPECT_EQ(client.writeReg(0x0D24, 0x41), 0);  // multipart is not offered: the bit reads back clear
    EXPECT_EQ(client.readReg(0x0D24, value), 0);
    EXPECT_EQ(value, 0x1U);
    EXPECT_EQ(client.writeReg(0x0944, 0x2), 0);  // latch the timestamp
    std::uint32_t low = 0;
    EXPECT_EQ(client.readReg(0x094C, low), 0);
    EXPECT_NE(low, 0U);
    EXPECT_EQ(client.readReg(0x0944, value), 0);  // write-only registers read as zero
    EXPECT_EQ(value, 0U);

    // The first URL points at the XML; reading it back, padding included, gives the document.
    Bytes url;
    ASSERT_EQ(client.readMem(0x0200, 512, url), 0);
    const std::string urlText(reinterpret_cast<const char*>(url.data()));
    EXPECT_EQ(urlText.rfind("Local:device.xml;100000;", 0), 0U) << urlText;
    std::string xml;
    for (std::uint32_t offset = 0; offset < device.xml.size(); offset += 512) {
        const auto count =
            static_cast<std::uint16_t>(std::min<std::size_t>(512, (device.xml.size() - offset + 3) & ~3U));
        Bytes block;
        ASSERT_EQ(client.readMem(0x100000 + offset, count, block), 0) << offset;
        xml.append(block.begin(), block.end());
    }
    EXPECT_EQ(xml.substr(0, device.xml.size()), device.xml);
    Bytes past;
    EXPECT_EQ(client.readMem(0x100000 + ((device.xml.size() + 3) & ~3U), 4, past), 0x8003);

    // The read callback runs before the value is encoded and may set it.
    Bytes counter;
    ASSERT_EQ(client.readMem(device.reg("Counter"), 8, counter), 0);
    EXPECT_EQ(counter[7], static_cast<std::uint8_t>(device.reads.load()));
    EXPECT_FALSE(device.camera.addFeature(GevInteger, "Late", "Mine", GevReadWrite, nullptr, 1));
}

TEST(GvcpServer, RefusedWritesLockedFeaturesCommandsAndChunkMode) {
    Device device(15);
    RawClient client(address(15));
    ASSERT_EQ(client.writeReg(0x0A00, 0x2), 0);  // take control
    std::uint32_t value = 0;
    const auto readFeature = [&](const char* name) {
        Bytes bytes;
        EXPECT_EQ(client.readMem(device.reg(name), 8, bytes), 0) << name;
        std::uint64_t result = 0;
        for (std::uint8_t byte : bytes) result = (result << 8) | byte;
        return result;
    };
    // Integers have 8-byte registers; booleans and commands 4-byte ones.
    const auto writeFeature = [&](const char* name, std::uint64_t number) {
        Bytes bytes;
        for (int shift = 56; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(number >> shift));
        return client.writeMem(device.reg(name), bytes);
    };

    // A write the program refuses is answered with an error and leaves the previous value.
    ASSERT_EQ(writeFeature("Ranged", 5), 0);
    device.refuseWrites = true;
    EXPECT_EQ(writeFeature("Ranged", 7), 0x8FFF);
    EXPECT_EQ(readFeature("Ranged"), 5U);
    device.refuseWrites = false;

    // A feature whose lock is set cannot be written until the lock is released.
    ASSERT_EQ(writeFeature("Lock", 1), 0);
    EXPECT_EQ(writeFeature("Guarded", 3), 0x8004);
    ASSERT_EQ(writeFeature("Lock", 0), 0);
    EXPECT_EQ(writeFeature("Guarded", 3), 0);

    // A command runs only on its command value and reads 0 once it has run.
    const int writes = device.writes;
    EXPECT_EQ(client.writeReg(device.reg("AcquisitionStart"), 0), 0x8002);
    EXPECT_EQ(device.writes, writes);
    EXPECT_EQ(client.writeReg(device.reg("AcquisitionStart"), 1), 0);
    EXPECT_EQ(device.writes, writes + 1);
    EXPECT_EQ(client.readReg(device.reg("AcquisitionStart"), value), 0);
    EXPECT_EQ(value, 0U);

    // Chunk mode off leaves the chunks out of the payload; on with no chunk adds nothing.
    const std::uint64_t image = readFeature("PayloadSize");
    ASSERT_EQ(client.writeReg(device.reg("ChunkModeActive"), 1), 0);
    EXPECT_EQ(readFeature("PayloadSize"), image);
    device.camera.setChunkLayout(4, 1, 0);
    EXPECT_EQ(readFeature("PayloadSize"), image + 8 + 4 + 8);
    ASSERT_EQ(client.writeReg(device.reg("ChunkModeActive"), 0), 0);
    EXPECT_EQ(readFeature("PayloadSize"), image);
}

TEST(GvcpServer, CallbackMayStopTheServer) {
    struct Stopper {
        gige::Camera camera;
        static void onConnection(void* context, bool connected) {
            if (connected) static_cast<Stopper*>(context)->camera.stopServer();
        }
    } stopper;
    stopper.camera.setConnectionCallback(&stopper, &Stopper::onConnection);
    ASSERT_EQ(stopper.camera.startServer(text(11).c_str()), 0);
    RawClient client(address(11));
    client.writeReg(0x0A00, 0x2);
    EXPECT_FALSE(stopper.camera.isServerRunning());
    EXPECT_EQ(stopper.camera.startServer(text(11).c_str()), 0);  // the stopped loop is joined first
    EXPECT_TRUE(stopper.camera.isServerRunning());
}

namespace {

struct ActionLog {
    std::mutex mutex;
    std::vector<std::pair<int, std::uint64_t>> fired;  // signal and action time, in delivery order
    std::vector<std::uint64_t> takenAt;                // the device clock when each was delivered
    gige::Camera* camera = nullptr;

    static void onAction(void* context, int signal, std::uint64_t ticks) {
        auto* self = static_cast<ActionLog*>(context);
        const std::uint64_t now = self->camera->getTimestamp();
        std::lock_guard lock(self->mutex);
        self->fired.emplace_back(signal, ticks);
        self->takenAt.push_back(now);
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return fired.size();
    }
};

Bytes actionPayload(std::uint32_t deviceKey, std::uint32_t groupKey, std::uint32_t mask) {
    return concat(concat(be32(deviceKey), be32(groupKey)), be32(mask));
}

Bytes scheduledPayload(std::uint32_t groupKey, std::uint32_t mask, std::uint64_t time) {
    return concat(concat(actionPayload(0x0D000001, groupKey, mask), be32(static_cast<std::uint32_t>(time >> 32))),
                  be32(static_cast<std::uint32_t>(time)));
}

}  // namespace

TEST(GvcpServer, ActionsFireTheSignalsTheirKeysAndMaskName) {
    Device device(16);
    ActionLog log;
    log.camera = &device.camera;
    device.camera.setActionCallback(&log, &ActionLog::onAction);
    RawClient client(address(16));
    std::uint32_t value = 0;
    EXPECT_EQ(client.readReg(0x0908, value), 0);
    EXPECT_EQ(value, 4U);
    EXPECT_EQ(client.readReg(0x0934, value), 0);
    EXPECT_EQ(value & 0x00160040U, 0x00160040U);  // action, unconditional, status codes 2.0, scheduled
    ASSERT_EQ(client.writeReg(0x090C, 0x0D000001), 0);
    EXPECT_EQ(client.readReg(0x090C, value), 0);
    EXPECT_EQ(value, 0U);  // the device key is write-only
    // Signals 0 and 1 share a group key with masks of their own; signal 2 has another group; 3 is unset.
    ASSERT_EQ(client.writeMem(0x9800, concat(concat(be32(0x10), be32(0x0F)), Bytes(8, 0))), 0x8003);
    ASSERT_EQ(client.writeMem(0x9800, concat(be32(0x10), be32(0x0F))), 0);
    ASSERT_EQ(client.writeReg(0x9810, 0x10), 0);
    ASSERT_EQ(client.writeReg(0x9814, 0xF0), 0);
    ASSERT_EQ(client.writeReg(0x9820, 0x20), 0);
    ASSERT_EQ(client.writeReg(0x9824, 0x01), 0);
    EXPECT_EQ(client.readReg(0x9814, value), 0);
    EXPECT_EQ(value, 0xF0U);
    EXPECT_EQ(client.readReg(0x9808, value), 0x8003);
    EXPECT_EQ(client.readReg(0x9840, value), 0x8003);

    RawClient sender(address(16));
    const auto fire = [&](const Bytes& payload, std::uint8_t flags = 0x01) {
        return sender.transact(makeCommand(0x0100, payload, sender.nextId(), flags), 300);
    };
    // No application controls the device and unconditional mode is off: nothing happens.
    EXPECT_FALSE(fire(actionPayload(0x0D000001, 0x10, 0x01)).received);
    ASSERT_EQ(client.writeReg(0x0954, 0x8), 0);
    EXPECT_EQ(client.readReg(0x0954, value), 0);
    EXPECT_EQ(value, 0x8U);

    struct Case {
        const char* what;
        std::uint32_t deviceKey, groupKey, mask;
        std::vector<int> signals;  // empty: no answer
    };
    const std::vector<Case> cases = {
        {"wrong device key", 0x0D000002, 0x10, 0x01, {}},
        {"wrong group key", 0x0D000001, 0x11, 0xFF, {}},
        {"mask sharing no bit", 0x0D000001, 0x10, 0x100, {}},
        {"unset signal", 0x0D000001, 0x00, 0xFFFFFFFF, {}},
        {"first signal", 0x0D000001, 0x10, 0x01, {0}},
        {"both signals of the group", 0x0D000001, 0x10, 0x11, {0, 1}},
        {"another group", 0x0D000001, 0x20, 0x03, {2}},
    };
    std::size_t expected = 0;
    for (const auto& c : cases) {
        const Ack ack = fire(actionPayload(c.deviceKey, c.groupKey, c.mask));
        EXPECT_EQ(ack.received, !c.signals.empty()) << c.what;
        if (ack.received) {
            EXPECT_EQ(ack.status, 0) << c.what;
            EXPECT_EQ(ack.code, 0x0101) << c.what;
            EXPECT_EQ(ack.length, 0) << c.what;
        }
        expected += c.signals.size();
        ASSERT_TRUE(eventually([&] { return log.count() >= expected; }, 2000)) << c.what;
        std::lock_guard lock(log.mutex);
        ASSERT_EQ(log.fired.size(), expected) << c.what;
        for (std::size_t i = 0; i < c.signals.size(); ++i)
            EXPECT_EQ(log.fired[expected - c.signals.size() + i].first, c.signals[i]) << c.what;
    }
    // Without the ack flag it fires silently; a retransmission (same id, same port) does not fire again.
    const Bytes silent = makeCommand(0x0100, actionPayload(0x0D000001, 0x20, 0x01), sender.nextId(), 0x00);
    sender.send(silent);
    sender.send(silent);
    EXPECT_FALSE(sender.receive(200).received);
    // Malformed: INVALID_PARAMETER when an ack is asked for, else dropped.
    EXPECT_EQ(fire(actionPayload(0x0D000001, 0x10, 0x01), 0x81).status, 0x8002);
    sender.send(makeCommand(0x0100, actionPayload(0x0D000001, 0x10, 0x01), sender.nextId(), 0x80));
    EXPECT_FALSE(sender.receive(200).received);
    expected += 1;
    ASSERT_TRUE(eventually([&] { return log.count() >= expected; }, 2000));

    // Scheduled: time 0 is now; a past time is carried out and answered late, in the codes the client enabled.
    EXPECT_EQ(fire(scheduledPayload(0x10, 0x01, 0), 0x81).status, 0);
    EXPECT_EQ(fire(scheduledPayload(0x10, 0x01, 1000), 0x81).status, 0x8FFF);
    ASSERT_EQ(client.writeReg(0x0954, 0x00040008), 0);
    EXPECT_EQ(fire(scheduledPayload(0x10, 0x01, 1000), 0x81).status, 0x8016);
    expected += 3;
    ASSERT_TRUE(eventually([&] { return log.count() >= expected; }, 2000));
    {
        std::lock_guard lock(log.mutex);
        EXPECT_NE(log.fired[expected - 3].second, 0U);
        EXPECT_EQ(log.fired[expected - 1].second, 1000U);
    }
    // A future time is kept until then: the callback is never early.
    const std::uint64_t at = device.camera.getTimestamp() + 50000000;
    EXPECT_EQ(fire(scheduledPayload(0x20, 0x01, at), 0x81).status, 0);
    expected += 1;
    ASSERT_TRUE(eventually([&] { return log.count() >= expected; }, 2000));
    {
        std::lock_guard lock(log.mutex);
        EXPECT_EQ(log.fired.back(), std::make_pair(2, at));
        EXPECT_GE(log.takenAt.back(), at);
        std::printf("scheduled action delivered %.3f ms after its time\n",
                    static_cast<double>(log.takenAt.back() - at) / 1e6);
    }
    // The queue holds 16 scheduled actions; the next one overflows, while one due now still goes through.
    EXPECT_EQ(client.readReg(0x0970, value), 0);
    EXPECT_EQ(value, 16U);
    const std::uint64_t later = device.camera.getTimestamp() + 60000000000ULL;
    for (int i = 0; i < 16; ++i) EXPECT_EQ(fire(scheduledPayload(0x10, 0x01, later), 0x81).status, 0) << i;
    EXPECT_EQ(fire(scheduledPayload(0x10, 0x01, later), 0x81).status, 0x8015);
    EXPECT_EQ(fire(actionPayload(0x0D000001, 0x10, 0x01)).status, 0);

    // An application controls the device: actions from any other application fire without unconditional mode.
    ASSERT_EQ(client.writeReg(0x0954, 0), 0);
    ASSERT_EQ(client.writeReg(0x0A00, 0x2), 0);
    EXPECT_EQ(fire(actionPayload(0x0D000001, 0x20, 0x01)).status, 0);
    // Resetting the clock makes it count from 0.
    ASSERT_EQ(client.writeReg(0x0944, 0x1), 0);
    EXPECT_LT(device.camera.getTimestamp(), 60000000000ULL);
    device.camera.stopServer();
}
