// The feature tree: declaring features and nodes, their elements, and the values clients and the program
// read and write.
#include "genicam/feature_store.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "gev_camera.h"
#include "gvcp/protocol.h"

namespace genicam {

namespace {

NodeKind valueKind(int type, bool& ok) {
    ok = true;
    switch (type) {
        case GevInteger: return NodeKind::Integer;
        case GevFloat: return NodeKind::Float;
        case GevString: return NodeKind::String;
        case GevBoolean: return NodeKind::Boolean;
        case GevEnumeration: return NodeKind::Enumeration;
        default: ok = false; return NodeKind::Integer;
    }
}

std::string formatFloat(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

void replaceOrAdd(std::vector<Element>& elements, const std::string& name, const std::string& text, bool append) {
    if (!append) {
        for (auto& element : elements) {
            if (element.name == name) {
                element.text = text;
                return;
            }
        }
    }
    elements.push_back(Element{name, text, {}});
}

bool isValueKind(NodeKind kind) {
    return kind == NodeKind::Integer || kind == NodeKind::Float || kind == NodeKind::String ||
           kind == NodeKind::Boolean || kind == NodeKind::Enumeration || kind == NodeKind::Command;
}

bool isIntegerLike(NodeKind kind) {
    return kind == NodeKind::Integer || kind == NodeKind::Boolean || kind == NodeKind::Enumeration ||
           kind == NodeKind::Command;
}

}  // namespace

const char* nodeKindName(NodeKind kind) {
    switch (kind) {
        case NodeKind::Category: return "Category";
        case NodeKind::Integer: return "Integer";
        case NodeKind::Float: return "Float";
        case NodeKind::String: return "String";
        case NodeKind::Boolean: return "Boolean";
        case NodeKind::Enumeration: return "Enumeration";
        case NodeKind::Command: return "Command";
        case NodeKind::IntSwissKnife: return "IntSwissKnife";
        case NodeKind::IntReg: return "IntReg";
        case NodeKind::MaskedIntReg: return "MaskedIntReg";
        case NodeKind::FloatReg: return "FloatReg";
        case NodeKind::StringReg: return "StringReg";
        case NodeKind::Port: return "Port";
    }
    return "";
}

bool isRegisterKind(NodeKind kind) {
    return kind == NodeKind::IntReg || kind == NodeKind::MaskedIntReg || kind == NodeKind::FloatReg ||
           kind == NodeKind::StringReg;
}

FeatureStore::FeatureStore() { add("Root", NodeKind::Category); }

Node* FeatureStore::find(const std::string& name) {
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
}

const Node* FeatureStore::find(const std::string& name) const {
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
}

Node* FeatureStore::featureOf(const std::string& name) {
    Node* node = find(name);
    if (node != nullptr && !node->feature.empty()) node = find(node->feature);
    return node != nullptr && isValueKind(node->kind) ? node : nullptr;
}

Node* FeatureStore::add(std::string name, NodeKind kind) {
    if (name.empty() || byName_.count(name) != 0) return nullptr;
    auto node = std::make_unique<Node>();
    node->name = std::move(name);
    node->kind = kind;
    Node* raw = node.get();
    nodes_.push_back(std::move(node));
    byName_[raw->name] = raw;
    return raw;
}

bool FeatureStore::fileUnder(const std::string& category, const std::string& name) {
    Node* parent = find(category);
    if (parent == nullptr || parent->kind != NodeKind::Category) return false;
    parent->children.push_back(name);
    return true;
}

bool FeatureStore::addCategory(const std::string& name, const std::string& parent) {
    const Node* parentNode = find(parent);
    if (parentNode == nullptr || parentNode->kind != NodeKind::Category || find(name) != nullptr) return false;
    if (add(name, NodeKind::Category) == nullptr || !fileUnder(parent, name)) return false;
    for (const auto& [category, feature] : awaitingCategory_)
        if (category == name) fileUnder(name, feature);
    return true;
}

void FeatureStore::fileWhenDeclared(const std::string& category, const std::string& name) {
    if (find(category) != nullptr)
        fileUnder(category, name);
    else
        awaitingCategory_.emplace_back(category, name);
}

Node* FeatureStore::addValueNode(int type, const std::string& name, const std::string& category, std::uint16_t access) {
    bool known = false;
    const NodeKind kind = valueKind(type, known);
    // An empty category keeps the feature unfiled: the library's chunk controls wait for the chunk category.
    const Node* parent = find(category);
    if (!known || (access != GevReadOnly && access != GevReadWrite) ||
        (!category.empty() && (parent == nullptr || parent->kind != NodeKind::Category)))
        return nullptr;
    Node* node = add(name, kind);
    if (node == nullptr) return nullptr;
    node->access = access;
    if (!category.empty()) fileUnder(category, name);
    if (kind == NodeKind::Float) {
        // Literal limits the library writes by default; a declaration may replace them by pMin/pMax.
        node->elements.push_back(Element{"Min", formatFloat(-3.4028234663852886e38), {}});
        node->elements.push_back(Element{"Max", formatFloat(3.4028234663852886e38), {}});
    }
    return node;
}

Node* FeatureStore::addRegisterNode(Node& feature, const std::string& registerName, NodeKind kind) {
    Node* reg = add(registerName, kind);
    if (reg == nullptr) return nullptr;
    reg->feature = feature.name;
    reg->elements.push_back(Element{"Cachable", "NoCache", {}});
    feature.registerName = registerName;
    return reg;
}

bool FeatureStore::addFeature(int type, const std::string& name, const std::string& category, std::uint16_t access,
                              const std::string& registerName, bool withRegister) {
    const std::string regName = registerName.empty() ? "reg" + name : registerName;
    if (withRegister && (find(regName) != nullptr || regName == name)) return false;
    Node* node = addValueNode(type, name, category, access);
    if (node == nullptr) return false;
    if (!withRegister) return true;
    node->storage = Storage::Library;
    NodeKind regKind = NodeKind::IntReg;
    switch (node->kind) {
        case NodeKind::Integer:
            node->length = 8;
            node->isSigned = true;
            break;
        case NodeKind::Float:
            regKind = NodeKind::FloatReg;
            node->length = 4;
            break;
        case NodeKind::String:
            regKind = NodeKind::StringReg;
            node->length = kStringRegisterSize;
            break;
        default: node->length = 4; break;
    }
    return addRegisterNode(*node, regName, regKind) != nullptr;
}

bool FeatureStore::addCommand(const std::string& name, const std::string& category) {
    if (find("reg" + name) != nullptr || !addFeature(GevInteger, name, category, GevReadWrite, "", true)) return false;
    Node* node = find(name);
    node->kind = NodeKind::Command;
    node->length = 4;
    node->isSigned = false;
    return true;
}

bool FeatureStore::addBootstrapFeature(int type, const std::string& name, const std::string& category,
                                       std::uint16_t access, std::uint32_t address, std::uint32_t length,
                                       std::uint32_t mask) {
    if (find("reg" + name) != nullptr) return false;
    Node* node = addValueNode(type, name, category, access);
    if (node == nullptr) return false;
    node->storage = Storage::Bootstrap;
    node->address = address;
    node->length = length;
    node->mask = mask;
    NodeKind regKind = mask != 0 ? NodeKind::MaskedIntReg : NodeKind::IntReg;
    if (node->kind == NodeKind::String) regKind = NodeKind::StringReg;
    return addRegisterNode(*node, "reg" + name, regKind) != nullptr;
}

bool FeatureStore::addBootstrapCommand(const std::string& name, const std::string& category, std::uint32_t address,
                                       std::uint32_t mask) {
    if (!addBootstrapFeature(GevInteger, name, category, GevReadWrite, address, 4, mask)) return false;
    Node* node = find(name);
    node->kind = NodeKind::Command;
    node->isSigned = false;
    return true;
}

bool FeatureStore::addComputedNode(const std::string& kind, const std::string& name, const std::string& category) {
    const Node* parent = find(category);
    if (kind != "IntSwissKnife" || parent == nullptr || parent->kind != NodeKind::Category) return false;
    return add(name, NodeKind::IntSwissKnife) != nullptr && fileUnder(category, name);
}

bool FeatureStore::addChunkCategory(const std::string& name) {
    if (!chunkCategory_.empty() || !addCategory(name, "Root")) return false;
    chunkCategory_ = name;
    for (const auto& feature : chunkControlFeatures_) fileUnder(name, feature);
    return true;
}

void FeatureStore::addChunkControlFeature(const std::string& name) {
    chunkControlFeatures_.push_back(name);
    if (!chunkCategory_.empty()) fileUnder(chunkCategory_, name);
}

bool FeatureStore::addChunkFeature(std::uint32_t chunkId, const std::string& name, const std::string& category,
                                   std::uint16_t access, std::uint32_t length, const std::string& description) {
    const std::string portName = name + "Port";
    if ((length != 4 && length != 8) || find("reg" + name) != nullptr || find(portName) != nullptr) return false;
    Node* node = addValueNode(GevInteger, name, category, access);
    if (node == nullptr) return false;
    node->storage = Storage::Chunk;
    node->chunkId = chunkId;
    node->length = length;
    Node* reg = addRegisterNode(*node, "reg" + name, NodeKind::IntReg);
    Node* port = add(portName, NodeKind::Port);
    reg->feature = name;
    port->feature = name;
    if (!description.empty()) setDescription(name, description);
    // The selector entry is the feature's name without its "Chunk" prefix; its value is the position.
    const std::string entry = name.rfind("Chunk", 0) == 0 ? name.substr(5) : name;
    addEnumEntry("ChunkSelector", entry, static_cast<std::int64_t>(chunkFeatures_.size()));
    chunkFeatures_.push_back(name);
    return true;
}

namespace {
// The features that read an event record with extended ids find its fields further on (see kEventBlockIdOffset):
// their registers are indexed by the GVSP configuration's extended-id bit.
constexpr const char* kExtendedIdRegister = "regGevGVSPExtendedIDMode";
constexpr const char* kFrameIdLength = "EventFrameIDLength";
}  // namespace

bool FeatureStore::declareEventControls() {
    if (find("EventSelector") != nullptr) return true;
    if (find("EventControl") == nullptr && !addCategory("EventControl", "Root")) return false;
    if (!addFeature(GevEnumeration, "EventSelector", "EventControl", GevReadWrite, "", true) ||
        !addBootstrapFeature(GevEnumeration, "EventNotification", "EventControl", GevReadWrite,
                             gvcp::kEventNotificationBase, 4, 0) ||
        !addBootstrapFeature(GevInteger, "EventDroppedCount", "EventControl", GevReadOnly, gvcp::kEventDroppedCount, 4,
                             0))
        return false;
    // One notification word per event id: EventSelector's value is the id.
    setElementAttribute("regEventNotification", "pIndex", "regEventSelector", "Offset", "4");
    setElement("EventSelector", "pSelected", "EventNotification", true);
    addEnumEntry("EventNotification", "Off", 0);
    addEnumEntry("EventNotification", "On", 1);
    setDescription("EventDroppedCount",
                   "Events not delivered: the queue was full, or the client acknowledged none of the sends.");
    // 2 bytes of standard block id, or 8 of the extended one.
    Node* length = add(kFrameIdLength, NodeKind::IntSwissKnife);
    if (length == nullptr) return false;
    setElementAttribute(kFrameIdLength, "pVariable", kExtendedIdRegister, "Name", "EXT");
    setElement(kFrameIdLength, "Formula", "2 + 6 * EXT", false);
    return true;
}

bool FeatureStore::addEventFeature(const std::string& name, const std::string& category, const std::string& port,
                                   std::uint32_t offset, std::uint32_t length) {
    if (find("reg" + name) != nullptr) return false;
    Node* node = addValueNode(GevInteger, name, category, GevReadOnly);
    if (node == nullptr) return false;
    node->storage = Storage::Event;
    node->address = offset;
    node->length = length;
    node->port = port;
    node->eventId = find(port)->eventId;
    return addRegisterNode(*node, "reg" + name, NodeKind::IntReg) != nullptr;
}

bool FeatureStore::addEvent(const std::string& name, std::uint16_t eventId, const std::string& dataFeature,
                            const std::string& category) {
    const std::string feature = "Event" + name;
    const std::string port = feature + "Port";
    std::vector<std::string> names = {feature, feature + "Timestamp", feature + "FrameID", port};
    if (!dataFeature.empty()) names.push_back(dataFeature);
    for (const auto& taken : names) {
        if (find(taken) != nullptr || find("reg" + taken) != nullptr) return false;
    }
    Node* selector = find("EventSelector");
    if (selector != nullptr) {
        for (const auto& entry : selector->entries) {
            if (entry.value == eventId) return false;
        }
    }
    if (!declareEventControls()) return false;
    const Node* parent = find(category);
    if (parent == nullptr || parent->kind != NodeKind::Category || !addEnumEntry("EventSelector", name, eventId))
        return false;
    Node* portNode = add(port, NodeKind::Port);
    portNode->storage = Storage::Event;
    portNode->eventId = eventId;
    const std::string offsetOfExtension = std::to_string(gvcp::kExtendedEventRecordSize - gvcp::kEventRecordSize);
    addEventFeature(feature, category, port, gvcp::kEventIdOffset, 2);
    addEventFeature(feature + "Timestamp", category, port, gvcp::kEventTimestampOffset, 8);
    setElementAttribute("reg" + feature + "Timestamp", "pIndex", kExtendedIdRegister, "Offset", offsetOfExtension);
    addEventFeature(feature + "FrameID", category, port, gvcp::kEventBlockIdOffset, 2);
    setElementAttribute("reg" + feature + "FrameID", "pIndex", kExtendedIdRegister, "Offset", "2");
    setElement("reg" + feature + "FrameID", "pLength", kFrameIdLength, false);
    if (!dataFeature.empty()) {
        addEventFeature(dataFeature, category, port, gvcp::kEventDataOffset, gvcp::kEventDataSize);
        setElementAttribute("reg" + dataFeature, "pIndex", kExtendedIdRegister, "Offset", offsetOfExtension);
    }
    return true;
}

bool FeatureStore::addEnumEntry(const std::string& enumName, const std::string& entryName, std::int64_t value) {
    Node* node = find(enumName);
    if (node == nullptr || node->kind != NodeKind::Enumeration || value < 0 || value > 0xFFFFFFFFLL) return false;
    for (const auto& entry : node->entries) {
        // Entries without a name stay possible (they come from empty texts of the sensor's settings).
        if (!entryName.empty() && entry.name == entryName) return false;
    }
    if (node->entries.empty()) node->intValue = value;
    node->entries.push_back(EnumEntry{entryName, value, {}});
    return true;
}

Node* FeatureStore::elementHost(Node& node, const std::string& element) {
    const bool registerOnly =
        element == "Cachable" || element == "Sign" || element == "Endianess" ||
        (element == "PollingTime" && node.kind != NodeKind::Enumeration && node.kind != NodeKind::Command);
    if (registerOnly && isValueKind(node.kind) && !node.registerName.empty()) return find(node.registerName);
    return &node;
}

bool FeatureStore::setElement(const std::string& nodeName, const std::string& element, const std::string& text,
                              bool append) {
    Node* node = find(nodeName);
    if (node == nullptr || element.empty()) return false;
    replaceOrAdd(elementHost(*node, element)->elements, element, text, append);
    return true;
}

bool FeatureStore::setElementAttribute(const std::string& nodeName, const std::string& elementName,
                                       const std::string& elementText, const std::string& attribute,
                                       const std::string& attributeText) {
    Node* node = find(nodeName);
    if (node == nullptr || elementName.empty() || attribute.empty()) return false;
    auto& elements = elementHost(*node, elementName)->elements;
    Element* target = nullptr;
    for (auto& element : elements) {
        if (element.name == elementName && element.text == elementText) target = &element;
    }
    if (target == nullptr) {
        elements.push_back(Element{elementName, elementText, {}});
        target = &elements.back();
    }
    for (auto& [name, value] : target->attributes) {
        if (name == attribute) {
            value = attributeText;
            return true;
        }
    }
    target->attributes.emplace_back(attribute, attributeText);
    return true;
}

bool FeatureStore::setEntryElement(const std::string& enumName, const std::string& entryName,
                                   const std::string& element, const std::string& text, bool append) {
    Node* node = find(enumName);
    if (node == nullptr || node->kind != NodeKind::Enumeration || element.empty()) return false;
    for (auto& entry : node->entries) {
        if (entry.name == entryName) {
            replaceOrAdd(entry.elements, element, text, append);
            return true;
        }
    }
    return false;
}

bool FeatureStore::removeElement(const std::string& nodeName, const std::string& elementName, int occurrence) {
    Node* node = find(nodeName);
    if (node == nullptr || occurrence < 0) return false;
    auto& elements = elementHost(*node, elementName)->elements;
    int seen = 0;
    for (auto it = elements.begin(); it != elements.end(); ++it) {
        if (it->name == elementName && seen++ == occurrence) {
            elements.erase(it);
            return true;
        }
    }
    return false;
}

const Element* FeatureStore::element(const Node& node, const std::string& name) const {
    for (const auto& element : node.elements) {
        if (element.name == name) return &element;
    }
    return nullptr;
}

bool FeatureStore::setIntRange(const std::string& name, std::int64_t min, std::int64_t max, std::int64_t increment) {
    Node* node = find(name);
    if (node == nullptr || node->kind != NodeKind::Integer || min > max || increment < 1) return false;
    replaceOrAdd(node->elements, "Min", std::to_string(min), false);
    replaceOrAdd(node->elements, "Max", std::to_string(max), false);
    replaceOrAdd(node->elements, "Inc", std::to_string(increment), false);
    return true;
}

bool FeatureStore::setFloatRange(const std::string& name, float min, float max) {
    Node* node = find(name);
    if (node == nullptr || node->kind != NodeKind::Float || !(min <= max)) return false;
    replaceOrAdd(node->elements, "Min", formatFloat(min), false);
    replaceOrAdd(node->elements, "Max", formatFloat(max), false);
    return true;
}

bool FeatureStore::setDescription(const std::string& name, const std::string& text) {
    Node* node = find(name);
    if (node == nullptr) return false;
    replaceOrAdd(node->elements, "Description", text, false);
    return true;
}

bool FeatureStore::setAccess(const std::string& name, std::uint16_t access) {
    Node* node = featureOf(name);
    if (node == nullptr || (access != GevReadOnly && access != GevReadWrite)) return false;
    node->access = access;
    return true;
}

bool FeatureStore::setInt(const std::string& name, std::int64_t value) {
    Node* node = featureOf(name);
    if (node == nullptr || !isIntegerLike(node->kind) || node->storage == Storage::Bootstrap) return false;
    if (node->kind == NodeKind::Boolean && value != 0 && value != 1) return false;
    if (node->kind == NodeKind::Enumeration && !intAllowed(*node, value)) return false;
    node->intValue = value;
    return true;
}

bool FeatureStore::setFloat(const std::string& name, float value) {
    Node* node = featureOf(name);
    if (node == nullptr || node->kind != NodeKind::Float) return false;
    node->floatValue = value;
    return true;
}

bool FeatureStore::setString(const std::string& name, const std::string& value) {
    Node* node = featureOf(name);
    if (node == nullptr || node->kind != NodeKind::String) return false;
    // A string register keeps one byte for the terminating NUL.
    node->stringValue = value.substr(0, kStringRegisterSize - 1);
    node->stringValue = node->stringValue.substr(0, node->stringValue.find('\0'));
    return true;
}

bool FeatureStore::setEnum(const std::string& name, const std::string& entryName) {
    Node* node = featureOf(name);
    if (node == nullptr || node->kind != NodeKind::Enumeration) return false;
    for (const auto& entry : node->entries) {
        if (entry.name == entryName) {
            node->intValue = entry.value;
            return true;
        }
    }
    return false;
}

bool FeatureStore::getInt(const std::string& name, std::int64_t& value) const {
    const Node* node = const_cast<FeatureStore*>(this)->featureOf(name);
    if (node == nullptr || !isIntegerLike(node->kind)) return false;
    value = node->intValue;
    return true;
}

bool FeatureStore::getFloat(const std::string& name, float& value) const {
    const Node* node = const_cast<FeatureStore*>(this)->featureOf(name);
    if (node == nullptr || node->kind != NodeKind::Float) return false;
    value = node->floatValue;
    return true;
}

bool FeatureStore::getString(const std::string& name, std::string& value) const {
    const Node* node = const_cast<FeatureStore*>(this)->featureOf(name);
    if (node == nullptr || node->kind != NodeKind::String) return false;
    value = node->stringValue;
    return true;
}

bool FeatureStore::limit(const Node& feature, const char* literal, const char* pointer, double& value) const {
    if (const Element* element = this->element(feature, literal)) {
        char* end = nullptr;
        value = std::strtod(element->text.c_str(), &end);
        return end != element->text.c_str();
    }
    if (const Element* element = this->element(feature, pointer)) {
        const Node* source = const_cast<FeatureStore*>(this)->featureOf(element->text);
        if (source == nullptr) return false;
        value = source->kind == NodeKind::Float ? source->floatValue : static_cast<double>(source->intValue);
        return true;
    }
    return false;
}

std::vector<std::string> FeatureStore::boundingFeatures(const Node& feature) {
    std::vector<std::string> names;
    for (const char* pointer : {"pMin", "pMax"}) {
        const Element* element = this->element(feature, pointer);
        const Node* source = element != nullptr ? featureOf(element->text) : nullptr;
        if (source != nullptr) names.push_back(source->name);
    }
    return names;
}

bool FeatureStore::intAllowed(const Node& feature, std::int64_t value) const {
    switch (feature.kind) {
        case NodeKind::Boolean: return value == 0 || value == 1;
        case NodeKind::Enumeration:
            for (const auto& entry : feature.entries) {
                if (entry.value == value) return true;
            }
            return false;
        case NodeKind::Integer: {
            double bound = 0;
            if (limit(feature, "Min", "pMin", bound) && static_cast<double>(value) < bound) return false;
            if (limit(feature, "Max", "pMax", bound) && static_cast<double>(value) > bound) return false;
            double minimum = 0;
            double increment = 0;
            if (limit(feature, "Inc", "pInc", increment) && increment > 1 && limit(feature, "Min", "pMin", minimum))
                return (value - static_cast<std::int64_t>(minimum)) % static_cast<std::int64_t>(increment) == 0;
            return true;
        }
        case NodeKind::Command: return value == kCommandValue;
        default: return true;
    }
}

bool FeatureStore::locked(const Node& feature) const {
    const Element* lock = element(feature, "pIsLocked");
    std::int64_t value = 0;
    return lock != nullptr && getInt(lock->text, value) && value != 0;
}

bool FeatureStore::floatAllowed(const Node& feature, float value) const {
    if (std::isnan(value)) return false;
    double bound = 0;
    if (limit(feature, "Min", "pMin", bound) && value < static_cast<float>(bound)) return false;
    if (limit(feature, "Max", "pMax", bound) && value > static_cast<float>(bound)) return false;
    return true;
}

}  // namespace genicam
