// Dumping served frames; see frame_dump.h.
#include "frame_dump.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace emulator {
namespace {

std::string numbered(const char* prefix, std::uint64_t number) {
    char name[64];
    std::snprintf(name, sizeof name, "%s-%06llu.bin", prefix, static_cast<unsigned long long>(number));
    return name;
}

}  // namespace

bool FrameDump::writeFile(const std::string& name, const void* data, std::size_t size, std::string& error) {
    const std::string path = (std::filesystem::path(directory_) / name).string();
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    file.close();
    if (!file) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

bool FrameDump::writeCloud(const void* xyz, std::size_t xyzBytes, const void* mono, std::size_t monoBytes,
                           std::string& error) {
    std::lock_guard lock(mutex_);
    ++clouds_;
    return writeFile(numbered("cloud", clouds_), xyz, xyzBytes, error) &&
           writeFile(numbered("mono16", clouds_), mono, monoBytes, error);
}

bool FrameDump::writeImage(const void* pixels, std::size_t bytes, std::string& error) {
    std::lock_guard lock(mutex_);
    ++images_;
    return writeFile(numbered("image", images_), pixels, bytes, error);
}

}  // namespace emulator
