// End-to-end streaming benchmark: the sensor emulator (answering a trigger at once), the bridge program and a
// libaravis receiver on loopback. For each pixel format and packet size it prints frames per second, MB/s and
// the mean time of each stage of a frame as the bridge traces it, next to the limits measured in the same run:
// a plain TCP transfer of the bytes one sensor fetch moves, and a plain UDP send of the frame in packets of
// that size. Then, streaming Coord3D_ABC32f: the latency of register reads (median, 99th percentile) and the
// bridge's resident memory after the first frames and after many more. Prints figures; never fails on one.
//
//   end_to_end_bench [--seconds S] [--memory-frames N] [--data FILE] [--reads-only] [--software-trigger]
//
// --data writes one line per format and packet size for scripts/plot-performance.sh; --reads-only skips the
// formats and packet sizes and measures only the register reads and memory while streaming. --software-trigger
// measures only triggered captures instead: for Coord3D_ABC32f and Coord3D_ABC16, the time from the client's
// TriggerSoftware write to the complete block at the client, next to the sum of the bridge's own trigger,
// fetch, conversion and send stages in the same run.
#include <arv.h>
#include <arpa/inet.h>
#include <pthread.h>
#include <sched.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bridge_process.h"
#include "emulator_process.h"
#include "event_listener.h"
#include "gvcp_wire_timer.h"
#include "os.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kSensorAddress = "127.0.9.2";
const char* const kDeviceAddress = "127.0.9.3";
const char* const kLimitAddress = "127.0.9.4";
constexpr std::size_t kWidth = 1280;
constexpr std::size_t kHeight = 1024;
constexpr std::size_t kPixels = kWidth * kHeight;
// IPv4 and UDP headers, and the GVSP header of a payload packet (extended block id off).
constexpr std::size_t kIpUdpHeaderBytes = 28;
constexpr std::size_t kGvspHeaderBytes = 8;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Options {
    double seconds = 5;
    int memoryFrames = 1000;
    std::string dataPath;
    bool readsOnly = false;
    bool softwareTrigger = false;
    bool events = false;
};

// Real-time priority for the calling thread where the system allows it, else the short time slice.
const char* favourReader() {
    sched_param lowestRealTime{};
    lowestRealTime.sched_priority = sched_get_priority_min(SCHED_FIFO);
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &lowestRealTime) == 0) return "real-time priority";
    os::favourThreadLatency();
    return "the short time slice";
}

void printLatencies(const std::string& what, std::vector<double> microseconds) {
    if (microseconds.empty()) return (void)std::printf("%s: none measured\n", what.c_str());
    std::sort(microseconds.begin(), microseconds.end());
    const auto at = [&](double share) {
        return microseconds[static_cast<std::size_t>(share * static_cast<double>(microseconds.size() - 1))];
    };
    std::printf("%s: n=%zu median %.0f us, p99 %.0f us, max %.0f us\n", what.c_str(), microseconds.size(), at(0.5),
                at(0.99), microseconds.back());
}

// ---- Limits measured with plain sockets ----

sockaddr_in loopbackAddress(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, kLimitAddress, &address.sin_addr);
    return address;
}

std::uint16_t boundPort(int socket) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// Mean milliseconds of one TCP transfer of `bytes` from one thread to another over loopback.
double tcpTransferMs(std::size_t bytes, int rounds) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopbackAddress(0);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 1) != 0) {
        close(listener);
        return 0;
    }
    address = loopbackAddress(boundPort(listener));
    std::thread sender([&] {
        const int connection = accept(listener, nullptr, nullptr);
        const std::vector<std::uint8_t> data(bytes, 0x5A);
        for (int round = 0; round < rounds; ++round) {
            for (std::size_t sent = 0; sent < bytes;) {
                const ssize_t n = send(connection, data.data() + sent, bytes - sent, 0);
                if (n <= 0) break;
                sent += static_cast<std::size_t>(n);
            }
        }
        close(connection);
    });
    const int receiver = socket(AF_INET, SOCK_STREAM, 0);
    connect(receiver, reinterpret_cast<sockaddr*>(&address), sizeof address);
    std::vector<std::uint8_t> buffer(bytes);
    const auto start = Clock::now();
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t got = 0; got < bytes;) {
            const ssize_t n = recv(receiver, buffer.data() + got, bytes - got, 0);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
    }
    const double elapsed = millisecondsSince(start);
    sender.join();
    close(receiver);
    close(listener);
    return elapsed / rounds;
}

