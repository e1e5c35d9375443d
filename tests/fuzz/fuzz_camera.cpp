// The camera the GigE Vision fuzz targets drive; see fuzz_camera.h.
#include "fuzz_camera.h"

#include <cstdio>
#include <cstdlib>

#include "gvcp/sample_tree.h"

namespace fuzz {

gige::Camera& camera() {
    static gige::Camera* served = [] {
        auto* made = new gige::Camera;
        gvcp_test::declareSampleTree(*made);
        made->setImageSize(64, 48, 0);
        // Control stays until released, so a slow input cannot end the stream a target set up.
        made->setServerOptionC(0, 0);
        if (made->startServer("127.0.13.2") != 0) {
            std::fprintf(stderr, "fuzz: the camera cannot serve 127.0.13.2\n");
            std::abort();
        }
        return made;
    }();
    return *served;
}

void sendControl(int client, const std::uint8_t* data, std::size_t size) {
    const int index = client % kClientCount;
    // The last client sits on another host address: the same host with another port is still another peer.
    const std::uint32_t address = index == kClientCount - 1 ? kClientAddress + 1 : kClientAddress;
    camera().handleControlDatagram(data, size,
                                   gige::Endpoint{address, static_cast<std::uint16_t>(kFirstClientPort + index)});
}

void writeRegister(int client, std::uint32_t address, std::uint32_t value) {
    static std::uint16_t id = 0xF000;
    // Ids of their own, never repeated back to back, so the duplicate-request cache never answers in their place.
    id = id == 0xFFFE ? 0xF000 : static_cast<std::uint16_t>(id + 1);
    const std::uint8_t datagram[16] = {0x42,
                                       0x01,
                                       0x00,
                                       0x82,
                                       0x00,
                                       0x08,
                                       static_cast<std::uint8_t>(id >> 8),
                                       static_cast<std::uint8_t>(id),
                                       static_cast<std::uint8_t>(address >> 24),
                                       static_cast<std::uint8_t>(address >> 16),
                                       static_cast<std::uint8_t>(address >> 8),
                                       static_cast<std::uint8_t>(address),
                                       static_cast<std::uint8_t>(value >> 24),
                                       static_cast<std::uint8_t>(value >> 16),
                                       static_cast<std::uint8_t>(value >> 8),
                                       static_cast<std::uint8_t>(value)};
    sendControl(client, datagram, sizeof datagram);
}

void releaseControl() {
    for (int client = 0; client < kClientCount; ++client) writeRegister(client, 0x0A00, 0);
}

}  // namespace fuzz
