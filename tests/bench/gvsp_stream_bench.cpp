// Streaming throughput of the device to a libaravis receiver on loopback, next to what a plain UDP sender
// achieves with the same datagram size in the same run (the yardstick). Full-resolution Coord3D_ABC32f
// frames, 1500- and 9000-byte packets; the figure is the best rate with no incomplete frame. Then multipart
// blocks (Range Coord3D_ABC32f + Intensity Mono16 + Confidence8, extended ids) against single-part
// Coord3D_ABC32f frames in the same run: the device's send time and the bytes on the wire per payload byte.
// Figures only: nothing here fails a test run.
#include "gev_camera.h"

#include <arv.h>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* kDeviceAddress = "127.0.7.20";
constexpr double kSeconds = 1.5;

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// A plain sender: one sendto per datagram of the size a stream packet has on the wire, to a receiver
// thread that counts what arrives. Returns the received MB/s.
double rawUdpMBps(std::size_t packetSize, double seconds) {
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
    const double start = now();
    while (now() - start < seconds) {
        for (int i = 0; i < 256; ++i) {
            sendto(sender, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
    }
    const double rate = static_cast<double>(received.load()) / (now() - start) / 1e6;
    done = true;
    reader.join();
    close(sender);
    close(receiver);
    return rate;
}

struct Trial {
    double megabytesPerSecond = 0;
    double framesPerSecond = 0;
    std::uint64_t incomplete = 0;
};

// What the device spent on its sends, and what went on the wire, per frame.
struct SendFigures {
    double sendNsPerFrame = 0;
    double payloadBytes = 0;
    double wireBytes = 0;  // IP and UDP headers, GVSP headers, leader, trailer and payload
};

// The device (this library, in this process) streams Coord3D_ABC32f frames back to back; a libaravis
// stream receives them. A frame that arrives incomplete counts against the trial.
class AravisSession {
public:
    AravisSession(unsigned packetSize, std::uint16_t width, std::uint16_t height, bool multipart = false)
        : device_(createCamera()), multipart_(multipart), width_(width), height_(height) {
        device_->setDeviceInfo("Corvastrum", "Bench", "1.0", "stream benchmark", "BENCH0001");
        device_->addPixelFormat("Coord3D_ABC32f");
        device_->setImageSize(width, height, 0);
        device_->setEnumValue("PixelFormat", "Coord3D_ABC32f");
        points_ = std::int64_t{width} * height;
        if (multipart) {
            device_->setMultipartOffered(true);
            device_->setMultipartLayout(static_cast<std::uint64_t>(points_) * 15, 3, 0);
        }
        if (device_->startServer(kDeviceAddress) != 0) return;
        frame_.assign(static_cast<std::size_t>(points_) * 12, 0x3F);
        intensity_.assign(static_cast<std::size_t>(points_) * 2, 0x20);
        confidence_.assign(static_cast<std::size_t>(points_), 255);
        GError* error = nullptr;
        camera_ = arv_camera_new(kDeviceAddress, &error);
        if (camera_ != nullptr && multipart) {
            arv_device_write_register(arv_camera_get_device(camera_), 0x0960, 0x40000000, &error);
            if (error == nullptr) arv_camera_gv_set_multipart(camera_, TRUE, &error);
        }
        producer_ = std::thread([this] { produce(); });
        if (camera_ != nullptr && error == nullptr)
            arv_camera_gv_set_packet_size(camera_, static_cast<int>(packetSize), &error);
        if (error == nullptr) stream_ = arv_camera_create_stream(camera_, nullptr, nullptr, &error);
        if (error != nullptr) {
            error_ = error->message;
            g_error_free(error);
        }
        if (stream_ == nullptr) return;
        payload_ = arv_camera_get_payload(camera_, nullptr);
        for (int i = 0; i < 16; ++i) arv_stream_push_buffer(stream_, arv_buffer_new(payload_, nullptr));
        arv_camera_start_acquisition(camera_, nullptr);
    }
    ~AravisSession() {
        if (camera_ != nullptr) arv_camera_stop_acquisition(camera_, nullptr);
        done_ = true;
        if (producer_.joinable()) producer_.join();
        if (stream_ != nullptr) g_object_unref(stream_);
        if (camera_ != nullptr) g_object_unref(camera_);
        device_->stopServer();
    }
    bool ready() const { return stream_ != nullptr; }
    const std::string& error() const { return error_; }

    // The device's send time per frame over `seconds` of streaming, and the wire bytes of one frame at
    // `packetSize` (every packet of a frame but the last of each part is full).
    SendFigures sendFigures(double seconds, unsigned packetSize) {
        const std::uint64_t framesBefore = sentFrames_.load();
        const std::uint64_t nsBefore = sendNs_.load();
        run(seconds, 0);
        SendFigures figures;
        const std::uint64_t frames = sentFrames_.load() - framesBefore;
        if (frames > 0) figures.sendNsPerFrame = static_cast<double>(sendNs_.load() - nsBefore) / frames;
        const double pixels = static_cast<double>(points_);
        const double parts[3] = {pixels * 12, pixels * 2, pixels};
        if (multipart_) {
            const double perPacket = packetSize - 28 - 20 - 8;  // extended header and multipart information
            double packets = 0;
            for (double part : parts) packets += std::ceil(part / perPacket);
            figures.payloadBytes = parts[0] + parts[1] + parts[2];
            figures.wireBytes =
                figures.payloadBytes + packets * (28 + 28) + (28 + 20 + 12 + 3 * 48) + (28 + 20 + 4 + 3 * 16);
        } else {
            const double perPacket = packetSize - 28 - 8;
            figures.payloadBytes = parts[0];
            figures.wireBytes = parts[0] + std::ceil(parts[0] / perPacket) * (28 + 8) + (28 + 8 + 36) + (28 + 8 + 8);
        }
        return figures;
    }

    // Streams for `seconds` with the given inter-packet delay (ns, as the client sets it through SCPD).
    Trial run(double seconds, std::int64_t packetDelayNs) {
        arv_camera_gv_set_packet_delay(camera_, packetDelayNs, nullptr);
        drain(0.3);  // frames in flight under the previous delay
        Trial trial;
        std::uint64_t complete = 0;
        const double start = now();
        while (now() - start < seconds) {
            ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream_, 200000);
            if (buffer == nullptr) continue;
            if (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS)
                ++complete;
            else
                ++trial.incomplete;
            arv_stream_push_buffer(stream_, buffer);
        }
        const double elapsed = now() - start;
        trial.megabytesPerSecond = static_cast<double>(complete) * payload_ / elapsed / 1e6;
        trial.framesPerSecond = static_cast<double>(complete) / elapsed;
        return trial;
    }

private:
    void produce() {
        const auto w = static_cast<std::uint32_t>(width_);
        const auto h = static_cast<std::uint32_t>(height_);
        const GevPart parts[] = {
            {frame_.data(), frame_.size(), 0x026000C0, w, h, GevPart3DImage, 1},
            {intensity_.data(), intensity_.size(), 0x01100007, w, h, GevPart2DImage, 2},
            {confidence_.data(), confidence_.size(), 0x010800C6, w, h, GevPartConfidenceMap, 3},
        };
        while (!done_) {
            device_->beginFrame(0);
            const auto start = std::chrono::steady_clock::now();
            int result = 0;
            if (multipart_) {
                result = device_->sendMultipart(parts, 3, 0);
            } else {
                device_->addChunkData(frame_.data(), nullptr, static_cast<std::uint32_t>(frame_.size()), 0, 0);
                result = device_->sendPointCloud(frame_.data(), points_, 0);
            }
            if (result != 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            sendNs_ += static_cast<std::uint64_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
            ++sentFrames_;
        }
    }
    void drain(double seconds) {
        const double start = now();
        while (now() - start < seconds) {
            ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream_, 50000);
            if (buffer != nullptr) arv_stream_push_buffer(stream_, buffer);
        }
    }

    std::unique_ptr<CGevCamera> device_;
    bool multipart_ = false;
    std::uint16_t width_ = 0;
    std::uint16_t height_ = 0;
    std::vector<std::uint8_t> frame_;
    std::vector<std::uint8_t> intensity_;
    std::vector<std::uint8_t> confidence_;
    std::atomic<std::uint64_t> sentFrames_{0};
    std::atomic<std::uint64_t> sendNs_{0};
    std::int64_t points_ = 0;
    std::atomic<bool> done_{false};
    std::thread producer_;
    ArvCamera* camera_ = nullptr;
    ArvStream* stream_ = nullptr;
    guint payload_ = 0;
    std::string error_;
};

// Throughput with no incomplete frame: the device first sends back to back; while frames arrive incomplete
// (the receiver cannot keep up and loses more than resends recover), the client spaces the packets through
// SCPD for a lower rate, down in steps of a tenth of the yardstick.
void deviceToAravis(benchmark::State& state) {
    const auto packetSize = static_cast<unsigned>(state.range(0));
    const auto width = static_cast<std::uint16_t>(state.range(1));
    const auto height = static_cast<std::uint16_t>(state.range(2));
    for (auto _ : state) {
        const double yardstick = rawUdpMBps(packetSize, kSeconds);
        AravisSession session(packetSize, width, height);
        if (!session.ready()) {
            state.SkipWithError(("no stream: " + session.error()).c_str());
            return;
        }
        Trial best = session.run(kSeconds, 0);
        std::int64_t delayNs = 0;
        for (double share = 1.0; best.incomplete != 0 && share > 0.15; share -= 0.1) {
            // Packet spacing for `share` of the yardstick: bytes per packet over bytes per nanosecond.
            delayNs = static_cast<std::int64_t>(packetSize / (share * yardstick * 1e6) * 1e9);
            best = session.run(kSeconds, delayNs);
        }
        state.counters["raw_MB/s"] = yardstick;
        state.counters["MB/s"] = best.megabytesPerSecond;
        state.counters["frames/s"] = best.framesPerSecond;
        state.counters["of_raw"] = best.megabytesPerSecond / yardstick;
        state.counters["incomplete"] = static_cast<double>(best.incomplete);
        state.counters["delay_ns"] = static_cast<double>(delayNs);
    }
}

// Multipart against single-part in one run: the device's send time per payload byte and the wire bytes per
// payload byte of each, and how much more a multipart frame costs per payload byte (the overhead per frame).
void multipartAgainstSinglePart(benchmark::State& state) {
    const auto packetSize = static_cast<unsigned>(state.range(0));
    for (auto _ : state) {
        SendFigures figures[2];
        double framesPerSecond[2] = {0, 0};
        for (int multipart = 0; multipart < 2; ++multipart) {
            AravisSession session(packetSize, 1280, 1024, multipart == 1);
            if (!session.ready()) {
                state.SkipWithError(("no stream: " + session.error()).c_str());
                return;
            }
            figures[multipart] = session.sendFigures(kSeconds, packetSize);
            framesPerSecond[multipart] = session.run(kSeconds, 0).framesPerSecond;
        }
        const double singleNsPerByte = figures[0].sendNsPerFrame / figures[0].payloadBytes;
        const double multiNsPerByte = figures[1].sendNsPerFrame / figures[1].payloadBytes;
        state.counters["single_send_ms"] = figures[0].sendNsPerFrame / 1e6;
        state.counters["multi_send_ms"] = figures[1].sendNsPerFrame / 1e6;
        state.counters["single_frames/s"] = framesPerSecond[0];
        state.counters["multi_frames/s"] = framesPerSecond[1];
        state.counters["send_overhead_%"] = (multiNsPerByte / singleNsPerByte - 1) * 100;
        state.counters["single_wire_%"] = (figures[0].wireBytes / figures[0].payloadBytes - 1) * 100;
        state.counters["multi_wire_%"] = (figures[1].wireBytes / figures[1].payloadBytes - 1) * 100;
    }
}

}  // namespace

BENCHMARK(multipartAgainstSinglePart)->Arg(1500)->Arg(9000)->Iterations(1)->Unit(benchmark::kSecond);

BENCHMARK(deviceToAravis)
    ->Args({1500, 1280, 1024})
    ->Args({9000, 1280, 1024})
    ->Args({1500, 2048, 1536})
    ->Args({9000, 2048, 1536})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
