// A cell of four sensors on one host: four sensor emulators and four bridge programs, each device on an address
// of its own network interface (one veth each) in a network namespace this benchmark makes for itself. One
// broadcast discovery and one unicast discovery per address list the devices with their serial number,
// user-defined name and MAC (the sensor's, as its descriptor gives it); then all four stream Coord3D_ABC16 at once to
// one libaravis client, each held by DeviceLinkThroughputLimit to a quarter of a 1 Gbit/s link, and per device the
// frames per second, the complete and the failed frames are printed. Prints figures; never fails on one.
//
//   cell_bench [--seconds S] [--link-bits-per-second B]
//
// Needs the right to make a network namespace (root); without it, it says so and ends.
#include <arv.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bridge_process.h"
#include "emulator_process.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDevices = 4;
constexpr std::uint16_t kGvcpPort = 3956;
constexpr std::size_t kPacketSize = 9000;  // jumbo frames, as GigE Vision links are usually set up
// Discovery acknowledge: its header, then the bootstrap registers' first 0xF8 bytes.
constexpr std::size_t kAckHeaderBytes = 8;
constexpr std::size_t kDiscoveryAckBytes = kAckHeaderBytes + 0xF8;
constexpr std::size_t kMacOffset = kAckHeaderBytes + 0x0A;
constexpr std::size_t kAddressOffset = kAckHeaderBytes + 0x24;
constexpr std::size_t kModelOffset = kAckHeaderBytes + 0x68;
constexpr std::size_t kSerialOffset = kAckHeaderBytes + 0xD8;
constexpr std::size_t kUserNameOffset = kAckHeaderBytes + 0xE8;

struct Options {
    double seconds = 30;
    double linkBitsPerSecond = 1e9;
};

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--seconds") options.seconds = std::atof(argv[i + 1]);
        if (name == "--link-bits-per-second") options.linkBitsPerSecond = std::atof(argv[i + 1]);
    }
    return options;
}

struct Cell {
    std::string interface;
    std::string sensorAddress;
    std::string address;
    std::string serial;
    std::string userName;
};

Cell cellMember(int n) {
    const std::string number = std::to_string(n + 1);
    return {"cellbench" + number, "127.0.25." + number, "10.25." + number + ".1", "CELL-" + number, "cell-" + number};
}

// The namespace, its loopback and one veth pair per device; false when the system refuses.
bool makeNetwork(const std::array<Cell, kDevices>& cell) {
    if (::unshare(CLONE_NEWNET) != 0) return false;
    std::string script = "set -e\nip link set lo up\n";
    for (const Cell& member : cell) {
        const std::string peer = member.interface + "p";
        script += "ip link add " + member.interface + " type veth peer name " + peer + "\n";
        script += "ip link set " + member.interface + " mtu 9000 up\n";
        script += "ip link set " + peer + " mtu 9000 up\n";
        script += "ip addr add " + member.address + "/24 dev " + member.interface + "\n";
    }
    return std::system(("sh -c '" + script + "'").c_str()) == 0;
}

std::string fixedText(const std::uint8_t* bytes, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(bytes), strnlen(reinterpret_cast<const char*>(bytes), size));
}

struct Found {
    std::string address;
    std::string mac;
    std::string model;
    std::string serial;
    std::string userName;
};

// Sends one DISCOVERY command to `destination` from the loopback and collects the acknowledges that come within
// `waitMs`.
std::vector<Found> discover(const char* destination, int waitMs) {
    std::vector<Found> found;
    const int sock = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.1", &local.sin_addr);
    ::bind(sock, reinterpret_cast<sockaddr*>(&local), sizeof local);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(kGvcpPort);
    ::inet_pton(AF_INET, destination, &target.sin_addr);
    // Key 0x42, flags: acknowledge required and broadcast acknowledge allowed; DISCOVERY_CMD, no payload, id 1.
    const std::uint8_t command[8] = {0x42, 0x11, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01};
    ::sendto(sock, command, sizeof command, 0, reinterpret_cast<sockaddr*>(&target), sizeof target);
    const auto end = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - Clock::now()).count();
        if (left <= 0) break;
        timeval timeout{static_cast<time_t>(left / 1000000), static_cast<suseconds_t>(left % 1000000)};
        ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        std::uint8_t ack[600];
        const ssize_t size = ::recv(sock, ack, sizeof ack, 0);
        if (size < 0) break;
        if (static_cast<std::size_t>(size) < kDiscoveryAckBytes || ack[0] != 0 || ack[1] != 0 || ack[3] != 0x03)
            continue;
        Found device;
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, ack + kAddressOffset, text, sizeof text);
        device.address = text;
        char mac[18];
        std::snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", ack[kMacOffset], ack[kMacOffset + 1],
                      ack[kMacOffset + 2], ack[kMacOffset + 3], ack[kMacOffset + 4], ack[kMacOffset + 5]);
        device.mac = mac;
        device.model = fixedText(ack + kModelOffset, 32);
        device.serial = fixedText(ack + kSerialOffset, 16);
        device.userName = fixedText(ack + kUserNameOffset, 16);
        found.push_back(device);
    }
    ::close(sock);
    return found;
}

