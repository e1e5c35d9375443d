// The SDK when things go wrong: a dying or hanging sensor, injected faults, four threads at once, and a
// disconnect while calls run.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "sdk_session.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

TEST(SdkFaults, KilledSensorShowsInTheStatusAndEveryCallFailsPromptly) {
    SdkSession sensor("127.0.3.30");
    ASSERT_EQ(sensor.status(), TAVRION_STATUS_LINK_ALIVE);
    sensor.emulator.kill();
    const auto start = Clock::now();
    EXPECT_EQ(sensor.status() & TAVRION_STATUS_LINK_ALIVE, 0);
    EXPECT_LT(millisecondsSince(start), 1000);
    char reply[100];
    CloudBuffers cloud;
    std::vector<std::uint8_t> image(kPixels);
    const auto calls = Clock::now();
    EXPECT_EQ(Tavrion_WriteData(sensor.handle, "SetGain=1.000000", 0), TAVRION_ERR_LINK_DOWN);
    EXPECT_EQ(Tavrion_ReadData(sensor.handle, "GetTemperature", reply, 100, 0), TAVRION_ERR_LINK_DOWN);
    EXPECT_EQ(cloud.fetch(sensor.handle), TAVRION_ERR_LINK_DOWN);
    EXPECT_EQ(Tavrion_GetCameraImage(sensor.handle, image.data(), kPixels, 0, 0), TAVRION_ERR_LINK_DOWN);
    EXPECT_LT(millisecondsSince(calls), 1000);
}

TEST(SdkFaults, HangingSensorIsLostAfterThreeSilentSecondsAndCallsTimeOut) {
    SdkSession sensor("127.0.3.31");
    ASSERT_EQ(sensor.status(), TAVRION_STATUS_LINK_ALIVE);
    sensor.emulator.freeze();
    const auto frozen = Clock::now();
    // The first poll waits on a pooled channel, the later ones on new ones the kernel accepts for the frozen
    // sensor. Each answers within a second; the link counts as lost only after three silent seconds.
    std::int32_t word = TAVRION_STATUS_LINK_ALIVE;
    while ((word & TAVRION_STATUS_LINK_ALIVE) != 0 && millisecondsSince(frozen) < 6000) {
        const auto start = Clock::now();
        const std::int32_t code = Tavrion_GetSensorStatus(sensor.handle, &word);
        EXPECT_LT(millisecondsSince(start), 1000);
        if (code == TAVRION_ERR_TIMEOUT)
            EXPECT_LT(millisecondsSince(frozen), 3000 + 1000);
        else
            EXPECT_EQ(code, TAVRION_OK);
    }
    EXPECT_EQ(word & TAVRION_STATUS_LINK_ALIVE, 0);
    EXPECT_GE(millisecondsSince(frozen), 3000);
    auto start = Clock::now();
    EXPECT_EQ(Tavrion_WriteData(sensor.handle, "SetLEDPower=10", 0), TAVRION_ERR_TIMEOUT);
    EXPECT_LT(millisecondsSince(start), 7000);
    sensor.emulator.thaw();
    EXPECT_EQ(sensor.status(), TAVRION_STATUS_LINK_ALIVE);  // the link comes back on fresh channels
    EXPECT_EQ(Tavrion_WriteData(sensor.handle, "SetLEDPower=10", 0), TAVRION_OK);
}

TEST(SdkFaults, DownloadFailsWhenTheSensorDiesAndLeavesNoFile) {
    const fs::path folder = fs::temp_directory_path() / ("sensorlink-test-dying-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    SdkSession sensor("127.0.3.32", {"--download-seconds", "20"});
    const std::string command = "SetSdbPath=" + folder.string() + "/";
    ASSERT_EQ(Tavrion_WriteData(sensor.handle, command.c_str(), 0), TAVRION_OK);
    std::thread killer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        sensor.emulator.kill();
    });
    const auto start = Clock::now();
    EXPECT_EQ(Tavrion_WriteData(sensor.handle, "SetLoadSdbFromSensor", 0), TAVRION_ERR_LINK_DOWN);
    EXPECT_LT(millisecondsSince(start), 3000);
    killer.join();
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_EQ(sensor.status(), 0);
    fs::remove_all(folder);
}

TEST(SdkFaults, InjectedCodesAndNoDataCycles) {
    SdkSession sensor("127.0.3.33",
                      {"--fail", "SetGain=-107", "--fail", "SetLoadSdb=-1000", "--fail", "GetPointCloud=-110", "--fail",
                       "SetAcquisitionStart=0=-109", "--no-data-every", "2"});
    EXPECT_EQ(Tavrion_WriteData(sensor.handle, "SetGain=2.000000", 0), -107);
    EXPECT_EQ(Tavrion_WriteData(sensor.handle, "SetLoadSdb", 0), -1000);
    EXPECT_EQ(Tavrion_WriteData(sensor.handle, "SetAcquisitionStart=1", 0), TAVRION_OK);
    EXPECT_EQ(Tavrion_WriteData(sensor.handle, "SetAcquisitionStart=0", 0), -109);
    EXPECT_EQ(Tavrion_WriteData(sensor.handle, "SetTriggerSoftware", 0), TAVRION_OK);  // still acquiring
    CloudBuffers cloud;
    EXPECT_EQ(cloud.fetch(sensor.handle), -110);
    std::vector<std::int32_t> words;
    for (int i = 0; i < 4; ++i) words.push_back(sensor.status());
    const std::int32_t alive = TAVRION_STATUS_LINK_ALIVE, empty = alive | TAVRION_STATUS_NO_DATA;
    EXPECT_EQ(words, (std::vector<std::int32_t>{alive, empty, alive, empty}));
}

