// Fuzz target: the user set file reader, which meets whatever the program's folder holds under the sensor's name
// (a file cut off while written, edited by hand, or not one of ours). A file it accepts must come out of the
// writer as a text it reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "user_set_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const UserSetFileReading reading = readUserSetFile(text);
    if (!reading.valid) {
        if (reading.problem.empty()) std::abort();
        return 0;
    }
    const UserSetFileReading again = readUserSetFile(writeUserSetFile(reading.file));
    if (!again.valid || again.file.deviceUserId != reading.file.deviceUserId ||
        again.file.defaultSet != reading.file.defaultSet || again.file.sets != reading.file.sets)
        std::abort();
    return 0;
}
