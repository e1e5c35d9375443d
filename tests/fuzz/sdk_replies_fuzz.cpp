// Fuzz target: the sensor SDK reading what a sensor sends. A hostile sensor on 127.0.13.3 answers every
// connection with the input (the SDK's requests carry ids 1, 2, ... on a new client), and the SDK greets it,
// then asks for the status, the descriptor, a point cloud, a camera image, a command and a database download.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "hostile_sensor.h"
#include "sensor_client.h"

namespace {

HostileSensor& sensor() {
    static HostileSensor* served = [] {
        auto* made = new HostileSensor("127.0.13.3");
        if (!made->listening()) {
            std::fprintf(stderr, "fuzz: cannot listen on 127.0.13.3:32001\n");
            std::abort();
        }
        return made;
    }();
    return *served;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 256 * 1024) return 0;
    HostileSensor& hostile = sensor();
    hostile.setScript({std::vector<std::uint8_t>(data, data + size), 0, true});
    sensorlink::ClientLimits limits;
    limits.connectMs = 200;
    limits.statusMs = 200;
    limits.callMs = 200;
    limits.databaseChunkMs = 200;
    {
        auto client = sensorlink::SensorClient::open(0x7F000D03, 32001, limits);
        if (client) {
            std::int32_t word = 0;
            client->status(word);
            std::vector<char> descriptor(132000);
            client->query("GetXmlDescriptor", descriptor.data(), static_cast<std::int32_t>(descriptor.size()));
            const std::size_t pixels = client->pixelCount();
            // The greeting bounds the resolution; buffers are made only for small ones.
            if (pixels <= 64 * 64) {
                std::vector<std::uint8_t> cloud(pixels * 26);
                client->pointCloud(cloud.data(), cloud.data() + pixels * 24, static_cast<std::int32_t>(cloud.size()));
                client->cameraImage(cloud.data(), static_cast<std::int32_t>(pixels));
            }
            client->command("SetGain=1.0");
            static const std::string folder =
                (std::filesystem::temp_directory_path() / "sdk-replies-fuzz").string() + "/";
            std::filesystem::create_directories(folder);
            if (client->command("SetSdbPath=" + folder) == 0) client->command("SetLoadSdbFromSensor");
            client->shutdown();
        }
    }
    hostile.dropConnections();
    return 0;
}
