// The command log; see command_log.h.
#include "command_log.h"

#include <cerrno>
#include <chrono>
#include <cstring>

namespace emulator {

CommandLog::~CommandLog() {
    if (ownsFile_) std::fclose(file_);
}

bool CommandLog::open(const std::string& path, std::string& error) {
    if (path.empty()) return true;
    if (path == "-") {
        file_ = stdout;
        return true;
    }
    // Binary, so that the log has the same bytes (LF line ends) on every system and logs compare.
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        error = "cannot open the command log " + path + ": " + std::strerror(errno);
        return false;
    }
    ownsFile_ = true;
    return true;
}

void CommandLog::write(const std::string& text) {
    if (file_ == nullptr) return;
    std::string line;
    line.reserve(text.size() + 24);
    if (stamped_) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        line = std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()) + ' ';
    }
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            line += escaped;
        } else {
            line += c;
        }
    }
    line += '\n';
    std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

}  // namespace emulator
