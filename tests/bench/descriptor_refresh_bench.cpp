// One settings refresh as the register read handler does it: "GetXmlDescriptor" from the emulated sensor
// over loopback TCP, then the parse of the whole descriptor.
#include <benchmark/benchmark.h>

#include <cstring>

#include "emulator_process.h"
#include "main_class.h"
#include "tavrion.h"

namespace {

void descriptorRefresh(benchmark::State& state) {
    EmulatorProcess emulator({"--address", "127.0.5.1", "--width", "64", "--height", "48"});
    if (!emulator.waitReady()) {
        state.SkipWithError("the sensor emulator did not start");
        return;
    }
    CMainClass bridge;
    bridge.sensorHandle = Tavrion_Connect("127.0.5.1", "32001", 0);
    for (auto _ : state) {
        const std::int32_t code = Tavrion_ReadData(bridge.sensorHandle, "GetXmlDescriptor", bridge.xmlDescriptor,
                                                   static_cast<std::int32_t>(kDescriptorBufferSize), 0);
        if (code != 0 || !bridge.parseSensorDescriptor(bridge.xmlDescriptor)) {
            state.SkipWithError("the refresh failed");
            break;
        }
    }
    state.counters["descriptor_bytes"] = static_cast<double>(std::strlen(bridge.xmlDescriptor));
}

}  // namespace

BENCHMARK(descriptorRefresh)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
