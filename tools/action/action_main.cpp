// corvastrum-action: sends one GigE Vision action command to one or more devices (unicast or broadcast), at
// once or scheduled for a device time, and prints what it sent and, when asked for, each device's answer.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "byte_reader.h"
#include "byte_writer.h"
#include "gvcp/protocol.h"
#include "net/udp_socket.h"
#include "os.h"

namespace {

constexpr std::uint16_t kActionCommand = static_cast<std::uint16_t>(gvcp::Command::Action);

int fail(const std::string& message) {
    std::fprintf(stderr, "corvastrum-action: %s\n", message.c_str());
    return 1;
}

// Decimal or 0x-prefixed hexadecimal, as keys are usually written.
bool parseNumber(const std::string& text, std::uint64_t limit, std::uint64_t& value) {
    if (text.empty() || text[0] == '-') return false;
    try {
        std::size_t used = 0;
        value = std::stoull(text, &used, 0);
        return used == text.size() && value <= limit;
    } catch (const std::exception&) {
        return false;
    }
}

const char* statusName(std::uint16_t status) {
    switch (status) {
        case 0x0000: return "SUCCESS";
        case 0x8001: return "NOT_IMPLEMENTED";
        case 0x8002: return "INVALID_PARAMETER";
        case 0x8006: return "ACCESS_DENIED";
        case 0x8007: return "BUSY";
        case 0x800E: return "INVALID_HEADER";
        case 0x8015: return "OVERFLOW";
        case 0x8016: return "ACTION_LATE";
        case 0x8FFF: return "ERROR";
        default: return "status";
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Sends a GigE Vision action command and prints what was sent and, with --ack, each answer."};
    std::string deviceKeyText;
    std::string groupKeyText;
    std::string groupMaskText;
    std::vector<std::string> addresses;
    std::string atText;
    std::int64_t inMs = -1;
    bool ack = false;
    std::string source;
    int timeoutMs = 1000;
    app.add_option("--device-key", deviceKeyText, "the devices' action device key (decimal or 0x hex)")->required();
    app.add_option("--group-key", groupKeyText, "the action group key (decimal or 0x hex)")->required();
    app.add_option("--group-mask", groupMaskText, "the action group mask (decimal or 0x hex)")->required();
    app.add_option("--address", addresses, "a device's IPv4 address, or a broadcast address (repeatable)")->required();
    auto* at = app.add_option("--at", atText, "schedule the action for this device time, in ns ticks");
    app.add_option("--in-ms", inMs,
                   "schedule the action this many ms from now on this host's real-time clock, which the devices "
                   "share when their hosts are synchronised (PTP) or the same")
        ->check(CLI::Range(0, 86400000))
        ->excludes(at);
    app.add_flag("--ack", ack, "ask each device to acknowledge, and print the answers");
    app.add_option("--source", source, "local IPv4 address to send from (picks the interface of a broadcast)");
    app.add_option("--timeout-ms", timeoutMs, "how long to wait for answers with --ack (default 1000)")
        ->check(CLI::Range(1, 60000));
    CLI11_PARSE(app, argc, argv);

    std::uint64_t deviceKey = 0, groupKey = 0, groupMask = 0, actionTime = 0;
    if (!parseNumber(deviceKeyText, 0xFFFFFFFF, deviceKey) || !parseNumber(groupKeyText, 0xFFFFFFFF, groupKey) ||
        !parseNumber(groupMaskText, 0xFFFFFFFF, groupMask))
        return fail("keys and the mask are 32-bit numbers, decimal or 0x hex");
    if (!atText.empty() && !parseNumber(atText, ~std::uint64_t{0}, actionTime))
        return fail("--at takes a device time in ns ticks");
    const bool scheduled = !atText.empty() || inMs >= 0;
    if (inMs >= 0) actionTime = os::realtimeNs() + static_cast<std::uint64_t>(inMs) * 1000000;

    std::vector<gige::Endpoint> targets;
    for (const auto& text : addresses) {
        std::uint32_t address = 0;
        if (!gige::parseAddress(text, address)) return fail("'" + text + "' is not an IPv4 address");
        targets.push_back(gige::Endpoint{address, gvcp::kPort});
    }
    std::uint32_t sourceAddress = 0;
    if (!source.empty() && !gige::parseAddress(source, sourceAddress))
        return fail("'" + source + "' is not an IPv4 address");

    gige::UdpSocket socket;
    std::string error;
    if (!socket.open(sourceAddress, 0, false, error)) return fail("cannot open a UDP socket: " + error);
    socket.enableBroadcast();

    // A request id of its own for every run: a device takes a repeated id from the same port for a
    // retransmission and would not act again.
    const auto requestId = static_cast<std::uint16_t>(os::realtimeNs() / 1000 % 0xFFFF + 1);
    std::uint8_t datagram[gvcp::kHeaderSize + 20];
    wire::ByteWriter writer(datagram, sizeof datagram);
    writer.u8(gvcp::kKey);
    writer.u8(
        static_cast<std::uint8_t>((ack ? gvcp::FlagAckRequired : 0) | (scheduled ? gvcp::FlagScheduledAction : 0)));
    writer.u16(kActionCommand);
    writer.u16(scheduled ? 20 : 12);
    writer.u16(requestId);
    writer.u32(static_cast<std::uint32_t>(deviceKey));
    writer.u32(static_cast<std::uint32_t>(groupKey));
    writer.u32(static_cast<std::uint32_t>(groupMask));
    if (scheduled) writer.u64(actionTime);

    const std::string when = scheduled ? "at device time " + std::to_string(actionTime) : "now";
    bool sent = true;
    for (const auto& target : targets) {
        if (!socket.send(datagram, writer.size(), target)) {
            std::fprintf(stderr, "corvastrum-action: could not send to %s\n",
                         gige::formatAddress(target.address).c_str());
            sent = false;
            continue;
        }
        std::printf(
            "sent ACTION_CMD to %s:%u: device key 0x%08X, group key 0x%08X, group mask 0x%08X, %s, "
            "req_id 0x%04X%s\n",
            gige::formatAddress(target.address).c_str(), gvcp::kPort, static_cast<unsigned>(deviceKey),
            static_cast<unsigned>(groupKey), static_cast<unsigned>(groupMask), when.c_str(), requestId,
            ack ? ", ack asked" : "");
    }
    std::fflush(stdout);
    if (!sent) return 1;
    if (!ack) return 0;

    // Every device that takes the command answers; a broadcast may bring several answers, so the whole time
    // is waited for.
    int answers = 0;
    bool allSucceeded = true;
    std::set<std::uint32_t> answered;
    const std::uint64_t deadline = os::monotonicMs() + static_cast<std::uint64_t>(timeoutMs);
    for (std::uint64_t now = os::monotonicMs(); now < deadline; now = os::monotonicMs()) {
        gige::UdpSocket* sockets[1] = {&socket};
        if (gige::UdpSocket::waitReadable(sockets, 1, static_cast<int>(deadline - now)) == 0) continue;
        std::uint8_t buffer[600];
        gige::Endpoint from;
        const long size = socket.receive(buffer, sizeof buffer, from);
        if (size < 8) continue;
        wire::ByteReader reader(buffer, static_cast<std::size_t>(size));
        const std::uint16_t status = reader.u16();
        const std::uint16_t code = reader.u16();
        reader.u16();
        const std::uint16_t id = reader.u16();
        if (code != gvcp::ackCode(kActionCommand) || id != requestId) continue;
        ++answers;
        answered.insert(from.address);
        allSucceeded = allSucceeded && status == 0;
        std::printf("ACTION_ACK from %s: %s (0x%04X)\n", gige::formatAddress(from.address).c_str(), statusName(status),
                    status);
    }
    bool missing = answers == 0;
    for (const auto& target : targets) {
        // A broadcast address never answers itself; the answers above are its devices'.
        const bool broadcast = (target.address & 0xFF) == 0xFF;
        if (!broadcast && answered.count(target.address) == 0) {
            std::printf("no answer from %s\n", gige::formatAddress(target.address).c_str());
            missing = true;
        }
    }
    std::printf("%d answer%s\n", answers, answers == 1 ? "" : "s");
    return !missing && allSucceeded ? 0 : 2;
}
