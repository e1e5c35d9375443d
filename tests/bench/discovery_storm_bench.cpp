// Register reads of one client while another floods the device with discovery: 1000 DISCOVERY commands in one
// second from loopback, against READREG round trips every 2 ms from a second client. Prints the read latency's
// median, p99 and maximum with and without the storm; the goal is a p99 within 10 ms of the quiet one.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "camera.h"
#include "gvcp/raw_client.h"
#include "gvcp/sample_tree.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kDevice = 0x7F000D20;  // 127.0.13.32

struct Figures {
    double medianMs = 0, p99Ms = 0, maxMs = 0;
    int lost = 0;
};

// READREG round trips for `seconds`, one every 2 ms.
Figures readFor(double seconds) {
    gvcp_test::RawClient reader(kDevice);
    std::vector<double> latencies;
    int lost = 0;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        std::uint32_t value = 0;
        const auto start = Clock::now();
        if (reader.readReg(0x0938, value) == 0)
            latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        else
            ++lost;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::sort(latencies.begin(), latencies.end());
    Figures figures;
    figures.lost = lost;
    if (!latencies.empty()) {
        figures.medianMs = latencies[latencies.size() / 2];
        figures.p99Ms = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
        figures.maxMs = latencies.back();
    }
    return figures;
}

void print(const char* what, const Figures& f) {
    std::printf("%-28s median %.3f ms  p99 %.3f ms  max %.3f ms  unanswered %d\n", what, f.medianMs, f.p99Ms, f.maxMs,
                f.lost);
}

}  // namespace

int main() {
    gige::Camera camera;
    gvcp_test::declareSampleTree(camera);
    if (camera.startServer("127.0.13.32") != 0) return 1;
    print("reads, quiet:", readFor(1.0));

    std::thread storm([&] {
        gvcp_test::RawClient flooder(kDevice);
        // 1000 discovery commands spread over one second, each asking for its answer (248 bytes back).
        const auto start = Clock::now();
        for (int i = 0; i < 1000; ++i) {
            flooder.send(gvcp_test::makeCommand(0x0002, {}, flooder.nextId(), 0x11));
            std::this_thread::sleep_until(start + std::chrono::microseconds(1000 * (i + 1)));
        }
    });
    print("reads, during the storm:", readFor(1.0));
    storm.join();
    camera.stopServer();
    return 0;
}
