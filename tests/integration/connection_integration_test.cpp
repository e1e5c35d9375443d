// Connecting the bridge to the emulated sensor over TCP: the database download on a first run and its
// reuse on the next, the descriptor parse, and a debug file that cannot be opened.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "emulator_process.h"
#include "main_class.h"

namespace {

std::vector<std::string> lines(const std::string& path) {
    std::ifstream file(path);
    std::vector<std::string> result;
    for (std::string line; std::getline(file, line);) result.push_back(line);
    return result;
}

bool contains(const std::vector<std::string>& all, const std::string& line) {
    return std::find(all.begin(), all.end(), line) != all.end();
}

// The database lands next to the running program, named after the sensor's serial number.
std::filesystem::path databaseFile(const std::string& serial) {
    return std::filesystem::path(os::executablePath()).parent_path() / (serial + ".sdb");
}

TEST(ConnectionIntegration, DatabaseIsDownloadedOnceAndFoundOnTheNextRun) {
    const std::string serial = "ITEST-" + std::to_string(::getpid());
    const std::string log = testing::TempDir() + serial + ".commands";
    std::filesystem::remove(databaseFile(serial));
    EmulatorProcess emulator({"--address", "127.0.0.41", "--width", "64", "--height", "48", "--serial", serial,
                              "--download-seconds", "0.2", "--log-commands", log});
    ASSERT_TRUE(emulator.waitReady());

    {
        CMainClass bridge;
        bridge.enableConsoleLog();
        testing::internal::CaptureStderr();
        ASSERT_TRUE(bridge.connectSensor("127.0.0.41", "cell-3"));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("WARNING: The Sensor database is not available. Downloading it from the sensor.\n"),
                  std::string::npos)
            << err;
        EXPECT_EQ(bridge.serialNumber, serial);
        EXPECT_EQ(bridge.pixelXMax, 64);
        EXPECT_EQ(bridge.pixelYMax, 48);
        EXPECT_GT(bridge.sensorTemperature, 0);
    }
    EXPECT_TRUE(std::filesystem::exists(databaseFile(serial)));
    EXPECT_TRUE(contains(lines(log), "SetLoadSdbFromSensor"));

    std::filesystem::remove(log);
    {
        CMainClass bridge;
        testing::internal::CaptureStderr();
        ASSERT_TRUE(bridge.connectSensor("127.0.0.41", ""));
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Connecting to Corvastrum 3D Sensor...Plaese wait!\nCorvastrum 3D Sensor is connected\n");
    }
    const std::vector<std::string> second = lines(log);
    EXPECT_FALSE(contains(second, "SetLoadSdbFromSensor"));
    std::filesystem::remove(databaseFile(serial));
}

TEST(ConnectionIntegration, UnwritableDebugFileEndsTheConnectionStepWithFalse) {
    EmulatorProcess emulator({"--address", "127.0.0.42", "--width", "32", "--height", "24"});
    ASSERT_TRUE(emulator.waitReady());
    CMainClass bridge;
    bridge.setDebugFilePath(testing::TempDir() + "missing-folder/x/trace.log");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(bridge.connectSensor("127.0.0.42", ""));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Corvastrum 3D Sensor is connected\nfailed to open the debug file\n"), std::string::npos) << err;
}

TEST(ConnectionIntegration, NoSensorAtTheAddressFailsToConnect) {
    CMainClass bridge;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(bridge.connectSensor("127.0.0.43", ""));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Connecting to Corvastrum 3D Sensor...Plaese wait!\n"
              "ERROR: failed to connect to Corvastrum 3D Sensor\nPlease check the IP address\n");
}

}  // namespace
