// The device library's camera as fuzz targets meet it: the sample feature tree, served on 127.0.13.2, with
// control datagrams handed to it on the fuzzer's thread from a handful of client addresses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "camera.h"

namespace fuzz {

constexpr std::uint32_t kDeviceAddress = 0x7F000D02;  // 127.0.13.2
constexpr std::uint32_t kClientAddress = 0x7F000D09;  // 127.0.13.9; nothing listens on its ports
constexpr std::uint16_t kFirstClientPort = 50000;
constexpr int kClientCount = 4;

// The camera of the process, started on first use; aborts when it cannot serve.
gige::Camera& camera();

// One control datagram from client `client` (0 .. kClientCount - 1; the last one is on another address).
void sendControl(int client, const std::uint8_t* data, std::size_t size);

// Writes `value` to register `address` from `client`, as WRITEREG with an acknowledge asked for.
void writeRegister(int client, std::uint32_t address, std::uint32_t value);

// Every client gives up control, so that each input starts from an uncontrolled device.
void releaseControl();

}  // namespace fuzz
