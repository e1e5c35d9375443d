// TCP streams and listeners for the sensor protocol, one implementation file per operating system.
// A send or receive gives up when the whole transfer has not finished within `timeoutMs`, so a peer that
// trickles its bytes cannot hold a caller longer than an idle one; a negative limit waits until data comes or
// the stream is shut down, for servers that wait on idle clients.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace sensorlink {

enum class IoStatus {
    Ok,
    Timeout,  // no progress within the time limit
    Closed,   // the peer closed or reset the connection, or shutdown() was called
};

// Parses dotted IPv4 text ("127.0.0.21"); false for anything else.
bool parseIpv4(const std::string& text, std::uint32_t& hostOrderAddress);

class TcpStream {
public:
    TcpStream() = default;
    ~TcpStream();
    TcpStream(TcpStream&& other) noexcept;
    TcpStream& operator=(TcpStream&& other) noexcept;
    TcpStream(const TcpStream&) = delete;
    TcpStream& operator=(const TcpStream&) = delete;

    // Connects to `address:port` within `timeoutMs`; an invalid stream when that fails. `timedOut`, when given,
    // tells a peer that did not answer in time (a busy or frozen sensor) from one that refused or reset.
    static TcpStream connectTo(std::uint32_t hostOrderAddress, std::uint16_t port, int timeoutMs,
                               bool* timedOut = nullptr);

    bool valid() const { return handle_ != kInvalidHandle; }
    IoStatus sendAll(const void* data, std::size_t size, int timeoutMs);
    IoStatus receiveAll(void* data, std::size_t size, int timeoutMs);
    // Tells the peer that nothing more will be sent (it reads the end of the stream) while receiving goes on.
    void finishSending();
    // Wakes every thread blocked on this stream and makes later transfers fail with IoStatus::Closed. Safe to call
    // from another thread while a transfer runs; the stream is released only by its destructor.
    void shutdown();

private:
    friend class TcpListener;
    static constexpr std::intptr_t kInvalidHandle = -1;
    explicit TcpStream(std::intptr_t handle) : handle_(handle) {}
    void close();
    std::intptr_t handle_ = kInvalidHandle;
    // Set by shutdown(); waits that the platform does not wake on a shut-down socket check it in short slices.
    std::atomic<bool> shutDown_{false};
};

class TcpListener {
public:
    TcpListener() = default;
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Binds and listens; on failure returns false with a sentence in `error`.
    bool listenOn(std::uint32_t hostOrderAddress, std::uint16_t port, std::string& error);
    // Waits up to `timeoutMs` for a client; an invalid stream when none came.
    TcpStream acceptClient(int timeoutMs);

private:
    std::intptr_t handle_ = -1;
};

}  // namespace sensorlink
