// The camera's register space as the control channel sees it: the bootstrap block, the feature registers
// (with the read and write callbacks) and the GenICam XML, plus discovery, control changes and what
// they tell the stream channel.
#include "camera.h"

#include <algorithm>
#include <cstring>

#include "byte_reader.h"
#include "byte_writer.h"
#include "net/host_interfaces.h"
#include "os.h"
#include "ptp/ptp_status.h"

namespace gige {

namespace {

using gvcp::Status;
using Access = gvcp::BootstrapRegisters::Access;
constexpr std::uint32_t kChannelEnd = gvsp::kChannelBase + gvsp::kChannelBlockSize;
constexpr const char* kThroughputLimitMode = "DeviceLinkThroughputLimitMode";
constexpr const char* kThroughputLimit = "DeviceLinkThroughputLimit";
constexpr const char* kPtpLatch = "PtpDataSetLatch";
constexpr const char* kMulticastTtl = "GevSCMulticastTTL";

std::uint32_t paddedXmlSize(const std::string& xml) {
    return static_cast<std::uint32_t>((xml.size() + 3) & ~std::size_t{3});
}

}  // namespace

Status Camera::readMemory(std::uint32_t address, std::uint32_t count, std::uint8_t* out) {
    if (gvcp::rangeWithin(address, count, 0, gvcp::reg::kBootstrapEnd)) {
        std::lock_guard lock(mutex_);
        return readBootstrap(address, count, out);
    }
    if (gvcp::rangeWithin(address, count, genicam::kFeatureAreaBase, genicam::kFeatureAreaEnd))
        return readFeatures(address, count, out);
    if (gvcp::rangeWithin(address, count, gvcp::reg::kActionGroupBase, gvcp::ActionSignals::groupsEnd()))
        return actions_.readGroups(address, count, out);
    if (gvcp::MessageChannel::covers(address, count)) return events_.readRegisters(address, count, out);
    std::lock_guard lock(mutex_);
    // Clients round the last block of the XML up to whole words; the padding reads as zeros.
    if (!xml_.empty() && gvcp::rangeWithin(address, count, genicam::kXmlAddress,
                                           genicam::kXmlAddress + std::uint64_t{paddedXmlSize(xml_)})) {
        const std::uint32_t offset = address - genicam::kXmlAddress;
        std::memset(out, 0, count);
        std::memcpy(out, xml_.data() + offset, std::min<std::size_t>(count, xml_.size() - offset));
        return Status::Success;
    }
    return Status::InvalidAddress;
}

Status Camera::writeMemory(std::uint32_t address, const std::uint8_t* data, std::uint32_t count) {
    if (gvcp::rangeWithin(address, count, 0, gvcp::reg::kBootstrapEnd)) {
        bool channelWritten = false;
        bool fireTest = false;
        gvsp::ChannelSettings settings;
        Status status;
        {
            std::lock_guard lock(mutex_);
            status = writeBootstrap(address, data, count, channelWritten, fireTest);
            if (channelWritten) settings = channelSettings();
            // The message channel's registers, or the id layout its records follow.
            if (gvcp::rangeWithin(address, count, gvcp::reg::kMessageChannelPort,
                                  gvcp::reg::kMessageChannelSourcePort + 4) ||
                gvcp::rangeWithin(gvcp::reg::kGvspConfiguration, 4, address, std::uint64_t{address} + count))
                events_.configure(messageSettings());
        }
        if (channelWritten) {
            configureChannel(settings);
            if (fireTest) channel_.sendTestPacket();
        }
        return status;
    }
    if (gvcp::rangeWithin(address, count, genicam::kFeatureAreaBase, genicam::kFeatureAreaEnd))
        return writeFeatures(address, data, count);
    if (gvcp::rangeWithin(address, count, gvcp::reg::kActionGroupBase, gvcp::ActionSignals::groupsEnd()))
        return actions_.writeGroups(address, data, count);
    if (gvcp::MessageChannel::covers(address, count)) return events_.writeRegisters(address, data, count);
    std::lock_guard lock(mutex_);
    if (!xml_.empty() && gvcp::rangeWithin(address, count, genicam::kXmlAddress,
                                           genicam::kXmlAddress + std::uint64_t{paddedXmlSize(xml_)}))
        return Status::WriteProtect;
    return Status::InvalidAddress;
}

Status Camera::readBootstrap(std::uint32_t address, std::uint32_t count, std::uint8_t* out) {
    for (std::uint32_t word = address; word - address < count; word += 4) {
        if (bootstrap_.access(word) == Access::Unmapped) return Status::InvalidAddress;
    }
    const gvcp::Peer controller = privilege_.controller();
    bootstrap_.setWord(gvcp::reg::kPrimaryPort, controller.port);
    bootstrap_.setWord(gvcp::reg::kPrimaryAddress, controller.address);
    bootstrap_.copy(address, count, out);
    for (std::uint32_t word = address; word - address < count; word += 4) {
        if (bootstrap_.access(word) == Access::WriteOnly) std::memset(out + (word - address), 0, 4);
    }
    return Status::Success;
}

Status Camera::writeBootstrap(std::uint32_t address, const std::uint8_t* data, std::uint32_t count,
                              bool& channelWritten, bool& fireTest) {
    constexpr std::uint32_t kPacketSizeAddress = gvsp::kChannelBase + gvsp::RegPacketSize;
    // Nothing is written unless every word of the range may be.
    for (std::uint32_t word = address; word - address < count; word += 4) {
        const Access access = bootstrap_.access(word);
        if (access == Access::Unmapped) return Status::InvalidAddress;
        if (access == Access::ReadOnly) return Status::WriteProtect;
        // A packet size outside the bounds GevSCPSPacketSize declares is refused, not stored.
        if (word == kPacketSizeAddress &&
            gvsp::roundedPacketSize(wire::loadBe32(data + (word - address)) & gvsp::kPacketSizeMask) == 0)
            return Status::InvalidParameter;
    }
    for (std::uint32_t word = address; word - address < count; word += 4) {
        std::uint32_t value = wire::loadBe32(data + (word - address));
        // Within the bounds but off the increment: the next smaller size the channel sends.
        if (word == kPacketSizeAddress)
            value = (value & ~gvsp::kPacketSizeMask) | gvsp::roundedPacketSize(value & gvsp::kPacketSizeMask);
        writeBootstrapWord(word, value);
        // The id layout is a stream setting too, though its register lies outside the channel's block.
        if ((word >= gvsp::kChannelBase && word < kChannelEnd) || word == gvcp::reg::kGvspConfiguration)
            channelWritten = true;
        if (word == kPacketSizeAddress && (value & gvsp::kPacketSizeFireTest) != 0) fireTest = true;
    }
    return Status::Success;
}

void Camera::writeBootstrapWord(std::uint32_t address, std::uint32_t value) {
    using namespace gvcp::reg;
    switch (address) {
        case kHeartbeatTimeout:
            privilege_.setHeartbeatTimeout(value);
            bootstrap_.setWord(address, privilege_.heartbeatTimeout());
            break;
        case kTimestampControl:
            if ((value & 0x1) != 0) {
                clock_.reset();
                actions_.clockChanged();
            }
            if ((value & 0x2) != 0) {
                const std::uint64_t ticks = clock_.now();
                bootstrap_.setWord(kTimestampValueHigh, static_cast<std::uint32_t>(ticks >> 32));
                bootstrap_.setWord(kTimestampValueLow, static_cast<std::uint32_t>(ticks));
            }
            break;
        case kGvcpConfiguration:
            bootstrap_.setWord(address, value & (gvcp::GvcpConfigHeartbeatDisable | gvcp::GvcpConfigPendingAck |
                                                 gvcp::GvcpConfigUnconditionalAction | gvcp::GvcpConfigStatusCodes20));
            privilege_.setHeartbeatDisabled((value & gvcp::GvcpConfigHeartbeatDisable) != 0);
            break;
        // Write-only: the image keeps it, reads give 0.
        case kActionDeviceKey:
            actions_.setDeviceKey(value);
            bootstrap_.setWord(address, value);
            break;
        // Multipart blocks need extended ids, so the id layout decides the block kind, and PayloadSize, too.
        case kGvspConfiguration:
            bootstrap_.setWord(address, value & gvsp::kGvspConfigExtendedIds);
            updatePayloadSize();
            break;
        case kUserDefinedName + 12: bootstrap_.setWord(address, value & 0xFFFFFF00U); break;  // keep a NUL
        case gvsp::kChannelBase + gvsp::RegPort: bootstrap_.setWord(address, value & gvsp::kPortMask); break;
        // Only the first network interface exists: the interface index bits stay 0.
        case kMessageChannelPort: bootstrap_.setWord(address, value & 0xFFFF); break;
        // Big-endian pixels are not offered; the fire-test bit acts at once and so always reads back clear.
        case gvsp::kChannelBase + gvsp::RegPacketSize:
            bootstrap_.setWord(address, value & (gvsp::kPacketSizeDoNotFragment | gvsp::kPacketSizeMask));
            break;
        // Extended chunk data, and multipart when it is offered: clients that set the multipart bit regardless
        // read it back clear from a device without it.
        // PayloadSize follows the block kind the client chose, so that it allocates exactly what arrives.
        case gvsp::kChannelBase + gvsp::RegConfig:
            bootstrap_.setWord(address,
                               value & (gvsp::kConfigExtendedChunk | (multipartOffered_ ? gvsp::kConfigMultipart : 0)));
            updatePayloadSize();
            break;
        default: bootstrap_.setWord(address, value); break;
    }
}

bool Camera::runCallbacks(GevRegisterCallback callback, void* context, const std::vector<std::string>& names) {
    bool ok = true;
    for (const auto& name : names) ok = callback(context, name.c_str()) && ok;
    return ok;
}

Status Camera::readFeatures(std::uint32_t address, std::uint32_t count, std::uint8_t* out) {
    std::vector<genicam::Node*> features;
    std::vector<std::string> names;
    GevRegisterCallback callback = nullptr;
    void* context = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (!layout_.covered(address, count, features)) return Status::InvalidAddress;
        if (callReadCallback_ && readCallback_ != nullptr) {
            callback = readCallback_;
            context = readContext_;
            for (const auto* feature : features) names.push_back(feature->name);
        }
    }
    // The program refreshes the values here, so it runs before they are encoded and without the lock.
    if (callback != nullptr && !runCallbacks(callback, context, names)) return Status::Error;
    std::lock_guard lock(mutex_);
    if (!layout_.covered(address, count, features)) return Status::InvalidAddress;
    for (const auto* feature : features) genicam::RegisterLayout::readSlice(*feature, address, count, out);
    return Status::Success;
}