TEST(SdkFaults, SlowRepliesAndTriggerDelay) {
    {
        SdkSession slow("127.0.3.34", {"--reply-delay-ms", "1200"});
        auto start = Clock::now();
        std::int32_t word = TAVRION_STATUS_LINK_ALIVE;
        // One slow answer fails the poll in time but does not count as a lost sensor.
        EXPECT_EQ(Tavrion_GetSensorStatus(slow.handle, &word), TAVRION_ERR_TIMEOUT);
        EXPECT_EQ(word, TAVRION_STATUS_LINK_ALIVE);
        EXPECT_LT(millisecondsSince(start), 1000);
        start = Clock::now();
        EXPECT_EQ(Tavrion_WriteData(slow.handle, "SetLEDPower=20", 0), TAVRION_OK);  // commands wait longer
        EXPECT_GE(millisecondsSince(start), 1200);
    }
    SdkSession delayed("127.0.3.34", {"--trigger-delay-ms", "250"});
    ASSERT_EQ(Tavrion_WriteData(delayed.handle, "SetAcquisitionStart=1", 0), TAVRION_OK);
    const auto start = Clock::now();
    ASSERT_EQ(Tavrion_WriteData(delayed.handle, "SetTriggerSoftware", 0), TAVRION_OK);
    CloudBuffers cloud;
    EXPECT_EQ(cloud.fetch(delayed.handle), TAVRION_OK);
    EXPECT_GE(millisecondsSince(start), 250);
}

TEST(SdkFaults, SensorThatDiesAfterAWhile) {
    SdkSession sensor("127.0.3.35", {"--die-after", "0.4"});
    EXPECT_EQ(sensor.status(), TAVRION_STATUS_LINK_ALIVE);
    EXPECT_EQ(sensor.emulator.waitExit(5000), 3);
    EXPECT_EQ(sensor.status(), 0);
}

TEST(SdkFaults, FourThreadsShareOneHandle) {
    // A larger image so that transfers take long enough to overlap the polls.
    SdkSession sensor("127.0.3.36", {"--width", "640", "--height", "480"});
    void* h = sensor.handle;
    ASSERT_EQ(Tavrion_WriteData(h, "SetAcquisitionStart=1", 0), TAVRION_OK);
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::atomic<long long> slowestPollUs{0};
    std::atomic<int> clouds{0};
    std::thread fetcher([&] {
        std::vector<double> xyz(3 * 640 * 480);
        std::vector<std::uint16_t> mono(640 * 480);
        void* pointers[2] = {xyz.data(), mono.data()};
        for (int i = 0; i < 15; ++i) {
            if (Tavrion_WriteData(h, "SetTriggerSoftware", 0) != TAVRION_OK) ++failures;
            if (Tavrion_GetPointCloud(h, pointers, 26 * 640 * 480, 0, 0) != TAVRION_OK) ++failures;
            ++clouds;
        }
        done = true;
    });
    std::thread poller([&] {
        while (!done) {
            const auto start = Clock::now();
            std::int32_t word = 0;
            if (Tavrion_GetSensorStatus(h, &word) != TAVRION_OK || word != TAVRION_STATUS_LINK_ALIVE) ++failures;
            const long long us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
            if (us > slowestPollUs) slowestPollUs = us;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    std::thread writer([&] {
        for (int i = 0; !done; i = (i + 1) % 100)
            if (Tavrion_WriteData(h, ("SetLEDPower=" + std::to_string(i)).c_str(), 0) != TAVRION_OK) ++failures;
    });
    std::thread reader([&] {
        std::vector<char> xml(132000);
        while (!done)
            if (Tavrion_ReadData(h, "GetXmlDescriptor", xml.data(), 132000, 0) != TAVRION_OK ||
                std::string(xml.data()).find("</device>") == std::string::npos)
                ++failures;
    });
    for (std::thread* t : {&fetcher, &poller, &writer, &reader}) t->join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(clouds, 15);
    EXPECT_LT(slowestPollUs, 1000000);
    std::printf("slowest status poll during transfers: %lld us\n", slowestPollUs.load());
}

TEST(SdkFaults, DisconnectEndsCallsStillRunning) {
    SdkSession sensor("127.0.3.37", {"--trigger-delay-ms", "4000"});
    ASSERT_EQ(Tavrion_WriteData(sensor.handle, "SetAcquisitionStart=1", 0), TAVRION_OK);
    ASSERT_EQ(Tavrion_WriteData(sensor.handle, "SetTriggerSoftware", 0), TAVRION_OK);
    std::atomic<std::int32_t> fetched{1};
    std::thread fetcher([&] {
        CloudBuffers cloud;
        fetched = cloud.fetch(sensor.handle);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto start = Clock::now();
    EXPECT_EQ(Tavrion_Disconnect(sensor.handle), TAVRION_OK);
    EXPECT_LT(millisecondsSince(start), 2000);
    fetcher.join();
    EXPECT_EQ(fetched, TAVRION_ERR_LINK_DOWN);
    sensor.handle = nullptr;
}
