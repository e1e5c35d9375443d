// gev-demo-device: serves a small feature tree through the GigE library until interrupted, printing every
// register access, and streams synthetic frames while a client acquires, so the library can be tried with
// any GigE Vision client.
#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>

#include "demo_features.h"
#include "demo_streamer.h"

namespace {
std::atomic<bool> interrupted{false};
void onSignal(int) { interrupted = true; }
}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Serves a demo GigE Vision device until interrupted (Ctrl+C)."};
    std::string address;
    std::string serial = "DEMO0001";
    bool quiet = false;
    std::uint16_t width = 640;
    std::uint16_t height = 480;
    double fps = 0;
    app.add_option("--address", address, "IPv4 address to serve on (default: every interface)");
    app.add_option("--serial", serial, "serial number the device reports");
    app.add_flag("--quiet", quiet, "do not print register accesses");
    app.add_option("--width", width, "image width in pixels (default 640)")->check(CLI::Range(1, 65535));
    app.add_option("--height", height, "image height in pixels (default 480)")->check(CLI::Range(1, 65535));
    app.add_option("--fps", fps, "frames per second while acquiring (default 0: as fast as the link takes them)")
        ->check(CLI::Range(0.0, 100000.0));
    CLI11_PARSE(app, argc, argv);

    std::unique_ptr<CGevCamera> camera(createCamera());
    demo::AccessReporter reporter(*camera, quiet ? nullptr : stdout);
    camera->setServerOptionD(1);
    camera->setServerOptionA(1);
    camera->setServerOptionE(1, 0);
    camera->setServerTimeouts(10000, 10000);
    reporter.install();
    camera->setServerOptionB(1);
    camera->setServerOptionC(1, 0);
    demo::declareDemoFeatures(*camera, serial.c_str());
    demo::declareStreamFeatures(*camera, width, height, fps);
    demo::DemoStreamer streamer(*camera);
    reporter.writeListener = [&streamer](const char* name) { streamer.featureWritten(name); };
    reporter.connectionListener = [&streamer](bool connected) {
        if (!connected) streamer.clientGone();
    };

    if (camera->startServer(address.c_str()) != 0) {
        std::fprintf(stderr,
                     "ERROR: the demo device could not go online on %s; "
                     "check the address is one of this host's and that port 3956 is free\n",
                     address.empty() ? "every interface" : address.c_str());
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::printf("demo device online on %s:3956\n", address.empty() ? "0.0.0.0" : address.c_str());
    std::fflush(stdout);
    streamer.start();
    while (!interrupted) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    streamer.stop();
    camera->stopServer();
    std::printf("demo device stopped\n");
    return 0;
}