// Mean milliseconds to send one frame of `frameBytes` in UDP packets of `packetSize` (the GVSP packet size:
// IP and UDP headers included) to a socket that another thread drains.
double udpSendMs(std::size_t frameBytes, std::size_t packetSize, int rounds) {
    const int receiver = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = loopbackAddress(0);
    const int bufferBytes = 64 << 20;
    setsockopt(receiver, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof address);
    address = loopbackAddress(boundPort(receiver));
    std::atomic<bool> done{false};
    std::thread drain([&] {
        std::vector<std::uint8_t> packet(65536);
        timeval timeout{0, 100000};
        setsockopt(receiver, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        while (!done) recv(receiver, packet.data(), packet.size(), 0);
    });
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    const std::size_t datagram = packetSize - kIpUdpHeaderBytes;
    const std::size_t perPacket = datagram - kGvspHeaderBytes;
    const std::size_t packets = (frameBytes + perPacket - 1) / perPacket;
    const std::vector<std::uint8_t> data(datagram, 0x5A);
    const auto start = Clock::now();
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < packets; ++i) {
            sendto(sender, data.data(), datagram, 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
    }
    const double elapsed = millisecondsSince(start);
    done = true;
    drain.join();
    close(sender);
    close(receiver);
    return elapsed / rounds;
}

// ---- The bridge's own figures ----

// The stage line the bridge traces when an acquisition stops, e.g. "Acquisition stopped: 120 frames, ...".
std::string lastStageLine(const std::string& tracePath, std::size_t& seen) {
    const std::vector<std::string> lines = fileLines(tracePath);
    std::string found;
    std::size_t count = 0;
    for (const std::string& line : lines) {
        if (line.rfind("Acquisition stopped: ", 0) == 0) {
            ++count;
            found = line.substr(21);
        }
    }
    if (count == seen) return {};
    seen = count;
    return found;
}

long residentKilobytes(pid_t pid) {
    for (const std::string& line : fileLines("/proc/" + std::to_string(pid) + "/status")) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
}

struct Run {
    std::string format;
    std::size_t packetSize = 0;
    double fps = 0;
    double megabytesPerSecond = 0;
    int failed = 0;
    double tcpMs = 0;
    double udpMs = 0;
    std::string stages;
};

std::size_t bytesPerPixel(const std::string& format) {
    if (format == "Mono8") return 1;
    if (format == "Mono16") return 2;
    if (format == "Coord3D_ABC32f") return 12;
    return 6;
}

class Bench {
public:
    Bench(ArvCamera* camera, std::string tracePath) : camera_(camera), tracePath_(std::move(tracePath)) {}

    bool configure(const std::string& format, std::size_t packetSize) {
        GError* error = nullptr;
        arv_camera_set_pixel_format_from_string(camera_, format.c_str(), &error);
        if (error == nullptr) {
            arv_camera_set_integer(camera_, "GevSCPSPacketSize", static_cast<gint64>(packetSize), &error);
        }
        if (error == nullptr) arv_camera_set_chunks(camera_, "Temperature", &error);
        if (error == nullptr) arv_camera_set_acquisition_mode(camera_, ARV_ACQUISITION_MODE_CONTINUOUS, &error);
        if (error != nullptr) std::printf("%s, %zu bytes: %s\n", format.c_str(), packetSize, error->message);
        const bool ok = error == nullptr;
        g_clear_error(&error);
        return ok;
    }

    // Streams for `seconds` after two frames of warm-up; counts complete and failed frames.
    Run stream(const std::string& format, std::size_t packetSize, double seconds) {
        Run run;
        run.format = format;
        run.packetSize = packetSize;
        ArvStream* stream = arv_camera_create_stream(camera_, nullptr, nullptr, nullptr);
        if (stream == nullptr) return run;
        const guint payload = arv_camera_get_payload(camera_, nullptr);
        for (int i = 0; i < 8; ++i) arv_stream_push_buffer(stream, arv_buffer_new(payload, nullptr));
        arv_camera_start_acquisition(camera_, nullptr);
        int complete = 0;
        Clock::time_point start{};
        for (int warmup = 0; warmup < 2;) {
            ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, 5000000);
            if (buffer == nullptr) break;
            warmup += 1;
            arv_stream_push_buffer(stream, buffer);
        }
        start = Clock::now();
        while (millisecondsSince(start) < 1000 * seconds) {
            ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, 5000000);
            if (buffer == nullptr) break;
            if (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS) {
                ++complete;
            } else {
                ++run.failed;
            }
            arv_stream_push_buffer(stream, buffer);
        }
        const double elapsed = millisecondsSince(start) / 1000;
        arv_camera_stop_acquisition(camera_, nullptr);
        g_object_unref(stream);
        run.fps = complete / elapsed;
        run.megabytesPerSecond = run.fps * static_cast<double>(kPixels * bytesPerPixel(format)) / 1e6;
        run.stages = stageLine();
        return run;
    }

    // Register reads and resident memory while Coord3D_ABC32f streams.
    void readsAndMemoryWhileStreaming(pid_t bridgePid, int memoryFrames) {
        if (!configure("Coord3D_ABC32f", 9000)) return;
        ArvStream* stream = arv_camera_create_stream(camera_, nullptr, nullptr, nullptr);
        if (stream == nullptr) return;
        const guint payload = arv_camera_get_payload(camera_, nullptr);
        for (int i = 0; i < 8; ++i) arv_stream_push_buffer(stream, arv_buffer_new(payload, nullptr));
        arv_camera_start_acquisition(camera_, nullptr);
        // The reading thread stands for a client whose control thread runs ahead of the streaming work around it:
        // at real-time priority where that is allowed, else with the short time slice the device's control thread
        // has. The emulator and the receiver's stream thread, which in a real installation run on other machines
        // or cores, share this machine's processors with it.
        // The packet timestamps are the kernel's, so the watching thread keeps the ordinary priority.
        GvcpWireTimer wire;
        const char* readerPriority = favourReader();
        std::vector<double> reads;
        int frames = 0;
        long firstKb = 0, lastKb = 0;
        const auto start = Clock::now();
        while (frames < 20 + memoryFrames && millisecondsSince(start) < 600000) {
            while (ArvBuffer* buffer = arv_stream_try_pop_buffer(stream)) {
                if (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS) ++frames;
                arv_stream_push_buffer(stream, buffer);
                if (frames == 20 && firstKb == 0) firstKb = residentKilobytes(bridgePid);
            }
            const auto before = Clock::now();
            GError* error = nullptr;
            arv_camera_get_float(camera_, "ExposureTime", &error);
            if (error == nullptr) reads.push_back(1000 * millisecondsSince(before));
            g_clear_error(&error);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        lastKb = residentKilobytes(bridgePid);
        arv_camera_stop_acquisition(camera_, nullptr);
        g_object_unref(stream);
        std::printf("\nWhile streaming Coord3D_ABC32f (9000-byte packets): %s\n", stageLine().c_str());
        printLatencies(std::string("register read (ExposureTime), reading thread at ") + readerPriority, reads);
        if (wire.error().empty()) {
            printLatencies("the device's answer on the wire (command sent to acknowledge sent)", wire.stop());
        } else {
            std::printf("the device's answer on the wire: not measured, %s\n", wire.error().c_str());
        }
        // What the acquisition loop holds: the camera image (1 byte per pixel) and two sets of points (24),
        // intensities (2) and the frame built from them (12), one fetched and built ahead; the device keeps the
        // last three frames for resends.
        const double loopBuffersMb = (1 + 2 * (26 + 12.0)) * kPixels / 1e6;
        const double resendMb = 3 * 12.0 * kPixels / 1e6;
        std::printf(
            "resident memory: %.1f MB after 20 frames, %.1f MB after %d frames; buffers needed %.1f MB (the "
            "acquisition loop's %.1f MB, resend copies %.1f MB)\n",
            firstKb / 1e3 * 1.024, lastKb / 1e3 * 1.024, frames, loopBuffersMb + resendMb, loopBuffersMb, resendMb);
    }

    // Triggered captures of `format`: each TriggerSoftware write waits for its block before the next, with a
    // pause between them so that every trigger finds the bridge idle, as a client firing on demand would.
    // The stage sums are those of the measured acquisition alone.
    void softwareTriggered(const std::string& format, int frames) {
        GError* error = nullptr;
        arv_camera_set_pixel_format_from_string(camera_, format.c_str(), &error);
        if (error == nullptr) arv_camera_set_integer(camera_, "GevSCPSPacketSize", 9000, &error);
        if (error == nullptr) arv_camera_set_acquisition_mode(camera_, ARV_ACQUISITION_MODE_CONTINUOUS, &error);
        if (error == nullptr) arv_camera_set_string(camera_, "TriggerSelector", "FrameStart", &error);
        if (error == nullptr) arv_camera_set_string(camera_, "TriggerMode", "On", &error);
        if (error == nullptr) arv_camera_set_string(camera_, "TriggerSource", "Software", &error);
        if (error != nullptr) {
            std::printf("%s, software trigger: %s\n", format.c_str(), error->message);
            g_clear_error(&error);
            return;
        }
        ArvStream* stream = arv_camera_create_stream(camera_, nullptr, nullptr, nullptr);
        if (stream == nullptr) return;
        const guint payload = arv_camera_get_payload(camera_, nullptr);
        for (int i = 0; i < 4; ++i) arv_stream_push_buffer(stream, arv_buffer_new(payload, nullptr));
        std::vector<double> latencies;
        int failed = 0;
        // One acquisition of warm-up triggers first, which leaves its own stage line: the first frames of a
        // run pay for memory touched for the first time, by the client's buffers as well, up to several
        // hundred ms, which a cell waiting on its triggers would not see again.
        GvcpWireTimer wire;
        for (const int count : {6, frames}) {
            const bool measured = count == frames;
            wire.clearWritesToTrailers();
            arv_camera_start_acquisition(camera_, nullptr);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            for (int frame = 0; frame < count; ++frame) {
                const auto start = Clock::now();
                arv_camera_software_trigger(camera_, nullptr);
                ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, 5000000);
                if (buffer == nullptr) break;
                const double ms = millisecondsSince(start);
                if (measured && arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS) {
                    latencies.push_back(ms);
                } else if (measured) {
                    ++failed;
                }
                arv_stream_push_buffer(stream, buffer);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            arv_camera_stop_acquisition(camera_, nullptr);
            if (!measured) stageLine();
        }
        g_object_unref(stream);
        arv_camera_set_string(camera_, "TriggerMode", "Off", nullptr);
        const std::string stages = stageLine();
        // The stages the trigger's way to the client passes through, summed from the bridge's own means.
        double sum = 0;
        for (const char* stage : {"trigger", "fetch", "conversion", "send"}) {
            const std::string key = std::string(", ") + stage + " ";
            const auto at = stages.find(key);
            if (at != std::string::npos) sum += std::atof(stages.c_str() + at + key.size());
        }
        if (latencies.empty()) return (void)std::printf("%s: no triggered block arrived\n", format.c_str());
        // The stages are means, so the client's mean is what they are set against.
        const Summary client = summarise(latencies);
        std::printf("%-15s %6zu %6d %8.2f %8.2f %8.2f %8.2f %8.2f %6.2f  %s\n", format.c_str(), latencies.size(),
                    failed, client.min, client.median, client.mean, client.p99, sum, sum > 0 ? client.mean / sum : 0.0,
                    stages.c_str());
        const std::vector<double> onWire = wire.writesToTrailers();
        if (!wire.error().empty() || onWire.empty()) {
            std::printf("%-15s on the wire: not measured, %s\n", "", wire.error().c_str());
        } else {
            const Summary device = summarise(onWire);
            std::printf("%-15s %6zu %6s %8.2f %8.2f %8.2f %8.2f %8.2f %6.2f  (on the wire: write to trailer)\n", "",
                        onWire.size(), "", device.min, device.median, device.mean, device.p99, sum,
                        sum > 0 ? device.mean / sum : 0.0);
        }
        std::fflush(stdout);
    }

    // Continuous Coord3D_ABC32f with ExposureEnd and FrameEnd on, the events acknowledged by a listener on the
    // client's address. From the wire: the event's own timestamp (the moment the program had the sensor's
    // answer to its trigger) to the EVENT packet, and that packet to the block's trailer.
    void events(double seconds) {
        if (!configure("Coord3D_ABC32f", 9000)) return;
        GError* error = nullptr;
        arv_camera_set_chunks(camera_, "", &error);
        g_clear_error(&error);
        ArvDevice* device = arv_camera_get_device(camera_);
        GInetSocketAddress* local = G_INET_SOCKET_ADDRESS(arv_gv_device_get_interface_address(ARV_GV_DEVICE(device)));
        guint8 bytes[4] = {};
        std::memcpy(bytes, g_inet_address_to_bytes(g_inet_socket_address_get_address(local)), 4);
        const std::uint32_t address = std::uint32_t{bytes[0]} << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
        EventListener listener([](const std::string&) {});
        std::string why;
        if (!listener.open(address, why)) return (void)std::printf("events: no listener: %s\n", why.c_str());
        listener.start();
        arv_device_write_register(device, 0x0B10, address, &error);
        if (error == nullptr) arv_device_write_register(device, 0x0B00, listener.port(), &error);
        for (const char* event : {"ExposureEnd", "FrameEnd"}) {
            if (error == nullptr) arv_camera_set_string(camera_, "EventSelector", event, &error);
            if (error == nullptr) arv_camera_set_string(camera_, "EventNotification", "On", &error);
        }
        if (error != nullptr) {
            std::printf("events: %s\n", error->message);
            g_clear_error(&error);
            return;
        }
        GvcpWireTimer wire;
        const Run run = stream("Coord3D_ABC32f", 9000, seconds);
        listener.drain(200, 2000);
        arv_device_write_register(device, 0x0B00, 0, nullptr);
        if (!wire.error().empty()) return (void)std::printf("events: not measured, %s\n", wire.error().c_str());
        std::map<std::uint64_t, double> exposureEnds;  // block id: the first EVENT packet's second
        std::vector<double> toEvent, toTrailer;
        for (const GvcpWireTimer::EventSeen& event : wire.events()) {
            if (event.eventId != kExposureEndEvent || exposureEnds.count(event.blockId) != 0) continue;
            exposureEnds[event.blockId] = event.second;
            toEvent.push_back(event.second * 1e3 - static_cast<double>(event.timestamp) / 1e6);
        }
        for (const GvcpWireTimer::TrailerSeen& trailer : wire.trailers()) {
            const auto event = exposureEnds.find(trailer.blockId);
            if (event != exposureEnds.end()) toTrailer.push_back((trailer.second - event->second) * 1e3);
        }
        std::printf("Events with Coord3D_ABC32f 1280 x 1024, 9000-byte packets: %.1f frames/s, %d failed; %s\n",
                    run.fps, run.failed, run.stages.c_str());
        if (toEvent.empty() || toTrailer.empty()) return (void)std::printf("events: none seen on the wire\n");
        const Summary event = summarise(toEvent);
        const Summary trailer = summarise(toTrailer);
        std::printf("%-44s %6s %8s %8s %8s %8s\n", "ms", "count", "min", "median", "mean", "p99");
        std::printf("%-44s %6zu %8.3f %8.3f %8.3f %8.3f\n", "trigger answered to ExposureEnd on the wire",
                    toEvent.size(), event.min, event.median, event.mean, event.p99);
        std::printf("%-44s %6zu %8.3f %8.3f %8.3f %8.3f\n", "ExposureEnd to the block's last packet", toTrailer.size(),
                    trailer.min, trailer.median, trailer.mean, trailer.p99);
    }

private:
    static constexpr std::uint16_t kExposureEndEvent = 0x9002;

    struct Summary {
        double min = 0, median = 0, mean = 0, p99 = 0;
    };

    static Summary summarise(std::vector<double> values) {
        std::sort(values.begin(), values.end());
        const auto share = [&](double part) {
            return values[static_cast<std::size_t>(part * static_cast<double>(values.size() - 1) + 0.5)];
        };
        Summary summary{values.front(), share(0.5), 0, share(0.99)};
        for (const double value : values) summary.mean += value / static_cast<double>(values.size());
        return summary;
    }

    // The bridge traces its stage line once it has stopped the acquisition; wait for it a little.
    std::string stageLine() {
        for (int attempt = 0; attempt < 50; ++attempt) {
            std::string line = lastStageLine(tracePath_, stageLinesSeen_);
            if (!line.empty()) return line;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return "(no stage times traced)";
    }

    ArvCamera* camera_;
    std::string tracePath_;
    std::size_t stageLinesSeen_ = 0;
};

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--reads-only") {
            options.readsOnly = true;
            continue;
        }
        if (name == "--software-trigger") {
            options.softwareTrigger = true;
            continue;
        }
        if (name == "--events") {
            options.events = true;
            continue;
        }
        if (i + 1 == argc) break;
        ++i;
        if (name == "--seconds") options.seconds = std::atof(argv[i]);
        if (name == "--memory-frames") options.memoryFrames = std::atoi(argv[i]);
        if (name == "--data") options.dataPath = argv[i];
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    EmulatorProcess emulator({"--address", kSensorAddress, "--width", std::to_string(kWidth), "--height",
                              std::to_string(kHeight), "--trigger-delay-ms", "0"});
    if (!emulator.waitReady()) return std::printf("the sensor emulator did not start\n"), 0;
    const std::string tracePath = "/tmp/end-to-end-bench-" + std::to_string(getpid()) + ".trace";
    std::remove(tracePath.c_str());
    BridgeProcess bridge({"-i", kSensorAddress, "-s", kDeviceAddress, "-f", tracePath});
    if (!bridge.waitForError("GigeServer is online\n", 60000)) return std::printf("the bridge did not start\n"), 0;
    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new(kDeviceAddress, &error);
    if (camera == nullptr) return std::printf("no device: %s\n", error != nullptr ? error->message : "?"), 0;

    Bench bench(camera, tracePath);
    if (options.events) {
        bench.events(options.seconds);
        g_object_unref(camera);
        std::remove(tracePath.c_str());
        return 0;
    }
    if (options.softwareTrigger) {
        std::printf("TriggerSoftware write to complete block at the client, ms (9000-byte packets, no chunk):\n");
        std::printf("%-15s %6s %6s %8s %8s %8s %8s %8s %6s  %s\n", "format", "frames", "failed", "min", "median",
                    "mean", "p99", "stages", "ratio", "bridge: frames, fps; mean ms per frame of each stage");
        for (const char* format : {"Coord3D_ABC32f", "Coord3D_ABC16"}) bench.softwareTriggered(format, 40);
        g_object_unref(camera);
        std::remove(tracePath.c_str());
        return 0;
    }
    std::vector<Run> runs;
    std::printf("%-15s %6s %7s %8s %6s %8s %8s  %s\n", "format", "packet", "fps", "MB/s", "failed", "TCP ms", "UDP ms",
                "bridge: frames, fps; mean ms per frame of each stage");
    const std::vector<std::string> formats = {"Mono8", "Mono16", "RGB16", "Coord3D_ABC16", "Coord3D_ABC32f"};
    for (const std::string& format : options.readsOnly ? std::vector<std::string>{} : formats) {
        for (const std::size_t packetSize : {std::size_t{1500}, std::size_t{9000}}) {
            if (!bench.configure(format, packetSize)) continue;
            Run run = bench.stream(format, packetSize, options.seconds);
            // One fetch moves a camera image for Mono8, a point cloud with its intensities (26 bytes per pixel)
            // for every other format.
            run.tcpMs = tcpTransferMs(format == "Mono8" ? kPixels : 26 * kPixels, 5);
            run.udpMs = udpSendMs(kPixels * bytesPerPixel(format), packetSize, 5);
            std::printf("%-15s %6zu %7.2f %8.1f %6d %8.2f %8.2f  %s\n", format.c_str(), packetSize, run.fps,
                        run.megabytesPerSecond, run.failed, run.tcpMs, run.udpMs, run.stages.c_str());
            std::fflush(stdout);
            runs.push_back(run);
        }
    }
    if (!options.dataPath.empty()) {
        std::ofstream data(options.dataPath);
        data << "# format packet fps MB/s failed tcp_ms udp_ms limit_fps\n";
        for (const Run& run : runs) {
            const double slower = std::max(run.tcpMs, run.udpMs);
            data << run.format << ' ' << run.packetSize << ' ' << run.fps << ' ' << run.megabytesPerSecond << ' '
                 << run.failed << ' ' << run.tcpMs << ' ' << run.udpMs << ' ' << (slower > 0 ? 1000 / slower : 0)
                 << '\n';
        }
    }
    bench.readsAndMemoryWhileStreaming(bridge.pid(), options.memoryFrames);
    g_object_unref(camera);
    std::remove(tracePath.c_str());
    return 0;
}