// Limits that other features give (pMin/pMax) are the program's values: it refreshes them, as for a client's
// read, before a written value is checked against them.
Status Camera::refreshWriteBounds(std::uint32_t address, std::uint32_t count) {
    std::vector<std::string> bounds;
    GevRegisterCallback callback = nullptr;
    void* context = nullptr;
    {
        std::lock_guard lock(mutex_);
        std::vector<genicam::Node*> features;
        if (!layout_.covered(address, count, features)) return Status::InvalidAddress;
        for (const auto* feature : features) {
            for (auto& name : store_.boundingFeatures(*feature)) bounds.push_back(std::move(name));
        }
        if (callReadCallback_) {
            callback = readCallback_;
            context = readContext_;
        }
    }
    if (callback != nullptr && !bounds.empty() && !runCallbacks(callback, context, bounds)) return Status::Error;
    return Status::Success;
}

Status Camera::writeFeatures(std::uint32_t address, const std::uint8_t* data, std::uint32_t count) {
    std::vector<std::string> names;
    std::vector<genicam::PendingValue> previous;
    GevRegisterCallback callback = nullptr;
    void* context = nullptr;
    const Status refreshed = refreshWriteBounds(address, count);
    if (refreshed != Status::Success) return refreshed;
    {
        std::lock_guard lock(mutex_);
        std::vector<genicam::Node*> features;
        if (!layout_.covered(address, count, features)) return Status::InvalidAddress;
        std::vector<genicam::PendingValue> values(features.size());
        for (std::size_t i = 0; i < features.size(); ++i) {
            const Status status =
                genicam::RegisterLayout::decodeWrite(store_, *features[i], address, data, count, values[i]);
            if (status != Status::Success) return status;
        }
        heldImage_ = imageSettingsLocked();
        for (const auto& value : values) {
            previous.push_back(genicam::RegisterLayout::current(*value.feature));
            genicam::RegisterLayout::apply(value);
            names.push_back(value.feature->name);
        }
        updatePayloadSize();
        callback = writeCallback_;
        context = writeContext_;
    }
    // The latch is the library's own command; the program hears of it like of any other write.
    if (std::find(names.begin(), names.end(), kPtpLatch) != names.end()) latchPtpDataSet();
    const bool carriedOut = callback == nullptr || runCallbacks(callback, context, names);
    bool channelFeatureWritten = false;
    gvsp::ChannelSettings settings;
    {
        std::lock_guard lock(mutex_);
        for (auto& value : previous) {
            // A refused write leaves the feature as it was; a command register reads 0 once it has run.
            if (value.feature->kind == genicam::NodeKind::Command) value.intValue = 0;
            if (!carriedOut || value.feature->kind == genicam::NodeKind::Command) genicam::RegisterLayout::apply(value);
        }
        updatePayloadSize();
        heldImage_.reset();
        // The throughput limit paces the stream from the next frame and the next resend on; the time to live
        // applies from the next packet.
        for (const auto& name : names) {
            if (name == kThroughputLimitMode || name == kThroughputLimit || name == kMulticastTtl)
                channelFeatureWritten = true;
        }
        if (channelFeatureWritten) settings = channelSettings();
    }
    if (channelFeatureWritten) configureChannel(settings);
    return carriedOut ? Status::Success : Status::Error;
}

