// The local side of the sensor database; see database_store.h.
#include "database_store.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "database_format.h"
#include "tavrion.h"

namespace sensorlink {
namespace fs = std::filesystem;

namespace {

// Folder texts are UTF-8 on every system; a plain narrow path would be read in the Windows code page and
// lose every letter outside it.
fs::path fromUtf8(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

}  // namespace

std::int32_t DatabaseStore::setFolder(const std::string& folder) {
    std::error_code error;
    if (folder.empty() || !fs::is_directory(fromUtf8(folder), error)) return TAVRION_ERR_IO;
    std::lock_guard lock(mutex_);
    folder_ = folder;
    return TAVRION_OK;
}

bool DatabaseStore::hasFolder() const {
    std::lock_guard lock(mutex_);
    return !folder_.empty();
}

fs::path DatabaseStore::filePath() const {
    std::lock_guard lock(mutex_);
    if (folder_.empty()) return {};
    // The folder arrives with its trailing separator; path's operator/ copes with and without one.
    return fromUtf8(folder_) / databaseFileName(serial_);
}

std::int32_t DatabaseStore::loadFromFolder() {
    const fs::path path = filePath();
    if (path.empty()) return TAVRION_ERR_DATABASE_NOT_AVAILABLE;
    std::ifstream file(path, std::ios::binary);
    if (!file) return TAVRION_ERR_DATABASE_NOT_AVAILABLE;
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!isValidDatabase(bytes, serial_)) return TAVRION_ERR_DATABASE_NOT_AVAILABLE;
    loaded_ = true;
    return TAVRION_OK;
}

std::int32_t DatabaseStore::storeAndLoad(const std::vector<std::uint8_t>& database) {
    if (!isValidDatabase(database, serial_)) return TAVRION_ERR_PROTOCOL;
    const fs::path path = filePath();
    if (path.empty()) return TAVRION_ERR_IO;
    // A name of its own per writer, so two downloads into one folder never share a temporary file.
    const auto unique = std::hash<std::thread::id>{}(std::this_thread::get_id()) ^
                        static_cast<std::size_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    fs::path temporary = path;
    temporary += ".part-" + std::to_string(unique);
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(database.data()), static_cast<std::streamsize>(database.size()));
        file.close();
        if (!file) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            return TAVRION_ERR_IO;
        }
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error) {
        fs::remove(temporary, error);
        return TAVRION_ERR_IO;
    }
    loaded_ = true;
    return TAVRION_OK;
}

}  // namespace sensorlink
