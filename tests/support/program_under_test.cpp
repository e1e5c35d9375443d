// Choosing between the Linux programs and the Windows programs under wine; see program_under_test.h.
#include "program_under_test.h"

#include <cstdlib>

namespace program_under_test {

namespace {

const char* windowsProgramDir() {
    const char* dir = std::getenv("WINDOWS_PROGRAM_DIR");
    return dir != nullptr && *dir != '\0' ? dir : nullptr;
}

}  // namespace

bool isWindowsBuild() { return windowsProgramDir() != nullptr; }

std::vector<std::string> command(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> all;
    // wine execs the Windows program in its own process, so the process id stays the program's.
    if (isWindowsBuild()) all.push_back("/usr/bin/wine");
    all.push_back(program);
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
}

std::string programPath(const std::string& name, const std::string& linuxPath) {
    const char* dir = windowsProgramDir();
    return dir != nullptr ? std::string(dir) + "/" + name + ".exe" : linuxPath;
}

std::string deviceAddress(const std::string& linuxAddress) { return isWindowsBuild() ? "127.0.0.1" : linuxAddress; }

}  // namespace program_under_test
