// The wire protocol between the Tavrion SDK (sensorlink) and the sensor (the emulator), over TCP.
//
// Every message is a 16-byte header followed by `payloadLength` payload bytes. Header fields and every
// payload field named below are big-endian. The sample arrays of point clouds and images are little-endian
// (IEEE-754 doubles, unsigned 16-bit intensities, bytes), the byte order of the data on every host we serve,
// so that a client receives them straight into the caller's buffers without a conversion pass.
//
//   offset 0  u32 magic          kMagic ("TVR1")
//   offset 4  u8  kind           a MessageKind; replies carry the request's kind | kReplyBit
//   offset 5  u8  flags          0
//   offset 6  u16 reserved       0
//   offset 8  u32 requestId      chosen by the client, echoed in the reply
//   offset 12 u32 payloadLength  bytes that follow the header
//
// One connection carries one request at a time: the client sends a request and reads its reply before the
// next. The SDK opens a further connection for each call made while its other connections are busy, so a
// status poll never queues behind a point-cloud transfer. Each connection starts with MessageKind::Hello.
//
// Payloads (request → reply). Every reply payload starts with an i32 result code (the TAVRION_ codes of
// tavrion.h, or whatever code the sensor was told to answer); the fields after it are present only when the
// code is 0.
//   Hello          u32 protocolVersion            → i32 code, u32 protocolVersion, u32 width, u32 height,
//                                                   u16 serialLength, serial bytes
//   Command        command text (no NUL)          → i32 code
//   Query          query text (no NUL)            → i32 code, reply text (no NUL), the rest of the payload
//   Status         (empty)                        → i32 code, i32 status word (sensor bits, e.g. no data)
//   PointCloud     (empty)                        → i32 code, u32 pixelCount, 24 × pixelCount bytes of
//                                                   X, Y, Z doubles (mm), 2 × pixelCount bytes of u16 intensity
//   CameraImage    (empty)                        → i32 code, u32 pixelCount, pixelCount bytes
//   DatabaseRead   u32 offset, u32 maxLength      → i32 code, u32 totalSize, up to maxLength database bytes
//
// Limits: command and query texts 1..kMaxTextLength bytes; query reply texts up to kMaxReplyTextLength;
// width × height up to kMaxPixelCount; database chunks up to kMaxDatabaseChunk. A peer that breaks a limit,
// sends a wrong magic, kind or request id is a protocol error: the other side closes that connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tavrion.h"

namespace sensorlink {

constexpr std::uint32_t kMagic = 0x54565231;  // "TVR1"
constexpr std::uint32_t kProtocolVersion = 1;
constexpr std::size_t kHeaderSize = 16;
constexpr std::uint8_t kReplyBit = 0x80;

constexpr std::size_t kMaxTextLength = kTavrionMaxCommandLength;
constexpr std::size_t kMaxReplyTextLength = 1024 * 1024;
constexpr std::uint32_t kMaxPixelCount = 4096u * 4096u;
constexpr std::uint32_t kMaxDatabaseChunk = 256 * 1024;
constexpr std::size_t kMaxSerialLength = 64;

// Point cloud bytes per pixel: three doubles and one 16-bit intensity.
constexpr std::uint32_t kCloudBytesPerPixel = 24;
constexpr std::uint32_t kMonoBytesPerPixel = 2;

enum class MessageKind : std::uint8_t {
    Hello = 1,
    Command = 2,
    Query = 3,
    Status = 4,
    PointCloud = 5,
    CameraImage = 6,
    DatabaseRead = 7,
};

struct MessageHeader {
    std::uint8_t kind = 0;
    std::uint32_t requestId = 0;
    std::uint32_t payloadLength = 0;
};

// Largest payload a request of this kind may carry; 0 for kinds that carry none or are unknown.
std::size_t maxRequestPayload(std::uint8_t kind);

void encodeHeader(std::uint8_t kind, std::uint32_t requestId, std::uint32_t payloadLength,
                  std::uint8_t out[kHeaderSize]);
// Rejects a wrong magic or non-zero flags and reserved bits.
std::optional<MessageHeader> decodeHeader(const std::uint8_t* data, std::size_t size);

struct HelloReply {
    std::uint32_t protocolVersion = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::string serialNumber;
};
std::vector<std::uint8_t> encodeHelloReply(const HelloReply& reply);
// Decodes the fields after the result code.
std::optional<HelloReply> decodeHelloReply(const std::uint8_t* data, std::size_t size);

struct DatabaseReadRequest {
    std::uint32_t offset = 0;
    std::uint32_t maxLength = 0;
};
std::optional<DatabaseReadRequest> decodeDatabaseRead(const std::uint8_t* data, std::size_t size);

// Turns received little-endian samples of a PointCloud (doubles, then u16) or CameraImage reply into host
// order, in place; nothing to do on little-endian hosts.
void samplesToHostOrder(MessageKind kind, void* first, void* second, std::uint32_t pixelCount);

// A whole message: header plus payload, ready to send.
std::vector<std::uint8_t> encodeMessage(std::uint8_t kind, std::uint32_t requestId,
                                        const std::vector<std::uint8_t>& payload);

}  // namespace sensorlink