struct Counts {
    std::atomic<int> complete{0};
    std::atomic<int> failed{0};
};

struct Stream {
    ArvCamera* camera = nullptr;
    ArvStream* stream = nullptr;
    std::size_t payload = 0;
    Counts counts;
};

bool startStream(const Cell& member, double bytesPerSecond, Stream& s) {
    GError* error = nullptr;
    s.camera = arv_camera_new(member.address.c_str(), &error);
    if (s.camera == nullptr) {
        std::printf("%s: no device: %s\n", member.address.c_str(), error != nullptr ? error->message : "?");
        g_clear_error(&error);
        return false;
    }
    arv_camera_set_pixel_format_from_string(s.camera, "Coord3D_ABC16", &error);
    if (error == nullptr)
        arv_camera_set_integer(s.camera, "GevSCPSPacketSize", static_cast<gint64>(kPacketSize), &error);
    if (error == nullptr) arv_camera_set_string(s.camera, "DeviceLinkThroughputLimitMode", "On", &error);
    if (error == nullptr)
        arv_camera_set_integer(s.camera, "DeviceLinkThroughputLimit", static_cast<gint64>(bytesPerSecond), &error);
    if (error == nullptr) arv_camera_set_acquisition_mode(s.camera, ARV_ACQUISITION_MODE_CONTINUOUS, &error);
    if (error != nullptr) {
        std::printf("%s: %s\n", member.address.c_str(), error->message);
        g_clear_error(&error);
        return false;
    }
    // Four streams in one process: the plain socket receives every block, where the packet socket now and then
    // hands back untouched buffers.
    arv_gv_device_set_stream_options(ARV_GV_DEVICE(arv_camera_get_device(s.camera)),
                                     ARV_GV_STREAM_OPTION_PACKET_SOCKET_DISABLED);
    s.stream = arv_camera_create_stream(s.camera, nullptr, nullptr, &error);
    if (s.stream == nullptr) {
        std::printf("%s: no stream: %s\n", member.address.c_str(), error != nullptr ? error->message : "?");
        g_clear_error(&error);
        return false;
    }
    s.payload = arv_camera_get_payload(s.camera, nullptr);
    for (int i = 0; i < 8; ++i) arv_stream_push_buffer(s.stream, arv_buffer_new(s.payload, nullptr));
    arv_camera_start_acquisition(s.camera, &error);
    if (error != nullptr) {
        std::printf("%s: %s\n", member.address.c_str(), error->message);
        g_clear_error(&error);
        return false;
    }
    return true;
}

