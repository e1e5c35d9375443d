// Streaming throughput of the device to a libaravis receiver on loopback, next to what a plain UDP sender
// achieves with the same datagram size in the same run (the yardstick). Full-resolution Coord3D_ABC32f
// frames, 1500- and 9000-byte packets. Figures only: nothing here fails a test run.
#include "gev_camera.h"

#include <arv.h>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr const char* kDeviceAddress = "127.0.7.20";
constexpr double kSeconds = 2.0;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A plain sender: one sendto per datagram of the size a stream packet has on the wire, to a receiver
// thread that counts what arrives.
void rawUdp(benchmark::State& state) {
    const auto packetSize = static_cast<std::size_t>(state.range(0));
    const std::size_t datagram = packetSize - 28;
    const int receiver = socket(AF_INET, SOCK_DGRAM, 0);
    const int bufferBytes = 4 << 20;
    setsockopt(receiver, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(0x7F000715);  // 127.0.7.21
    bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &length);
    timeval wait{0, 200000};
    setsockopt(receiver, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);

    std::atomic<bool> done{false};
    std::atomic<std::uint64_t> received{0};
    std::thread reader([&] {
        std::vector<char> buffer(65536);
        while (!done) {
            const ssize_t got = recv(receiver, buffer.data(), buffer.size(), 0);
            if (got > 0) received += static_cast<std::uint64_t>(got);
        }
    });
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    std::vector<char> payload(datagram, 7);
    std::uint64_t sent = 0;
    double elapsed = 0;
    for (auto _ : state) {
        const double start = now();
        const std::uint64_t before = received;
        while (now() - start < kSeconds) {
            for (int i = 0; i < 256; ++i) {
                sendto(sender, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
                sent += datagram;
            }
        }
        elapsed = now() - start;
        state.counters["MB/s"] = static_cast<double>(received - before) / elapsed / 1e6;
    }
    state.counters["sent_MB/s"] = static_cast<double>(sent) / elapsed / 1e6;
    done = true;
    reader.join();
    close(sender);
    close(receiver);
}

// The device (this library, in this process) streams Coord3D_ABC32f frames as fast as it can; a libaravis
// stream receives them. Complete frames count; incomplete ones are reported.
void deviceToAravis(benchmark::State& state) {
    const auto packetSize = static_cast<unsigned>(state.range(0));
    const auto width = static_cast<std::uint16_t>(state.range(1));
    const auto height = static_cast<std::uint16_t>(state.range(2));

    std::unique_ptr<CGevCamera> device(createCamera());
    device->setDeviceInfo("Corvastrum", "Bench", "1.0", "stream benchmark", "BENCH0001");
    device->addPixelFormat("Coord3D_ABC32f");
    device->setImageSize(width, height, 0);
    device->setEnumValue("PixelFormat", "Coord3D_ABC32f");
    if (device->startServer(kDeviceAddress) != 0) {
        state.SkipWithError("the device did not start on 127.0.7.20");
        return;
    }
    const std::int64_t points = std::int64_t{width} * height;
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(points) * 12, 0x3F);
    std::atomic<bool> done{false};
    std::thread producer([&] {
        while (!done) {
            device->beginFrame(0);
            device->addChunkData(frame.data(), nullptr, static_cast<std::uint32_t>(frame.size()), 0, 0);
            if (device->sendPointCloud(frame.data(), points, 0) != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new(kDeviceAddress, &error);
    ArvStream* stream = nullptr;
    if (camera != nullptr) arv_camera_gv_set_packet_size(camera, static_cast<int>(packetSize), &error);
    if (error == nullptr) stream = arv_camera_create_stream(camera, nullptr, nullptr, &error);
    if (stream == nullptr) {
        state.SkipWithError(error != nullptr ? error->message : "no stream");
    } else {
        g_object_set(stream, "socket-buffer", ARV_GV_STREAM_SOCKET_BUFFER_AUTO, nullptr);
        const guint payload = arv_camera_get_payload(camera, nullptr);
        for (int i = 0; i < 16; ++i) arv_stream_push_buffer(stream, arv_buffer_new(payload, nullptr));
        arv_camera_start_acquisition(camera, nullptr);
        for (auto _ : state) {
            std::uint64_t complete = 0, incomplete = 0;
            const double start = now();
            while (now() - start < kSeconds) {
                ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, 200000);
                if (buffer == nullptr) continue;
                if (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS) ++complete;
                else ++incomplete;
                arv_stream_push_buffer(stream, buffer);
            }
            const double elapsed = now() - start;
            state.counters["MB/s"] = static_cast<double>(complete) * payload / elapsed / 1e6;
            state.counters["frames/s"] = static_cast<double>(complete) / elapsed;
            state.counters["incomplete"] = static_cast<double>(incomplete);
        }
        guint64 resent = 0, missing = 0;
        arv_gv_stream_get_statistics(ARV_GV_STREAM(stream), &resent, &missing);
        state.counters["resent_packets"] = static_cast<double>(resent);
        state.counters["missing_packets"] = static_cast<double>(missing);
        arv_camera_stop_acquisition(camera, nullptr);
    }
    done = true;
    producer.join();
    if (stream != nullptr) g_object_unref(stream);
    if (camera != nullptr) g_object_unref(camera);
    if (error != nullptr) g_error_free(error);
    device->stopServer();
}

}  // namespace

BENCHMARK(rawUdp)->Arg(1500)->Arg(9000)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(deviceToAravis)
    ->Args({1500, 1280, 1024})
    ->Args({9000, 1280, 1024})
    ->Args({1500, 2048, 1536})
    ->Args({9000, 2048, 1536})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
