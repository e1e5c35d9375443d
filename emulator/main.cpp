// corvastrum-sensor-emulator: the Corvastrum 3D sensor as a program, for tests and demonstrations.
#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "command_log.h"
#include "database_format.h"
#include "emulator_config.h"
#include "emulator_server.h"
#include "frame_dump.h"
#include "protocol.h"
#include "sensor_model.h"

namespace {

std::atomic<bool> stopRequested{false};

extern "C" void onSignal(int) { stopRequested = true; }

const char* const kFooter = R"(
Protocol: the framed TCP protocol of the Tavrion SDK (sensorlink/protocol.h). Several clients and
connections are served at once; a client that sends anything else loses its connection only.

--log-commands writes every command and query text received (Tavrion_WriteData, Tavrion_ReadData),
exactly as received, one per line, flushed per line; control characters appear as \xNN. Status polls,
point clouds and images are not logged. With --log-times each line starts with the moment it was received,
in nanoseconds since 1970 of the host's real-time clock, and a space.

--dump-dir writes, before each reply goes out, numbered from 000001 in the order served:
  cloud-NNNNNN.bin   point cloud: X, Y, Z per pixel, little-endian doubles in mm, 24 bytes per pixel,
                     row by row; pixels without measurement are 0, 0, 0
  mono16-NNNNNN.bin  the intensity image of that point cloud, little-endian u16, 2 bytes per pixel
  image-NNNNNN.bin   8-bit camera image, 1 byte per pixel

--fail COMMAND=CODE answers a command with CODE (e.g. --fail SetGain=-107, --fail SetLoadSdb=-105,
--fail SetAcquisitionStart=1=-109): COMMAND matches the whole text received, or its name before '='.
The requests without text are named GetSensorStatus, GetPointCloud and GetCameraImage. A failed
command changes nothing, and is still logged.

Behaviour: the settings follow the descriptor ("GetXmlDescriptor"); out-of-range or malformed values are
refused with -107, unknown commands with -106. Gain accepts decimals ("SetGain=2.500000") and keeps them;
the descriptor, which declares gain an integer, shows the integer part. Point clouds come only after
"SetAcquisitionStart=1" and "SetTriggerSoftware" (else -108), --trigger-delay-ms after the trigger.
"GetTemperature" answers whole degrees Celsius that drift between about 36 and 44 from reading to reading.
The same --seed and the same commands give the same bytes. The sensor database (4 MiB) is downloaded in
chunks paced to take --download-seconds in total.
--reply-delay-ms delays every reply, status polls included: above about 900 the SDK reports the link down.
)";

}  // namespace

int main(int argc, char** argv) {
    emulator::EmulatorConfig config;
    std::vector<std::string> failures;
    CLI::App app{
        "Emulates a Corvastrum 3D sensor on TCP for the Tavrion SDK: settings, descriptor, point clouds, "
        "camera images, temperature, sensor database, and injected faults.",
        "corvastrum-sensor-emulator"};
    app.footer(kFooter);
    // A flag given twice takes its last value, so that callers can append to a default argument list.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("--address", config.address, "IPv4 address to listen on")->capture_default_str();
    app.add_option("--port", config.port, "TCP port")->capture_default_str();
    app.add_option("--width", config.width, "image width in pixels")->capture_default_str()->check(CLI::Range(1, 4096));
    app.add_option("--height", config.height, "image height in pixels")
        ->capture_default_str()
        ->check(CLI::Range(1, 4096));
    app.add_option("--serial", config.serialNumber,
                   "serial number (letters, digits, '-', '_'; names the database file)")
        ->capture_default_str();
    app.add_option("--seed", config.seed, "seed of the scene noise, temperature phase and database")
        ->capture_default_str();
    app.add_option("--log-commands", config.commandLogPath, "log every command received to FILE ('-': standard output)")
        ->type_name("FILE");
    bool logTimes = false;
    app.add_flag("--log-times", logTimes,
                 "start each command log line with the moment received (ns of the real-time clock) and a space");
    app.add_option("--dump-dir", config.dumpDirectory, "write every point cloud and image served into DIR (created)")
        ->type_name("DIR");
    app.add_option("--fail", failures, "answer COMMAND with CODE (repeatable)")
        ->type_name("COMMAND=CODE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--no-data-every", config.noDataEvery,
                   "set status bit 3 (no data) on every Nth status read (0: never)")
        ->capture_default_str();
    app.add_option("--die-after", config.dieAfterSeconds, "end abruptly after SECONDS, as a crashing sensor (0: never)")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    app.add_option("--reply-delay-ms", config.replyDelayMs, "delay every reply by N ms")->capture_default_str();
    app.add_option("--trigger-delay-ms", config.triggerDelayMs, "time from software trigger to point cloud data, ms")
        ->capture_default_str();
    app.add_option("--download-seconds", config.downloadSeconds, "time the sensor database download takes")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    CLI11_PARSE(app, argc, argv);

    const auto fail = [](const std::string& message) {
        std::fprintf(stderr, "corvastrum-sensor-emulator: %s\n", message.c_str());
        return 2;
    };
    if (std::uint64_t{config.width} * config.height > sensorlink::kMaxPixelCount)
        return fail("--width x --height is larger than 4096 x 4096 pixels");
    if (!sensorlink::isValidSerialNumber(config.serialNumber))
        return fail("--serial must be 1 to 32 letters, digits, '-' or '_'");
    for (const std::string& entry : failures) {
        const std::size_t equals = entry.rfind('=');
        char* end = nullptr;
        const long code = equals == std::string::npos ? 0 : std::strtol(entry.c_str() + equals + 1, &end, 10);
        if (equals == 0 || equals == std::string::npos || end == entry.c_str() + equals + 1 || *end != '\0' ||
            code == 0 || code < INT32_MIN || code > INT32_MAX)
            return fail("--fail " + entry + ": expected COMMAND=CODE with a non-zero decimal CODE, e.g. SetGain=-107");
        config.failures[entry.substr(0, equals)] = static_cast<std::int32_t>(code);
    }
    if (!config.dumpDirectory.empty()) {
        std::error_code error;
        std::filesystem::create_directories(config.dumpDirectory, error);
        if (!std::filesystem::is_directory(config.dumpDirectory, error))
            return fail("cannot create the dump folder " + config.dumpDirectory);
    }

    emulator::CommandLog log;
    std::string error;
    if (!log.open(config.commandLogPath, error)) return fail(error);
    if (logTimes) log.stampLines();
    emulator::FrameDump dump(config.dumpDirectory);
    emulator::SensorModel model(config);
    emulator::EmulatorServer server(model, log, dump, config.replyDelayMs);
    if (!server.listen(config.address, config.port, error)) return fail(error);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    if (config.dieAfterSeconds > 0) {
        std::thread([seconds = config.dieAfterSeconds] {
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
            std::fprintf(stderr, "corvastrum-sensor-emulator: dying now, as --die-after asked\n");
            std::_Exit(3);
        }).detach();
    }
    std::fprintf(stderr, "corvastrum-sensor-emulator: sensor %s (%ux%u) listening on %s:%u\n",
                 config.serialNumber.c_str(), config.width, config.height, config.address.c_str(), config.port);
    std::fflush(stderr);  // whoever started us may wait for this line
    server.serve(stopRequested);
    return 0;
}
