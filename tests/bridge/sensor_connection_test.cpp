// Connecting to the sensor: which commands are sent in each branch, what is printed with and without the
// console trace, and when the connection is closed.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>

#include "main_class.h"
#include "recording_camera.h"
#include "sample_descriptor.h"
#include "scripted_sensor.h"
#include "tavrion.h"

namespace {

using Lines = std::vector<std::string>;
const std::string kConnecting = "Connecting to Corvastrum 3D Sensor...Plaese wait!\n";
const std::string kConnected = "Corvastrum 3D Sensor is connected\n";
const std::string kDownloading =
    "WARNING: The Sensor database is not available. Downloading it from the sensor.\n"
    "WARNING: It might take up to 10 minutes\n";

class SensorConnection : public testing::Test {
protected:
    void SetUp() override {
        sensor().reset();
        sensor().setReply("GetXmlDescriptor", sampleDescriptor());
    }
    static ScriptedSensor& sensor() { return ScriptedSensor::instance(); }

    // Connects a new bridge (console trace on when `trace`), returning the result and standard error.
    std::pair<bool, std::string> connect(bool trace, const std::string& debugFile = "") {
        bridge.reset();  // a bridge left from before closes its connection now, not during this connect
        sensor().clearCalls();
        bridge = std::make_unique<CMainClass>();
        if (trace) bridge->enableConsoleLog();
        if (!debugFile.empty()) bridge->setDebugFilePath(debugFile);
        testing::internal::CaptureStderr();
        const bool connected = bridge->connectSensor("10.1.2.3", "line-7");
        return {connected, testing::internal::GetCapturedStderr()};
    }

    static std::string programFolder() {
        const std::string path = os::executablePath();
        return path.substr(0, path.find_last_of(os::pathSeparator()) + 1);
    }
    static std::string sdbPathCommand() { return "SetSdbPath=" + programFolder(); }