void Camera::latchPtpDataSet() {
    const ptp::PtpSnapshot snapshot = ptp::queryPtp4l(ptp::ptp4lSocketPath(), ptp::kQueryTimeoutMs);
    std::lock_guard lock(mutex_);
    store_.setInt("PtpEnable", snapshot.answered ? 1 : 0);
    store_.setEnum("PtpStatus", ptp::portStateName(snapshot.portState));
    store_.setEnum("PtpServoStatus", snapshot.servoLocked ? "Locked" : "Unknown");
    store_.setInt("PtpOffsetFromMaster", snapshot.offsetFromMasterNs);
}

void Camera::discoveryBlock(const gvcp::Peer& from, std::uint8_t* out) {
    std::uint32_t served = 0;
    {
        std::lock_guard lock(mutex_);
        bootstrap_.copy(0, gvcp::kDiscoveryAckSize, out);
        served = servedAddress_;
    }
    if (served != 0) return;
    // Serving every interface, the answer names the interface on the asking host's network.
    HostInterface facing;
    if (findInterfaceForPeer(from.address, facing)) {
        wire::storeBe32(out + gvcp::reg::kCurrentIp, facing.address);
        wire::storeBe32(out + gvcp::reg::kCurrentMask, facing.mask);
    }
}

std::uint32_t Camera::switchoverKey() {
    std::lock_guard lock(mutex_);
    return bootstrap_.word(gvcp::reg::kSwitchoverKey);
}

