// Point-cloud throughput of the SDK against the emulator, beside a plain TCP connection moving the same bytes,
// and the latency of status polls while point clouds stream. Full resolution, 1280 x 1024, on loopback.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "emulator_process.h"
#include "socket.h"
#include "tavrion.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;
constexpr std::size_t kPixels = std::size_t{kWidth} * kHeight;
constexpr std::size_t kCloudBytes = 26 * kPixels;

// A server thread answers each one-byte request with one point cloud's worth of bytes, as the emulator does,
// but from a buffer that is ready: the bare cost of loopback TCP for the same pattern.
void PlainSocketPair(benchmark::State& state) {
    std::uint32_t address = 0;
    sensorlink::parseIpv4("127.0.3.50", address);
    sensorlink::TcpListener listener;
    std::string error;
    if (!listener.listenOn(address, 32001, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::thread server([&] {
        sensorlink::TcpStream peer = listener.acceptClient(5000);
        std::vector<std::uint8_t> data(kCloudBytes, 0x5A);
        std::uint8_t request = 0;
        while (peer.receiveAll(&request, 1, 5000) == sensorlink::IoStatus::Ok)
            if (peer.sendAll(data.data(), data.size(), 5000) != sensorlink::IoStatus::Ok) break;
    });
    sensorlink::TcpStream client = sensorlink::TcpStream::connectTo(address, 32001, 1000);
    std::vector<double> xyz(3 * kPixels);
    std::vector<std::uint16_t> mono(kPixels);
    const std::uint8_t request = 1;
    for (auto _ : state) {
        client.sendAll(&request, 1, 5000);
        client.receiveAll(xyz.data(), 24 * kPixels, 5000);
        client.receiveAll(mono.data(), 2 * kPixels, 5000);
    }
    client.shutdown();
    server.join();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kCloudBytes));
}

struct Sensor {
    EmulatorProcess emulator{{"--address", "127.0.3.51", "--trigger-delay-ms", "0"}};
    void* handle = nullptr;
    Sensor() {
        if (emulator.waitReady()) handle = Tavrion_Connect("127.0.3.51", "32001", 0);
        if (handle) Tavrion_WriteData(handle, "SetAcquisitionStart=1", 0);
    }
    ~Sensor() {
        if (handle) Tavrion_Disconnect(handle);
    }
};

Sensor& sensor() {
    static Sensor instance;
    return instance;
}

struct Cloud {
    std::vector<double> xyz = std::vector<double>(3 * kPixels);
    std::vector<std::uint16_t> mono = std::vector<std::uint16_t>(kPixels);
    void* pointers[2] = {xyz.data(), mono.data()};
};

// Fetching the same triggered frame again: the transfer alone.
void SdkPointCloudFetch(benchmark::State& state) {
    void* handle = sensor().handle;
    Cloud cloud;
    if (!handle || Tavrion_WriteData(handle, "SetTriggerSoftware", 0) != TAVRION_OK) {
        state.SkipWithError("no sensor");
        return;
    }
    for (auto _ : state)
        if (Tavrion_GetPointCloud(handle, cloud.pointers, static_cast<std::int32_t>(kCloudBytes), 0, 0) != TAVRION_OK)
            state.SkipWithError("fetch failed");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kCloudBytes));
}

// What the bridge does per 3D frame: trigger (the emulator renders) and fetch.
void SdkTriggerAndFetch(benchmark::State& state) {
    void* handle = sensor().handle;
    Cloud cloud;
    if (!handle) {
        state.SkipWithError("no sensor");
        return;
    }
    for (auto _ : state) {
        Tavrion_WriteData(handle, "SetTriggerSoftware", 0);
        if (Tavrion_GetPointCloud(handle, cloud.pointers, static_cast<std::int32_t>(kCloudBytes), 0, 0) != TAVRION_OK)
            state.SkipWithError("fetch failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kCloudBytes));
}

// Status polls, one per millisecond, while another thread fetches point clouds without pause.
void SdkStatusPollDuringTransfers(benchmark::State& state) {
    void* handle = sensor().handle;
    if (!handle) {
        state.SkipWithError("no sensor");
        return;
    }
    std::atomic<bool> stop{false};
    std::atomic<int> clouds{0};
    std::thread fetcher([&] {
        Cloud cloud;
        while (!stop) {
            Tavrion_WriteData(handle, "SetTriggerSoftware", 0);
            if (Tavrion_GetPointCloud(handle, cloud.pointers, static_cast<std::int32_t>(kCloudBytes), 0, 0) ==
                TAVRION_OK)
                ++clouds;
        }
    });
    std::vector<double> latenciesMs;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::int32_t word = 0;
        Tavrion_GetSensorStatus(handle, &word);
        latenciesMs.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        if ((word & TAVRION_STATUS_LINK_ALIVE) == 0) state.SkipWithError("link reported down");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop = true;
    fetcher.join();
    std::sort(latenciesMs.begin(), latenciesMs.end());
    const auto at = [&](double q) { return latenciesMs[static_cast<std::size_t>(q * (latenciesMs.size() - 1))]; };
    state.counters["p50_ms"] = at(0.50);
    state.counters["p99_ms"] = at(0.99);
    state.counters["max_ms"] = latenciesMs.back();
    state.counters["clouds"] = clouds.load();
}

}  // namespace

BENCHMARK(PlainSocketPair)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(SdkPointCloudFetch)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(SdkTriggerAndFetch)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(SdkStatusPollDuringTransfers)->Iterations(2000)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
