// The SDK's connection to one sensor; see sensor_client.h.
#include "sensor_client.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "byte_reader.h"
#include "byte_writer.h"
#include "database_format.h"
#include "os.h"
#include "tavrion.h"

namespace sensorlink {

using wire::ByteReader;
using wire::ByteWriter;
namespace {

constexpr std::size_t kMaxIdleChannels = 8;
constexpr std::uint32_t kDatabaseChunk = 64 * 1024;
constexpr std::uint32_t kMaxDatabaseSize = 256u * 1024 * 1024;
// A greeting reply after its result code: version, width, height, serial length and the serial number.
constexpr std::uint32_t kMaxHelloReplyFields = 4 + 4 + 4 + 2 + kMaxSerialLength;

std::int32_t codeOf(IoStatus status) {
    return status == IoStatus::Timeout ? TAVRION_ERR_TIMEOUT : TAVRION_ERR_LINK_DOWN;
}

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::vector<std::uint8_t> textPayload(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace

// Holds a channel for one call and hands it back to the pool, reusable only when the call left the channel
// between messages.
class SensorClient::Lease {
public:
    Lease(SensorClient& client, ChannelPtr channel) : client_(client), channel_(std::move(channel)) {}
    ~Lease() { client_.giveBack(std::move(channel_), reusable_); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Channel& operator*() { return *channel_; }
    // Transport and protocol failures leave the channel mid-message; everything else ends with a whole reply.
    std::int32_t finish(std::int32_t code) {
        reusable_ = code != TAVRION_ERR_LINK_DOWN && code != TAVRION_ERR_TIMEOUT && code != TAVRION_ERR_PROTOCOL;
        return code;
    }

private:
    SensorClient& client_;
    ChannelPtr channel_;
    bool reusable_ = false;
};

SensorClient::SensorClient(std::uint32_t address, std::uint16_t port, const ClientLimits& limits)
    : address_(address), port_(port), limits_(limits) {}

SensorClient::~SensorClient() = default;

std::unique_ptr<SensorClient> SensorClient::open(std::uint32_t address, std::uint16_t port,
                                                 const ClientLimits& limits) {
    std::unique_ptr<SensorClient> client(new SensorClient(address, port, limits));
    std::int32_t code = TAVRION_OK;
    ChannelPtr first = client->connectChannel(limits.connectMs, limits.callMs, code);
    if (!first) return nullptr;
    client->database_ = std::make_unique<DatabaseStore>(client->identity_.serialNumber);
    client->lastAnswerMs_ = static_cast<std::int64_t>(os::monotonicMs());
    client->giveBack(std::move(first), true);
    return client;
}

SensorClient::ChannelPtr SensorClient::connectChannel(int connectMs, int replyMs, std::int32_t& code,
                                                      Deadline deadline) {
    auto channel = std::make_unique<Channel>();
    if (deadline != kNoDeadline) connectMs = std::min(connectMs, millisecondsLeft(deadline));
    bool timedOut = false;
    channel->stream = TcpStream::connectTo(address_, port_, connectMs, &timedOut);
    if (deadline != kNoDeadline) replyMs = std::min(replyMs, millisecondsLeft(deadline));
    if (!channel->stream.valid()) {
        // A sensor that does not take the connection in time is silent, not gone: only a refusal or a reset
        // counts as a lost link at once.
        code = timedOut ? TAVRION_ERR_TIMEOUT : TAVRION_ERR_LINK_DOWN;
        return nullptr;
    }
    {
        std::lock_guard lock(mutex_);
        if (closing_) {
            code = TAVRION_ERR_LINK_DOWN;
            return nullptr;
        }
        busy_.insert(channel.get());
    }
    // Every channel greets first: a peer of another protocol version, or another sensor answering at the same
    // address, is refused rather than misread.
    ByteWriter hello;
    hello.u32(kProtocolVersion);
    std::uint32_t bodyLength = 0;
    const Deadline greeting = Clock::now() + std::chrono::milliseconds(replyMs);
    code = exchange(*channel, MessageKind::Hello, hello.data(), greeting, bodyLength);
    std::vector<std::uint8_t> body;
    // The announced length is checked before anything is set aside for it: a sensor may announce up to 4 GiB.
    if (code == TAVRION_OK && bodyLength > kMaxHelloReplyFields) code = TAVRION_ERR_PROTOCOL;
    if (code == TAVRION_OK) {
        body.resize(bodyLength);
        code = receiveBody(*channel, body.data(), body.size(), greeting);
        if (code == TAVRION_OK) {
            const auto reply = decodeHelloReply(body.data(), body.size());
            const bool first = identity_.serialNumber.empty();
            if (!reply || reply->protocolVersion != kProtocolVersion || !isValidSerialNumber(reply->serialNumber) ||
                (!first && (reply->serialNumber != identity_.serialNumber || reply->width != identity_.width ||
                            reply->height != identity_.height)))
                code = TAVRION_ERR_PROTOCOL;
            else if (first)
                identity_ = *reply;
        }
    }
    if (code != TAVRION_OK) {
        giveBack(std::move(channel), false);
        return nullptr;
    }
    return channel;
}

SensorClient::ChannelPtr SensorClient::takeChannel(int connectMs, int replyMs, std::int32_t& code, Deadline deadline) {
    {
        std::lock_guard lock(mutex_);
        if (closing_) {
            code = TAVRION_ERR_LINK_DOWN;
            return nullptr;
        }
        if (!idle_.empty()) {
            ChannelPtr channel = std::move(idle_.back());
            idle_.pop_back();
            channel->fromPool = true;
            busy_.insert(channel.get());
            return channel;
        }
    }
    return connectChannel(connectMs, replyMs, code, deadline);
}

void SensorClient::giveBack(ChannelPtr channel, bool reusable) {
    if (!channel) return;
    std::lock_guard lock(mutex_);
    busy_.erase(channel.get());
    if (reusable && !closing_ && idle_.size() < kMaxIdleChannels) {
        channel->fromPool = false;
        idle_.push_back(std::move(channel));
    }
}

template <typename Body>
std::int32_t SensorClient::withChannel(int connectMs, int replyMs, Body body, bool* fromPool, Deadline deadline) {
    std::int32_t code = TAVRION_OK;
    ChannelPtr channel = takeChannel(connectMs, replyMs, code, deadline);
    if (!channel) return code;
    if (fromPool != nullptr) *fromPool = channel->fromPool;
    Lease lease(*this, std::move(channel));
    return lease.finish(body(*lease));
}

void SensorClient::shutdown() {
    std::lock_guard lock(mutex_);
    closing_ = true;
    for (Channel* channel : busy_) channel->stream.shutdown();
    idle_.clear();
}

std::int32_t SensorClient::exchange(Channel& channel, MessageKind kind, const std::vector<std::uint8_t>& payload,
                                    Deadline deadline, std::uint32_t& bodyLength) {
    const std::uint32_t id = nextRequestId_++;
    const auto message = encodeMessage(static_cast<std::uint8_t>(kind), id, payload);
    IoStatus io = channel.stream.sendAll(message.data(), message.size(), millisecondsLeft(deadline));
    if (io != IoStatus::Ok) return codeOf(io);
    std::uint8_t head[kHeaderSize + 4];
    io = channel.stream.receiveAll(head, kHeaderSize, millisecondsLeft(deadline));
    if (io != IoStatus::Ok) return codeOf(io);
    const auto header = decodeHeader(head, kHeaderSize);
    if (!header || header->kind != (static_cast<std::uint8_t>(kind) | kReplyBit) || header->requestId != id ||
        header->payloadLength < 4)
        return TAVRION_ERR_PROTOCOL;
    io = channel.stream.receiveAll(head + kHeaderSize, 4, millisecondsLeft(deadline));
    if (io != IoStatus::Ok) return codeOf(io);
    ByteReader reader(head + kHeaderSize, 4);
    const std::int32_t code = reader.i32();
    bodyLength = header->payloadLength - 4;
    // A failure code stands alone; anything after it breaks the protocol.
    if (code != TAVRION_OK && bodyLength != 0) return TAVRION_ERR_PROTOCOL;
    return code;
}

std::int32_t SensorClient::receiveBody(Channel& channel, void* data, std::size_t size, Deadline deadline) {
    const IoStatus io = channel.stream.receiveAll(data, size, millisecondsLeft(deadline));
    return io == IoStatus::Ok ? TAVRION_OK : codeOf(io);
}

std::int32_t SensorClient::statusOnce(std::int32_t& sensorWord, Deadline deadline, bool& retryable) {
    return withChannel(
        limits_.statusMs, limits_.statusMs,
        [&](Channel& channel) {
            std::uint32_t bodyLength = 0;
            std::int32_t code = exchange(channel, MessageKind::Status, {}, deadline, bodyLength);
            if (code != TAVRION_OK) return code;
            if (bodyLength != 4) return std::int32_t{TAVRION_ERR_PROTOCOL};
            std::uint8_t word[4];
            code = receiveBody(channel, word, sizeof word, deadline);
            if (code == TAVRION_OK) sensorWord = ByteReader(word, 4).i32();
            return code;
        },
        &retryable, deadline);
}

std::int32_t SensorClient::status(std::int32_t& word) {
    // One deadline for the whole poll, retry included: the bridge's watchdog counts on an answer within a second.
    const Deadline deadline = Clock::now() + std::chrono::milliseconds(limits_.statusMs);
    std::int32_t sensorWord = 0;
    bool retryable = false;
    std::int32_t code = statusOnce(sensorWord, deadline, retryable);
    // A pooled channel may have been closed by a sensor that restarted since; one fresh channel settles it.
    if (code == TAVRION_ERR_LINK_DOWN && retryable && millisecondsLeft(deadline) > 0)
        code = statusOnce(sensorWord, deadline, retryable);
    const std::int32_t local = database_->loaded() ? TAVRION_STATUS_DATABASE_LOADED : 0;
    // One slow answer is no lost sensor: only a closed or broken connection, or a silence longer than the
    // limit, clears the link bit.
    if (code == TAVRION_ERR_TIMEOUT &&
        static_cast<std::int64_t>(os::monotonicMs()) - lastAnswerMs_.load() < limits_.silenceLimitMs)
        return code;
    if (code == TAVRION_ERR_LINK_DOWN || code == TAVRION_ERR_TIMEOUT || code == TAVRION_ERR_PROTOCOL) {
        word = local;
        return TAVRION_OK;
    }
    if (code != TAVRION_OK) return code;
    lastAnswerMs_ = static_cast<std::int64_t>(os::monotonicMs());
    word = (sensorWord & ~(TAVRION_STATUS_LINK_ALIVE | TAVRION_STATUS_DATABASE_LOADED)) | TAVRION_STATUS_LINK_ALIVE |
           local;
    return TAVRION_OK;
}

std::int32_t SensorClient::plainCommand(const std::string& text) {
    return withChannel(limits_.connectMs, limits_.callMs, [&](Channel& channel) {
        std::uint32_t bodyLength = 0;
        const std::int32_t code =
            exchange(channel, MessageKind::Command, textPayload(text), callDeadline(), bodyLength);
        return code == TAVRION_OK && bodyLength != 0 ? std::int32_t{TAVRION_ERR_PROTOCOL} : code;
    });
}

std::int32_t SensorClient::command(const std::string& text) {
    // Every command reaches the sensor, which may refuse it; the database commands then do their local part.
    const std::int32_t code = plainCommand(text);
    if (code != TAVRION_OK) return code;
    static const std::string kFolderPrefix = "SetSdbPath=";
    if (text.compare(0, kFolderPrefix.size(), kFolderPrefix) == 0)
        return database_->setFolder(text.substr(kFolderPrefix.size()));
    if (text == "SetLoadSdb") return database_->loadFromFolder();
    if (text == "SetLoadSdbFromSensor") {
        if (!database_->hasFolder()) return TAVRION_ERR_IO;
        std::vector<std::uint8_t> database;
        const std::int32_t downloaded = downloadDatabase(database);
        if (downloaded != TAVRION_OK) return downloaded;
        return database_->storeAndLoad(database);
    }
    return TAVRION_OK;
}

std::int32_t SensorClient::downloadDatabase(std::vector<std::uint8_t>& database) {
    return withChannel(limits_.connectMs, limits_.callMs, [&](Channel& channel) {
        std::uint32_t total = 0;
        std::uint32_t offset = 0;
        downloaded_ = 0;
        downloadTotal_ = 0;
        do {
            ByteWriter request;
            request.u32(offset);
            request.u32(kDatabaseChunk);
            // Each chunk, request to last byte, within its own limit: a slow sensor paces its chunks.
            const Deadline chunkDeadline = Clock::now() + std::chrono::milliseconds(limits_.databaseChunkMs);
            std::uint32_t bodyLength = 0;
            std::int32_t code = exchange(channel, MessageKind::DatabaseRead, request.data(), chunkDeadline, bodyLength);
            if (code != TAVRION_OK) return code;
            if (bodyLength < 4) return std::int32_t{TAVRION_ERR_PROTOCOL};
            std::uint8_t sizeField[4];
            code = receiveBody(channel, sizeField, 4, chunkDeadline);
            if (code != TAVRION_OK) return code;
            const std::uint32_t announced = ByteReader(sizeField, 4).u32();
            const std::uint32_t chunk = bodyLength - 4;
            if (offset == 0) {
                total = announced;
                downloadTotal_ = total;
            }
            // The total must stay put, and each chunk must be non-empty and lie inside it.
            if (announced != total || total == 0 || total > kMaxDatabaseSize || chunk == 0 || chunk > kDatabaseChunk ||
                chunk > total - offset)
                return std::int32_t{TAVRION_ERR_PROTOCOL};
            database.resize(offset + chunk);
            code = receiveBody(channel, database.data() + offset, chunk, chunkDeadline);
            if (code != TAVRION_OK) return code;
            offset += chunk;
            downloaded_ = offset;
        } while (offset < total);
        return std::int32_t{TAVRION_OK};
    });
}

std::int32_t SensorClient::query(const std::string& text, char* reply, std::int32_t replySize) {
    if (text == "GetSdbDownloadProgress") {
        const std::string progress = std::to_string(downloaded_.load()) + "/" + std::to_string(downloadTotal_.load());
        if (progress.size() >= static_cast<std::size_t>(replySize)) return TAVRION_ERR_BUFFER_TOO_SMALL;
        std::memcpy(reply, progress.c_str(), progress.size() + 1);
        return TAVRION_OK;
    }
    return withChannel(limits_.connectMs, limits_.callMs, [&](Channel& channel) {
        const Deadline deadline = callDeadline();
        std::uint32_t bodyLength = 0;
        std::int32_t code = exchange(channel, MessageKind::Query, textPayload(text), deadline, bodyLength);
        if (code != TAVRION_OK) return code;
        if (bodyLength > kMaxReplyTextLength) return std::int32_t{TAVRION_ERR_PROTOCOL};
        std::string answer(bodyLength, '\0');
        code = receiveBody(channel, answer.data(), answer.size(), deadline);
        if (code != TAVRION_OK) return code;
        // The whole reply was read, so the channel serves on even when the text does not fit.
        if (answer.size() >= static_cast<std::size_t>(replySize)) return std::int32_t{TAVRION_ERR_BUFFER_TOO_SMALL};
        std::memcpy(reply, answer.data(), answer.size());
        reply[answer.size()] = '\0';
        return std::int32_t{TAVRION_OK};
    });
}

std::int32_t SensorClient::fetchSamples(MessageKind kind, void* first, std::size_t firstSize, void* second,
                                        std::size_t secondSize) {
    return withChannel(limits_.connectMs, limits_.callMs, [&](Channel& channel) {
        const Deadline deadline = callDeadline();
        std::uint32_t bodyLength = 0;
        std::int32_t code = exchange(channel, kind, {}, deadline, bodyLength);
        if (code != TAVRION_OK) return code;
        // The sizes are checked before a single sample byte lands in the caller's buffers.
        if (bodyLength != 4 + firstSize + secondSize) return std::int32_t{TAVRION_ERR_PROTOCOL};
        std::uint8_t countField[4];
        code = receiveBody(channel, countField, 4, deadline);
        if (code != TAVRION_OK) return code;
        if (ByteReader(countField, 4).u32() != pixelCount()) return std::int32_t{TAVRION_ERR_PROTOCOL};
        code = receiveBody(channel, first, firstSize, deadline);
        if (code == TAVRION_OK && secondSize > 0) code = receiveBody(channel, second, secondSize, deadline);
        if (code == TAVRION_OK) samplesToHostOrder(kind, first, second, pixelCount());
        return code;
    });
}

std::int32_t SensorClient::pointCloud(void* cloud, void* mono, std::int32_t size) {
    const std::uint64_t pixels = pixelCount();
    const std::uint64_t needed = pixels * (kCloudBytesPerPixel + kMonoBytesPerPixel);
    if (static_cast<std::uint64_t>(size) < needed) return TAVRION_ERR_BUFFER_TOO_SMALL;
    if (static_cast<std::uint64_t>(size) != needed) return TAVRION_ERR_BAD_ARGUMENT;
    return fetchSamples(MessageKind::PointCloud, cloud, pixels * kCloudBytesPerPixel, mono,
                        pixels * kMonoBytesPerPixel);
}

std::int32_t SensorClient::cameraImage(void* image, std::int32_t size) {
    const std::uint64_t pixels = pixelCount();
    if (static_cast<std::uint64_t>(size) < pixels) return TAVRION_ERR_BUFFER_TOO_SMALL;
    if (static_cast<std::uint64_t>(size) != pixels) return TAVRION_ERR_BAD_ARGUMENT;
    return fetchSamples(MessageKind::CameraImage, image, pixels, nullptr, 0);
}

}  // namespace sensorlink
