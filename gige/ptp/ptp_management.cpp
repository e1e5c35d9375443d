// PTP management messages: a GET is the common PTP header, the management fields and one MANAGEMENT TLV
// holding only the management id; ptp4l answers with the same layout, the TLV then carrying the data set.
#include "ptp/ptp_management.h"

#include <algorithm>
#include <array>
#include <utility>

#include "byte_reader.h"
#include "byte_writer.h"

namespace ptp {

namespace {

constexpr std::uint8_t kMessageTypeManagement = 0xD;
constexpr std::uint8_t kVersionPtp = 2;
constexpr std::uint8_t kControlManagement = 4;
constexpr std::uint8_t kLogIntervalUnused = 0x7F;
constexpr std::uint8_t kActionGet = 0;
constexpr std::uint8_t kActionResponse = 2;
constexpr std::uint16_t kTlvManagement = 1;
constexpr std::size_t kHeaderSize = 34;
// The header, the management fields and the TLV's type, length and id.
constexpr std::size_t kTlvDataOffset = kHeaderSize + 14 + 6;

// Data set sizes as ptp4l sends them, so that a shorter answer is taken for a truncated one.
constexpr std::size_t kDefaultDataSetSize = 20;
constexpr std::size_t kPortDataSetSize = 26;
constexpr std::size_t kTimeStatusSize = 50;

// The data of a RESPONSE for `id` to the request `sequenceId`, or nothing (ok() false).
wire::ByteReader responseData(const std::uint8_t* message, std::size_t size, std::uint16_t sequenceId, std::uint16_t id,
                              std::size_t dataSize) {
    const wire::ByteReader refused(nullptr, 0);
    wire::ByteReader reader(message, size);
    const std::uint8_t type = reader.u8() & 0x0F;
    const std::uint8_t version = reader.u8() & 0x0F;
    const std::uint16_t messageLength = reader.u16();
    reader.skip(26);  // domain, flags, correction, type-specific field, source port
    const std::uint16_t sequence = reader.u16();
    reader.skip(2 + 12);  // control field, log interval, target port, boundary hops
    const std::uint8_t action = reader.u8() & 0x0F;
    reader.skip(1);
    const std::uint16_t tlvType = reader.u16();
    const std::uint16_t tlvLength = reader.u16();
    const std::uint16_t tlvId = reader.u16();
    if (!reader.ok() || type != kMessageTypeManagement || version != kVersionPtp || messageLength > size ||
        messageLength < kTlvDataOffset || sequence != sequenceId || action != kActionResponse ||
        tlvType != kTlvManagement || tlvId != id || tlvLength < 2 + dataSize ||
        tlvLength - std::size_t{2} > messageLength - kTlvDataOffset)
        return refused;
    return wire::ByteReader(message + kTlvDataOffset, tlvLength - 2U);
}

}  // namespace

const char* portStateName(PortState state) {
    switch (state) {
        case PortState::Initializing: return "Initializing";
        case PortState::Faulty: return "Faulty";
        case PortState::Disabled: return "Disabled";
        case PortState::Listening: return "Listening";
        case PortState::PreMaster: return "PreMaster";
        case PortState::Master: return "Master";
        case PortState::Passive: return "Passive";
        case PortState::Uncalibrated: return "Uncalibrated";
        case PortState::Slave: return "Slave";
    }
    return "Disabled";
}

std::vector<std::uint8_t> encodeGet(std::uint16_t id, std::uint16_t sequenceId) {
    // Written into a message of its known size: GCC 12 at -O3 takes the appends of a growing one for writes
    // past its end.
    std::vector<std::uint8_t> message(kTlvDataOffset + 6);
    wire::ByteWriter writer(message.data(), message.size());
    writer.u8(kMessageTypeManagement);
    writer.u8(kVersionPtp);
    writer.u16(static_cast<std::uint16_t>(kTlvDataOffset));
    writer.u8(0);   // domain 0, ptp4l's default
    writer.u8(0);   // minor SDO id
    writer.u16(0);  // flags
    writer.u64(0);  // correction
    writer.u32(0);  // type-specific field
    const std::array<std::uint8_t, 10> sourcePort{};
    writer.bytes(sourcePort.data(), sourcePort.size());
    writer.u16(sequenceId);
    writer.u8(kControlManagement);
    writer.u8(kLogIntervalUnused);
    // Every port of whatever clock receives it.
    std::array<std::uint8_t, 10> targetPort{};
    targetPort.fill(0xFF);
    writer.bytes(targetPort.data(), targetPort.size());
    writer.u8(0);  // starting boundary hops
    writer.u8(0);  // boundary hops
    writer.u8(kActionGet);
    writer.u8(0);
    writer.u16(kTlvManagement);
    writer.u16(2);  // the id alone: a GET carries no data
    writer.u16(id);
    message.resize(writer.size());
    return message;
}

bool decodeNumberPorts(const std::uint8_t* message, std::size_t size, std::uint16_t sequenceId,
                       std::uint16_t& numberPorts) {
    wire::ByteReader data = responseData(message, size, sequenceId, ManagementDefaultDataSet, kDefaultDataSetSize);
    data.skip(2);  // flags, reserved
    const std::uint16_t ports = data.u16();
    if (!data.ok()) return false;
    numberPorts = ports;
    return true;
}

bool decodePortState(const std::uint8_t* message, std::size_t size, std::uint16_t sequenceId, PortState& state) {
    wire::ByteReader data = responseData(message, size, sequenceId, ManagementPortDataSet, kPortDataSetSize);
    data.skip(10);  // port identity
    const std::uint8_t value = data.u8();
    if (!data.ok() || value < static_cast<std::uint8_t>(PortState::Initializing) ||
        value > static_cast<std::uint8_t>(PortState::Slave))
        return false;
    state = static_cast<PortState>(value);
    return true;
}

bool decodeTimeStatus(const std::uint8_t* message, std::size_t size, std::uint16_t sequenceId, TimeStatus& status) {
    wire::ByteReader data = responseData(message, size, sequenceId, ManagementTimeStatus, kTimeStatusSize);
    const auto masterOffset = static_cast<std::int64_t>(data.u64());
    // Ingress time, cumulative rate offset, last phase change (scaled), time base, last phase change.
    data.skip(8 + 4 + 4 + 2 + 12);
    const std::int32_t grandmasterPresent = data.i32();
    if (!data.ok()) return false;
    status.masterOffsetNs = masterOffset;
    status.grandmasterPresent = grandmasterPresent != 0;
    return true;
}

PortState hostPortState(const std::vector<PortState>& ports) {
    constexpr std::array kPreference = {PortState::Slave,     PortState::Uncalibrated, PortState::Master,
                                        PortState::PreMaster, PortState::Passive,      PortState::Listening,
                                        PortState::Faulty,    PortState::Initializing};
    for (const PortState preferred : kPreference) {
        if (std::find(ports.begin(), ports.end(), preferred) != ports.end()) return preferred;
    }
    return PortState::Disabled;
}

}  // namespace ptp
