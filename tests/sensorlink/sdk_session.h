// An emulator process with an SDK connection to it, for the SDK's integration tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator_process.h"
#include "tavrion.h"

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr int kPixels = kWidth * kHeight;

struct SdkSession {
    explicit SdkSession(const std::string& address, std::vector<std::string> extra = {})
        : emulator(arguments(address, std::move(extra))), address(address) {
        EXPECT_TRUE(emulator.waitReady());
        handle = Tavrion_Connect(address.c_str(), "32001", 0);
        EXPECT_NE(handle, nullptr);
    }
    ~SdkSession() {
        if (handle != nullptr) Tavrion_Disconnect(handle);
    }

    static std::vector<std::string> arguments(const std::string& address, std::vector<std::string> extra) {
        std::vector<std::string> all{"--address",
                                     address,
                                     "--width",
                                     std::to_string(kWidth),
                                     "--height",
                                     std::to_string(kHeight),
                                     "--trigger-delay-ms",
                                     "0",
                                     "--download-seconds",
                                     "0"};
        all.insert(all.end(), extra.begin(), extra.end());
        return all;
    }

    std::int32_t status() {
        std::int32_t word = -1;
        EXPECT_EQ(Tavrion_GetSensorStatus(handle, &word), TAVRION_OK);
        return word;
    }

    EmulatorProcess emulator;
    std::string address;
    void* handle = nullptr;
};

// Room for one point cloud, handed to Tavrion_GetPointCloud as its record of two pointers.
struct CloudBuffers {
    std::vector<double> xyz = std::vector<double>(3 * kPixels);
    std::vector<std::uint16_t> mono = std::vector<std::uint16_t>(kPixels);
    void* pointers[2] = {xyz.data(), mono.data()};
    std::int32_t fetch(void* handle) { return Tavrion_GetPointCloud(handle, pointers, 26 * kPixels, 0, 0); }
};
