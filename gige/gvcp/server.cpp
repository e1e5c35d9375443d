// The GVCP server's thread and the command handling every request passes through.
#include "gvcp/server.h"

#include <algorithm>
#include <chrono>

#include "byte_reader.h"
#include "byte_writer.h"
#include "os.h"

namespace gvcp {

namespace {
constexpr std::size_t kCacheSize = 16;
constexpr std::uint32_t kCcp = reg::kControlPrivilege;
// Receive buffer: larger than any valid command, so an oversized datagram is seen as such.
constexpr std::size_t kReceiveSize = 2048;
constexpr int kPollMs = 50;
// The server whose control loop runs on this thread: a stop asked from one of its callbacks is recognised
// without touching the thread object, which the starting thread may still be assigning.
thread_local const Server* serverOfThisThread = nullptr;
}  // namespace

Server::Server(DeviceRegisters& device, ControlPrivilege& privilege, ActionSignals& actions)
    : device_(device), privilege_(privilege), actions_(actions) {}

Server::~Server() { stop(); }

bool Server::start(std::uint32_t address, const ServerOptions& options, std::string& error) {
    if (running()) {
        error = "the server is already running";
        return false;
    }
    stop();  // joins a loop that a callback asked to stop
    options_ = options;
    if (options_.pendingAckMs == 0) options_.pendingAckMs = kDefaultPendingAckMs;
    options_.pendingAckMs = std::clamp<std::uint32_t>(options_.pendingAckMs, 2 * kFirstPendingAckMs, 0xFFFF);
    if (!socket_.open(address, kPort, false, error)) return false;
    socket_.enableBroadcast();
    // Bound to one address, the control socket does not see limited broadcasts; a shared listener does.
    if (address != 0 && options_.answerBroadcastDiscovery) {
        bool needed = false;
        if (!gige::openBroadcastListener(broadcast_, kPort, error, needed) && needed) {
            error = "cannot listen for broadcast discovery: " + error;
            socket_.close();
            return false;
        }
    }
    cache_.clear();
    stopping_ = false;
    running_ = true;
    thread_ = std::thread([this] { run(); });
    keeper_ = std::thread([this] { keep(); });
    return true;
}

void Server::stop() {
    // Asked from a callback on the server thread: the loop ends when the callback returns; joining and
    // closing the sockets wait for the next stop (the camera's destructor at the latest).
    if (serverOfThisThread == this) {
        stopping_ = true;
        return;
    }
    if (!thread_.joinable()) return;
    stopping_ = true;
    {
        std::lock_guard lock(flightMutex_);
        flightChanged_.notify_all();
    }
    thread_.join();
    keeper_.join();
    socket_.close();
    broadcast_.close();
    running_ = false;
}

void Server::run() {
    serverOfThisThread = this;
    // Clients wait on every answer, while streaming threads may keep every processor busy.
    os::favourThreadLatency();
    std::uint8_t buffer[kReceiveSize];
    gige::UdpSocket* sockets[2] = {&socket_, &broadcast_};
    while (!stopping_) {
        const std::uint64_t untilExpiry = privilege_.msUntilExpiry(os::monotonicMs());
        const int timeout = static_cast<int>(std::min<std::uint64_t>(untilExpiry, kPollMs));
        const unsigned ready = gige::UdpSocket::waitReadable(sockets, 2, timeout);
        for (int index = 0; index < 2; ++index) {
            if ((ready & (1U << index)) == 0) continue;
            // Drain what is queued, so that a heartbeat waiting in the socket counts before the expiry check.
            for (int budget = 0; budget < 64 && !stopping_; ++budget) {
                gige::Endpoint from;
                const long size = sockets[index]->receive(buffer, sizeof buffer, from);
                if (size < 0) break;
                handle(buffer, std::min<std::size_t>(static_cast<std::size_t>(size), sizeof buffer), from, index == 1);
            }
        }
        report(privilege_.expire(os::monotonicMs()));
    }
}

// The keeper wakes for a command only when it had nothing to wait for. While it waits until the deadline of an
// earlier command, a command started since has a later deadline, which it finds when it wakes; so a client
// reading registers one after the other does not wake it for each read.
void Server::keep() {
    std::unique_lock lock(flightMutex_);
    while (!stopping_) {
        if (!flight_.active || flight_.answered) {
            keeperIdle_ = true;
            flightChanged_.wait(lock);
            keeperIdle_ = false;
            continue;
        }
        const std::uint64_t now = os::monotonicMs();
        const std::uint64_t busyAt = flight_.startMs + options_.callbackLimitMs;
        const std::uint64_t pendingAt = flight_.lastPendingMs == 0
                                            ? flight_.startMs + kFirstPendingAckMs
                                            : flight_.lastPendingMs + options_.pendingAckMs - kFirstPendingAckMs;
        if (now >= busyAt) {
            // The command keeps running on the server thread; the client gets its answer now.
            flight_.busySize =
                encodeAck(flight_.busyAck, Status::Busy, ackCode(flight_.command), flight_.requestId, nullptr, 0);
            flight_.answered = true;
            send(flight_.busyAck.data(), flight_.busySize, flight_.peer);
            continue;
        }
        if (options_.sendPendingAck && now >= pendingAt) {
            AckBuffer pending{};
            const std::size_t size =
                encodePendingAck(pending, flight_.requestId, static_cast<std::uint16_t>(options_.pendingAckMs));
            send(pending.data(), size, flight_.peer);
            flight_.lastPendingMs = now;
            continue;
        }
        const std::uint64_t wake = options_.sendPendingAck ? std::min(busyAt, pendingAt) : busyAt;
        flightChanged_.wait_for(lock, std::chrono::milliseconds(wake - now));
    }
}

Server::CachedAck* Server::cached(const Peer& peer) {
    for (auto& entry : cache_) {
        if (entry.peer == peer) return &entry;
    }
    CachedAck* slot = nullptr;
    if (cache_.size() < kCacheSize) {
        slot = &cache_.emplace_back();
    } else {
        // Forget the client heard from least recently.
        slot = &*std::min_element(cache_.begin(), cache_.end(),
                                  [](const CachedAck& a, const CachedAck& b) { return a.used < b.used; });
        *slot = CachedAck{};
    }
    slot->peer = peer;
    return slot;
}

void Server::send(const std::uint8_t* data, std::size_t size, const Peer& to) {
    if (size > 0) socket_.send(data, size, gige::Endpoint{to.address, to.port});
}

void Server::handle(const std::uint8_t* data, std::size_t size, const gige::Endpoint& from, bool viaBroadcastSocket) {
    // The device sends events from this port, so their acknowledges arrive here: an ack starts with its status,
    // never with the command key.
    if (!viaBroadcastSocket && size >= kHeaderSize && data[0] != kKey) {
        const std::uint16_t code = wire::ByteReader(data + 2, 2).u16();
        if (code == ackCode(static_cast<std::uint16_t>(Command::Event)) ||
            code == ackCode(static_cast<std::uint16_t>(Command::EventData)))
            device_.eventAcknowledged(Peer{from.address, from.port}, code, wire::ByteReader(data + 6, 2).u16());
        return;
    }
    Header header;
    const HeaderCheck check = decodeHeader(data, size, header);
    if (check == HeaderCheck::Drop) return;
    const Peer peer{from.address, from.port};
    AckBuffer ack{};
    if (check == HeaderCheck::Invalid) {
        if (header.ackRequired()) {
            send(ack.data(),
                 encodeAck(ack, Status::InvalidHeader, ackCode(header.command), header.requestId, nullptr, 0), peer);
        }
        return;
    }
    const std::uint8_t* payload = data + kHeaderSize;
    const auto command = static_cast<Command>(header.command);
    if (command == Command::Discovery) {
        if (viaBroadcastSocket && !options_.answerBroadcastDiscovery) return;
        if (!header.ackRequired()) return;
        std::uint8_t block[kDiscoveryAckSize] = {};
        device_.discoveryBlock(peer, block);
        send(ack.data(),
             encodeAck(ack, Status::Success, ackCode(header.command), header.requestId, block, sizeof block), peer);
        return;
    }
    // Discovery and actions are answered from a broadcast; actions fire a whole cell of devices at once.
    if (viaBroadcastSocket && command != Command::Action) return;
    if (command == Command::PacketResend) {
        device_.packetResend(peer, payload, header.length, header.flags);
        return;
    }
    if (command == Command::ForceIp && !addressedToThisDevice(payload, header.length)) return;

    // A retransmission (same client, id and command) gets the answer of the first run, without rerunning it.
    CachedAck* entry = cached(peer);
    const std::uint64_t now = os::monotonicMs();
    entry->used = now;
    if (entry->requestId == header.requestId && entry->command == header.command && entry->requestId != 0) {
        privilege_.activity(peer, now);
        send(entry->bytes.data(), entry->size, peer);
        return;
    }
    privilege_.activity(peer, now);
    {
        std::lock_guard lock(flightMutex_);
        flight_ = InFlight{};
        flight_.active = header.ackRequired();
        flight_.peer = peer;
        flight_.command = header.command;
        flight_.requestId = header.requestId;
        flight_.startMs = now;
        if (keeperIdle_) flightChanged_.notify_all();
    }
    std::size_t ackSize = execute(header, payload, peer, ack);
    if (!header.ackRequired()) ackSize = 0;
    privilege_.activity(peer, os::monotonicMs());
    entry->requestId = header.requestId;
    entry->command = header.command;
    {
        std::lock_guard lock(flightMutex_);
        const bool answered = flight_.answered;
        flight_.active = false;
        if (answered) {
            entry->bytes = flight_.busyAck;
            entry->size = flight_.busySize;
            return;
        }
    }
    entry->bytes = ack;
    entry->size = ackSize;
    send(ack.data(), ackSize, peer);
}

bool Server::addressedToThisDevice(const std::uint8_t* payload, std::size_t size) {
    // FORCEIP names its target by MAC address (payload bytes 2..7); other devices' ones are not answered.
    std::uint8_t mac[8] = {};
    if (size < 8 || device_.readMemory(reg::kMacHigh, 8, mac) != Status::Success) return false;
    return std::equal(payload + 2, payload + 8, mac + 2);
}

std::size_t Server::execute(const Header& header, const std::uint8_t* payload, const Peer& peer, AckBuffer& ack) {
    switch (static_cast<Command>(header.command)) {
        case Command::ReadReg: return readRegisters(header, payload, peer, ack);
        case Command::WriteReg: return writeRegisters(header, payload, peer, ack);
        case Command::ReadMem: return readMemory(header, payload, peer, ack);
        case Command::WriteMem: return writeMemory(header, payload, peer, ack);
        case Command::Action: return action(header, payload, ack);
        default:
            // FORCEIP, events and unknown codes: this device does not do them.
            return encodeAck(ack, Status::NotImplemented, ackCode(header.command), header.requestId, nullptr, 0);
    }
}

Status Server::readWithPrivilege(std::uint32_t address, std::uint32_t count, std::uint8_t* out) {
    // The privilege register is the server's; everything around it is the device's.
    if (address <= kCcp && kCcp - address < count) {
        const std::uint32_t before = kCcp - address;
        Status status = before > 0 ? device_.readMemory(address, before, out) : Status::Success;
        if (status != Status::Success) return status;
        wire::storeBe32(out + before, privilege_.value());
        const std::uint32_t after = count - before - 4;
        return after > 0 ? device_.readMemory(kCcp + 4, after, out + before + 4) : Status::Success;
    }
    return device_.readMemory(address, count, out);
}

Status Server::writeWithPrivilege(const Peer& peer, std::uint32_t address, const std::uint8_t* data,
                                  std::uint32_t count) {
    const bool touchesCcp = address <= kCcp && kCcp - address < count;
    if (!touchesCcp)
        return privilege_.mayWrite(peer) ? device_.writeMemory(address, data, count) : Status::AccessDenied;
    if (count != 4 && !privilege_.mayWrite(peer)) return Status::AccessDenied;
    const std::uint32_t before = kCcp - address;
    if (before > 0) {
        const Status status = device_.writeMemory(address, data, before);
        if (status != Status::Success) return status;
    }
    ControlPrivilege::Change change = ControlPrivilege::Change::None;
    const Status status =
        privilege_.write(peer, wire::loadBe32(data + before), device_.switchoverKey(), os::monotonicMs(), change);
    report(change);
    if (status != Status::Success) return status;
    const std::uint32_t after = count - before - 4;
    return after > 0 ? device_.writeMemory(kCcp + 4, data + before + 4, after) : Status::Success;
}

void Server::report(ControlPrivilege::Change change) {
    if (change != ControlPrivilege::Change::None) device_.controlChanged(change == ControlPrivilege::Change::Gained);
}

std::size_t Server::readRegisters(const Header& header, const std::uint8_t* payload, const Peer& peer, AckBuffer& ack) {
    const std::uint16_t code = ackCode(header.command);
    RegisterList list;
    Status status = decodeReadReg(payload, header.length, list);
    if (status == Status::Success && !privilege_.mayRead(peer)) status = Status::AccessDenied;
    std::uint8_t values[kMaxReadRegCount * 4] = {};
    for (std::uint32_t i = 0; i < list.count && status == Status::Success; ++i)
        status = readWithPrivilege(list.addresses[i], 4, values + 4 * i);
    if (status != Status::Success) return encodeAck(ack, status, code, header.requestId, nullptr, 0);
    return encodeAck(ack, Status::Success, code, header.requestId, values, 4 * list.count);
}

std::size_t Server::writeRegisters(const Header& header, const std::uint8_t* payload, const Peer& peer,
                                   AckBuffer& ack) {
    const std::uint16_t code = ackCode(header.command);
    RegisterList list;
    Status status = decodeWriteReg(payload, header.length, list);
    std::uint16_t written = 0;
    for (std::uint32_t i = 0; i < list.count && status == Status::Success; ++i) {
        std::uint8_t value[4];
        wire::storeBe32(value, list.values[i]);
        status = writeWithPrivilege(peer, list.addresses[i], value, 4);
        if (status == Status::Success) ++written;
    }
    return encodeIndexAck(ack, status, code, header.requestId, written);
}

std::size_t Server::readMemory(const Header& header, const std::uint8_t* payload, const Peer& peer, AckBuffer& ack) {
    const std::uint16_t code = ackCode(header.command);
    MemoryRead request;
    Status status = decodeReadMem(payload, header.length, request);
    if (status == Status::Success && !privilege_.mayRead(peer)) status = Status::AccessDenied;
    std::uint8_t data[4 + kMaxMemoryBytes] = {};
    if (status == Status::Success) status = readWithPrivilege(request.address, request.count, data + 4);
    if (status != Status::Success) return encodeAck(ack, status, code, header.requestId, nullptr, 0);
    wire::storeBe32(data, request.address);
    return encodeAck(ack, Status::Success, code, header.requestId, data, 4 + request.count);
}

std::size_t Server::writeMemory(const Header& header, const std::uint8_t* payload, const Peer& peer, AckBuffer& ack) {
    const std::uint16_t code = ackCode(header.command);
    MemoryWrite request;
    Status status = decodeWriteMem(payload, header.length, request);
    if (status == Status::Success) status = writeWithPrivilege(peer, request.address, request.data, request.count);
    return encodeIndexAck(ack, status, code, header.requestId,
                          status == Status::Success ? static_cast<std::uint16_t>(request.count) : 0);
}

// Any application may send an action; it needs no control privilege. A command that fires none of the
// device's signals is some other device's business and gets no answer, an ack asked for or not.
std::size_t Server::action(const Header& header, const std::uint8_t* payload, AckBuffer& ack) {
    const std::uint16_t code = ackCode(header.command);
    ActionCommand command;
    const Status decoded = decodeAction(payload, header.length, header.flags, command);
    if (decoded != Status::Success) return encodeAck(ack, decoded, code, header.requestId, nullptr, 0);
    std::uint8_t word[4] = {};
    device_.readMemory(reg::kGvcpConfiguration, 4, word);
    const std::uint32_t configuration = wire::loadBe32(word);
    // Without a controlling application a device acts only when told to act unconditionally.
    if (!privilege_.controlled() && (configuration & GvcpConfigUnconditionalAction) == 0) return 0;
    const unsigned signals = actions_.match(command);
    if (signals == 0) return 0;
    Status status = Status::Success;
    switch (actions_.submit(signals, command)) {
        case ActionSignals::Outcome::Accepted: break;
        // Still carried out; a client that did not enable the newer codes gets the generic error.
        case ActionSignals::Outcome::Late:
            status = (configuration & GvcpConfigStatusCodes20) != 0 ? Status::ActionLate : Status::Error;
            break;
        case ActionSignals::Outcome::Overflow: status = Status::Overflow; break;
    }
    return encodeAck(ack, status, code, header.requestId, nullptr, 0);
}

}  // namespace gvcp
