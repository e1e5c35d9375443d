// A sensor that speaks the sensor protocol wrongly on purpose, for tests and fuzzing of the SDK: every
// connection it accepts gets the same scripted bytes (wrong magic, huge lengths, short frames, ...), at once or
// trickled, and then it either waits for the client to hang up or hangs up itself in mid-stream.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol.h"
#include "socket.h"

class HostileSensor {
public:
    struct Script {
        std::vector<std::uint8_t> bytes;
        int bytesPerSecond = 0;    // 0: all at once
        bool hangUpAfter = false;  // true: close the connection as soon as the bytes are out
    };

    // Listens on address:port; check listening().
    explicit HostileSensor(const std::string& address, std::uint16_t port = 32001);
    ~HostileSensor();
    HostileSensor(const HostileSensor&) = delete;
    HostileSensor& operator=(const HostileSensor&) = delete;

    bool listening() const { return listening_; }
    // For connections accepted from now on.
    void setScript(Script script);
    int connections() const { return connections_.load(); }
    // Closes every connection it serves and waits until their threads are done.
    void dropConnections();

    // Script pieces: one reply message with the request id the SDK gives its n-th request (1, 2, ...).
    static std::vector<std::uint8_t> reply(sensorlink::MessageKind kind, std::uint32_t requestId,
                                           const std::vector<std::uint8_t>& payload);
    // A well-formed greeting reply (id 1) for a sensor of width × height pixels.
    static std::vector<std::uint8_t> greeting(std::uint32_t width = 4, std::uint32_t height = 2);

private:
    struct Connection {
        std::shared_ptr<sensorlink::TcpStream> stream;
        std::thread thread;
    };
    void acceptLoop();
    void serve(sensorlink::TcpStream& stream, const Script& script);

    sensorlink::TcpListener listener_;
    bool listening_ = false;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::mutex mutex_;  // guards the two below
    Script script_;
    std::list<Connection> served_;
    std::thread acceptor_;
};
