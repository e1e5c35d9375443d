// Control path figures: the READREG round trip of a feature register from a libaravis client on loopback
// (trivial read callback), with median and 99th percentile, and the time to lay out and write the GenICam
// XML of a bridge-sized feature tree.
#include <benchmark/benchmark.h>

#include <arv.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "camera.h"
#include "gige/gvcp/raw_client.h"
#include "gige/gvcp/sample_tree.h"

namespace {

bool trivialRead(void*, const char*) { return true; }

void BM_ReadRegRoundTrip(benchmark::State& state) {
    gige::Camera camera;
    camera.setServerOptionD(1);
    camera.setReadCallback(nullptr, &trivialRead);
    gvcp_test::declareSampleTree(camera);
    if (camera.startServer("127.0.5.30") != 0) {
        state.SkipWithError("cannot serve on 127.0.5.30");
        return;
    }
    const std::uint32_t address = gvcp_test::registerAddress(camera.genicamXml(), "regDeviceTemperature") + 4;
    GError* error = nullptr;
    ArvCamera* client = arv_camera_new("127.0.5.30", &error);
    if (client == nullptr) {
        state.SkipWithError("Aravis cannot open the device");
        return;
    }
    ArvDevice* device = arv_camera_get_device(client);
    std::vector<double> micros;
    micros.reserve(100000);
    for (auto _ : state) {
        std::uint32_t value = 0;
        const auto start = std::chrono::steady_clock::now();
        arv_device_read_register(device, address, &value, &error);
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        benchmark::DoNotOptimize(value);
    }
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    g_object_unref(client);
    camera.stopServer();
}
BENCHMARK(BM_ReadRegRoundTrip)->Iterations(5000)->Unit(benchmark::kMicrosecond);

void BM_XmlForBridgeSizedTree(benchmark::State& state) {
    gige::Camera camera;
    gvcp_test::declareSampleTree(camera);
    std::size_t size = 0;
    for (auto _ : state) {
        const std::string xml = camera.genicamXml();
        size = xml.size();
        benchmark::DoNotOptimize(xml.data());
    }
    state.counters["xml_bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_XmlForBridgeSizedTree)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
