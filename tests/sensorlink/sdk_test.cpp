// The SDK against a running emulator: every function and its codes, bad input, the sensor database.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "sdk_session.h"

namespace fs = std::filesystem;

TEST(Sdk, ConnectRefusesBadArgumentsAndAbsentSensors) {
    EXPECT_EQ(Tavrion_Connect(nullptr, "32001", 0), nullptr);
    EXPECT_EQ(Tavrion_Connect("127.0.3.20", nullptr, 0), nullptr);
    EXPECT_EQ(Tavrion_Connect("127.0.3.20", "32001", 1), nullptr);
    EXPECT_EQ(Tavrion_Connect("sensor.local", "32001", 0), nullptr);
    EXPECT_EQ(Tavrion_Connect("127.0.3.20", "0", 0), nullptr);
    EXPECT_EQ(Tavrion_Connect("127.0.3.20", "65536", 0), nullptr);
    EXPECT_EQ(Tavrion_Connect("127.0.3.20", "32001x", 0), nullptr);
    EXPECT_EQ(Tavrion_Connect("127.0.3.20", "32001", 0), nullptr);  // nobody listens there
}

TEST(Sdk, EveryFunctionWorksAgainstTheSensor) {
    SdkSession sensor("127.0.3.21");
    EXPECT_EQ(sensor.status(), TAVRION_STATUS_LINK_ALIVE);

    std::vector<char> descriptor(132000);
    ASSERT_EQ(Tavrion_ReadData(sensor.handle, "GetXmlDescriptor", descriptor.data(), 132000, 0), TAVRION_OK);
    const std::string xml = descriptor.data();
    EXPECT_NE(xml.find("<pixel_x_max>64</pixel_x_max>"), std::string::npos);
    EXPECT_NE(xml.find("<serialnumber>CVS3D-22A0417</serialnumber>"), std::string::npos);
    char temperature[100];
    ASSERT_EQ(Tavrion_ReadData(sensor.handle, "GetTemperature", temperature, 100, 0), TAVRION_OK);
    EXPECT_GE(std::atoi(temperature), 35);
    EXPECT_LE(std::atoi(temperature), 45);

    EXPECT_EQ(Tavrion_WriteData(sensor.handle, "SetGain=2.500000", 0), TAVRION_OK);
    EXPECT_EQ(Tavrion_WriteData(sensor.handle, "SetGain=99.000000", 0), TAVRION_ERR_VALUE_REFUSED);
    EXPECT_EQ(Tavrion_WriteData(sensor.handle, "SetFocus=1", 0), TAVRION_ERR_UNKNOWN_COMMAND);
    EXPECT_EQ(Tavrion_ReadData(sensor.handle, "GetFocus", temperature, 100, 0), TAVRION_ERR_UNKNOWN_COMMAND);
    ASSERT_EQ(Tavrion_ReadData(sensor.handle, "GetXmlDescriptor", descriptor.data(), 132000, 0), TAVRION_OK);
    EXPECT_NE(std::string(descriptor.data()).find("<current>2</current>"), std::string::npos);

    std::vector<std::uint8_t> image(kPixels);
    ASSERT_EQ(Tavrion_GetCameraImage(sensor.handle, image.data(), kPixels, 0, 0), TAVRION_OK);
    EXPECT_GT(*std::max_element(image.begin(), image.end()), 50);

    CloudBuffers cloud;
    EXPECT_EQ(cloud.fetch(sensor.handle), TAVRION_ERR_NOT_READY);
    EXPECT_EQ(Tavrion_WriteData(sensor.handle, "SetTriggerSoftware", 0), TAVRION_ERR_NOT_READY);
    ASSERT_EQ(Tavrion_WriteData(sensor.handle, "SetAcquisitionStart=1", 0), TAVRION_OK);
    EXPECT_EQ(cloud.fetch(sensor.handle), TAVRION_ERR_NOT_READY);
    ASSERT_EQ(Tavrion_WriteData(sensor.handle, "SetTriggerSoftware", 0), TAVRION_OK);
    ASSERT_EQ(cloud.fetch(sensor.handle), TAVRION_OK);
    std::size_t measured = 0;
    for (int i = 0; i < kPixels; ++i) measured += cloud.xyz[3 * i + 2] > 0 ? 1 : 0;
    EXPECT_GT(measured, static_cast<std::size_t>(kPixels / 2));
    EXPECT_GT(*std::max_element(cloud.mono.begin(), cloud.mono.end()), 1000);
    EXPECT_EQ(Tavrion_WriteData(sensor.handle, "SetAcquisitionStart=0", 0), TAVRION_OK);
    EXPECT_EQ(cloud.fetch(sensor.handle), TAVRION_ERR_NOT_READY);

    EXPECT_EQ(Tavrion_Disconnect(sensor.handle), TAVRION_OK);
    EXPECT_EQ(Tavrion_Disconnect(sensor.handle), TAVRION_ERR_BAD_ARGUMENT);  // a closed handle is refused
    sensor.handle = nullptr;
}

