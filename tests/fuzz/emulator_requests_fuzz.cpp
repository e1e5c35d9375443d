// Fuzz target: the sensor emulator reading requests. The input is what a client sends on one connection to the
// emulator's front end on 127.0.13.4; the client then stops sending and reads the answers until the emulator
// closes the connection.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "command_log.h"
#include "emulator_server.h"
#include "frame_dump.h"
#include "sensor_model.h"
#include "socket.h"

namespace {

struct Emulator {
    Emulator() : model(config()), dump(""), server(model, log, dump, 0) {
        std::string error;
        if (!server.listen("127.0.13.4", 32001, error)) {
            std::fprintf(stderr, "fuzz: %s\n", error.c_str());
            std::abort();
        }
        thread = std::thread([this] { server.serve(stop); });
    }
    static emulator::EmulatorConfig config() {
        emulator::EmulatorConfig config;
        config.width = 16;
        config.height = 8;
        config.triggerDelayMs = 0;
        config.downloadSeconds = 0;
        config.databaseBytes = 4096;
        return config;
    }
    emulator::SensorModel model;
    emulator::CommandLog log;
    emulator::FrameDump dump;
    emulator::EmulatorServer server;
    std::atomic<bool> stop{false};
    std::thread thread;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Emulator* emulator = new Emulator;
    (void)emulator;
    sensorlink::TcpStream stream = sensorlink::TcpStream::connectTo(0x7F000D04, 32001, 1000);
    if (!stream.valid()) std::abort();
    if (stream.sendAll(data, size, 1000) == sensorlink::IoStatus::Ok) stream.finishSending();
    std::uint8_t sink[4096];
    // The emulator answers what it could read and then closes; a stall here is a hang the fuzzer reports.
    while (stream.receiveAll(sink, 1, 5000) == sensorlink::IoStatus::Ok) {
    }
    return 0;
}
