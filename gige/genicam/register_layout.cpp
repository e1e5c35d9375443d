// Placing each feature's register in the feature area, and encoding and decoding its value there.
#include "genicam/register_layout.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "gev_camera.h"

namespace genicam {

namespace {

void storeBe(std::uint8_t* out, std::uint64_t value, std::uint32_t length) {
    for (std::uint32_t i = 0; i < length; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * (length - 1 - i)));
}

std::uint64_t loadBe(const std::uint8_t* in, std::uint32_t length) {
    std::uint64_t value = 0;
    for (std::uint32_t i = 0; i < length; ++i) value = (value << 8) | in[i];
    return value;
}

// The part of [address, address + count) inside [begin, begin + length), as offsets.
struct Overlap {
    std::uint32_t inRegister;
    std::uint32_t inRange;
    std::uint32_t size;
};
Overlap overlap(std::uint32_t begin, std::uint32_t length, std::uint32_t address, std::uint32_t count) {
    const std::uint64_t from = std::max<std::uint64_t>(begin, address);
    const std::uint64_t to = std::min<std::uint64_t>(std::uint64_t{begin} + length, std::uint64_t{address} + count);
    if (to <= from) return {0, 0, 0};
    return {static_cast<std::uint32_t>(from - begin), static_cast<std::uint32_t>(from - address),
            static_cast<std::uint32_t>(to - from)};
}

}  // namespace

bool RegisterLayout::assign(FeatureStore& store) {
    byAddress_.clear();
    std::uint64_t next = kFeatureAreaBase;
    for (const auto& node : store.nodes()) {
        if (node->storage != Storage::Library) continue;
        if (node->length > kFeatureAreaEnd - next) return false;
        node->address = static_cast<std::uint32_t>(next);
        next += node->length;
        byAddress_.push_back(node.get());
    }
    end_ = static_cast<std::uint32_t>(next);
    return true;
}

bool RegisterLayout::covered(std::uint32_t address, std::uint32_t count, std::vector<Node*>& out) const {
    out.clear();
    if (address < kFeatureAreaBase || count > end_ - kFeatureAreaBase ||
        address - kFeatureAreaBase > end_ - kFeatureAreaBase - count)
        return false;
    auto it = std::upper_bound(byAddress_.begin(), byAddress_.end(), address,
                               [](std::uint32_t a, const Node* node) { return a < node->address; });
    if (it != byAddress_.begin()) --it;
    for (; it != byAddress_.end() && (*it)->address < std::uint64_t{address} + count; ++it) out.push_back(*it);
    return true;
}

void RegisterLayout::encode(const Node& feature, std::uint8_t* out) {
    std::memset(out, 0, feature.length);
    switch (feature.kind) {
        case NodeKind::Float: {
            std::uint32_t bits = 0;
            std::memcpy(&bits, &feature.floatValue, sizeof bits);
            storeBe(out, bits, 4);
            break;
        }
        case NodeKind::String:
            std::memcpy(out, feature.stringValue.data(),
                        std::min<std::size_t>(feature.stringValue.size(), feature.length - 1));
            break;
        default: storeBe(out, static_cast<std::uint64_t>(feature.intValue), feature.length); break;
    }
}

void RegisterLayout::readSlice(const Node& feature, std::uint32_t address, std::uint32_t count, std::uint8_t* out) {
    std::array<std::uint8_t, kStringRegisterSize> image{};
    encode(feature, image.data());
    const Overlap part = overlap(feature.address, feature.length, address, count);
    std::memcpy(out + part.inRange, image.data() + part.inRegister, part.size);
}

gvcp::Status RegisterLayout::decodeWrite(const FeatureStore& store, Node& feature, std::uint32_t address,
                                         const std::uint8_t* data, std::uint32_t count, PendingValue& out) {
    if (feature.access != GevReadWrite || store.locked(feature)) return gvcp::Status::WriteProtect;
    std::array<std::uint8_t, kStringRegisterSize> image{};
    encode(feature, image.data());
    const Overlap part = overlap(feature.address, feature.length, address, count);
    std::memcpy(image.data() + part.inRegister, data + part.inRange, part.size);
    out.feature = &feature;
    switch (feature.kind) {
        case NodeKind::Float: {
            const auto bits = static_cast<std::uint32_t>(loadBe(image.data(), 4));
            std::memcpy(&out.floatValue, &bits, sizeof bits);
            return store.floatAllowed(feature, out.floatValue) ? gvcp::Status::Success : gvcp::Status::InvalidParameter;
        }
        case NodeKind::String: {
            const auto* begin = image.data();
            const auto* end = std::find(begin, begin + feature.length - 1, std::uint8_t{0});
            out.stringValue.assign(begin, end);
            return gvcp::Status::Success;
        }
        default: {
            const std::uint64_t raw = loadBe(image.data(), feature.length);
            out.intValue =
                feature.length == 8 ? static_cast<std::int64_t>(raw) : static_cast<std::int64_t>(raw & 0xFFFFFFFFU);
            return store.intAllowed(feature, out.intValue) ? gvcp::Status::Success : gvcp::Status::InvalidParameter;
        }
    }
}

PendingValue RegisterLayout::current(Node& feature) {
    PendingValue value;
    value.feature = &feature;
    value.intValue = feature.intValue;
    value.floatValue = feature.floatValue;
    value.stringValue = feature.stringValue;
    return value;
}

void RegisterLayout::apply(const PendingValue& value) {
    Node& feature = *value.feature;
    if (feature.kind == NodeKind::Float)
        feature.floatValue = value.floatValue;
    else if (feature.kind == NodeKind::String)
        feature.stringValue = value.stringValue;
    else
        feature.intValue = value.intValue;
}

}  // namespace genicam
