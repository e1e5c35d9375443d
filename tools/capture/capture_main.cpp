// corvastrum-capture: grabs frames from a GigE Vision device and saves them as PLY point clouds and PNGs, and shows
// the device's events beside its frames.
#include <arv.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "event_listener.h"
#include "frame_files.h"

namespace {

struct Options {
    std::string address;
    std::string format;
    int count = 10;
    bool chunks = false;
    bool multipart = false;
    std::string output;
    std::string mode = "continuous";
    bool softwareTrigger = false;
    bool events = false;
    double timeoutSeconds = 5.0;
    int packetSize = 0;              // 0: the largest the path to the device carries, found by test packets
    long long throughputLimit = -1;  // bytes per second; -1: the device's own setting
};

// A GLib object reference released at scope end.
template <typename T>
using GPtr = std::unique_ptr<T, void (*)(gpointer)>;

int fail(const std::string& message) {
    std::fprintf(stderr, "corvastrum-capture: %s\n", message.c_str());
    return 1;
}

// Takes the message out of a GLib error; true when there was one.
bool takeError(GError*& error, std::string& message) {
    if (error == nullptr) return false;
    message = error->message;
    g_clear_error(&error);
    return true;
}

// Bootstrap registers of the message channel.
enum : guint64 {
    RegMessageChannelCount = 0x0900,
    RegMessageChannelPort = 0x0B00,
    RegMessageChannelAddress = 0x0B10,
};

// Frame and event lines on standard output, each whole and in the order they came, from the main thread and the
// event listener's.
class LineOutput {
public:
    void print(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::fputs(line.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

private:
    std::mutex mutex_;
};

// The device's message channel, pointed at a listener on the address this host reaches the device from. It is
// closed again before the device is released, so the device sends nothing to a port nobody answers on.
class MessageChannel {
public:
    MessageChannel(ArvCamera* camera, LineOutput& output)
        : camera_(camera), listener_([&output](const std::string& line) { output.print(line); }) {}
    ~MessageChannel() { close(); }
    MessageChannel(const MessageChannel&) = delete;
    MessageChannel& operator=(const MessageChannel&) = delete;

    // Opens the channel and switches on every event the device offers; false with the reason when the device has
    // no events or no channel.
    bool open(std::string& reason) {
        ArvDevice* device = arv_camera_get_device(camera_);
        if (!ARV_IS_GV_DEVICE(device)) {
            reason = "events come only from a GigE Vision device";
            return false;
        }
        GError* error = nullptr;
        std::string message;
        std::vector<std::string> names;
        if (arv_camera_is_feature_available(camera_, "EventSelector", &error)) {
            guint count = 0;
            const char** entries =
                arv_camera_dup_available_enumerations_as_strings(camera_, "EventSelector", &count, &error);
            for (guint i = 0; entries != nullptr && i < count; ++i) names.emplace_back(entries[i]);
            g_free(entries);
        }
        g_clear_error(&error);
        if (names.empty()) {
            reason = "the device offers no events (no EventSelector)";
            return false;
        }
        guint32 channels = 0;
        arv_device_read_register(device, RegMessageChannelCount, &channels, &error);
        if (takeError(error, message) || channels == 0) {
            reason = "the device has no message channel" + (message.empty() ? "" : ": " + message);
            return false;
        }
        guint32 local = 0;
        if (!localAddress(device, local)) {
            reason = "the address this host reaches the device from is not IPv4";
            return false;
        }
        if (!listener_.open(local, message)) {
            reason = "opening the event socket failed: " + message;
            return false;
        }
        listener_.start();
        // The address first: a port other than 0 opens the channel.
        arv_device_write_register(device, RegMessageChannelAddress, local, &error);
        if (error == nullptr) arv_device_write_register(device, RegMessageChannelPort, listener_.port(), &error);
        if (takeError(error, message)) {
            reason = "opening the message channel failed: " + message;
            arv_device_write_register(device, RegMessageChannelPort, 0, nullptr);
            return false;
        }
        open_ = true;
        std::string switchedOn;
        for (const std::string& name : names) {
            arv_camera_set_string(camera_, "EventSelector", name.c_str(), &error);
            if (error == nullptr) arv_camera_set_string(camera_, "EventNotification", "On", &error);
            if (takeError(error, message)) {
                std::fprintf(stderr, "corvastrum-capture: EventNotification On for %s failed: %s\n", name.c_str(),
                             message.c_str());
            } else {
                switchedOn += (switchedOn.empty() ? "" : ", ") + name;
            }
        }
        std::fprintf(stderr, "corvastrum-capture: events to %u.%u.%u.%u:%u: %s\n", local >> 24, (local >> 16) & 0xFF,
                     (local >> 8) & 0xFF, local & 0xFF, listener_.port(),
                     switchedOn.empty() ? "none switched on" : switchedOn.c_str());
        return true;
    }

    // Waits for the last events (those of the acquisition's end), then closes the channel.
    void close() {
        if (!open_) return;
        open_ = false;
        listener_.drain(kLastEventsQuietMs, kLastEventsMostMs);
        arv_device_write_register(arv_camera_get_device(camera_), RegMessageChannelPort, 0, nullptr);
    }

private:
    static constexpr int kLastEventsQuietMs = 200;
    static constexpr int kLastEventsMostMs = 2000;

    // The host's address on the interface Aravis reaches the device through, in host order.
    static bool localAddress(ArvDevice* device, guint32& address) {
        GSocketAddress* socketAddress = arv_gv_device_get_interface_address(ARV_GV_DEVICE(device));
        if (socketAddress == nullptr || !G_IS_INET_SOCKET_ADDRESS(socketAddress)) return false;
        GInetAddress* inet = g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(socketAddress));
        if (g_inet_address_get_family(inet) != G_SOCKET_FAMILY_IPV4) return false;
        const guint8* bytes = g_inet_address_to_bytes(inet);
        address = guint32{bytes[0]} << 24 | guint32{bytes[1]} << 16 | guint32{bytes[2]} << 8 | bytes[3];
        return true;
    }

    ArvCamera* camera_;
    EventListener listener_;
    bool open_ = false;
};

bool isPointFormat(const std::string& format) { return format == "Coord3D_ABC16" || format == "Coord3D_ABC32f"; }

AxisScaling readScaling(ArvCamera* camera) {
    AxisScaling scaling;
    const char* axes[3] = {"CoordinateA", "CoordinateB", "CoordinateC"};
    for (int axis = 0; axis < 3; ++axis) {
        GError* error = nullptr;
        arv_camera_set_string(camera, "Scan3dCoordinateSelector", axes[axis], &error);
        if (error == nullptr) scaling.scale[axis] = arv_camera_get_float(camera, "Scan3dCoordinateScale", &error);
        if (error == nullptr) scaling.offset[axis] = arv_camera_get_float(camera, "Scan3dCoordinateOffset", &error);
        if (error != nullptr) {  // a device without 3D scaling features delivers millimetres as they are
            g_clear_error(&error);
            scaling.scale[axis] = 1.0;
            scaling.offset[axis] = 0.0;
        }
    }
    return scaling;
}

// Range, Intensity and Confidence of one multipart block, found by what each part says it is.
bool saveMultipartBlock(ArvBuffer* buffer, const AxisScaling& scaling, const std::string& stem, std::string& error) {
    RangeParts parts;
    int width = 0;
    int height = 0;
    std::size_t rangeSize = 0;
    std::size_t pixels = 0;
    const guint count = arv_buffer_get_n_parts(buffer);
    for (guint part = 0; part < count; ++part) {
        size_t size = 0;
        const auto* data = static_cast<const std::uint8_t*>(arv_buffer_get_part_data(buffer, part, &size));
        const ArvBufferPartDataType type = arv_buffer_get_part_data_type(buffer, part);
        // Only image parts have a size; the chunk part at the end has none, and Aravis complains when asked.
        if (type != ARV_BUFFER_PART_DATA_TYPE_3D_IMAGE && type != ARV_BUFFER_PART_DATA_TYPE_2D_IMAGE &&
            type != ARV_BUFFER_PART_DATA_TYPE_CONFIDENCE_MAP)
            continue;
        const ArvPixelFormat format = arv_buffer_get_part_pixel_format(buffer, part);
        const std::size_t partPixels = static_cast<std::size_t>(arv_buffer_get_part_width(buffer, part)) *
                                       static_cast<std::size_t>(arv_buffer_get_part_height(buffer, part));
        switch (type) {
            case ARV_BUFFER_PART_DATA_TYPE_3D_IMAGE:
                parts.range = data;
                parts.floats = format == ARV_PIXEL_FORMAT_COORD3D_ABC_32F;
                width = arv_buffer_get_part_width(buffer, part);
                height = arv_buffer_get_part_height(buffer, part);
                pixels = partPixels;
                rangeSize = size;
                break;
            case ARV_BUFFER_PART_DATA_TYPE_2D_IMAGE:
                if (format == ARV_PIXEL_FORMAT_MONO_16 && size >= 2 * partPixels) parts.intensity = data;
                break;
            case ARV_BUFFER_PART_DATA_TYPE_CONFIDENCE_MAP:
                if (size >= partPixels) parts.confidence = data;
                break;
            default: break;
        }
    }
    if (parts.range == nullptr) {
        error = "multipart block without a Range part";
        return false;
    }
    if (rangeSize < pixels * (parts.floats ? 12 : 6)) {
        error = "Range part shorter than its image size";
        return false;
    }
    std::vector<float> depth;
    std::vector<std::uint16_t> intensities;
    const std::vector<Point3> points = maskedPointsInMillimetres(parts, pixels, scaling, &intensities, &depth);
    return writePly(stem + ".ply", points, error, parts.intensity != nullptr ? &intensities : nullptr) &&
           writeDepthPng(stem + "-depth.png", depth, width, height, error);
}

bool saveFrame(ArvBuffer* buffer, const std::string& format, const AxisScaling& scaling, const std::string& stem,
               std::string& error) {
    if (arv_buffer_get_payload_type(buffer) == ARV_BUFFER_PAYLOAD_TYPE_MULTIPART) {
        return saveMultipartBlock(buffer, scaling, stem, error);
    }
    size_t size = 0;
    const auto* data = static_cast<const std::uint8_t*>(arv_buffer_get_image_data(buffer, &size));
    const int width = arv_buffer_get_image_width(buffer);
    const int height = arv_buffer_get_image_height(buffer);
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (isPointFormat(format)) {
        const bool floats = format == "Coord3D_ABC32f";
        if (size < pixels * (floats ? 12 : 6)) {
            error = "frame shorter than its image size";
            return false;
        }
        std::vector<float> depth;
        const std::vector<Point3> points = pointsInMillimetres(data, pixels, floats, scaling, &depth);
        return writePly(stem + ".ply", points, error) &&
               writeDepthPng(stem + "-depth.png", depth, width, height, error);
    }
    const int bitDepth = format == "Mono8" ? 8 : 16;
    const int channels = format == "RGB16" ? 3 : 1;
    if (size < pixels * channels * (bitDepth / 8)) {
        error = "frame shorter than its image size";
        return false;
    }
    return writeImagePng(stem + ".png", data, width, height, bitDepth, channels, error);
}

// The trigger-to-frame latencies of a software-triggered run on standard output, one line.
void printLatencies(std::vector<double> latenciesMs) {
    if (latenciesMs.empty()) return;
    std::sort(latenciesMs.begin(), latenciesMs.end());
    const auto at = [&](double share) {
        return latenciesMs[static_cast<std::size_t>(share * static_cast<double>(latenciesMs.size() - 1) + 0.5)];
    };
    std::printf("trigger to frame complete, ms: frames %zu  min %.2f  median %.2f  p99 %.2f  max %.2f\n",
                latenciesMs.size(), latenciesMs.front(), at(0.5), at(0.99), latenciesMs.back());
}

// The stream's packet size: `requested`, or with 0 the largest one the device's test packets reach this host
// with. 0 with the reason when neither works.
int choosePacketSize(ArvCamera* camera, int requested, std::string& reason) {
    GError* error = nullptr;
    std::string message;
    if (!arv_camera_is_gv_device(camera)) return 1;  // not a GigE Vision device: nothing to choose
    if (requested > 0) {
        arv_camera_gv_set_packet_size(camera, requested, &error);
    } else {
        arv_camera_gv_auto_packet_size(camera, &error);
    }
    if (takeError(error, message)) {
        reason = "setting the packet size failed: " + message;
        return 0;
    }
    const guint size = arv_camera_gv_get_packet_size(camera, &error);
    if (takeError(error, message) || size == 0) {
        reason = "reading the packet size failed: " + message;
        return 0;
    }
    return static_cast<int>(size);
}

// Loss recovery that keeps up with a device streaming at full rate. Aravis stops asking for a frame's packets
// once it has asked for a quarter of them, counting every repeated request: at full rate its requests come late,
// are repeated before the answers arrive, and a large multipart block reaches that limit at 1 % loss. Asking
// for every packet as often as needed, and waiting half a second for a frame's last packets, keeps each frame.
void recoverLosses(ArvGvStream* stream) {
    g_object_set(stream, "packet-resend", ARV_GV_STREAM_PACKET_RESEND_ALWAYS, "packet-request-ratio", 1.0,
                 "frame-retention", 500000u, nullptr);
}

// The receiver's figures of the whole run, one line on standard error: "unavailable" counts the device's answers
// that it no longer holds a packet asked for.
void printStreamFigures(ArvStream* stream) {
    const auto figure = [stream](const char* name) {
        return static_cast<unsigned long long>(arv_stream_get_info_uint64_by_name(stream, name));
    };
    std::fprintf(stderr,
                 "stream: frames complete %llu  failed %llu  resend requests %llu  packets resent %llu  "
                 "unavailable %llu\n",
                 figure("n_completed_buffers"), figure("n_failures"), figure("n_resend_requests"),
                 figure("n_resent_packets"), figure("n_error_packets"));
}

int capture(const Options& options) {
    GError* error = nullptr;
    std::string message;
    GPtr<ArvCamera> camera(arv_camera_new(options.address.c_str(), &error), g_object_unref);
    if (takeError(error, message) || !camera) {
        return fail("no GigE Vision device at " + options.address + (message.empty() ? "" : ": " + message));
    }
    // Opened as soon as the device is under control (Aravis takes it on opening), so that the events of every
    // later step are seen.
    LineOutput output;
    std::unique_ptr<MessageChannel> events;
    if (options.events) {
        events = std::make_unique<MessageChannel>(camera.get(), output);
        std::string reason;
        if (!events->open(reason)) {
            std::fprintf(stderr, "corvastrum-capture: no events: %s; capturing frames without them\n", reason.c_str());
            events.reset();
        }
    }
    if (!options.format.empty()) {
        guint count = 0;
        const char** formats = arv_camera_dup_available_pixel_formats_as_strings(camera.get(), &count, &error);
        bool offered = false;
        std::string list;
        for (guint i = 0; formats != nullptr && i < count; ++i) {
            offered = offered || options.format == formats[i];
            list += std::string(list.empty() ? "" : ", ") + formats[i];
        }
        g_free(formats);
        g_clear_error(&error);
        if (!offered) return fail("the device does not offer " + options.format + " (it offers: " + list + ")");
        arv_camera_set_pixel_format_from_string(camera.get(), options.format.c_str(), &error);
        if (takeError(error, message)) return fail("setting the pixel format failed: " + message);
    }
    const char* current = arv_camera_get_pixel_format_as_string(camera.get(), &error);
    if (takeError(error, message) || current == nullptr) return fail("reading the pixel format failed: " + message);
    const std::string format = current;
    if (options.chunks) {
        arv_camera_set_chunks(camera.get(), "Temperature", &error);
        if (takeError(error, message)) return fail("enabling the temperature chunk failed: " + message);
    }
    if (options.multipart) {
        // Every component of one trigger in one block: the device's mode, and the stream channel's multipart bit.
        arv_camera_set_string(camera.get(), "AcquisitionMultiPartMode", "SynchronizedComponents", &error);
        if (error == nullptr)
            arv_camera_select_component(camera.get(), "Range", ARV_COMPONENT_SELECTION_FLAGS_ENABLE_ALL, nullptr,
                                        &error);
        if (error == nullptr) arv_camera_gv_set_multipart(camera.get(), TRUE, &error);
        // A multipart leader tells its part count only in the 64-bit block id header, which Aravis reads but
        // never asks for: the GVSP configuration register's extended-id bit.
        if (error == nullptr)
            arv_device_write_register(arv_camera_get_device(camera.get()), 0x0960, 0x40000000, &error);
        if (takeError(error, message)) return fail("switching to multipart failed: " + message);
    }
    const bool single = options.mode == "single";
    arv_camera_set_acquisition_mode(
        camera.get(), single ? ARV_ACQUISITION_MODE_SINGLE_FRAME : ARV_ACQUISITION_MODE_CONTINUOUS, &error);
    if (takeError(error, message)) return fail("setting the acquisition mode failed: " + message);
    if (options.softwareTrigger) {
        arv_camera_set_string(camera.get(), "TriggerSelector", "FrameStart", &error);
        if (error == nullptr) arv_camera_set_string(camera.get(), "TriggerMode", "On", &error);
        if (error == nullptr) arv_camera_set_string(camera.get(), "TriggerSource", "Software", &error);
        if (takeError(error, message)) return fail("switching to the software trigger failed: " + message);
    }
    const AxisScaling scaling = readScaling(camera.get());
    GPtr<ArvChunkParser> parser(arv_camera_create_chunk_parser(camera.get()), g_object_unref);

    const guint payload = arv_camera_get_payload(camera.get(), &error);
    if (takeError(error, message)) return fail("reading PayloadSize failed: " + message);
    // Set before the stream opens, which reads it once.
    const int packetSize = choosePacketSize(camera.get(), options.packetSize, message);
    if (packetSize <= 0) return fail(message);
    if (options.throughputLimit >= 0) {
        const bool on = options.throughputLimit > 0;
        arv_camera_set_string(camera.get(), "DeviceLinkThroughputLimitMode", on ? "On" : "Off", &error);
        if (on && error == nullptr)
            arv_camera_set_integer(camera.get(), "DeviceLinkThroughputLimit", options.throughputLimit, &error);
        if (takeError(error, message)) return fail("setting the throughput limit failed: " + message);
    }
    GPtr<ArvStream> stream(arv_camera_create_stream(camera.get(), nullptr, nullptr, &error), g_object_unref);
    if (takeError(error, message) || !stream) return fail("opening the stream failed: " + message);
    if (ARV_IS_GV_STREAM(stream.get())) recoverLosses(ARV_GV_STREAM(stream.get()));
    constexpr int kQueuedBuffers = 16;
    for (int i = 0; i < kQueuedBuffers; ++i) arv_stream_push_buffer(stream.get(), arv_buffer_new(payload, nullptr));

    if (!options.output.empty()) std::filesystem::create_directories(options.output);
    std::ofstream chunkLog;
    if (!options.output.empty() && options.chunks) chunkLog.open(options.output + "/temperature.csv");
    if (chunkLog.is_open()) chunkLog << "frame,temperature\n";

    const auto started = std::chrono::steady_clock::now();
    std::vector<double> latenciesMs;
    std::uint64_t bytes = 0;
    std::string progress;
    int received = 0;
    int untouched = 0;
    int result = 0;
    if (!single) arv_camera_start_acquisition(camera.get(), &error);
    for (int frame = 1; frame <= options.count && error == nullptr; ++frame) {
        if (single) arv_camera_execute_command(camera.get(), "AcquisitionStart", &error);
        if (error != nullptr) break;
        // The latency runs from just before the trigger leaves to the moment the client has the whole frame.
        const auto triggered = std::chrono::steady_clock::now();
        if (options.softwareTrigger) arv_camera_execute_command(camera.get(), "TriggerSoftware", &error);
        if (error != nullptr) break;
        ArvBuffer* buffer =
            arv_stream_timeout_pop_buffer(stream.get(), static_cast<guint64>(options.timeoutSeconds * 1e6));
        const double latencyMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - triggered).count();
        if (buffer == nullptr) {
            result = fail("time-out: no frame within " + std::to_string(options.timeoutSeconds) + " s");
            break;
        }
        // The packet-socket receiver now and then hands back a buffer no block ever touched: not a frame the
        // device sent, so it is not counted, up to as many as were queued. (Only while running free: a start or
        // trigger per frame would be sent again.)
        const bool freeRunning = !single && !options.softwareTrigger;
        if (freeRunning && arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_CLEARED && untouched < kQueuedBuffers) {
            ++untouched;
            --frame;
            arv_stream_push_buffer(stream.get(), buffer);
            continue;
        }
        if (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS) {
            ++received;
            if (options.softwareTrigger) latenciesMs.push_back(latencyMs);
            size_t size = 0;
            arv_buffer_get_data(buffer, &size);
            bytes += size;
            std::string temperature;
            if (options.chunks && arv_buffer_has_chunks(buffer)) {
                const gint64 value =
                    arv_chunk_parser_get_integer_value(parser.get(), buffer, "ChunkTemperature", &error);
                if (!takeError(error, message)) temperature = std::to_string(value);
            }
            if (chunkLog.is_open()) chunkLog << frame << ',' << temperature << '\n';
            char stem[32];
            std::snprintf(stem, sizeof stem, "/frame-%06d", frame);
            std::string writeError;
            if (!options.output.empty() && !saveFrame(buffer, format, scaling, options.output + stem, writeError)) {
                arv_stream_push_buffer(stream.get(), buffer);
                result = fail(writeError);
                break;
            }
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            guint64 resent = 0;
            guint64 missing = 0;
            if (ARV_IS_GV_STREAM(stream.get()))
                arv_gv_stream_get_statistics(ARV_GV_STREAM(stream.get()), &resent, &missing);
            std::string latency;
            if (options.softwareTrigger) latency = "  trigger to frame " + std::to_string(latencyMs) + " ms";
            const std::string extras = (temperature.empty() ? "" : "  temperature " + temperature) + latency;
            char line[256];
            std::snprintf(line, sizeof line,
                          "frames %d  parts %u  %.1f fps  %.1f MB/s  packet size %d  missing packets %llu  resent %llu",
                          received, arv_buffer_get_n_parts(buffer), received / seconds,
                          static_cast<double>(bytes) / 1e6 / seconds, packetSize,
                          static_cast<unsigned long long>(missing), static_cast<unsigned long long>(resent));
            progress = line + extras;
            if (options.events) {
                // One line per frame, among the event lines: the block id and leader timestamp tie it to its events.
                output.print("frame " + std::to_string(frame) + " block " +
                             std::to_string(arv_buffer_get_frame_id(buffer)) + " timestamp " +
                             std::to_string(arv_buffer_get_timestamp(buffer)) + extras);
            } else {
                std::fprintf(stderr, "\r%s", progress.c_str());
            }
        } else {
            std::fprintf(stderr, "%sframe %d incomplete (buffer status %d)\n", options.events ? "" : "\n", frame,
                         arv_buffer_get_status(buffer));
            result = 1;
        }
        arv_stream_push_buffer(stream.get(), buffer);
    }
    // With events the frames have lines of their own; the figures of the whole run follow them once.
    if (!options.events) {
        std::fprintf(stderr, "\n");
    } else if (!progress.empty()) {
        std::fprintf(stderr, "%s\n", progress.c_str());
    }
    if (takeError(error, message)) result = fail("acquisition failed: " + message);
    if (ARV_IS_GV_STREAM(stream.get())) printStreamFigures(stream.get());
    if (!single) {
        arv_camera_stop_acquisition(camera.get(), &error);
        g_clear_error(&error);
    }
    if (events) events->close();
    if (options.softwareTrigger) {
        printLatencies(latenciesMs);
        // The device is left free-running, as the next client expects to find it.
        arv_camera_set_string(camera.get(), "TriggerMode", "Off", &error);
        g_clear_error(&error);
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app{
        "Grabs frames from a GigE Vision device and saves them: 3D formats as binary PLY point clouds in "
        "millimetres plus a colour-mapped depth PNG, Mono8/Mono16/RGB16 as PNG."};
    app.add_option("--address", options.address, "IPv4 address of the device")->required();
    app.add_option("--format", options.format,
                   "pixel format to select: Mono8, Mono16, RGB16, Coord3D_ABC16, Coord3D_ABC32f (default: keep)");
    app.add_option("--count", options.count, "number of frames to grab")->check(CLI::PositiveNumber);
    app.add_flag("--chunks", options.chunks, "enable the temperature chunk and record it per frame");
    app.add_flag("--multipart", options.multipart,
                 "receive Range, Intensity and Confidence of each trigger in one multipart block; the PLY then "
                 "carries each point's intensity and only the points the Confidence marks as measured");
    app.add_option("--output", options.output, "folder for the files (default: save nothing)");
    app.add_option("--mode", options.mode, "continuous or single (one AcquisitionStart per frame)")
        ->check(CLI::IsMember({"continuous", "single"}));
    app.add_flag("--software-trigger", options.softwareTrigger,
                 "set TriggerMode On with TriggerSource Software, fire one TriggerSoftware per frame and print "
                 "the time from each trigger to the complete frame; TriggerMode is Off again at the end");
    app.add_flag("--events", options.events,
                 "receive the device's events on its message channel and print one line per event "
                 "(\"event ExposureEnd block 7 timestamp T\") and per frame (\"frame 1 block 7 timestamp T\", the "
                 "leader's) on standard output; the channel is closed again at the end");
    app.add_option("--timeout", options.timeoutSeconds, "seconds to wait for each frame")->check(CLI::PositiveNumber);
    app.add_option("--packet-size", options.packetSize,
                   "stream packet size in bytes (IP and UDP headers included); default: the largest the path to "
                   "the device carries, found with the device's test packets")
        ->check(CLI::Range(576, 65500));
    app.add_option("--throughput-limit", options.throughputLimit,
                   "bytes per second the device may send on the stream (DeviceLinkThroughputLimit), 0 for no "
                   "limit; default: the device's setting")
        ->check(CLI::NonNegativeNumber);
    CLI11_PARSE(app, argc, argv);
    return capture(options);
}
