// Declarations, values, identity, start-up settings and the server's lifecycle of the camera object.
#include "camera.h"

#include <cstdio>
#include <cstring>

#include "genicam/library_features.h"
#include "genicam/xml_writer.h"
#include "net/host_interfaces.h"
#include "os.h"

namespace gige {

namespace {

std::string text(const char* value) { return value == nullptr ? std::string() : std::string(value); }
bool named(const char* value) { return value != nullptr && value[0] != '\0'; }

int lowestBit(std::uint32_t mask) {
    int shift = 0;
    while (shift < 31 && ((mask >> shift) & 1U) == 0) ++shift;
    return shift;
}

}  // namespace

Camera::Camera() : server_(*this, privilege_, actions_) {
    genicam::declareLibraryFeatures(store_);
    using namespace gvcp::reg;
    bootstrap_.setWord(kVersion, 0x00020000);
    bootstrap_.setWord(kDeviceMode, 0x80000001);  // big-endian registers, transmitter, UTF-8 texts
    bootstrap_.setWord(kSupportedIpConfig, 0x00000005);
    bootstrap_.setWord(kCurrentIpConfig, 0x00000001);
    bootstrap_.setWord(kInterfaceCount, 1);
    bootstrap_.setWord(kLinkSpeed, 1000);
    bootstrap_.setWord(kStreamChannelCount, 1);
    bootstrap_.setWord(kMessageChannelCount, 1);
    bootstrap_.setWord(kMessageChannelCapability, gvcp::kMessageChannelSourcePortSupported);
    bootstrap_.setWord(kMessageChannelTimeout, gvcp::MessageChannel::kDefaultTimeoutMs);
    bootstrap_.setWord(kMessageChannelRetries, gvcp::MessageChannel::kDefaultRetries);
    // Events leave from the control socket.
    bootstrap_.setWord(kMessageChannelSourcePort, gvcp::kPort);
    bootstrap_.setWord(kActiveLinkCount, 1);
    bootstrap_.setWord(kActionSignalCount, gvcp::ActionSignals::kSignalCount);
    bootstrap_.setWord(kScheduledActionQueueSize, gvcp::ActionSignals::kQueueSize);
    // SCSP is implemented, and the 16-bit block ids of earlier versions are offered besides the 64-bit ones
    // (GevGVSPExtendedIDMode) that every device of version 2 sends on request: no bit of this register
    // announces those, the version register does.
    bootstrap_.setWord(kStreamChannelCapability, 0xC0000000);
    bootstrap_.setWord(kHeartbeatTimeout, gvcp::ControlPrivilege::kDefaultHeartbeatMs);
    bootstrap_.setWord(kTickFrequencyHigh, 0);
    bootstrap_.setWord(kTickFrequencyLow, 1000000000);  // nanosecond ticks
    setChannelRegister(gvsp::RegPacketSize, gvsp::kDefaultPacketSize);
    setChannelRegister(gvsp::RegCapability, gvsp::kCapabilityExtendedChunk);
    bootstrap_.setString(kManufacturerName, 32, "Pellicor");
    bootstrap_.setString(kModelName, 32, "GigE device");
    bootstrap_.setString(kDeviceVersion, 32, "1.0.0");
    updateCapabilities();
    updatePayloadSize();
}

Camera::~Camera() {
    stopServer();
    // Addresses this program added to the host leave with it.
    for (const auto& [address, mask] : addedAddresses_) {
        std::string error;
        if (!removeHostAddress(address, mask, error)) std::fprintf(stderr, "ERROR: %s\n", error.c_str());
    }
}

void Camera::updateCapabilities() {
    using namespace gvcp;
    std::uint32_t bits = CapUserDefinedName | CapSerialNumber | CapHeartbeatDisable | CapPrimaryApplicationRegisters |
                         CapWriteMem | CapConcatenation | CapAction | CapUnconditionalAction | CapScheduledAction |
                         CapStatusCodes20 | CapEvent | CapEventData;
    if (options_.sendPendingAck) bits |= CapPendingAck;
    if (packetResendSupported_) bits |= CapPacketResend;
    bootstrap_.setWord(reg::kGvcpCapability, bits);
    bootstrap_.setWord(reg::kPendingTimeout, options_.callbackLimitMs);
}

int Camera::startServer(const char* address) {
    std::string error;
    std::uint32_t served = 0;
    HostInterface chosen;
    const auto interfaces = listHostInterfaces();
    if (named(address)) {
        if (!parseAddress(address, served)) {
            std::fprintf(stderr, "ERROR: '%s' is not an IPv4 address\n", address);
            return 1;
        }
        // Whether the address is the host's is decided by the bind below (on Linux all of 127/8 is);
        // the interface whose network holds it gives the mask and MAC of the bootstrap block.
        for (const auto& candidate : interfaces) {
            for (const auto& held : candidate.addresses) {
                if (held.address != served && (held.mask == 0 || (held.address & held.mask) != (served & held.mask)))
                    continue;
                chosen = candidate;
                chosen.mask = held.mask;
                if (held.address == served) break;
            }
            if (chosen.holds(served)) break;
        }
    } else if (!interfaces.empty()) {
        chosen = interfaces.front();
        for (const auto& candidate : interfaces) {
            // With every interface served, the bootstrap block describes the first real network interface.
            if ((candidate.address >> 24) != 127) {
                chosen = candidate;
                break;
            }
        }
    }
    {
        std::lock_guard lock(mutex_);
        if (server_.running()) {
            std::fprintf(stderr, "ERROR: the GigE server is already running\n");
            return 3;
        }
        using namespace gvcp::reg;
        if (!macGiven_) {
            bootstrap_.setWord(kMacHigh, (std::uint32_t{chosen.mac[0]} << 8) | chosen.mac[1]);
            bootstrap_.setWord(kMacLow, (std::uint32_t{chosen.mac[2]} << 24) | (std::uint32_t{chosen.mac[3]} << 16) |
                                            (std::uint32_t{chosen.mac[4]} << 8) | chosen.mac[5]);
        }
        bootstrap_.setWord(kCurrentIp, named(address) ? served : chosen.address);
        bootstrap_.setWord(kCurrentMask, chosen.mask);
        bootstrap_.setWord(kCurrentGateway, 0);
        if (!describe(error)) {
            std::fprintf(stderr, "ERROR: %s\n", error.c_str());
            return 4;
        }
        servedAddress_ = served;
        channel_.configure(channelSettings());
        if (!openStream(served, error)) {
            std::fprintf(stderr, "ERROR: cannot open the stream socket: %s\n", error.c_str());
            return 5;
        }
        setChannelRegister(gvsp::RegSourcePort, channel_.sourcePort());
        channel_.setResendEnabled(keepFramesForResend_);
        channel_.setSendTimeout(static_cast<int>(sendLimitMs_));
        packetResendSupported_ = keepFramesForResend_;
        privilege_.configure(enforceHeartbeat_, heartbeatMs_);
        bootstrap_.setWord(kHeartbeatTimeout, privilege_.heartbeatTimeout());
        updateCapabilities();
    }
    // The first read of the Ptp* features tells the host's state without a latch of the client's.
    latchPtpDataSet();
    actions_.start([this](int signal, std::uint64_t ticks) { deliverAction(signal, ticks); });
    if (!server_.start(served, options_, error)) {
        std::fprintf(stderr, "ERROR: cannot open the GigE Vision control port: %s\n", error.c_str());
        actions_.stop();
        std::lock_guard lock(mutex_);
        closeStream();
        return 6;
    }
    events_.start([this](const std::uint8_t* data, std::size_t size, const Endpoint& to) {
        server_.socket().send(data, size, to);
    });
    return 0;
}

void Camera::stopServer() {
    events_.stop();
    // The control thread takes the camera lock, so it is stopped before the lock is taken here.
    server_.stop();
    actions_.stop();
    {
        std::lock_guard lock(mutex_);
        privilege_.release();
        setChannelRegister(gvsp::RegPort, 0);
        bootstrap_.setWord(gvcp::reg::kMessageChannelPort, 0);
        bootstrap_.setWord(gvcp::reg::kMessageChannelDestination, 0);
        events_.configure(messageSettings());
    }
    channel_.closeChannel();
    closeStream();
}

bool Camera::isServerRunning() { return server_.running(); }

bool Camera::describe(std::string& error) {
    using namespace gvcp::reg;
    if (store_.chunkCategory().empty()) store_.addChunkCategory("ChunkDataControl");
    if (!layout_.assign(store_)) {
        error = "the declared features do not fit the register map";
        return false;
    }
    const genicam::DocumentInfo info{bootstrap_.string(kManufacturerName, 32), bootstrap_.string(kModelName, 32),
                                     bootstrap_.string(kManufacturerInfo, 48)};
    xml_ = genicam::writeGenicamXml(store_, info);
    if (xml_.size() > genicam::kXmlMaxSize) {
        error = "the GenICam description is too large (" + std::to_string(xml_.size()) + " bytes)";
        xml_.clear();
        return false;
    }
    char url[128];
    std::snprintf(url, sizeof url, "Local:device.xml;%X;%zX?SchemaVersion=1.1.0", genicam::kXmlAddress, xml_.size());
    bootstrap_.setString(kFirstUrl, kUrlSize, url);
    bootstrap_.setString(kSecondUrl, kUrlSize, "");
    return true;
}

std::string Camera::genicamXml() {
    std::lock_guard lock(mutex_);
    std::string error;
    if (!server_.running()) describe(error);
    return xml_;
}

bool Camera::addCategory(const char* name, const char* parent) {
    std::lock_guard lock(mutex_);
    return declarable() && named(name) && named(parent) && store_.addCategory(name, parent);
}

bool Camera::addFeature(int type, const char* name, const char* category, std::uint16_t access,
                        const char* registerName, std::uint16_t withRegister) {
    std::lock_guard lock(mutex_);
    if (type == GevCommand) {
        return declarable() && named(name) && named(category) && access == GevReadWrite && registerName == nullptr &&
               withRegister == 1 && store_.addCommand(name, category);
    }
    return declarable() && named(name) && named(category) && withRegister <= 1 &&
           store_.addFeature(type, name, category, access, text(registerName), withRegister == 1);
}

bool Camera::addNode(const char* nodeType, const char* name, const char* category, std::uint16_t reserved) {
    std::lock_guard lock(mutex_);
    return declarable() && reserved == 0 && named(nodeType) && named(name) && named(category) &&
           store_.addComputedNode(nodeType, name, category);
}

bool Camera::addChunkCategory(const char* name) {
    std::lock_guard lock(mutex_);
    return declarable() && named(name) && store_.addChunkCategory(name);
}

bool Camera::addChunkFeature(std::uint32_t chunkId, const char* name, const char* category, std::uint16_t access,
                             std::uint32_t length, const char* description) {
    std::lock_guard lock(mutex_);
    return declarable() && named(name) && named(category) &&
           store_.addChunkFeature(chunkId, name, category, access, length, text(description));
}

bool Camera::boundValue(const genicam::Node& feature, std::int64_t& value) const {
    // Registers outside the bootstrap block (the action groups) are selected by a client's selector.
    if (feature.address >= gvcp::reg::kBootstrapEnd) return false;
    if (feature.length == 8) {
        value = static_cast<std::int64_t>((std::uint64_t{bootstrap_.word(feature.address)} << 32) |
                                          bootstrap_.word(feature.address + 4));
        return true;
    }
    const std::uint32_t mask = feature.mask == 0 ? 0xFFFFFFFFU : feature.mask;
    value = (bootstrap_.word(feature.address) & mask) >> lowestBit(mask);
    return true;
}

bool Camera::setBoundValue(const genicam::Node& feature, std::int64_t value) {
    const std::uint32_t mask = feature.mask == 0 ? 0xFFFFFFFFU : feature.mask;
    const int shift = lowestBit(mask);
    if (feature.address >= gvcp::reg::kBootstrapEnd || feature.length != 4 || value < 0 ||
        static_cast<std::uint64_t>(value) > (mask >> shift))
        return false;
    writeBootstrapWord(feature.address,
                       (bootstrap_.word(feature.address) & ~mask) | (static_cast<std::uint32_t>(value) << shift));
    return true;
}

bool Camera::setIntValue(const char* name, std::int64_t value) {
    if (!named(name)) return false;
    std::lock_guard lock(mutex_);
    const genicam::Node* feature = store_.featureOf(name);
    if (feature != nullptr && feature->storage == genicam::Storage::Bootstrap) return setBoundValue(*feature, value);
    if (!store_.setInt(name, value)) return false;
    updatePayloadSize();
    return true;
}

bool Camera::setFloatValue(const char* name, float value) {
    std::lock_guard lock(mutex_);
    return named(name) && store_.setFloat(name, value);
}

bool Camera::setStringValue(const char* name, const char* value) {
    std::lock_guard lock(mutex_);
    return named(name) && store_.setString(name, text(value));
}

bool Camera::setEnumValue(const char* name, const char* entryName) {
    std::lock_guard lock(mutex_);
    if (!named(name) || !store_.setEnum(name, text(entryName))) return false;
    updatePayloadSize();
    return true;
}

bool Camera::getIntValue(const char* name, std::int64_t* value) {
    if (!named(name) || value == nullptr) return false;
    std::lock_guard lock(mutex_);
    const genicam::Node* feature = store_.featureOf(name);
    if (feature != nullptr && feature->storage == genicam::Storage::Bootstrap) return boundValue(*feature, *value);
    return store_.getInt(name, *value);
}

bool Camera::getFloatValue(const char* name, float* value) {
    std::lock_guard lock(mutex_);
    return named(name) && value != nullptr && store_.getFloat(name, *value);
}

bool Camera::getStringValue(const char* name, char* buffer, int size) {
    if (!named(name) || buffer == nullptr || size <= 0) return false;
    std::string value;
    {
        std::lock_guard lock(mutex_);
        if (!store_.getString(name, value)) return false;
    }
    const std::size_t length = std::min(value.size(), static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, value.data(), length);
    buffer[length] = '\0';
    return true;
}

bool Camera::setNodeElement(const char* node, const char* element, const char* text_, bool append) {
    std::lock_guard lock(mutex_);
    return declarable() && named(node) && named(element) && store_.setElement(node, element, text(text_), append);
}

bool Camera::setNodeElementAttribute(const char* node, const char* element, const char* elementText,
                                     const char* attribute, const char* attributeText) {
    std::lock_guard lock(mutex_);
    return declarable() && named(node) && named(element) && named(attribute) &&
           store_.setElementAttribute(node, element, text(elementText), attribute, text(attributeText));
}

bool Camera::addEnumEntry(const char* enumName, const char* entryName, std::int64_t value) {
    std::lock_guard lock(mutex_);
    return declarable() && named(enumName) && entryName != nullptr && store_.addEnumEntry(enumName, entryName, value);
}

bool Camera::setEnumEntryElement(const char* enumName, const char* entryName, const char* element, const char* text_,
                                 bool append) {
    std::lock_guard lock(mutex_);
    return declarable() && named(enumName) && entryName != nullptr && named(element) &&
           store_.setEntryElement(enumName, entryName, element, text(text_), append);
}

bool Camera::removeNodeElement(const char* node, const char* element, int occurrence) {
    std::lock_guard lock(mutex_);
    return declarable() && named(node) && named(element) && store_.removeElement(node, element, occurrence);
}

bool Camera::setFloatRange(const char* name, float min, float max) {
    std::lock_guard lock(mutex_);
    return declarable() && named(name) && store_.setFloatRange(name, min, max);
}

bool Camera::setIntRange(const char* name, std::int64_t min, std::int64_t max, int increment) {
    std::lock_guard lock(mutex_);
    return declarable() && named(name) && store_.setIntRange(name, min, max, increment);
}

bool Camera::setDescription(const char* name, const char* text_) {
    std::lock_guard lock(mutex_);
    return declarable() && named(name) && store_.setDescription(name, text(text_));
}

bool Camera::setAccessMode(const char* name, std::uint16_t access) {
    std::lock_guard lock(mutex_);
    return declarable() && named(name) && store_.setAccess(name, access);
}

int Camera::getInterfaceCount() { return static_cast<int>(listHostInterfaces().size()); }

bool Camera::getInterfaceAddress(int index, char buffer[16]) {
    if (buffer == nullptr) return false;
    buffer[0] = '\0';
    const auto interfaces = listHostInterfaces();
    if (index < 0 || static_cast<std::size_t>(index) >= interfaces.size()) return false;
    const std::string address = formatAddress(interfaces[static_cast<std::size_t>(index)].address);
    std::snprintf(buffer, 16, "%s", address.c_str());
    return true;
}

int Camera::addIpAddress(const char* ip, const char* mask, const char* gateway) {
    std::uint32_t address = 0;
    std::uint32_t netmask = 0;
    std::uint32_t router = 0;
    if (!parseAddress(text(ip), address) || !parseAddress(text(mask), netmask) ||
        !parseAddress(gateway == nullptr ? "0.0.0.0" : gateway, router)) {
        std::fprintf(stderr, "ERROR: cannot add address '%s' with mask '%s': not IPv4 addresses\n", text(ip).c_str(),
                     text(mask).c_str());
        return 1;
    }
    std::string error;
    if (!addHostAddress(address, netmask, router, error)) {
        std::fprintf(stderr, "ERROR: %s\n", error.c_str());
        return 2;
    }
    std::lock_guard lock(mutex_);
    addedAddresses_.emplace_back(address, netmask);
    return 0;
}

bool Camera::setMacAddress(const char* text_) {
    const std::string value = text(text_);
    unsigned bytes[6] = {};
    char separator[5] = {};
    int consumed = 0;
    if (value.size() != 17 ||
        std::sscanf(value.c_str(), "%2x%c%2x%c%2x%c%2x%c%2x%c%2x%n", &bytes[0], &separator[0], &bytes[1], &separator[1],
                    &bytes[2], &separator[2], &bytes[3], &separator[3], &bytes[4], &separator[4], &bytes[5],
                    &consumed) != 11 ||
        consumed != 17)
        return false;
    for (char c : separator) {
        if (c != separator[0] || (c != ':' && c != '-')) return false;
    }
    std::lock_guard lock(mutex_);
    bootstrap_.setWord(gvcp::reg::kMacHigh, (bytes[0] << 8) | bytes[1]);
    bootstrap_.setWord(gvcp::reg::kMacLow, (bytes[2] << 24) | (bytes[3] << 16) | (bytes[4] << 8) | bytes[5]);
    macGiven_ = true;
    return true;
}

bool Camera::setDeviceInfo(const char* vendor, const char* model, const char* version, const char* info,
                           const char* serial) {
    using namespace gvcp::reg;
    std::lock_guard lock(mutex_);
    bootstrap_.setString(kManufacturerName, 32, text(vendor));
    bootstrap_.setString(kModelName, 32, text(model));
    bootstrap_.setString(kDeviceVersion, 32, text(version));
    bootstrap_.setString(kManufacturerInfo, 48, text(info));
    bootstrap_.setString(kSerialNumber, 16, text(serial));
    return true;
}

bool Camera::setUserDefinedName(const char* text_) {
    std::lock_guard lock(mutex_);
    bootstrap_.setString(gvcp::reg::kUserDefinedName, 16, text(text_));
    return true;
}

void Camera::setServerOptionA(int answerBroadcastDiscovery) {
    std::lock_guard lock(mutex_);
    options_.answerBroadcastDiscovery = answerBroadcastDiscovery != 0;
}

void Camera::setServerOptionB(int keepFramesForResend) {
    std::lock_guard lock(mutex_);
    keepFramesForResend_ = keepFramesForResend != 0;
}

void Camera::setServerOptionC(int enforceHeartbeat, int heartbeatTimeoutMs) {
    std::lock_guard lock(mutex_);
    enforceHeartbeat_ = enforceHeartbeat != 0;
    heartbeatMs_ = heartbeatTimeoutMs > 0 ? static_cast<std::uint32_t>(heartbeatTimeoutMs) : 0;
    privilege_.configure(enforceHeartbeat_, heartbeatMs_);
    bootstrap_.setWord(gvcp::reg::kHeartbeatTimeout, privilege_.heartbeatTimeout());
}

void Camera::setServerOptionD(int callReadCallback) {
    std::lock_guard lock(mutex_);
    callReadCallback_ = callReadCallback != 0;
}

void Camera::setServerOptionE(int sendPendingAck, int pendingAckTimeMs) {
    std::lock_guard lock(mutex_);
    options_.sendPendingAck = sendPendingAck != 0;
    options_.pendingAckMs = pendingAckTimeMs > 0 ? static_cast<std::uint32_t>(pendingAckTimeMs) : 0;
    updateCapabilities();
}

void Camera::setServerTimeouts(int callbackLimitMs, int sendLimitMs) {
    std::lock_guard lock(mutex_);
    if (callbackLimitMs > 0) options_.callbackLimitMs = static_cast<std::uint32_t>(callbackLimitMs);
    if (sendLimitMs > 0) sendLimitMs_ = static_cast<std::uint32_t>(sendLimitMs);
    updateCapabilities();
}

void Camera::setReadCallback(void* context, GevRegisterCallback callback) {
    std::lock_guard lock(mutex_);
    readContext_ = context;
    readCallback_ = callback;
}

void Camera::setWriteCallback(void* context, GevRegisterCallback callback) {
    std::lock_guard lock(mutex_);
    writeContext_ = context;
    writeCallback_ = callback;
}

void Camera::setConnectionCallback(void* context, GevConnectionCallback callback) {
    std::lock_guard lock(mutex_);
    connectionContext_ = context;
    connectionCallback_ = callback;
}

void Camera::setActionCallback(void* context, GevActionCallback callback) {
    std::lock_guard lock(mutex_);
    actionContext_ = context;
    actionCallback_ = callback;
}

void Camera::deliverAction(int signal, std::uint64_t actionTicks) {
    GevActionCallback callback = nullptr;
    void* context = nullptr;
    {
        std::lock_guard lock(mutex_);
        callback = actionCallback_;
        context = actionContext_;
    }
    if (callback != nullptr) callback(context, signal, actionTicks);
}

std::uint64_t Camera::getTimestamp() { return timestampTicks(); }

bool Camera::addEvent(const char* name, std::uint16_t eventId, const char* dataFeature, const char* category) {
    std::lock_guard lock(mutex_);
    if (!declarable() || !named(name) || !named(category) || (dataFeature != nullptr && !named(dataFeature)))
        return false;
    if (!store_.addEvent(name, eventId, text(dataFeature), category)) return false;
    return events_.declare(eventId, dataFeature != nullptr);
}

bool Camera::sendEvent(std::uint16_t eventId, std::uint64_t blockId, std::uint64_t ticks, std::uint32_t data) {
    return events_.queue(eventId, blockId, ticks, data);
}

std::uint64_t Camera::getLastBlockId(int stream) { return stream == 0 ? channel_.blockIdAhead(0) : 0; }

std::uint64_t Camera::getUpcomingBlockId(int stream, int ahead) {
    return stream == 0 && ahead > 0 ? channel_.blockIdAhead(ahead) : 0;
}

std::uint64_t Camera::timestampTicks() const { return clock_.now(); }

}  // namespace gige

CGevCamera* createCamera() { return new gige::Camera; }
