// A sensor that breaks the sensor protocol on purpose; see hostile_sensor.h.
#include "hostile_sensor.h"

#include <algorithm>
#include <chrono>

#include "byte_reader.h"
#include "byte_writer.h"

using sensorlink::IoStatus;
using sensorlink::TcpStream;

HostileSensor::HostileSensor(const std::string& address, std::uint16_t port) {
    std::uint32_t host = 0;
    std::string error;
    listening_ = sensorlink::parseIpv4(address, host) && listener_.listenOn(host, port, error);
    if (listening_) acceptor_ = std::thread([this] { acceptLoop(); });
}

HostileSensor::~HostileSensor() {
    stopping_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    dropConnections();
}

void HostileSensor::setScript(Script script) {
    std::lock_guard lock(mutex_);
    script_ = std::move(script);
}

void HostileSensor::dropConnections() {
    std::list<Connection> served;
    {
        std::lock_guard lock(mutex_);
        served.swap(served_);
    }
    for (auto& connection : served) connection.stream->shutdown();
    for (auto& connection : served) connection.thread.join();
}

void HostileSensor::acceptLoop() {
    while (!stopping_) {
        TcpStream accepted = listener_.acceptClient(50);
        if (!accepted.valid()) continue;
        ++connections_;
        std::lock_guard lock(mutex_);
        auto& connection = served_.emplace_back();
        connection.stream = std::make_shared<TcpStream>(std::move(accepted));
        connection.thread =
            std::thread([this, stream = connection.stream, script = script_] { serve(*stream, script); });
    }
}

void HostileSensor::serve(TcpStream& stream, const Script& script) {
    const std::size_t step = script.bytesPerSecond > 0 ? 1 : std::max<std::size_t>(script.bytes.size(), 1);
    for (std::size_t sent = 0; sent < script.bytes.size() && !stopping_; sent += step) {
        const std::size_t size = std::min(step, script.bytes.size() - sent);
        if (stream.sendAll(script.bytes.data() + sent, size, 1000) != IoStatus::Ok) return;
        if (script.bytesPerSecond > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(1000000 / script.bytesPerSecond));
    }
    if (script.hangUpAfter) {
        // The end of the stream first, then the requests still on their way are read and dropped, so the
        // client sees the scripted bytes whole rather than a reset that may discard them.
        stream.finishSending();
    }
    std::uint8_t sink[4096];
    while (!stopping_ && stream.receiveAll(sink, 1, 100) != IoStatus::Closed) {
    }
}

std::vector<std::uint8_t> HostileSensor::reply(sensorlink::MessageKind kind, std::uint32_t requestId,
                                               const std::vector<std::uint8_t>& payload) {
    return sensorlink::encodeMessage(static_cast<std::uint8_t>(kind) | sensorlink::kReplyBit, requestId, payload);
}

std::vector<std::uint8_t> HostileSensor::greeting(std::uint32_t width, std::uint32_t height) {
    sensorlink::HelloReply hello;
    hello.protocolVersion = sensorlink::kProtocolVersion;
    hello.width = width;
    hello.height = height;
    hello.serialNumber = "CVS3D-HOSTILE1";
    return reply(sensorlink::MessageKind::Hello, 1, sensorlink::encodeHelloReply(hello));
}
