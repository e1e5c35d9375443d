// Server start: device state reset, coordinate records, camera mode, identity, the address choice, and the
// worker threads that exist only when the server came online.
#include <algorithm>
#include <string>
#include <vector>

#include "device/bridge_fixture.h"

namespace {

using bridge_test::BridgeTest;

// No user set file is stored for the sample sensor: the start says so before the server comes online.
const std::string kNoUserSetLine = "User set Default in use: the sensor keeps its own settings\n";

class ServerStartTest : public BridgeTest {
protected:
    // Starts with the camera offering two interfaces; the text on standard error is kept in `console`.
    bool startWith(const std::string& address, int index) {
        camera->setInterfaces({"127.0.0.5", "127.0.0.6"});
        bridge->collectInterfaceAddresses();
        camera->clearCalls();
        testing::internal::CaptureStderr();
        const bool started = bridge->startDeviceServer(address, index);
        console = testing::internal::GetCapturedStderr();
        return started;
    }

    std::vector<std::string> addressCalls() {
        std::vector<std::string> calls;
        for (const std::string& call : camera->calls()) {
            if (call.rfind("startServer(", 0) == 0 || call.rfind("addIpAddress(", 0) == 0) calls.push_back(call);
        }
        return calls;
    }

    std::string console;
};

TEST_F(ServerStartTest, TheAddressIsChosenFromTheOptionsAndTheInterfaceList) {
    struct Case {
        std::string address;
        int index;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"", -1, {"startServer()"}},
        {"127.0.0.7", -1, {"startServer(127.0.0.7)"}},
        {"127.0.0.6", 1, {"startServer(127.0.0.6)"}},
        {"127.0.0.9", 0, {"addIpAddress(127.0.0.9, 255.255.255.0, 0.0.0.0)", "startServer(127.0.0.5)"}},
        {"", 1, {"addIpAddress(, 255.255.255.0, 0.0.0.0)", "startServer(127.0.0.6)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address + " on " + std::to_string(c.index));
        SetUp();
        ASSERT_NO_FATAL_FAILURE(connect());
        EXPECT_TRUE(startWith(c.address, c.index));
        EXPECT_EQ(addressCalls(), c.calls);
        EXPECT_NE(console.find("GigeServer is online\n"), std::string::npos);
        bridge.reset();
    }
}

TEST_F(ServerStartTest, AnIndexOutsideTheInterfaceListFailsBeforeTheListIsRead) {
    for (int index : {2, -2, 1000}) {
        SCOPED_TRACE(index);
        SetUp();
        ASSERT_NO_FATAL_FAILURE(connect());
        EXPECT_FALSE(startWith("127.0.0.9", index));
        EXPECT_TRUE(addressCalls().empty());
        EXPECT_EQ(console, kNoUserSetLine + "ERROR: Could not bring the server online\n");
        EXPECT_EQ(bridge->acquisitionThread, nullptr);
        EXPECT_EQ(bridge->watchdogThread, nullptr);
        bridge.reset();
    }
}

TEST_F(ServerStartTest, ThreadsRunOnlyWhenTheServerIsOnlineAndTheDestructorJoinsThem) {
    ASSERT_NO_FATAL_FAILURE(connect());
    camera->setStartResult(1);
    EXPECT_FALSE(startWith("", -1));
    EXPECT_EQ(console, kNoUserSetLine + "ERROR: Could not bring the server online\n");
    EXPECT_EQ(bridge->acquisitionThread, nullptr);
    EXPECT_EQ(bridge->watchdogThread, nullptr);

    bridge.reset();
    SetUp();
    ASSERT_NO_FATAL_FAILURE(connect());
    EXPECT_TRUE(startWith("", -1));
    EXPECT_EQ(console, kNoUserSetLine + "GigeServer is online\n");
    EXPECT_NE(bridge->acquisitionThread, nullptr);
    EXPECT_NE(bridge->watchdogThread, nullptr);
    EXPECT_FALSE(bridge->stopThreads);
    // The watchdog polls the sensor on its own thread.
    EXPECT_TRUE(bridge_test::waitUntil([&] { return sensor().count("GetSensorStatus") >= 2; }));

    bridge.reset();  // joins both threads; a thread left joinable would end the process
    const std::vector<std::string> log = RecordingCamera::globalLog();
    const auto stop = std::find(log.begin(), log.end(), "stopServer()");
    const auto release = std::find(log.begin(), log.end(), "~CGevCamera()");
    EXPECT_NE(stop, log.end());
    EXPECT_LT(stop, release);
    EXPECT_EQ(sensor().count("Disconnect"), 1);
    EXPECT_TRUE(sensor().commands() == std::vector<std::string>{"SetCameraMode=0"});
}

TEST_F(ServerStartTest, ThreadsAreJoinedAlsoWhenTheServerHasStoppedOnItsOwn) {
    ASSERT_NO_FATAL_FAILURE(connect());
    EXPECT_TRUE(startWith("", -1));
    camera->stopServer();  // the library's server went down; the bridge's threads still run
    bridge.reset();        // must end and join them rather than destroy running threads
    EXPECT_EQ(sensor().count("Disconnect"), 1);
}

TEST_F(ServerStartTest, IdentityIsDeclaredAndTheUserNameOnlyWhenGiven) {
    for (const std::string name : {"", "Bench 3"}) {
        SCOPED_TRACE(name);
        SetUp();
        ASSERT_NO_FATAL_FAILURE(connect(sampleDescriptor(), name));
        EXPECT_TRUE(startWith("", -1));
        std::vector<std::string> expected = {"setDeviceInfo(Corvastrum, C3D-2040, 1.0.0, Corvastrum 3D sensor, SN4711)",
                                             "setMacAddress(00:11:22:33:44:55)"};
        if (!name.empty()) expected.push_back("setUserDefinedName(" + name + ")");
        const std::vector<std::string> calls = camera->calls();
        ASSERT_GE(calls.size(), expected.size());
        EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + static_cast<long>(expected.size())),
                  expected);
        EXPECT_TRUE(camera->callsNamed("setUserDefinedName").size() == (name.empty() ? 0u : 1u));
        bridge.reset();
    }
}

