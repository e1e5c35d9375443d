// The emulator's network front end; see emulator_server.h.
#include "emulator_server.h"

#include <bit>
#include <chrono>
#include <cstdio>

#include "byte_reader.h"
#include "byte_writer.h"
#include "tavrion.h"

namespace emulator {

using sensorlink::IoStatus;
using sensorlink::MessageHeader;
using sensorlink::MessageKind;
using sensorlink::TcpStream;
using wire::ByteWriter;

namespace {

// Sample arrays go out as they lie in memory; the protocol defines them little-endian.
static_assert(std::endian::native == std::endian::little, "the emulator serves samples in host byte order");

constexpr int kPayloadTimeoutMs = 10000;  // a client that stalls mid-request or stops reading is dropped
constexpr int kReplyTimeoutMs = 10000;
// One thread per connection; beyond this many a new client is turned away so that a flood cannot exhaust threads.
constexpr std::size_t kMaxConnections = 256;

std::string textOf(const std::vector<std::uint8_t>& payload) { return {payload.begin(), payload.end()}; }

}  // namespace

EmulatorServer::EmulatorServer(SensorModel& model, CommandLog& log, FrameDump& dump, std::uint32_t replyDelayMs)
    : model_(model), log_(log), dump_(dump), replyDelayMs_(replyDelayMs) {}

EmulatorServer::~EmulatorServer() {
    std::lock_guard lock(connectionsMutex_);
    for (Connection& connection : connections_) connection.stream->shutdown();
    for (Connection& connection : connections_) connection.thread.join();
}

bool EmulatorServer::listen(const std::string& address, std::uint16_t port, std::string& error) {
    std::uint32_t hostAddress = 0;
    if (!sensorlink::parseIpv4(address, hostAddress)) {
        error = "the address " + address + " is no dotted IPv4 address";
        return false;
    }
    if (!listener_.listenOn(hostAddress, port, error)) {
        error = address + ":" + std::to_string(port) + ": " + error;
        return false;
    }
    return true;
}

void EmulatorServer::reapFinished() {
    std::lock_guard lock(connectionsMutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (it->finished) {
            it->thread.join();
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

void EmulatorServer::serve(const std::atomic<bool>& stop) {
    while (!stop) {
        TcpStream client = listener_.acceptClient(100);
        reapFinished();
        if (!client.valid()) continue;
        std::lock_guard lock(connectionsMutex_);
        if (connections_.size() >= kMaxConnections) {
            // Said once per run of refusals, so that a flood does not flood the log as well.
            if (!turningAway_) {
                std::fprintf(stderr,
                             "corvastrum-sensor-emulator: %zu clients are connected; further connections are closed "
                             "until one leaves\n",
                             kMaxConnections);
            }
            turningAway_ = true;
            continue;
        }
        turningAway_ = false;
        Connection& connection = connections_.emplace_back();
        connection.stream = std::make_shared<TcpStream>(std::move(client));
        connection.thread = std::thread([this, &connection] { serveConnection(connection); });
    }
}

void EmulatorServer::serveConnection(Connection& connection) {
    TcpStream& stream = *connection.stream;
    for (;;) {
        std::uint8_t head[sensorlink::kHeaderSize];
        // An idle client may wait as long as it likes between requests.
        if (stream.receiveAll(head, sizeof head, -1) != IoStatus::Ok) break;
        const auto header = sensorlink::decodeHeader(head, sizeof head);
        if (!header || header->payloadLength > sensorlink::maxRequestPayload(header->kind)) break;
        std::vector<std::uint8_t> payload(header->payloadLength);
        if (stream.receiveAll(payload.data(), payload.size(), kPayloadTimeoutMs) != IoStatus::Ok) break;
        if (!answer(stream, *header, payload)) break;
    }
    stream.shutdown();
    connection.finished = true;
}

bool EmulatorServer::reply(TcpStream& stream, const MessageHeader& header, std::int32_t code,
                           const std::vector<std::uint8_t>& fields, const void* data1, std::size_t size1,
                           const void* data2, std::size_t size2) {
    if (replyDelayMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(replyDelayMs_));
    if (code != TAVRION_OK) size1 = size2 = 0;
    const std::size_t payloadLength = 4 + (code == TAVRION_OK ? fields.size() : 0) + size1 + size2;
    ByteWriter prefix;
    prefix.data().resize(sensorlink::kHeaderSize);
    sensorlink::encodeHeader(header.kind | sensorlink::kReplyBit, header.requestId,
                             static_cast<std::uint32_t>(payloadLength), prefix.data().data());
    prefix.i32(code);
    if (code == TAVRION_OK) prefix.bytes(fields.data(), fields.size());
    if (stream.sendAll(prefix.data().data(), prefix.size(), kReplyTimeoutMs) != IoStatus::Ok) return false;
    if (size1 > 0 && stream.sendAll(data1, size1, kReplyTimeoutMs) != IoStatus::Ok) return false;
    if (size2 > 0 && stream.sendAll(data2, size2, kReplyTimeoutMs) != IoStatus::Ok) return false;
    return true;
}

bool EmulatorServer::answer(TcpStream& stream, const MessageHeader& header, const std::vector<std::uint8_t>& payload) {
    const auto kind = static_cast<MessageKind>(header.kind);
    switch (kind) {
        case MessageKind::Hello: {
            wire::ByteReader reader(payload.data(), payload.size());
            if (reader.u32() != sensorlink::kProtocolVersion || !reader.ok()) {
                reply(stream, header, TAVRION_ERR_PROTOCOL);
                return false;
            }
            sensorlink::HelloReply hello{sensorlink::kProtocolVersion, model_.width(), model_.height(),
                                         model_.serialNumber()};
            auto fields = sensorlink::encodeHelloReply(hello);
            fields.erase(fields.begin(), fields.begin() + 4);  // the result code goes out with the header
            return reply(stream, header, TAVRION_OK, fields);
        }
        case MessageKind::Command:
        case MessageKind::Query: {
            if (payload.empty()) return false;
            const std::string text = textOf(payload);
            log_.write(text);
            if (const auto failure = model_.injectedFailure(text)) return reply(stream, header, *failure);
            if (kind == MessageKind::Command) return reply(stream, header, model_.command(text));
            std::string answerText;
            const std::int32_t code = model_.query(text, answerText);
            return reply(stream, header, code, {answerText.begin(), answerText.end()});
        }
        case MessageKind::Status: {
            if (const auto failure = model_.injectedFailure("GetSensorStatus")) return reply(stream, header, *failure);
            std::int32_t word = 0;
            const std::int32_t code = model_.status(word);
            ByteWriter fields;
            fields.i32(word);
            return reply(stream, header, code, fields.data());
        }
        case MessageKind::PointCloud: {
            if (const auto failure = model_.injectedFailure("GetPointCloud")) return reply(stream, header, *failure);
            std::shared_ptr<const CloudFrame> frame;
            struct GiveBack {
                SensorModel& model;
                std::shared_ptr<const CloudFrame>& frame;
                ~GiveBack() { model.returnFrame(frame); }
            } giveBack{model_, frame};
            const std::int32_t code = model_.pointCloud(frame);
            if (code != TAVRION_OK) return reply(stream, header, code);
            const RenderedCloud& cloud = *frame->cloud;
            const std::size_t xyzBytes = cloud.xyz.size() * sizeof(double);
            const std::size_t monoBytes = cloud.mono.size() * sizeof(std::uint16_t);
            std::string error;
            if (dump_.enabled() && !dump_.writeCloud(cloud.xyz.data(), xyzBytes, cloud.mono.data(), monoBytes, error))
                std::fprintf(stderr, "corvastrum-sensor-emulator: %s\n", error.c_str());
            ByteWriter fields;
            fields.u32(static_cast<std::uint32_t>(cloud.mono.size()));
            return reply(stream, header, TAVRION_OK, fields.data(), cloud.xyz.data(), xyzBytes, cloud.mono.data(),
                         monoBytes);
        }
        case MessageKind::CameraImage: {
            if (const auto failure = model_.injectedFailure("GetCameraImage")) return reply(stream, header, *failure);
            std::shared_ptr<const CameraImage> image;
            const std::int32_t code = model_.cameraImage(image);
            if (code != TAVRION_OK) return reply(stream, header, code);
            std::string error;
            if (dump_.enabled() && !dump_.writeImage(image->pixels.data(), image->pixels.size(), error))
                std::fprintf(stderr, "corvastrum-sensor-emulator: %s\n", error.c_str());
            ByteWriter fields;
            fields.u32(static_cast<std::uint32_t>(image->pixels.size()));
            return reply(stream, header, TAVRION_OK, fields.data(), image->pixels.data(), image->pixels.size());
        }
        case MessageKind::DatabaseRead: {
            const auto request = sensorlink::decodeDatabaseRead(payload.data(), payload.size());
            if (!request) return false;
            std::uint32_t total = 0;
            std::vector<std::uint8_t> chunk;
            std::chrono::milliseconds delay{0};
            const std::int32_t code = model_.databaseChunk(request->offset, request->maxLength, total, chunk, delay);
            // The download takes as long as configured, spread over its chunks.
            std::this_thread::sleep_for(delay);
            ByteWriter fields;
            fields.u32(total);
            return reply(stream, header, code, fields.data(), chunk.data(), chunk.size());
        }
    }
    return false;  // an unknown kind: this client does not speak our protocol
}

}  // namespace emulator
