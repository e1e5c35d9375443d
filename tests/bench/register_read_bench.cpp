// Register read latency through the bridge, from a libaravis client on loopback: reads that are answered
// from the settings record, and reads that first refresh the settings from the sensor (each one right
// after a write, which asks for the refresh). Prints median and 99th percentile; never fails.
#include <arv.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "bridge_process.h"
#include "emulator_process.h"

namespace {

using Clock = std::chrono::steady_clock;

void printFigures(const char* what, std::vector<double> microseconds) {
    std::sort(microseconds.begin(), microseconds.end());
    const auto at = [&](double fraction) {
        return microseconds[static_cast<std::size_t>(fraction * static_cast<double>(microseconds.size() - 1))];
    };
    std::printf("%-44s n=%zu  median %.1f us  p99 %.1f us  max %.1f us\n", what, microseconds.size(), at(0.5), at(0.99),
                microseconds.back());
}

double microsecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

}  // namespace

int main() {
    EmulatorProcess emulator({"--address", "127.0.5.2", "--width", "64", "--height", "48"});
    if (!emulator.waitReady()) return std::printf("the sensor emulator did not start\n"), 0;
    BridgeProcess bridge({"-i", "127.0.5.2", "-s", "127.0.5.3"});
    if (!bridge.waitForError("GigeServer is online\n")) return std::printf("the bridge did not start\n"), 0;

    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new("127.0.5.3", &error);
    if (camera == nullptr) return std::printf("no device: %s\n", error != nullptr ? error->message : "?"), 0;

    std::vector<double> plain;
    std::vector<double> refreshed;
    for (int round = 0; round < 20 && error == nullptr; ++round) {
        // A write asks for a refresh: the first read after it fetches and parses the descriptor.
        arv_camera_set_float(camera, "Gain", 2.0, &error);
        auto start = Clock::now();
        arv_camera_get_float(camera, "ExposureTime", &error);
        refreshed.push_back(microsecondsSince(start));
        // The reads that follow within the refresh interval are answered from the record.
        const auto windowStart = Clock::now();
        while (Clock::now() - windowStart < std::chrono::milliseconds(400) && error == nullptr) {
            start = Clock::now();
            arv_camera_get_integer(camera, "Width", &error);
            plain.push_back(microsecondsSince(start));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(700));  // let the record grow stale again
    }
    if (error != nullptr) std::printf("read failed: %s\n", error->message);
    if (!plain.empty()) printFigures("register read, no refresh", plain);
    if (!refreshed.empty()) printFigures("register read with the settings refresh", refreshed);
    g_clear_error(&error);
    g_object_unref(camera);
    return 0;
}