// Takes every buffer of `s` until `stop`; counts the ones that arrive while `counting`.
void drain(Stream& s, const std::atomic<bool>& counting, const std::atomic<bool>& stop) {
    while (!stop) {
        ArvBuffer* buffer = arv_stream_timeout_pop_buffer(s.stream, 200000);
        if (buffer == nullptr) continue;
        if (counting) {
            if (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS) {
                ++s.counts.complete;
            } else {
                ++s.counts.failed;
            }
        }
        arv_stream_push_buffer(s.stream, buffer);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    std::array<Cell, kDevices> cell;
    for (int n = 0; n < kDevices; ++n) cell[n] = cellMember(n);
    // Before any thread starts: a namespace joined later would hold only the thread that joined it.
    if (!makeNetwork(cell)) return std::printf("cell_bench needs a network namespace of its own (root)\n"), 0;

    // The programs keep the sensor databases where a service would, in a folder of their own.
    const char* tmp = std::getenv("TMPDIR");
    const std::string stateFolder =
        std::string(tmp != nullptr ? tmp : "/tmp") + "/cell-bench-" + std::to_string(::getpid());
    std::error_code ignored;
    std::filesystem::create_directories(stateFolder, ignored);
    ::setenv("STATE_DIRECTORY", stateFolder.c_str(), 1);

    std::vector<std::unique_ptr<EmulatorProcess>> emulators;
    std::vector<std::unique_ptr<BridgeProcess>> programs;
    for (const Cell& member : cell) {
        emulators.push_back(std::make_unique<EmulatorProcess>(std::vector<std::string>{
            "--address", member.sensorAddress, "--serial", member.serial, "--trigger-delay-ms", "0"}));
        if (!emulators.back()->waitReady()) return std::printf("%s: no sensor emulator\n", member.serial.c_str()), 0;
    }
    for (const Cell& member : cell) {
        programs.push_back(std::make_unique<BridgeProcess>(
            std::vector<std::string>{"-i", member.sensorAddress, "-s", member.address, "-u", member.userName}));
    }
    for (int n = 0; n < kDevices; ++n) {
        if (!programs[n]->waitForError("GigeServer is online\n", 120000)) {
            std::printf("%s did not start:\n%s", cell[n].address.c_str(), programs[n]->err().c_str());
            return 0;
        }
    }

    const std::vector<Found> broadcast = discover("255.255.255.255", 1000);
    std::printf("one broadcast discovery: %zu devices\n", broadcast.size());
    std::printf("  %-12s %-17s %-24s %-8s %s\n", "address", "MAC", "model", "serial", "user-defined name");
    for (const Found& device : broadcast) {
        std::printf("  %-12s %-17s %-24s %-8s %s\n", device.address.c_str(), device.mac.c_str(), device.model.c_str(),
                    device.serial.c_str(), device.userName.c_str());
    }
    std::printf("unicast discovery, answers per address:");
    for (const Cell& member : cell)
        std::printf(" %s %zu", member.address.c_str(), discover(member.address.c_str(), 300).size());
    std::printf("\n");
    arv_update_device_list();
    std::printf("libaravis discovery: %u devices:", arv_get_n_devices());
    for (unsigned i = 0; i < arv_get_n_devices(); ++i)
        std::printf(" %s (%s)", arv_get_device_serial_nbr(i), arv_get_device_address(i));
    std::printf("\n");
    std::fflush(stdout);

    // DeviceLinkThroughputLimit counts bytes of IP packets per second.
    const double share = options.linkBitsPerSecond / 8 / kDevices;
    std::array<Stream, kDevices> streams;
    for (int n = 0; n < kDevices; ++n) {
        if (!startStream(cell[n], share, streams[n])) return 0;
    }
    std::atomic<bool> counting{false};
    std::atomic<bool> stop{false};
    std::vector<std::thread> drains;
    for (Stream& s : streams) drains.emplace_back([&s, &counting, &stop] { drain(s, counting, stop); });
    // Two seconds for the programs' first frames, whose memory is touched the first time.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    counting = true;
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(options.seconds));
    counting = false;
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    stop = true;
    for (std::thread& thread : drains) thread.join();

    std::printf(
        "\nall four streaming Coord3D_ABC16 (1280 x 1024, %zu-byte packets) for %.1f s, "
        "DeviceLinkThroughputLimit %.0f bytes/s each (%.0f Mbit/s link shared by %d):\n",
        kPacketSize, elapsed, share, options.linkBitsPerSecond / 1e6, kDevices);
    std::printf("  %-12s %-8s %8s %8s %8s %8s\n", "address", "serial", "frames/s", "MB/s", "complete", "failed");
    double totalMegabytes = 0;
    for (int n = 0; n < kDevices; ++n) {
        Stream& s = streams[n];
        const double fps = s.counts.complete / elapsed;
        const double megabytes = fps * static_cast<double>(s.payload) / 1e6;
        totalMegabytes += megabytes;
        std::printf("  %-12s %-8s %8.2f %8.1f %8d %8d\n", cell[n].address.c_str(), cell[n].serial.c_str(), fps,
                    megabytes, s.counts.complete.load(), s.counts.failed.load());
        arv_camera_stop_acquisition(s.camera, nullptr);
        g_object_unref(s.stream);
        g_object_unref(s.camera);
    }
    std::printf("  together %.1f MB/s of image data (%.0f Mbit/s)\n", totalMegabytes, totalMegabytes * 8);
    programs.clear();
    emulators.clear();
    std::filesystem::remove_all(stateFolder, ignored);
    return 0;
}
