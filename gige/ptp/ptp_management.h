// PTP management messages as ptp4l exchanges them on its Unix socket: GET requests for one data set and the
// decoding of ptp4l's answers (default data set, port data set, time status). Pure byte handling, no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ptp {

// The IEEE 1588 port states, with the numbers the port data set carries.
enum class PortState : std::uint8_t {
    Initializing = 1,
    Faulty = 2,
    Disabled = 3,
    Listening = 4,
    PreMaster = 5,
    Master = 6,
    Passive = 7,
    Uncalibrated = 8,
    Slave = 9,
};
// The feature's entry name of a state ("PreMaster", "Slave", ...).
const char* portStateName(PortState state);

// Management ids asked for; the last one is ptp4l's own (not in IEEE 1588).
enum ManagementId : std::uint16_t {
    ManagementDefaultDataSet = 0x2000,
    ManagementPortDataSet = 0x2004,
    ManagementTimeStatus = 0xC000,
};

// A GET of `id` for every port of the clock behind the socket, answered by that clock alone (no boundary
// hops: ptp4l does not pass it on to the network).
std::vector<std::uint8_t> encodeGet(std::uint16_t id, std::uint16_t sequenceId);

// Each decoder accepts only a whole RESPONSE to the GET with `sequenceId` for its own id; anything else
// (another id, an error status, a truncated message) is refused.
bool decodeNumberPorts(const std::uint8_t* message, std::size_t size, std::uint16_t sequenceId,
                       std::uint16_t& numberPorts);
bool decodePortState(const std::uint8_t* message, std::size_t size, std::uint16_t sequenceId, PortState& state);

struct TimeStatus {
    std::int64_t masterOffsetNs = 0;
    bool grandmasterPresent = false;
};
bool decodeTimeStatus(const std::uint8_t* message, std::size_t size, std::uint16_t sequenceId, TimeStatus& status);

// The state that tells most about the host's time when the clock has several ports: a port that follows a
// master first, then one that is a master, then the rest.
PortState hostPortState(const std::vector<PortState>& ports);

}  // namespace ptp
