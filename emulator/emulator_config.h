// What the emulator's command line sets.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace emulator {

struct EmulatorConfig {
    std::string address = "127.0.0.1";
    std::uint16_t port = 32001;
    std::uint32_t width = 1280;
    std::uint32_t height = 1024;
    std::string serialNumber = "CVS3D-22A0417";
    std::uint64_t seed = 1;
    std::string commandLogPath;                    // empty: no log; "-": standard output
    std::string dumpDirectory;                     // empty: no dump
    std::map<std::string, std::int32_t> failures;  // command text or name → code to answer
    std::uint32_t noDataEvery = 0;                 // 0: never
    double dieAfterSeconds = 0;                    // 0: never
    std::uint32_t replyDelayMs = 0;
    std::uint32_t triggerDelayMs = 30;
    double downloadSeconds = 1.0;
    std::uint32_t databaseBytes = 4 * 1024 * 1024;
};

}  // namespace emulator
