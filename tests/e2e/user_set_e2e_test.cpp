// User sets and DeviceUserID end to end: the emulated sensor, the program (a copy in a folder of its own, where it
// keeps the sensor's file) and Aravis. Settings saved as UserSet1 and chosen as UserSetDefault come back after a
// restart against a fresh sensor, sent to it at start, and discovery shows the stored name; a setting the sensor
// refuses ends a load with an error; a damaged file is named on the console and the sensor keeps its own settings.
#include <gtest/gtest.h>

#include <arv.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "bridge_process.h"
#include "emulator_process.h"

namespace {

namespace fs = std::filesystem;

class UserSetEndToEnd : public testing::Test {
protected:
    void SetUp() override {
        const std::string n = std::to_string(testNumber());
        sensorAddress = "127.0.23." + n;
        deviceAddress = "127.0.23." + std::to_string(testNumber() + 100);
        serial = "E2E-USERSETS-" + n + "-" + std::to_string(::getpid());
        folder = fs::path(testing::TempDir()) / ("e2e-user-sets-" + n);
        commandLog = (folder / "commands.log").string();
        fs::remove_all(folder);
        fs::create_directories(folder);
        program = folder / fs::path(BridgeProcess::programPath()).filename();
        fs::copy_file(BridgeProcess::programPath(), program);
    }
    void TearDown() override {
        close();
        bridge.reset();
        emulator.reset();
        fs::remove_all(folder);
    }
    virtual int testNumber() const = 0;

    // A fresh sensor (the emulator's settings at their defaults, its command log empty) and the program.
    void start(std::vector<std::string> emulatorOptions = {}) {
        close();
        bridge.reset();
        emulator.reset();
        fs::remove(commandLog);
        std::vector<std::string> arguments{"--address",          sensorAddress, "--width",        "64",
                                           "--height",           "48",          "--serial",       serial,
                                           "--download-seconds", "0",           "--log-commands", commandLog};
        arguments.insert(arguments.end(), emulatorOptions.begin(), emulatorOptions.end());
        emulator = std::make_unique<EmulatorProcess>(arguments);
        ASSERT_TRUE(emulator->waitReady());
        bridge = std::make_unique<BridgeProcess>(
            std::vector<std::string>{"-i", sensorAddress, "-s", deviceAddress},
            BridgeStart{.program = program.string(), .inputFile = "", .onTerminal = false});
        ASSERT_TRUE(bridge->waitForError("GigeServer is online\n")) << bridge->err();
        GError* error = nullptr;
        camera = arv_camera_new(deviceAddress.c_str(), &error);
        ASSERT_NE(camera, nullptr) << (error ? error->message : "");
    }
    void close() {
        if (camera != nullptr) g_object_unref(camera);
        camera = nullptr;
    }

    // A write through the client; the error message, empty when the device accepted it.
    std::string write(const char* feature, const std::string& value) {
        GError* error = nullptr;
        arv_camera_set_string(camera, feature, value.c_str(), &error);
        return takeError(error);
    }
    std::string write(const char* feature, double value) {
        GError* error = nullptr;
        arv_camera_set_float(camera, feature, value, &error);
        return takeError(error);
    }
    std::string execute(const char* command) {
        GError* error = nullptr;
        arv_camera_execute_command(camera, command, &error);
        return takeError(error);
    }
    static std::string takeError(GError* error) {
        if (error == nullptr) return "";
        std::string message = error->message[0] != '\0' ? error->message : "error";
        g_error_free(error);
        return message;
    }
    std::string readString(const char* feature) {
        const char* value = arv_camera_get_string(camera, feature, nullptr);
        return value != nullptr ? value : "";
    }
    double readFloat(const char* feature) { return arv_camera_get_float(camera, feature, nullptr); }
    // A whole value within the feature's limits that differs from the current one.
    double anotherValue(const char* feature) {
        double min = 0, max = 0;
        arv_camera_get_float_bounds(camera, feature, &min, &max, nullptr);
        const double current = readFloat(feature);
        return current + 2.0 <= max ? current + 2.0 : current - 2.0;
    }
    bool logged(const std::string& command) {
        const auto log = fileLines(commandLog);
        return std::find(log.begin(), log.end(), command) != log.end();
    }
    fs::path userSetFile() const { return folder / (serial + ".usersets"); }

