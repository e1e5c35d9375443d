// The sensor database on this computer: the folder named by "SetSdbPath=", loading the sensor's file from it,
// and storing a downloaded database there atomically (a temporary file renamed into place).
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace sensorlink {

class DatabaseStore {
public:
    explicit DatabaseStore(std::string serialNumber) : serial_(std::move(serialNumber)) {}

    // TAVRION_ERR_IO when `folder` is not an existing folder.
    std::int32_t setFolder(const std::string& folder);
    // TAVRION_ERR_DATABASE_NOT_AVAILABLE when no folder was named or it holds no valid file for this sensor.
    std::int32_t loadFromFolder();
    // Checks `database`, writes it into the folder and marks it loaded. TAVRION_ERR_IO when no folder was named
    // or writing fails, TAVRION_ERR_PROTOCOL when the sensor's bytes are no valid database.
    std::int32_t storeAndLoad(const std::vector<std::uint8_t>& database);

    bool hasFolder() const;
    bool loaded() const { return loaded_.load(); }

private:
    std::filesystem::path filePath() const;

    const std::string serial_;
    mutable std::mutex mutex_;
    std::string folder_;
    std::atomic<bool> loaded_{false};
};

}  // namespace sensorlink
