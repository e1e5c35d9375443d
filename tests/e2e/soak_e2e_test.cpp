// A bounded soak run (SOAK_SECONDS, default 120; label "soak"): the emulated sensor, the bridge program, a
// loopback that loses LOSS_PERCENT of the stream's datagrams (ctest runs it through lossy_namespace.sh), and
// three clients at once: a libaravis client streaming
// Coord3D_ABC32f and reading a register every 100 ms, which closes and reopens the device every 20 s; a second
// client that keeps asking for control and must be refused while the first holds it; and the printed figures:
// frames complete, the bridge's resident memory and open handles at start and end, warnings seen.
#include <gtest/gtest.h>

#include <arv.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "bridge_process.h"
#include "emulator_process.h"
#include "gvcp/raw_client.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kDevice = 0x7F000858;  // 127.0.8.88
constexpr std::uint16_t kAccessDenied = 0x8006;

int soakSeconds() {
    const char* text = std::getenv("SOAK_SECONDS");
    const int seconds = text != nullptr ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 120;
}

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

long openHandles(pid_t pid) {
    std::error_code error;
    long count = 0;
    for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end;
         !error && it != end; it.increment(error))
        ++count;
    return count;
}

int countLines(const std::string& text, const std::string& start) {
    std::istringstream lines(text);
    int count = 0;
    for (std::string line; std::getline(lines, line);)
        if (line.find(start) != std::string::npos) ++count;
    return count;
}

struct Tally {
    std::atomic<long> complete{0};
    std::atomic<long> incomplete{0};
    std::atomic<long> registerReads{0};
    std::atomic<long> failedReads{0};
    std::atomic<long> sessions{0};
    std::atomic<long> resentPackets{0};
    std::atomic<long> missingPackets{0};
};

