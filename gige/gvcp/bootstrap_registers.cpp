// The bootstrap register image and the access code of each of its words.
#include "gvcp/bootstrap_registers.h"

#include <algorithm>
#include <cstring>

#include "genicam/utf8_text.h"
#include "gvsp/gvsp_protocol.h"
#include "byte_reader.h"
#include "byte_writer.h"

namespace gvcp {

BootstrapRegisters::BootstrapRegisters() {
    using namespace reg;
    // The device information block is read as a whole by discovery, reserved words included.
    map(0x0000, 0x00F8, Access::ReadOnly);
    map(kCurrentIpConfig, 4, Access::ReadWrite);
    map(kUserDefinedName, 16, Access::ReadWrite);
    map(kFirstUrl, 2 * kUrlSize, Access::ReadOnly);
    map(kInterfaceCount, 4, Access::ReadOnly);
    map(kPersistentIp, 4, Access::ReadWrite);
    map(kPersistentMask, 4, Access::ReadWrite);
    map(kPersistentGateway, 4, Access::ReadWrite);
    map(kLinkSpeed, 4, Access::ReadOnly);
    for (std::uint32_t address :
         {kMessageChannelCount, kStreamChannelCount, kActionSignalCount, kActiveLinkCount, kStreamChannelCapability,
          kMessageChannelCapability, kGvcpCapability, kTickFrequencyHigh, kTickFrequencyLow, kTimestampValueHigh,
          kTimestampValueLow, kDiscoveryAckDelay, kPendingTimeout, kScheduledActionQueueSize, kPrimaryPort,
          kPrimaryAddress, kMessageChannelSourcePort})
        map(address, 4, Access::ReadOnly);
    for (std::uint32_t address :
         {kHeartbeatTimeout, kGvcpConfiguration, kGvspConfiguration, kControlPrivilege, kMessageChannelPort,
          kMessageChannelDestination, kMessageChannelTimeout, kMessageChannelRetries})
        map(address, 4, Access::ReadWrite);
    map(kTimestampControl, 4, Access::WriteOnly);
    map(kSwitchoverKey, 4, Access::WriteOnly);
    map(kActionDeviceKey, 4, Access::WriteOnly);
    // Stream channel 0: port, packet size, delay, destination and configuration are the client's.
    using namespace gvsp;
    for (std::uint32_t offset : {RegPort, RegPacketSize, RegPacketDelay, RegDestination, RegConfig})
        map(kChannelBase + offset, 4, Access::ReadWrite);
    for (std::uint32_t offset : {RegSourcePort, RegCapability}) map(kChannelBase + offset, 4, Access::ReadOnly);
}

void BootstrapRegisters::map(std::uint32_t address, std::uint32_t size, Access access) {
    for (std::uint32_t word = address / 4; word < (address + size) / 4; ++word) access_[word] = access;
}

BootstrapRegisters::Access BootstrapRegisters::access(std::uint32_t address) const {
    return address < reg::kBootstrapEnd ? access_[address / 4] : Access::Unmapped;
}

std::uint32_t BootstrapRegisters::word(std::uint32_t address) const {
    return address + 4 <= reg::kBootstrapEnd ? wire::loadBe32(&memory_[address & ~3U]) : 0;
}

void BootstrapRegisters::setWord(std::uint32_t address, std::uint32_t value) {
    if (address + 4 <= reg::kBootstrapEnd) wire::storeBe32(&memory_[address & ~3U], value);
}

void BootstrapRegisters::setString(std::uint32_t address, std::uint32_t size, const std::string& text) {
    if (size == 0 || address > reg::kBootstrapEnd - size) return;
    std::memset(&memory_[address], 0, size);
    // Outside texts are kept as valid UTF-8 and shortened between characters, never inside one.
    const std::string valid = genicam::validXmlText(text);
    const std::string_view kept = genicam::utf8Prefix(valid, size - 1);
    std::memcpy(&memory_[address], kept.data(), kept.size());
}

std::string BootstrapRegisters::string(std::uint32_t address, std::uint32_t size) const {
    if (address > reg::kBootstrapEnd - size) return {};
    const auto* begin = &memory_[address];
    return std::string(begin, std::find(begin, begin + size, std::uint8_t{0}));
}

void BootstrapRegisters::copy(std::uint32_t address, std::uint32_t count, std::uint8_t* out) const {
    if (count <= reg::kBootstrapEnd && address <= reg::kBootstrapEnd - count)
        std::memcpy(out, &memory_[address], count);
}

}  // namespace gvcp
