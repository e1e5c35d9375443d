// Fuzz target: PACKETRESEND commands against a streaming camera that holds a sent frame, from the controlling
// client and from others.
//
// Input: [client: 1 byte][GVCP flags: 1 byte][payload]; the header around the payload is made here, with
// the payload's length.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_camera.h"

namespace {

// Client 0 controls the device and receives the stream on a port nobody listens on.
void startStreaming() {
    static const bool started = [] {
        gige::Camera& camera = fuzz::camera();
        fuzz::writeRegister(0, 0x0A00, 2);
        fuzz::writeRegister(0, 0x0D18, fuzz::kClientAddress);
        fuzz::writeRegister(0, 0x0D00, 50100);
        std::vector<std::uint8_t> image(64 * 48, 0x5A);
        camera.beginFrame(0);
        camera.sendImage(image.data(), 0, 0);
        return true;
    }();
    (void)started;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    startStreaming();
    if (size < 2 || size - 2 > 0xFFFF) return 0;
    const std::size_t length = size - 2;
    std::vector<std::uint8_t> datagram(8 + length);
    const std::uint8_t header[8] = {
        0x42, data[1], 0x00, 0x40, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length),
        0x12, 0x34};
    std::memcpy(datagram.data(), header, sizeof header);
    if (length > 0) std::memcpy(datagram.data() + 8, data + 2, length);
    fuzz::sendControl(data[0], datagram.data(), datagram.size());
    return 0;
}
