// The emulator's network front end: accepts TCP clients, one thread per connection, decodes the requests of
// the sensor protocol, logs the command texts, applies the injected faults and slow replies, and answers from
// the sensor model. A client that breaks the protocol loses its connection; the others are served on.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "command_log.h"
#include "frame_dump.h"
#include "protocol.h"
#include "sensor_model.h"
#include "socket.h"

namespace emulator {

class EmulatorServer {
public:
    EmulatorServer(SensorModel& model, CommandLog& log, FrameDump& dump, std::uint32_t replyDelayMs);
    ~EmulatorServer();
    EmulatorServer(const EmulatorServer&) = delete;
    EmulatorServer& operator=(const EmulatorServer&) = delete;

    // False with a sentence in `error` when the address is no IPv4 address or cannot be bound.
    bool listen(const std::string& address, std::uint16_t port, std::string& error);
    // Serves until `stop` turns true (checked every 100 ms), then closes every connection.
    void serve(const std::atomic<bool>& stop);

private:
    struct Connection {
        std::shared_ptr<sensorlink::TcpStream> stream;
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void serveConnection(Connection& connection);
    // False when the connection must be closed.
    bool answer(sensorlink::TcpStream& stream, const sensorlink::MessageHeader& header,
                const std::vector<std::uint8_t>& payload);
    bool reply(sensorlink::TcpStream& stream, const sensorlink::MessageHeader& header, std::int32_t code,
               const std::vector<std::uint8_t>& fields = {}, const void* data1 = nullptr, std::size_t size1 = 0,
               const void* data2 = nullptr, std::size_t size2 = 0);
    void reapFinished();

    SensorModel& model_;
    CommandLog& log_;
    FrameDump& dump_;
    const std::uint32_t replyDelayMs_;
    sensorlink::TcpListener listener_;
    std::mutex connectionsMutex_;  // guards connections_
    std::list<Connection> connections_;
    bool turningAway_ = false;  // the last client was turned away for the limit (serving thread only)
};

}  // namespace emulator