    std::string sensorAddress;
    std::string deviceAddress;
    std::string serial;
    fs::path folder;
    fs::path program;
    std::string commandLog;
    std::unique_ptr<EmulatorProcess> emulator;
    std::unique_ptr<BridgeProcess> bridge;
    ArvCamera* camera = nullptr;
};

class SavedSet : public UserSetEndToEnd {
    int testNumber() const override { return 1; }
};

TEST_F(SavedSet, ComesBackAfterARestartSentToTheSensorWithTheDeviceNamedAsStored) {
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_NE(bridge->err().find("User set Default in use: the sensor keeps its own settings\n"), std::string::npos)
        << bridge->err();
    const std::string name = "cell-7 left";
    ASSERT_EQ(write("DeviceUserID", name), "");
    const double exposure = anotherValue("ExposureTime");
    const double gain = anotherValue("Gain");
    ASSERT_EQ(write("ExposureTime", exposure), "");
    ASSERT_EQ(write("Gain", gain), "");
    ASSERT_EQ(write("PixelFormat", "Coord3D_ABC16"), "");
    ASSERT_EQ(write("TriggerMode", "On"), "");
    ASSERT_EQ(write("UserSetSelector", "UserSet1"), "");
    ASSERT_EQ(execute("UserSetSave"), "");
    ASSERT_EQ(write("UserSetDefault", "UserSet1"), "");
    // The Default set stands for the sensor's own settings: it is never saved.
    ASSERT_EQ(write("UserSetSelector", "Default"), "");
    EXPECT_NE(execute("UserSetSave"), "");
    EXPECT_TRUE(fs::exists(userSetFile()));

    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_NE(bridge->err().find("User set UserSet1 loaded\n"), std::string::npos) << bridge->err();
    for (const std::string& command : {std::string("SetCameraMode=1"), "SetExposureTime=" + std::to_string(exposure),
                                       "SetGain=" + std::to_string(gain)})
        EXPECT_TRUE(logged(command)) << command;
    EXPECT_EQ(readFloat("ExposureTime"), exposure);
    EXPECT_EQ(readFloat("Gain"), gain);
    EXPECT_EQ(std::string(arv_camera_get_pixel_format_as_string(camera, nullptr)), "Coord3D_ABC16");
    EXPECT_EQ(readString("TriggerMode"), "On");
    EXPECT_EQ(readString("UserSetDefault"), "UserSet1");
    EXPECT_EQ(readString("DeviceUserID"), name);
    // Discovery answers with the stored name: the client finds the device by it.
    close();
    GError* error = nullptr;
    camera = arv_camera_new(name.c_str(), &error);
    ASSERT_NE(camera, nullptr) << (error ? error->message : "") << "\n" << runCommand("arv-tool-0.8");
    EXPECT_EQ(readString("DeviceSerialNumber"), serial);

    // A sensor that refuses the exposure: the load stops there, says so, and the sensor's values are read.
    ASSERT_NO_FATAL_FAILURE(start({"--fail", "SetExposureTime=-107"}));
    const std::string refused = "UserSet1 could not be loaded: the device refused ExposureTime = ";
    EXPECT_NE(bridge->err().find(refused), std::string::npos) << bridge->err();
    ASSERT_EQ(write("UserSetSelector", "UserSet1"), "");
    EXPECT_NE(execute("UserSetLoad"), "");
    EXPECT_NE(readFloat("ExposureTime"), exposure);
    EXPECT_FALSE(logged("SetGain=" + std::to_string(gain)));
}

class DamagedFile : public UserSetEndToEnd {
    int testNumber() const override { return 2; }
};

TEST_F(DamagedFile, IsNamedOnTheConsoleAndTheSensorKeepsItsOwnSettings) {
    // A valid file first, with a set that switches the sensor to point clouds at start.
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_EQ(write("PixelFormat", "Coord3D_ABC32f"), "");
    ASSERT_EQ(write("UserSetSelector", "UserSet2"), "");
    ASSERT_EQ(execute("UserSetSave"), "");
    ASSERT_EQ(write("UserSetDefault", "UserSet2"), "");
    std::ostringstream whole;
    whole << std::ifstream(userSetFile()).rdbuf();
    const std::string text = whole.str();

    const struct {
        std::string content;
        std::string reason;
    } damaged[] = {
        {text.substr(0, text.size() / 2), "the file was cut off"},
        {"\x89PNG\r\n\x1a\n", "not a user set file"},
    };
    for (const auto& file : damaged) {
        std::ofstream(userSetFile(), std::ios::binary | std::ios::trunc) << file.content;
        ASSERT_NO_FATAL_FAILURE(start());
        EXPECT_NE(bridge->err().find(".usersets is not used: "), std::string::npos) << bridge->err();
        EXPECT_NE(bridge->err().find(file.reason), std::string::npos) << bridge->err();
        EXPECT_FALSE(logged("SetCameraMode=1"));
        EXPECT_EQ(std::string(arv_camera_get_pixel_format_as_string(camera, nullptr)), "Mono8");
        EXPECT_EQ(readString("UserSetDefault"), "Default");
        EXPECT_EQ(readString("DeviceUserID"), "");
    }
}

}  // namespace
