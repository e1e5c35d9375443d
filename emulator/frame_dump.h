// Raw copies of every point cloud and camera image the sensor serves, numbered in the order served (from 1,
// six digits, point clouds and images counted apart), written completely before the data goes out:
//   cloud-000001.bin   X, Y, Z per pixel as little-endian IEEE-754 doubles (24 bytes per pixel, row by row)
//   mono16-000001.bin  the intensity of the same point cloud, little-endian u16 (2 bytes per pixel)
//   image-000001.bin   one 8-bit camera image (1 byte per pixel)
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace emulator {

class FrameDump {
public:
    explicit FrameDump(std::string directory) : directory_(std::move(directory)) {}
    bool enabled() const { return !directory_.empty(); }

    // False with a sentence in `error` when a file cannot be written.
    bool writeCloud(const void* xyz, std::size_t xyzBytes, const void* mono, std::size_t monoBytes, std::string& error);
    bool writeImage(const void* pixels, std::size_t bytes, std::string& error);

private:
    bool writeFile(const std::string& name, const void* data, std::size_t size, std::string& error);

    const std::string directory_;
    std::mutex mutex_;  // guards the two counts below
    std::uint64_t clouds_ = 0;
    std::uint64_t images_ = 0;
};

}  // namespace emulator