void Camera::packetResend(const gvcp::Peer& from, const std::uint8_t* payload, std::size_t size, std::uint8_t flags) {
    // A unicast stream serves only the controlling host: it alone receives the stream. Its resend requests may
    // come from another port than its control commands (clients send them from their stream socket), so the
    // address decides. A multicast stream serves every receiver of the group, controlling or not: the answer
    // goes to the group, never to the asker, so a request redirects nothing and every receiver sees it.
    const gvcp::Peer controller = privilege_.controller();
    const bool toGroup = gvsp::isMulticast(channel_.settings().destination);
    if (!privilege_.controlled() || (!toGroup && controller.address != from.address)) return;
    queueResend(payload, size, flags);
}

void Camera::controlChanged(bool controlled) {
    GevConnectionCallback callback = nullptr;
    void* context = nullptr;
    {
        std::lock_guard lock(mutex_);
        // Without a controlling client nobody receives the stream: the channel closes, and the next client
        // starts from standard ids and single-part blocks whatever the last one chose.
        if (!controlled) {
            setChannelRegister(gvsp::RegPort, 0);
            setChannelRegister(gvsp::RegConfig, channelRegister(gvsp::RegConfig) & ~gvsp::kConfigMultipart);
            bootstrap_.setWord(gvcp::reg::kGvspConfiguration, 0);
            updatePayloadSize();
            // Nor does anybody receive events: the channel closes and drops what it still queues.
            bootstrap_.setWord(gvcp::reg::kMessageChannelPort, 0);
            bootstrap_.setWord(gvcp::reg::kMessageChannelDestination, 0);
        }
        events_.configure(messageSettings());
        callback = connectionCallback_;
        context = connectionContext_;
    }
    if (!controlled) channel_.closeChannel();
    if (callback != nullptr) callback(context, controlled);
}

