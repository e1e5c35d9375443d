// The feature area of the device's register space: where each feature's register lives and how its value
// is encoded there. Integers are 8 bytes (signed) or 4 (booleans, enumerations, commands), floats 4, strings
// a fixed size; every register is 4-byte aligned and a multiple of 4 long, so that memory writes padded to
// whole words never spill into a neighbour.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "genicam/feature_store.h"
#include "gvcp/protocol.h"

namespace genicam {

constexpr std::uint32_t kFeatureAreaBase = 0x00010000;
// The event notification words (gvcp::kEventNotificationBase) follow the feature area.
constexpr std::uint32_t kFeatureAreaEnd = 0x000C0000;
// The GenICam XML follows the feature area; it may be up to this large.
constexpr std::uint32_t kXmlAddress = 0x00100000;
constexpr std::uint32_t kXmlMaxSize = 0x01000000;

// A value decoded from register bytes, waiting to be stored.
struct PendingValue {
    Node* feature = nullptr;
    std::int64_t intValue = 0;
    float floatValue = 0.0F;
    std::string stringValue;
};

class RegisterLayout {
public:
    // Gives every feature kept in the store an address, in declaration order. False when they do not fit.
    bool assign(FeatureStore& store);
    std::uint32_t end() const { return end_; }

    // The features whose registers [address, address + count) touches, in address order. False when the
    // range leaves the feature area's used part.
    bool covered(std::uint32_t address, std::uint32_t count, std::vector<Node*>& out) const;

    // Register bytes of the feature's current value (`out` holds feature.length bytes).
    static void encode(const Node& feature, std::uint8_t* out);
    // Copies the bytes of [address, address + count) that fall inside the feature's register.
    static void readSlice(const Node& feature, std::uint32_t address, std::uint32_t count, std::uint8_t* out);
    // The feature's value after the bytes of [address, address + count) that fall inside its register are
    // written over the current ones. Status: Success, WriteProtect or InvalidParameter.
    static gvcp::Status decodeWrite(const FeatureStore& store, Node& feature, std::uint32_t address,
                                    const std::uint8_t* data, std::uint32_t count, PendingValue& out);
    // The value `feature` holds now, to be applied again later.
    static PendingValue current(Node& feature);
    static void apply(const PendingValue& value);

private:
    std::vector<Node*> byAddress_;
    std::uint32_t end_ = kFeatureAreaBase;
};

}  // namespace genicam
