// Fuzz target: GVCP commands through the control server's request handling (header checks, duplicate
// requests, privilege, PENDING_ACK bookkeeping) into the camera's register map, the XML and the stream channel
// registers.
//
// Input: a sequence of datagrams, each [client: 1 byte][length: 2 bytes, big-endian][bytes]; a short last
// record is one datagram of what is left.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz_camera.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::camera();
    fuzz::releaseControl();
    std::size_t position = 0;
    while (position < size) {
        const int client = data[position++];
        std::size_t length = size - position;
        if (length >= 2) {
            length = std::min<std::size_t>((std::size_t{data[position]} << 8) | data[position + 1], length - 2);
            position += 2;
        }
        fuzz::sendControl(client, data + position, length);
        position += length;
    }
    return 0;
}
