// Fuzz target: the sensor descriptor parser, which turns the sensor's XML into the bridge's settings record.
// The input is the descriptor text as the sensor sends it (not NUL-terminated by the sensor; terminated here).
#include <cstddef>
#include <cstdint>
#include <string>

#include "main_class.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size >= kDescriptorBufferSize) return 0;
    static CMainClass* bridge = new CMainClass;
    const std::string descriptor(reinterpret_cast<const char*>(data), size);
    bridge->parseSensorDescriptor(descriptor.c_str());
    return 0;
}
