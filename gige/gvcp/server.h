// The GVCP server: the control port of one device, its thread, and the rules every command passes
// through (header checks, duplicate requests, control privilege, PENDING_ACK and BUSY for slow work).
// Register contents are the device's business, reached through DeviceRegisters.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gvcp/action_signals.h"
#include "gvcp/codec.h"
#include "gvcp/control_privilege.h"
#include "net/udp_socket.h"

namespace gvcp {

// What the server needs from the device. Called on the server thread only, with no server lock held.
class DeviceRegisters {
public:
    virtual ~DeviceRegisters() = default;
    // [address, address + count) is aligned, non-empty and does not wrap; the control privilege register
    // is handled by the server and never reaches these two.
    virtual Status readMemory(std::uint32_t address, std::uint32_t count, std::uint8_t* out) = 0;
    virtual Status writeMemory(std::uint32_t address, const std::uint8_t* data, std::uint32_t count) = 0;
    // The value last written to the control switchover key register (write-only, so reads give 0 instead).
    virtual std::uint32_t switchoverKey() = 0;
    // The 248 bytes of a discovery answer for a request from `from`.
    virtual void discoveryBlock(const Peer& from, std::uint8_t* out) = 0;
    // A PACKETRESEND command (never acknowledged) with its payload and flags.
    virtual void packetResend(const Peer& from, const std::uint8_t* payload, std::size_t size, std::uint8_t flags) = 0;
    // A client gained (true) or lost (false) control.
    virtual void controlChanged(bool controlled) = 0;
    // An acknowledge of one of the device's own EVENT or EVENTDATA commands: its ack code and the request id
    // it answers.
    virtual void eventAcknowledged(const Peer& from, std::uint16_t code, std::uint16_t ackId) {
        (void)from;
        (void)code;
        (void)ackId;
    }
};

struct ServerOptions {
    bool answerBroadcastDiscovery = true;
    bool sendPendingAck = true;
    std::uint32_t pendingAckMs = 0;         // announced completion time; 0: kDefaultPendingAckMs
    std::uint32_t callbackLimitMs = 10000;  // then the command is answered BUSY
};

constexpr std::uint32_t kDefaultPendingAckMs = 1000;
// Hosts commonly wait 200 to 500 ms for an ack; the first PENDING_ACK goes out well before that.
constexpr std::uint32_t kFirstPendingAckMs = 150;

class Server {
public:
    Server(DeviceRegisters& device, ControlPrivilege& privilege, ActionSignals& actions);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds address:3956 (0: every interface) and starts the thread. False with `error` set when the
    // port is taken or the address is not local; nothing stays open then.
    bool start(std::uint32_t address, const ServerOptions& options, std::string& error);
    // Stopping from a callback (on the server thread) takes effect when the callback returns.
    void stop();
    bool running() const { return running_.load() && !stopping_.load(); }

    // One datagram handled on the caller's thread as if it had come in on the control socket from `from`;
    // answers leave through the control socket. For tests and fuzzing, on a server that receives nothing else.
    void handleDatagram(const std::uint8_t* data, std::size_t size, const gige::Endpoint& from) {
        handle(data, size, from, false);
    }

    // The control socket, so that datagrams of the device leave from its served address and port 3956.
    gige::UdpSocket& socket() { return socket_; }

private:
    struct CachedAck {
        Peer peer;
        std::uint16_t requestId = 0;
        std::uint16_t command = 0;
        std::uint64_t used = 0;
        std::size_t size = 0;
        AckBuffer bytes{};
    };
    struct InFlight {
        bool active = false;
        bool answered = false;  // the keeper answered BUSY; the late result is not sent
        Peer peer;
        std::uint16_t command = 0;
        std::uint16_t requestId = 0;
        std::uint64_t startMs = 0;
        std::uint64_t lastPendingMs = 0;
        std::size_t busySize = 0;
        AckBuffer busyAck{};
    };

    void run();
    void keep();
    void handle(const std::uint8_t* data, std::size_t size, const gige::Endpoint& from, bool viaBroadcastSocket);
    // Runs one command and returns its ack size in `ack` (0: no ack).
    std::size_t execute(const Header& header, const std::uint8_t* payload, const Peer& peer, AckBuffer& ack);
    std::size_t readRegisters(const Header& header, const std::uint8_t* payload, const Peer& peer, AckBuffer& ack);
    std::size_t writeRegisters(const Header& header, const std::uint8_t* payload, const Peer& peer, AckBuffer& ack);
    std::size_t readMemory(const Header& header, const std::uint8_t* payload, const Peer& peer, AckBuffer& ack);
    std::size_t writeMemory(const Header& header, const std::uint8_t* payload, const Peer& peer, AckBuffer& ack);
    std::size_t action(const Header& header, const std::uint8_t* payload, AckBuffer& ack);
    Status writeWithPrivilege(const Peer& peer, std::uint32_t address, const std::uint8_t* data, std::uint32_t count);
    Status readWithPrivilege(std::uint32_t address, std::uint32_t count, std::uint8_t* out);
    void report(ControlPrivilege::Change change);
    bool addressedToThisDevice(const std::uint8_t* payload, std::size_t size);
    CachedAck* cached(const Peer& peer);
    void send(const std::uint8_t* data, std::size_t size, const Peer& to);

    DeviceRegisters& device_;
    ControlPrivilege& privilege_;
    ActionSignals& actions_;
    ServerOptions options_;
    gige::UdpSocket socket_;
    gige::UdpSocket broadcast_;
    std::thread thread_;
    std::thread keeper_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stopping_{false};
    std::vector<CachedAck> cache_;  // server thread only

    std::mutex flightMutex_;
    std::condition_variable flightChanged_;
    InFlight flight_;
    bool keeperIdle_ = false;  // the keeper waits for a command without a time limit: a new one must wake it
};

}  // namespace gvcp
