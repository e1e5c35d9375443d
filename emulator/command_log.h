// The log of every command and query text the sensor receives, one line each, in the order received, flushed
// line by line so that a test can read it while the emulator runs. Control characters, which would break the
// one-line-per-command rule, are written as \xNN.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace emulator {

class CommandLog {
public:
    CommandLog() = default;
    ~CommandLog();
    CommandLog(const CommandLog&) = delete;
    CommandLog& operator=(const CommandLog&) = delete;

    // "-" writes to standard output; an empty path logs nothing. False with a sentence in `error` on failure.
    bool open(const std::string& path, std::string& error);
    // Each line then starts with the moment it was received, in nanoseconds of the host's real-time clock, and
    // a space: what a test of several sensors sharing one clock orders their commands by.
    void stampLines() { stamped_ = true; }
    void write(const std::string& text);

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    bool ownsFile_ = false;
    bool stamped_ = false;
};

}  // namespace emulator