void Camera::eventAcknowledged(const gvcp::Peer& from, std::uint16_t code, std::uint16_t ackId) {
    events_.acknowledged(from.address, code, ackId);
}

gvcp::MessageChannel::Settings Camera::messageSettings() const {
    using namespace gvcp::reg;
    gvcp::MessageChannel::Settings settings;
    settings.port = static_cast<std::uint16_t>(bootstrap_.word(kMessageChannelPort));
    settings.destination = bootstrap_.word(kMessageChannelDestination);
    settings.timeoutMs = bootstrap_.word(kMessageChannelTimeout);
    settings.retries = bootstrap_.word(kMessageChannelRetries);
    settings.extendedIds = (bootstrap_.word(kGvspConfiguration) & gvsp::kGvspConfigExtendedIds) != 0;
    settings.controlled = privilege_.controlled();
    return settings;
}

std::uint32_t Camera::channelRegister(gvsp::ChannelRegister offset) const {
    return bootstrap_.word(gvsp::kChannelBase + offset);
}

void Camera::setChannelRegister(gvsp::ChannelRegister offset, std::uint32_t value) {
    bootstrap_.setWord(gvsp::kChannelBase + offset, value);
}

gvsp::ChannelSettings Camera::channelSettings() const {
    const std::uint32_t packetSize = channelRegister(gvsp::RegPacketSize);
    gvsp::ChannelSettings settings;
    settings.port = static_cast<std::uint16_t>(channelRegister(gvsp::RegPort) & gvsp::kPortMask);
    settings.destination = channelRegister(gvsp::RegDestination);
    settings.packetSize = packetSize & gvsp::kPacketSizeMask;
    settings.doNotFragment = (packetSize & gvsp::kPacketSizeDoNotFragment) != 0;
    settings.packetDelay = channelRegister(gvsp::RegPacketDelay);
    std::int64_t limitOn = 0;
    std::int64_t limit = 0;
    if (store_.getInt(kThroughputLimitMode, limitOn) && limitOn != 0 && store_.getInt(kThroughputLimit, limit) &&
        limit > 0)
        settings.throughputLimit = static_cast<std::uint64_t>(limit);
    settings.extendedIds = (bootstrap_.word(gvcp::reg::kGvspConfiguration) & gvsp::kGvspConfigExtendedIds) != 0;
    settings.multipart = (channelRegister(gvsp::RegConfig) & gvsp::kConfigMultipart) != 0;
    settings.multicastInterface = servedAddress_;
    std::int64_t ttl = 0;
    if (store_.getInt(kMulticastTtl, ttl) && ttl >= gvsp::kMinMulticastTtl && ttl <= gvsp::kMaxMulticastTtl)
        settings.multicastTtl = static_cast<std::uint32_t>(ttl);
    return settings;
}

void Camera::configureChannel(gvsp::ChannelSettings settings) {
    // Serving every interface, a group's packets leave by the interface on the controlling client's network,
    // the one it reaches the device through and so the one its receivers are likely on; with none there (a
    // client behind a router) the routing table chooses.
    HostInterface facing;
    if (settings.multicastInterface == 0 && gvsp::isMulticast(settings.destination) &&
        findInterfaceForPeer(privilege_.controller().address, facing))
        settings.multicastInterface = facing.address;
    channel_.configure(settings);
}

void Camera::setPacketResendSupported(bool supported) {
    std::lock_guard lock(mutex_);
    packetResendSupported_ = supported;
    updateCapabilities();
}

}  // namespace gige