// One controlling session: open, stream, read a register every 100 ms, close after `seconds`.
void streamSession(const std::string& device, int seconds, Tally& tally) {
    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new(device.c_str(), &error);
    if (camera == nullptr) {
        ADD_FAILURE() << "cannot open the device: " << (error ? error->message : "");
        g_clear_error(&error);
        return;
    }
    // The prober may hold control for the moment between its two writes just as this session opens; the
    // session then takes control once the prober has given it back, as a client waiting for a busy device would.
    ArvGvDevice* gvDevice = ARV_GV_DEVICE(arv_camera_get_device(camera));
    const auto controlDeadline = Clock::now() + std::chrono::seconds(3);
    while (!arv_gv_device_is_controller(gvDevice) && Clock::now() < controlDeadline) {
        if (!arv_gv_device_take_control(gvDevice, nullptr)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(arv_gv_device_is_controller(gvDevice)) << "the device gave no control to the streaming session";
    ++tally.sessions;
    arv_camera_set_pixel_format_from_string(camera, "Coord3D_ABC32f", &error);
    EXPECT_EQ(error, nullptr) << (error ? error->message : "");
    g_clear_error(&error);
    arv_camera_set_acquisition_mode(camera, ARV_ACQUISITION_MODE_CONTINUOUS, &error);
    ArvStream* stream = arv_camera_create_stream(camera, nullptr, nullptr, &error);
    EXPECT_EQ(error, nullptr) << (error ? error->message : "");
    g_clear_error(&error);
    if (stream != nullptr) {
        const guint payload = arv_camera_get_payload(camera, nullptr);
        for (int i = 0; i < 16; ++i) arv_stream_push_buffer(stream, arv_buffer_new(payload, nullptr));
        arv_camera_start_acquisition(camera, nullptr);
        const auto end = Clock::now() + std::chrono::seconds(seconds);
        while (Clock::now() < end) {
            if (ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, 100000)) {
                (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS ? tally.complete : tally.incomplete)++;
                arv_stream_push_buffer(stream, buffer);
            }
            arv_camera_get_integer(camera, "DeviceTemperature", &error);
            (error == nullptr ? tally.registerReads : tally.failedReads)++;
            g_clear_error(&error);
        }
        arv_camera_stop_acquisition(camera, nullptr);
        guint64 resent = 0;
        guint64 missing = 0;
        arv_gv_stream_get_statistics(ARV_GV_STREAM(stream), &resent, &missing);
        tally.resentPackets += static_cast<long>(resent);
        tally.missingPackets += static_cast<long>(missing);
        g_object_unref(stream);
    }
    g_object_unref(camera);
}

TEST(Soak, StreamingWithLossReconnectsAndARefusedSecondClient) {
    const int seconds = soakSeconds();
    EmulatorProcess emulator(
        {"--address", "127.0.6.88", "--width", "320", "--height", "240", "--trigger-delay-ms", "5"});
    ASSERT_TRUE(emulator.waitReady());
    BridgeProcess bridge({"-i", "127.0.6.88", "-s", "127.0.8.88"});
    ASSERT_TRUE(bridge.waitForError("GigeServer is online\n")) << bridge.err();
    const long startMemory = residentKiB(bridge.pid());
    const long startHandles = openHandles(bridge.pid());

    Tally tally;
    std::atomic<bool> done{false};
    std::atomic<long> refused{0};
    std::atomic<long> granted{0};
    std::thread prober([&] {
        gvcp_test::RawClient second(kDevice);
        while (!done) {
            // Refused while the streaming client holds control; between its sessions the device is free, and a
            // second client that got control gives it back at once.
            const std::uint16_t status = second.writeReg(0x0A00, 2);
            if (status == kAccessDenied) ++refused;
            if (status == 0) {
                ++granted;
                second.writeReg(0x0A00, 0);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    });
    // The first session fills the bridge's buffers (the resend store above all); growth is judged from its end.
    long warmMemory = -1;
    long warmHandles = -1;
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    for (auto left = end - Clock::now(); left > std::chrono::seconds(1); left = end - Clock::now()) {
        const long session = std::min<long>(20, std::chrono::duration_cast<std::chrono::seconds>(left).count());
        streamSession("127.0.8.88", static_cast<int>(session), tally);
        if (warmMemory < 0) {
            warmMemory = residentKiB(bridge.pid());
            warmHandles = openHandles(bridge.pid());
        }
    }
    done = true;
    prober.join();

    const long endMemory = residentKiB(bridge.pid());
    const long endHandles = openHandles(bridge.pid());
    const long frames = tally.complete + tally.incomplete;
    const std::string err = bridge.err();
    std::printf("soak: %d s, %ld sessions, frames complete %ld of %ld (%.2f %%), register reads %ld (%ld failed)\n",
                seconds, tally.sessions.load(), tally.complete.load(), frames,
                frames > 0 ? 100.0 * static_cast<double>(tally.complete) / static_cast<double>(frames) : 0.0,
                tally.registerReads.load(), tally.failedReads.load());
    std::printf("soak: bridge resident memory %ld KiB at start, %ld KiB after the first session, %ld KiB at the end\n",
                startMemory, warmMemory, endMemory);
    std::printf("soak: bridge open handles %ld at start, %ld after the first session, %ld at the end\n", startHandles,
                warmHandles, endHandles);
    std::printf("soak: second client refused %ld times, given control between sessions %ld times\n", refused.load(),
                granted.load());
    std::printf("soak: warnings %d, errors %d in the bridge's output\n", countLines(err, "WARNING"),
                countLines(err, "ERROR") + countLines(err, "Error"));
    const char* loss = std::getenv("LOSS_PERCENT");
    std::printf("soak: loopback losing %s %% of the stream's datagrams; packets resent %ld, missing %ld\n",
                loss != nullptr ? loss : "0", tally.resentPackets.load(), tally.missingPackets.load());
    std::fflush(stdout);

    EXPECT_GT(tally.complete.load(), 0);
    // A lossy loopback that caused no resend would mean the stream was never tested under loss.
    if (loss != nullptr && std::atoi(loss) > 0) {
        EXPECT_GT(tally.resentPackets.load(), 0);
    }
    EXPECT_GT(refused.load(), 0);
    EXPECT_FALSE(bridge.waitExit(0).has_value()) << "the bridge ended during the run:\n" << err;
}

}  // namespace