TEST_F(ServerStartTest, CameraModeZeroIsSentAndARejectionOnlyWarns) {
    ASSERT_NO_FATAL_FAILURE(connect());
    sensor().scriptResult("SetCameraMode=0", {-107});
    bridge->enableConsoleLog();
    EXPECT_TRUE(startWith("", -1));
    EXPECT_EQ(console, "WARNING: Failed WriteData [SetCameraMode=0]. Error code -107\n" + kNoUserSetLine +
                           "GigeServer is online\n");
    EXPECT_EQ(sensor().commands(), std::vector<std::string>{"SetCameraMode=0"});
}

TEST_F(ServerStartTest, DeviceStateIsResetAndCoordinateRecordsFollowTheMeasuringRanges) {
    ASSERT_NO_FATAL_FAILURE(
        connect(replaceFirst(sampleDescriptor(), "<measuringrange_x>300<", "<measuringrange_x>200<")));
    bridge->filterSelector = 5;
    bridge->propertySelector = 9;
    bridge->propertyIndex = 2;
    bridge->coordinateSelector = 2;
    bridge->chunkSelector = 7;
    bridge->chunkPayloadSize = 12;
    bridge->enabledChunkCount = 3;
    bridge->acquisitionMode = 2;
    bridge->requestAcquisitionStart();  // a start asked for before: forgotten at bring-up
    bridge->maskPath = "old.png";
    bridge->pixelFormat = "Coord3D_ABC32f";
    bridge->chunks[0].enabled = true;
    EXPECT_TRUE(startWith("", -1));

    EXPECT_EQ(bridge->filterSelector, 0);
    EXPECT_EQ(bridge->propertySelector, 0);
    EXPECT_EQ(bridge->propertyIndex, 0);
    EXPECT_EQ(bridge->coordinateSelector, 0);
    EXPECT_EQ(bridge->chunkSelector, 0);
    EXPECT_EQ(bridge->chunkPayloadSize, 0);
    EXPECT_EQ(bridge->enabledChunkCount, 0);
    EXPECT_EQ(bridge->acquisitionMode, 1);
    EXPECT_EQ(bridge->acquisitionState(), AcquisitionState::Idle);
    EXPECT_EQ(bridge->maskPath, "");
    EXPECT_EQ(bridge->pixelFormat, "Mono8");
    EXPECT_EQ(bridge->chunks[0].name, "ChunkTemperature");
    EXPECT_EQ(bridge->chunks[0].address, 0xFFFFF0u);
    EXPECT_FALSE(bridge->chunks[0].enabled);

    EXPECT_EQ(bridge->scale16X, 200.0 / 65535.0);
    EXPECT_EQ(bridge->scale16Y, 200.0 / 65535.0);
    EXPECT_EQ(bridge->scale16Z, 500.0 / 65535.0);
    struct Expected {
        bool flag;
        float min;
        float max;
    };
    const Expected axes[3] = {{false, -100.0f, 100.0f}, {false, -100.0f, 100.0f}, {true, 400.0f, 900.0f}};
    for (int axis = 0; axis < 3; ++axis) {
        SCOPED_TRACE(axis);
        const CoordinateInfo& c = bridge->coordinates[axis];
        EXPECT_EQ(c.scale, 1.0f);
        EXPECT_EQ(c.offset, 0.0f);
        EXPECT_EQ(c.invalidDataFlag, axes[axis].flag);
        EXPECT_EQ(c.invalidDataValue, 0.0f);
        EXPECT_EQ(c.axisMin, axes[axis].min);
        EXPECT_EQ(c.axisMax, axes[axis].max);
    }
}

}  // namespace
