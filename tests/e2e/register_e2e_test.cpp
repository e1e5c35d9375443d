// End to end with the real peers: the emulated sensor, the bridge program and Aravis's command-line
// client. Discovery, feature tree, limits, writes reaching the sensor as exact command texts, reads after
// them, the trace file, client presence lines, ENTER from a pipe, a file or a terminal (after Ctrl+D), the
// sensor database in a folder named with non-ASCII letters, and the end of the program when the sensor dies.
// The same tests drive the Windows build under wine (see program_under_test.h).
#include <gtest/gtest.h>

#include <tinyxml2.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "bridge_process.h"
#include "emulator_process.h"
#include "tavrion.h"

namespace {

using Lines = std::vector<std::string>;

bool contains(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The emulated sensor and the bridge serving it, each test on its own pair of loopback addresses.
class RegisterEndToEnd : public testing::Test {
protected:
    // `everyAddress`: the device serves on all addresses (no -s); the client still reaches it at deviceAddress.
    void start(int n, std::vector<std::string> bridgeOptions = {}, BridgeStart how = {},
               std::vector<std::string> emulatorOptions = {}, bool everyAddress = false) {
        sensorAddress = "127.0.2." + std::to_string(n);
        deviceAddress = program_under_test::deviceAddress("127.0.3." + std::to_string(n));
        commandLog = testing::TempDir() + "e2e-commands-" + std::to_string(n) + ".log";
        std::remove(commandLog.c_str());
        std::vector<std::string> emulatorArguments{"--address", sensorAddress, "--width",        "64",
                                                   "--height",  "48",          "--log-commands", commandLog};
        emulatorArguments.insert(emulatorArguments.end(), emulatorOptions.begin(), emulatorOptions.end());
        emulator = std::make_unique<EmulatorProcess>(emulatorArguments);
        ASSERT_TRUE(emulator->waitReady());
        std::vector<std::string> arguments{"-i", sensorAddress};
        if (!everyAddress) arguments.insert(arguments.end(), {"-s", deviceAddress});
        arguments.insert(arguments.end(), bridgeOptions.begin(), bridgeOptions.end());
        bridge = std::make_unique<BridgeProcess>(arguments, how);
        ASSERT_TRUE(bridge->waitForError("GigeServer is online\n")) << bridge->err();
    }

    std::string arv(const std::string& arguments) {
        return runCommand("arv-tool-0.8 -a " + deviceAddress + " " + arguments);
    }

    // The sensor's own descriptor, read straight from the emulator.
    tinyxml2::XMLDocument& sensorDescriptor() {
        void* handle = Tavrion_Connect(sensorAddress.c_str(), "32001", 0);
        EXPECT_NE(handle, nullptr);
        std::vector<char> text(132000);
        EXPECT_EQ(Tavrion_ReadData(handle, "GetXmlDescriptor", text.data(), static_cast<std::int32_t>(text.size()), 0),
                  0);
        Tavrion_Disconnect(handle);
        descriptor.Parse(text.data());
        return descriptor;
    }

    std::string descriptorText(std::initializer_list<const char*> path) {
        const tinyxml2::XMLNode* node = &sensorDescriptor();
        for (const char* name : path) node = node != nullptr ? node->FirstChildElement(name) : nullptr;
        const char* text = node != nullptr ? node->ToElement()->GetText() : nullptr;
        return text != nullptr ? text : "";
    }

    std::string sensorAddress;
    std::string deviceAddress;
    std::string commandLog;
    std::unique_ptr<EmulatorProcess> emulator;
    std::unique_ptr<BridgeProcess> bridge;
    tinyxml2::XMLDocument descriptor;
};

TEST_F(RegisterEndToEnd, DiscoveryFindsTheDevice) {
    // Under wine a socket bound to one address gets no broadcasts (the Linux rule, where Windows delivers them),
    // so there the device is discovered serving every address, which its namespace of its own allows.
    // A serial number of its own: the client lists devices of one identity once, and other tests' devices
    // may answer the same discovery.
    const std::string serial = "E2E-DISCOVERY";
    start(7, {}, {}, {"--serial", serial}, program_under_test::isWindowsBuild());
    const std::string found = runCommand("arv-tool-0.8");
    EXPECT_NE(found.find(serial + " (" + deviceAddress + ")"), std::string::npos) << found;
}

TEST_F(RegisterEndToEnd, FeatureTreeAndLimitsFollowTheSensorDescriptor) {
    start(1);
    const std::string features = arv("features");
    for (const char* name : {"'TLParamsLockedCategory'", "'Scan3DControl'", "'FilterControl'", "'ExposureTime'",
                             "'StackAcquisitionMode'", "'LightBrightness'", "'ChunkTemperature'",
                             "'Scan3dCoordinateSelector'", "'DeviceTemperature'", "'PropertyValue'"}) {
        EXPECT_NE(features.find(name), std::string::npos) << name << "\n" << features;
    }
    const std::string values = arv("control ExposureTime Gain LightBrightness SensorWidth DeviceSerialNumber");
    const auto limits = [&](const char* feature, const char* group) {
        return std::string(feature) + " = .* min:" + descriptorText({"device", "settings", group, "min"}) +
               " max:" + descriptorText({"device", "settings", group, "max"});
    };
    EXPECT_TRUE(std::regex_search(values, std::regex(limits("ExposureTime", "exposuretime")))) << values;
    EXPECT_TRUE(std::regex_search(values, std::regex(limits("Gain", "gain")))) << values;
    EXPECT_TRUE(std::regex_search(values, std::regex(limits("LightBrightness", "ledpower")))) << values;
    EXPECT_NE(values.find("SensorWidth = 64"), std::string::npos) << values;
    EXPECT_NE(values.find("DeviceSerialNumber = " + descriptorText({"device", "general", "serialnumber"})),
              std::string::npos)
        << values;
}

TEST_F(RegisterEndToEnd, WritesReachTheSensorAsExactCommandsAndReadsShowTheNewValues) {
    const std::string trace = testing::TempDir() + "e2e-trace-2.log";
    start(2, {"-f", trace});
    tinyxml2::XMLDocument& sensor = sensorDescriptor();
    const auto text = [&sensor](std::initializer_list<const char*> path) {
        const tinyxml2::XMLNode* node = &sensor;
        for (const char* name : path) node = node->FirstChildElement(name);
        return std::string(node->ToElement()->GetText());
    };
    const std::string filterCommand = text({"device", "settings", "pointcloudfilter", "filters", "filter1", "command"});
    const std::string propertyCommand =
        text({"device", "settings", "pointcloudfilter", "filters", "filter1", "filterproperty2", "command"});
    const std::string propertyMax =
        text({"device", "settings", "pointcloudfilter", "filters", "filter1", "filterproperty2", "max"});
    const bool filterWasOn = text({"device", "settings", "pointcloudfilter", "filters", "filter1", "current"}) != "0";

    arv("control Gain=2.5");
    arv("control ExposureTime=20000 LightBrightness=50 StackAcquisitionMode=mode2");
    arv("control FilterSelector=" + filterCommand.substr(6) + " FilterMode=" + (filterWasOn ? "false" : "true"));
    arv("control FilterSelector=" + filterCommand.substr(6) + " PropertySelector=" + propertyCommand.substr(6) +
        " PropertyValue=" + propertyMax);
    arv("control PixelFormat=Coord3D_ABC32f");
    const Lines commands = fileLines(commandLog);
    for (const std::string& expected :
         {std::string("SetGain=2.500000"), std::string("SetExposureTime=20000.000000"), std::string("SetLEDPower=50"),
          std::string("SetStackAcquisitionMode=2"), filterCommand + (filterWasOn ? "=0" : "=1"),
          propertyCommand + "=" + std::to_string(std::stod(propertyMax)), std::string("SetCameraMode=1")}) {
        EXPECT_TRUE(contains(commands, expected)) << expected;
    }

    const std::string values = arv("control Gain ExposureTime LightBrightness StackAcquisitionMode");
    sensorDescriptor();  // the sensor's values after the writes
    EXPECT_NE(values.find("Gain = " + text({"device", "settings", "gain", "current"})), std::string::npos) << values;
    EXPECT_NE(values.find("ExposureTime = 20000"), std::string::npos) << values;
    EXPECT_NE(values.find("LightBrightness = 50"), std::string::npos) << values;
    EXPECT_NE(values.find("StackAcquisitionMode = mode2"), std::string::npos) << values;

    const Lines traced = fileLines(trace);
    ASSERT_GE(traced.size(), 2u);
    EXPECT_EQ(traced[0], "///////////");
    EXPECT_TRUE(contains(traced, "Write Gain = 2.5"));
    EXPECT_TRUE(contains(traced, "Write PixelFormat = Coord3D_ABC32f"));
    EXPECT_TRUE(contains(traced, "Read LightBrightness = 50"));
    std::remove(trace.c_str());
}

// What a client reads back is what the XML explains, and the standard features have their standard kinds with the
// values Aravis's own device information holds (the bootstrap registers and the discovery answer).
TEST_F(RegisterEndToEnd, ReadBackFollowsTheXmlAndStandardFeaturesMatchTheDeviceInformation) {
    // A serial of its own gives a MAC address of its own, by which discovery finds this device only.
    start(9, {}, {}, {"--serial", "E2E-STANDARD"}, program_under_test::isWindowsBuild());
    // The sensor keeps a whole gain, which the increment of 1 announces.
    const std::string gain = arv("control Gain=2.5");
    EXPECT_TRUE(std::regex_search(gain, std::regex("Gain = 2 min:\\S+ max:\\S+ inc:1\n"))) << gain;
    EXPECT_TRUE(contains(fileLines(commandLog), "SetGain=2.500000"));
    const std::string refused = arv("control PropertyValueMin=5");
    EXPECT_NE(refused.find("write-protect"), std::string::npos) << refused;

    const std::string kinds = arv("features");
    for (const char* kind :
         {"Enumeration  : \\[RO\\] 'DeviceType'", "Enumeration  : \\[RO\\] 'DeviceTLType'",
          "Float        : \\[RO\\] 'DeviceTemperature'", "String       : \\[RO\\] 'DeviceManufacturerInfo'",
          "Enumeration  : \\[RW\\] 'GevCCP'", "Integer      : \\[RO\\] 'GevMACAddress'",
          "Integer      : \\[RO\\] 'GevCurrentIPAddress'", "Integer      : \\[RO\\] 'GevCurrentSubnetMask'",
          "Integer      : \\[RW\\] 'GevInterfaceSelector'", "Integer      : \\[RW\\] 'GevStreamChannelSelector'"})
        EXPECT_TRUE(std::regex_search(kinds, std::regex(kind))) << kind << "\n" << kinds;

    const std::string values =
        arv("control DeviceType DeviceTLType DeviceTemperature DeviceManufacturerInfo GevCCP GevInterfaceSelector "
            "GevCurrentIPAddress GevCurrentSubnetMask GevMACAddress");
    for (const char* value : {"DeviceType = Transmitter\n", "DeviceTLType = GigEVision\n", "GevCCP = ControlAccess\n",
                              "GevInterfaceSelector = 0 min:0 max:0\n"})
        EXPECT_NE(values.find(value), std::string::npos) << value << "\n" << values;
    EXPECT_TRUE(std::regex_search(values, std::regex("DeviceTemperature = [0-9]+ C"))) << values;
    EXPECT_TRUE(std::regex_search(values, std::regex("DeviceManufacturerInfo = \\S"))) << values;
    const auto number = [&values](const std::string& name) {
        std::smatch match;
        EXPECT_TRUE(std::regex_search(values, match, std::regex(name + " = ([0-9]+)"))) << name << "\n" << values;
        return match.empty() ? 0ULL : std::stoull(match[1]);
    };
    const auto dotted = [](unsigned long long address) {
        return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
               std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
    };
    const std::string network = arv("network");
    EXPECT_NE(network.find("Current IP: " + dotted(number("GevCurrentIPAddress")) + "\n"), std::string::npos)
        << network;
    EXPECT_NE(network.find("Current Mask: " + dotted(number("GevCurrentSubnetMask")) + "\n"), std::string::npos)
        << network;
    // Aravis names a discovered device by its MAC address from the discovery answer as well.
    char mac[32] = {};
    const unsigned long long macValue = number("GevMACAddress");
    std::snprintf(mac, sizeof mac, "%02llx:%02llx:%02llx:%02llx:%02llx:%02llx", (macValue >> 40) & 0xFF,
                  (macValue >> 32) & 0xFF, (macValue >> 24) & 0xFF, (macValue >> 16) & 0xFF, (macValue >> 8) & 0xFF,
                  macValue & 0xFF);
    const std::string byMac = runCommand("arv-tool-0.8 -n " + std::string(mac) + " control GevMACAddress");
    EXPECT_NE(byMac.find("GevMACAddress = " + std::to_string(macValue)), std::string::npos) << mac << "\n" << byMac;

    // The clock counts from 0 again after a reset.
    const auto latched = [this] {
        const std::string text = arv("control GevTimestampControlLatch GevTimestampValue");
        std::smatch match;
        EXPECT_TRUE(std::regex_search(text, match, std::regex("GevTimestampValue = ([0-9]+)"))) << text;
        return match.empty() ? 0ULL : std::stoull(match[1]);
    };
    const unsigned long long before = latched();
    EXPECT_NE(arv("control GevTimestampControlReset").find("GevTimestampControlReset executed"), std::string::npos);
    EXPECT_LT(latched(), before);
}

TEST_F(RegisterEndToEnd, ClientPresenceIsPrintedAndEnterEndsTheProgram) {
    start(3);
    arv("control Gain");
    ASSERT_TRUE(bridge->waitForError("\nClient is disconnected\n"));
    EXPECT_NE(bridge->err().find("\nClient is connected\n"), std::string::npos);
    bridge->pressEnter();
    EXPECT_EQ(bridge->waitExit(3000), 0);
    EXPECT_EQ(bridge->out(), "Version: 1.0.0\n\n\n");
}

TEST_F(RegisterEndToEnd, EnterStillEndsTheProgramAfterEndOfInput) {
    if (program_under_test::isWindowsBuild()) {
        GTEST_SKIP() << "wine passes no terminal keys to a Windows program's console";
    }
    start(5, {}, BridgeStart{.program = "", .inputFile = "", .onTerminal = true});
    bridge->sendInput("\x04");  // Ctrl+D: the terminal reports the end of input once
    EXPECT_FALSE(bridge->waitExit(500).has_value());
    bridge->pressEnter();
    EXPECT_EQ(bridge->waitExit(3000), 0);
}

TEST_F(RegisterEndToEnd, EnterInAFileEndsTheProgram) {
    const std::string input = testing::TempDir() + "e2e-enter-8.txt";
    std::ofstream(input) << "\n";
    start(8, {}, BridgeStart{.program = "", .inputFile = input, .onTerminal = false});
    EXPECT_EQ(bridge->waitExit(3000), 0) << bridge->err();
    std::remove(input.c_str());
}

TEST_F(RegisterEndToEnd, DatabaseIsStoredBesideAProgramInAFolderWithNonAsciiLetters) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(testing::TempDir()) / fs::path(u8"\u0141ukasz-\u00e9t\u00e9-\u4e2d-e2e-6");
    const fs::path program = folder / fs::path(BridgeProcess::programPath()).filename();
    const std::string serial = "E2E-UTF8-" + std::to_string(::getpid());
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::copy_file(BridgeProcess::programPath(), program);
    start(6, {}, BridgeStart{.program = program.string(), .inputFile = "", .onTerminal = false},
          {"--serial", serial, "--download-seconds", "0"});
    EXPECT_TRUE(fs::exists(folder / (serial + ".sdb"))) << bridge->err();
    EXPECT_TRUE(contains(fileLines(commandLog), "SetLoadSdbFromSensor"));
    bridge->pressEnter();
    EXPECT_EQ(bridge->waitExit(3000), 0);
    fs::remove_all(folder);
}

TEST_F(RegisterEndToEnd, SensorDeathEndsTheProgramWithStatusZeroEvenAfterAStrayKey) {
    start(4);
    bridge->sendInput("x");  // a key without ENTER must not hold the program
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    emulator->kill();
    const auto killed = std::chrono::steady_clock::now();
    const std::optional<int> status = bridge->waitExit(5000);
    EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::milliseconds(1500));
    EXPECT_EQ(status, 0);
    EXPECT_NE(bridge->err().find("Error: Connection to Corvastrum 3D Sensor is lost\n"), std::string::npos)
        << bridge->err();
}

}  // namespace