    std::unique_ptr<CMainClass> bridge;
};

TEST_F(SensorConnection, LoadedDatabaseSkipsTheDatabaseSteps) {
    const auto [connected, err] = connect(false);
    EXPECT_TRUE(connected);
    EXPECT_EQ(err, kConnecting + kConnected);
    EXPECT_EQ(sensor().calls(), (Lines{"Connect 10.1.2.3 32001", "GetSensorStatus", "ReadData GetXmlDescriptor",
                                       "ReadData GetTemperature"}));
    EXPECT_EQ(bridge->userDefinedName, "line-7");
    EXPECT_EQ(bridge->serialNumber, "SN4711");
    EXPECT_EQ(bridge->sensorTemperature, 35);
}

TEST_F(SensorConnection, MissingDatabaseIsDownloadedAndCheckedTwice) {
    for (const std::int32_t missing : {std::int32_t{TAVRION_ERR_DATABASE_NOT_AVAILABLE}, std::int32_t{-1000}}) {
        sensor().reset();
        sensor().setReply("GetXmlDescriptor", sampleDescriptor());
        sensor().scriptStatus({{0, 1}, {0, 3}});
        sensor().scriptResult("SetLoadSdb", {missing});
        const auto [connected, err] = connect(true);
        EXPECT_TRUE(connected);
        EXPECT_EQ(err, kConnecting + kDownloading + "The sensor database was downloaded into " + programFolder() +
                           "\n" + kConnected);
        EXPECT_EQ(sensor().calls(), (Lines{"Connect 10.1.2.3 32001", "GetSensorStatus", "WriteData " + sdbPathCommand(),
                                           "WriteData SetLoadSdb", "WriteData SetLoadSdbFromSensor", "GetSensorStatus",
                                           "GetSensorStatus", "ReadData GetXmlDescriptor", "ReadData GetTemperature"}));
    }
}

TEST_F(SensorConnection, DatabaseStillMissingAfterLoadFailsEvenWithoutTrace) {
    sensor().scriptStatus({{0, 1}});
    const auto [connected, err] = connect(false);
    EXPECT_FALSE(connected);
    EXPECT_EQ(err, kConnecting + "ERROR: Failed to load database from Corvastrum 3D Sensor\n");
    EXPECT_EQ(sensor().calls(), (Lines{"Connect 10.1.2.3 32001", "GetSensorStatus", "WriteData " + sdbPathCommand(),
                                       "WriteData SetLoadSdb", "GetSensorStatus", "Disconnect"}));
}

TEST_F(SensorConnection, EachFailingStepIsTracedAndClosesTheConnectionOnce) {
    struct Case {
        std::function<void()> script;
        std::string message;  // traced only with -d, unless `always`
        bool always = false;  // a download failure shows without -d too
    };
    const Case cases[] = {
        {[] {
             ScriptedSensor::instance().scriptStatus({{-101, 0}});
         },
         "WARNING: Failed GetSensorStatus. Error code -101\n"},
        {[] {
             ScriptedSensor::instance().scriptStatus({{0, 1}});
             ScriptedSensor::instance().scriptResult(sdbPathCommand(), {-104});
         },
         "ERROR: Failed WriteData [SetSdbPath]. Error code -104\n"},
        {[] {
             ScriptedSensor::instance().scriptStatus({{0, 1}});
             ScriptedSensor::instance().scriptResult("SetLoadSdb", {-106});
         },
         "ERROR: Failed WriteData [SetLoadSdb]. Error code -106\n"},
        {[] {
             ScriptedSensor::instance().scriptStatus({{0, 1}});
             ScriptedSensor::instance().scriptResult("SetLoadSdb", {-105});
             ScriptedSensor::instance().scriptResult("SetLoadSdbFromSensor", {-102});
         },
         kDownloading + "ERROR: Failed WriteData [SetLoadSdbFromSensor]. Error code -102\n"
                        "ERROR: the sensor database could not be downloaded from the sensor\n",
         true},
        {[] {
             ScriptedSensor::instance().scriptStatus({{0, 1}, {-102, 0}});
             ScriptedSensor::instance().scriptResult("SetLoadSdb", {-105});
         },
         kDownloading + "WARNING: Failed GetSensorStatus. Error code -102\n", true},
    };
    for (const bool trace : {false, true}) {
        for (const Case& c : cases) {
            sensor().reset();
            sensor().setReply("GetXmlDescriptor", sampleDescriptor());
            c.script();
            const auto [connected, err] = connect(trace);
            EXPECT_FALSE(connected);
            EXPECT_EQ(err, kConnecting + (trace || c.always ? c.message : ""));
            EXPECT_EQ(sensor().count("Disconnect"), 1);
            EXPECT_EQ(sensor().count("ReadData GetXmlDescriptor"), 0);
        }
    }
}

TEST_F(SensorConnection, ConnectDescriptorAndParseFailuresGoToStandardError) {
    sensor().failConnect(true);
    auto result = connect(false);
    EXPECT_FALSE(result.first);
    EXPECT_EQ(result.second,
              kConnecting + "ERROR: failed to connect to Corvastrum 3D Sensor\nPlease check the IP address\n");
    EXPECT_EQ(sensor().count("Disconnect"), 0);

    sensor().reset();
    sensor().scriptResult("GetXmlDescriptor", {-102});
    result = connect(false);
    EXPECT_FALSE(result.first);
    EXPECT_EQ(result.second, kConnecting + "ERROR: failed to read 3D Sensor settings. Error code -102\n");
    EXPECT_EQ(sensor().count("Disconnect"), 1);

    sensor().reset();
    sensor().setReply("GetXmlDescriptor", "<device><general/></device>");
    result = connect(false);
    EXPECT_FALSE(result.first);
    EXPECT_EQ(result.second, kConnecting + "ERROR: failed to parse 3D Sensor settings\n");
    EXPECT_EQ(sensor().count("Disconnect"), 1);
}

TEST_F(SensorConnection, DebugFileStartsWithMarkersAndReceivesTheTrace) {
    const std::string path = testing::TempDir() + "connection_trace.log";
    std::ofstream(path) << "old content that is replaced\n";
    const auto [connected, err] = connect(false, path);
    EXPECT_TRUE(connected);
    EXPECT_TRUE(bridge->logToFile);
    bridge->trace("Read Gain = 2\n");
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), "///////////\n///////////\nRead Gain = 2\n");
}

TEST_F(SensorConnection, UnwritableDebugFileFailsAfterTheSensorIsConnected) {
    const std::string path = testing::TempDir() + "no-such-folder/sub/trace.log";
    const auto [connected, err] = connect(false, path);
    EXPECT_FALSE(connected);
    EXPECT_EQ(err, kConnecting + kConnected + "failed to open the debug file\n");
    EXPECT_EQ(sensor().count("Disconnect"), 0);
    EXPECT_FALSE(bridge->logToFile);
}

}  // namespace
