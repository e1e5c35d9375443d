// Point-cloud conversion speed against memcpy of the same byte count: a full 2048 x 1536 cloud into
// Coord3D_ABC16 and Coord3D_ABC32f, by each implementation this processor runs (portable, SSE2, AVX2).
// Bytes counted are those read plus those written.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "main_class.h"
#include "point_conversion_rules.h"

namespace {

constexpr int kWidth = 2048;
constexpr int kHeight = 1536;
constexpr std::size_t kPoints = static_cast<std::size_t>(kWidth) * kHeight;

// A plausible cloud: a tilted plane in the measuring volume with a band of points without measurement.
const std::vector<double>& cloud() {
    static const std::vector<double> points = [] {
        std::vector<double> values(3 * kPoints);
        for (std::size_t i = 0; i < kPoints; ++i) {
            const double x = static_cast<double>(i % kWidth) * 0.1 - 100.0;
            const double y = static_cast<double>(i / kWidth) * 0.1 - 75.0;
            values[3 * i] = x;
            values[3 * i + 1] = y;
            values[3 * i + 2] = (i / kWidth) % 64 < 4 ? 0.0 : 500.0 + 0.2 * x + 0.1 * y;
        }
        return values;
    }();
    return points;
}

CMainClass& bridgeWithScaling(bool sixteenBit) {
    static CMainClass bridge;
    for (int axis = 0; axis < 3; ++axis) {
        bridge.coordinates[axis].scale = sixteenBit ? 300.0f / 65535.0f : 1.0f;
        bridge.coordinates[axis].offset = sixteenBit ? -150.0f : 0.0f;
    }
    return bridge;
}

// Puts the implementation of the benchmark's argument in use; false (and the benchmark skipped) when this
// processor cannot run it.
bool useCodeOf(benchmark::State& state) {
    const auto code = static_cast<ConversionCode>(state.range(0));
    state.SetLabel(conversionCodeName(code));
    if (useConversionCode(code)) return true;
    state.SkipWithError("not supported by this processor");
    return false;
}

void convertToU16(benchmark::State& state) {
    if (!useCodeOf(state)) return;
    CMainClass& bridge = bridgeWithScaling(true);
    std::vector<std::uint16_t> frame(3 * kPoints);
    for (auto _ : state) {
        bridge.convertPointsToU16(kWidth, kHeight, false, cloud().data(), frame.data());
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPoints * (24 + 6)));
}

void convertToFloat(benchmark::State& state) {
    if (!useCodeOf(state)) return;
    CMainClass& bridge = bridgeWithScaling(false);
    std::vector<float> frame(3 * kPoints);
    for (auto _ : state) {
        bridge.convertPointsToFloat(kWidth, kHeight, false, cloud().data(), frame.data());
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPoints * (24 + 12)));
}

// memcpy moving the bytes the conversion reads plus those it writes (half copied each way).
void memcpyOfSameBytes(benchmark::State& state) {
    const std::size_t bytes = static_cast<std::size_t>(state.range(0));
    std::vector<std::uint8_t> source(bytes / 2 + 1, 1);
    std::vector<std::uint8_t> target(bytes / 2 + 1);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), bytes / 2);
        benchmark::DoNotOptimize(target.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

}  // namespace

void eachCode(benchmark::internal::Benchmark* benchmark) {
    for (ConversionCode code : {ConversionCode::Portable, ConversionCode::Sse2, ConversionCode::Avx2}) {
        benchmark->Arg(static_cast<std::int64_t>(code));
    }
}

BENCHMARK(convertToU16)->Apply(eachCode)->Unit(benchmark::kMillisecond);
BENCHMARK(convertToFloat)->Apply(eachCode)->Unit(benchmark::kMillisecond);
BENCHMARK(memcpyOfSameBytes)
    ->Arg(static_cast<std::int64_t>(kPoints * 30))
    ->Arg(static_cast<std::int64_t>(kPoints * 36))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