TEST(Sdk, BadInputGetsACodeAndNothingWrittenOutside) {
    SdkSession sensor("127.0.3.22");
    void* h = sensor.handle;
    std::int32_t word = 0;
    int foreign = 0;
    char reply[100];
    EXPECT_EQ(Tavrion_GetSensorStatus(nullptr, &word), TAVRION_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Tavrion_GetSensorStatus(&foreign, &word), TAVRION_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Tavrion_GetSensorStatus(h, nullptr), TAVRION_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Tavrion_Disconnect(nullptr), TAVRION_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Tavrion_WriteData(nullptr, "SetGain=1", 0), TAVRION_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Tavrion_WriteData(h, nullptr, 0), TAVRION_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Tavrion_WriteData(h, "", 0), TAVRION_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Tavrion_WriteData(h, "SetGain=1", 7), TAVRION_ERR_BAD_ARGUMENT);
    const std::string longest(1023, 'x'), tooLong(1024, 'x');
    EXPECT_EQ(Tavrion_WriteData(h, longest.c_str(), 0), TAVRION_ERR_UNKNOWN_COMMAND);
    EXPECT_EQ(Tavrion_WriteData(h, tooLong.c_str(), 0), TAVRION_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Tavrion_ReadData(h, "GetTemperature", nullptr, 100, 0), TAVRION_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Tavrion_ReadData(h, "GetTemperature", reply, 0, 0), TAVRION_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Tavrion_ReadData(h, "GetTemperature", reply, -5, 0), TAVRION_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Tavrion_ReadData(h, tooLong.c_str(), reply, 100, 0), TAVRION_ERR_BAD_ARGUMENT);

    // A reply that does not fit: the buffer stays untouched, and the connection serves on.
    std::vector<char> small(1000, '#');
    EXPECT_EQ(Tavrion_ReadData(h, "GetXmlDescriptor", small.data(), 999, 0), TAVRION_ERR_BUFFER_TOO_SMALL);
    EXPECT_TRUE(std::all_of(small.begin(), small.end(), [](char c) { return c == '#'; }));
    char two[3] = {'#', '#', '#'};
    EXPECT_EQ(Tavrion_ReadData(h, "GetTemperature", two, 2, 0), TAVRION_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(two[2], '#');
    EXPECT_EQ(Tavrion_ReadData(h, "GetTemperature", two, 3, 0), TAVRION_OK);  // two digits and the NUL fit

    ASSERT_EQ(Tavrion_WriteData(h, "SetAcquisitionStart=1", 0), TAVRION_OK);
    ASSERT_EQ(Tavrion_WriteData(h, "SetTriggerSoftware", 0), TAVRION_OK);
    CloudBuffers cloud;
    void* halfNull[2] = {cloud.xyz.data(), nullptr};
    EXPECT_EQ(Tavrion_GetPointCloud(h, nullptr, 26 * kPixels, 0, 0), TAVRION_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Tavrion_GetPointCloud(h, halfNull, 26 * kPixels, 0, 0), TAVRION_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Tavrion_GetPointCloud(h, cloud.pointers, 26 * kPixels - 26, 0, 0), TAVRION_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(Tavrion_GetPointCloud(h, cloud.pointers, 26 * kPixels + 26, 0, 0), TAVRION_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Tavrion_GetPointCloud(h, cloud.pointers, 26 * kPixels, 1, 0), TAVRION_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Tavrion_GetPointCloud(h, cloud.pointers, -1, 0, 0), TAVRION_ERR_BAD_ARGUMENT);
    EXPECT_TRUE(std::all_of(cloud.xyz.begin(), cloud.xyz.end(), [](double v) { return v == 0.0; }));
    std::vector<std::uint8_t> image(kPixels + 1, 0xAB);
    EXPECT_EQ(Tavrion_GetCameraImage(h, nullptr, kPixels, 0, 0), TAVRION_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Tavrion_GetCameraImage(h, image.data(), kPixels - 1, 0, 0), TAVRION_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(Tavrion_GetCameraImage(h, image.data(), kPixels + 1, 0, 0), TAVRION_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Tavrion_GetCameraImage(h, image.data(), kPixels, 0, 2), TAVRION_ERR_BAD_ARGUMENT);
    ASSERT_EQ(Tavrion_GetCameraImage(h, image.data(), kPixels, 0, 0), TAVRION_OK);
    EXPECT_EQ(image[kPixels], 0xAB);
    EXPECT_EQ(cloud.fetch(h), TAVRION_OK);
}

namespace {

fs::path freshFolder(const std::string& name) {
    const fs::path folder = fs::temp_directory_path() / ("sensorlink-test-" + name + "-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

// The bridge's database steps: folder with its trailing separator, load, download when absent.
std::int32_t loadDatabase(void* handle, const fs::path& folder, bool& downloaded) {
    const std::string command = "SetSdbPath=" + folder.string() + "/";
    if (const auto code = Tavrion_WriteData(handle, command.c_str(), 0); code != TAVRION_OK) return code;
    std::int32_t code = Tavrion_WriteData(handle, "SetLoadSdb", 0);
    downloaded = code == TAVRION_ERR_DATABASE_NOT_AVAILABLE;
    if (downloaded) code = Tavrion_WriteData(handle, "SetLoadSdbFromSensor", 0);
    return code;
}

}  // namespace

TEST(Sdk, DatabaseIsDownloadedOnceAndFoundOnTheSecondRun) {
    const fs::path folder = freshFolder("database");
    bool downloaded = false;
    {
        SdkSession sensor("127.0.3.23", {"--serial", "CVS3D-DB1", "--download-seconds", "0.2"});
        EXPECT_EQ(sensor.status() & TAVRION_STATUS_DATABASE_LOADED, 0);
        EXPECT_EQ(Tavrion_WriteData(sensor.handle, "SetLoadSdb", 0), TAVRION_ERR_DATABASE_NOT_AVAILABLE);
        EXPECT_EQ(Tavrion_WriteData(sensor.handle, "SetLoadSdbFromSensor", 0), TAVRION_ERR_IO);  // no folder yet
        EXPECT_EQ(Tavrion_WriteData(sensor.handle, "SetSdbPath=/no/such/folder/", 0), TAVRION_ERR_IO);
        ASSERT_EQ(loadDatabase(sensor.handle, folder, downloaded), TAVRION_OK);
        EXPECT_TRUE(downloaded);
        EXPECT_EQ(sensor.status(), TAVRION_STATUS_LINK_ALIVE | TAVRION_STATUS_DATABASE_LOADED);
    }
    // Exactly the database file remains: no temporary file beside it.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"CVS3D-DB1.sdb"});
    EXPECT_GT(fs::file_size(folder / "CVS3D-DB1.sdb"), 4000000u);
    {
        SdkSession sensor("127.0.3.23", {"--serial", "CVS3D-DB1"});
        ASSERT_EQ(loadDatabase(sensor.handle, folder, downloaded), TAVRION_OK);
        EXPECT_FALSE(downloaded);
        EXPECT_EQ(sensor.status(), TAVRION_STATUS_LINK_ALIVE | TAVRION_STATUS_DATABASE_LOADED);
    }
    // A file cut short, as a crash in the middle of a plain write would leave it, is no database.
    fs::resize_file(folder / "CVS3D-DB1.sdb", 1000000);
    {
        SdkSession sensor("127.0.3.23", {"--serial", "CVS3D-DB1"});
        const std::string command = "SetSdbPath=" + folder.string() + "/";
        ASSERT_EQ(Tavrion_WriteData(sensor.handle, command.c_str(), 0), TAVRION_OK);
        EXPECT_EQ(Tavrion_WriteData(sensor.handle, "SetLoadSdb", 0), TAVRION_ERR_DATABASE_NOT_AVAILABLE);
        EXPECT_EQ(sensor.status() & TAVRION_STATUS_DATABASE_LOADED, 0);
    }
    // Another sensor's file is not this sensor's database.
    {
        SdkSession sensor("127.0.3.23", {"--serial", "CVS3D-DB2"});
        ASSERT_EQ(loadDatabase(sensor.handle, folder, downloaded), TAVRION_OK);
        EXPECT_TRUE(downloaded);
    }
    fs::remove_all(folder);
}
