// The GenICam XML written from the feature store.
#include "genicam/xml_writer.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <tinyxml2.h>

#include "gev_camera.h"
#include "genicam/utf8_text.h"

namespace genicam {

namespace {

using Names = std::initializer_list<const char*>;

// Elements every node kind may start with, in schema order.
constexpr Names kNodePrefix = {"Extension",         "ToolTip",      "Description",  "DisplayName",
                               "Visibility",        "DocuURL",      "IsDeprecated", "EventID",
                               "pIsImplemented",    "pIsAvailable", "pIsLocked",    "pBlockPolling",
                               "ImposedAccessMode", "pError",       "pAlias",       "pCastAlias"};

Names kindOrder(NodeKind kind) {
    static constexpr Names category = {"pFeature"};
    static constexpr Names integer = {"pInvalidator", "Streamable",     "Value",    "pValueCopy", "pValue", "pIndex",
                                      "Min",          "pMin",           "Max",      "pMax",       "Inc",    "pInc",
                                      "Unit",         "Representation", "pSelected"};
    static constexpr Names floating = {"pInvalidator",
                                       "Streamable",
                                       "Value",
                                       "pValueCopy",
                                       "pValue",
                                       "Min",
                                       "pMin",
                                       "Max",
                                       "pMax",
                                       "Inc",
                                       "pInc",
                                       "Unit",
                                       "Representation",
                                       "DisplayNotation",
                                       "DisplayPrecision",
                                       "pSelected"};
    static constexpr Names string = {"pInvalidator", "Streamable", "Value", "pValue"};
    static constexpr Names boolean = {"pInvalidator", "Streamable", "Value",    "pValue",
                                      "OnValue",      "OffValue",   "pSelected"};
    static constexpr Names enumeration = {"pInvalidator", "Streamable", "EnumEntry",  "Value",
                                          "pValue",       "pSelected",  "PollingTime"};
    static constexpr Names command = {"pInvalidator", "Value",         "pValue",
                                      "CommandValue", "pCommandValue", "PollingTime"};
    static constexpr Names swissKnife = {"pInvalidator", "Streamable", "pVariable", "Constant",
                                         "Expression",   "Formula",    "Unit",      "Representation"};
    static constexpr Names intReg = {
        "Streamable", "Address", "IntSwissKnife", "pAddress",    "pIndex",         "Length",   "pLength",
        "AccessMode", "pPort",   "Cachable",      "PollingTime", "pInvalidator",   "Bit",      "LSB",
        "MSB",        "Sign",    "Endianess",     "Unit",        "Representation", "pSelected"};
    static constexpr Names floatReg = {
        "Streamable", "Address",    "IntSwissKnife",  "pAddress",        "pIndex",          "Length",
        "pLength",    "AccessMode", "pPort",          "Cachable",        "PollingTime",     "pInvalidator",
        "Endianess",  "Unit",       "Representation", "DisplayNotation", "DisplayPrecision"};
    static constexpr Names port = {"ChunkID", "SwapEndianess"};
    switch (kind) {
        case NodeKind::Category: return category;
        case NodeKind::Integer: return integer;
        case NodeKind::Float: return floating;
        case NodeKind::String: return string;
        case NodeKind::Boolean: return boolean;
        case NodeKind::Enumeration: return enumeration;
        case NodeKind::Command: return command;
        case NodeKind::IntSwissKnife: return swissKnife;
        case NodeKind::IntReg:
        case NodeKind::MaskedIntReg: return intReg;
        case NodeKind::FloatReg:
        case NodeKind::StringReg: return floatReg;
        case NodeKind::Port: return port;
    }
    return category;
}

constexpr Names kEntryOrder = {"Value", "NumericValue", "Symbolic", "IsSelfClearing"};

std::size_t rankIn(Names prefix, Names order, const std::string& name) {
    std::size_t rank = 0;
    for (Names list : {prefix, order}) {
        for (const char* candidate : list) {
            if (name == candidate) return rank;
            ++rank;
        }
    }
    return rank;  // unknown elements go last, in the order given
}

// GenICam names follow [A-Za-z][0-9A-Za-z_]*; texts from elsewhere (a model name, an entry named after a
// sensor setting) are made to fit by replacing the other characters.
std::string nameFromText(const std::string& text, const std::string& fallback) {
    if (text.empty()) return fallback;
    std::string name = text;
    for (char& c : name) {
        const bool allowed = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        if (!allowed) c = '_';
    }
    const char first = name[0];
    if (!((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z'))) name = "N" + name;
    return name;
}

std::string hex(std::uint64_t value, bool prefix) {
    char text[24];
    std::snprintf(text, sizeof text, prefix ? "0x%llX" : "%llX", static_cast<unsigned long long>(value));
    return text;
}

// One element to write: a stored one, a generated one, or an enumeration entry (entry >= 0).
struct Item {
    std::size_t rank = 0;
    Element element;
    int entry = -1;
};

class Writer {
public:
    explicit Writer(const FeatureStore& store) : store_(store), printer_(nullptr, false) {}

    std::string document(const DocumentInfo& info) {
        printer_.PushHeader(false, true);
        printer_.OpenElement("RegisterDescription");
        printer_.PushAttribute("ModelName", nameFromText(info.modelName, "Device").c_str());
        printer_.PushAttribute("VendorName", nameFromText(info.vendorName, "Vendor").c_str());
        printer_.PushAttribute("ToolTip", validXmlText(info.toolTip).c_str());
        printer_.PushAttribute("StandardNameSpace", "None");
        printer_.PushAttribute("SchemaMajorVersion", "1");
        printer_.PushAttribute("SchemaMinorVersion", "1");
        printer_.PushAttribute("SchemaSubMinorVersion", "0");
        printer_.PushAttribute("MajorVersion", "1");
        printer_.PushAttribute("MinorVersion", "0");
        printer_.PushAttribute("SubMinorVersion", "0");
        printer_.PushAttribute("ProductGuid", guid(info.vendorName + "/" + info.modelName).c_str());
        printer_.PushAttribute("VersionGuid", guid(fingerprint()).c_str());
        printer_.PushAttribute("xmlns", "http://www.genicam.org/GenApi/Version_1_1");
        printer_.PushAttribute("xmlns:xsi", "http://www.w3.org/2001/XMLSchema-instance");
        printer_.PushAttribute("xsi:schemaLocation",
                               "http://www.genicam.org/GenApi/Version_1_1 "
                               "http://www.genicam.org/GenApi/GenApiSchema_Version_1_1.xsd");
        for (const auto& node : store_.nodes()) {
            if (visible(*node)) write(*node);
        }
        printer_.OpenElement("Port");
        printer_.PushAttribute("Name", "Device");
        printer_.CloseElement();
        printer_.CloseElement();
        return printer_.CStr();
    }

private:
    // Features without a register live only in the library; clients never see them.
    bool visible(const Node& node) const {
        const Node* feature = node.feature.empty() ? &node : store_.find(node.feature);
        return feature == nullptr || node.kind == NodeKind::Category || node.kind == NodeKind::IntSwissKnife ||
               feature->storage != Storage::None;
    }

    std::string fingerprint() const {
        std::string text;
        for (const auto& node : store_.nodes()) {
            text += node->name + ':' + std::to_string(node->address) + ';';
            for (const auto& element : node->elements) text += element.name + '=' + element.text + ';';
            for (const auto& entry : node->entries) text += entry.name + '=' + std::to_string(entry.value) + ';';
        }
        return text;
    }

    static std::string guid(const std::string& seed) {
        // Two FNV-1a hashes of the seed give the 128 bits; equal declarations give equal GUIDs.
        std::uint64_t a = 1469598103934665603ULL;
        std::uint64_t b = 1099511628211ULL * 31;
        for (unsigned char c : seed) {
            a = (a ^ c) * 1099511628211ULL;
            b = (b ^ c) * 0x100000001B3ULL + 0x9E3779B97F4A7C15ULL;
        }
        char text[40];
        std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(a >> 32),
                      static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>(a & 0xFFFF),
                      static_cast<unsigned>(b >> 48), static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFULL));
        return text;
    }

    void add(std::vector<Item>& items, NodeKind kind, const std::string& name, const std::string& text) {
        items.push_back(Item{rankIn(kNodePrefix, kindOrder(kind), name), Element{name, text, {}}, -1});
    }

    static const char* accessMode(const Node& feature) {
        if (feature.access == kWriteOnlyAccess) return "WO";
        return feature.access == GevReadWrite ? "RW" : "RO";
    }

    void generated(const Node& node, std::vector<Item>& items) {
        switch (node.kind) {
            case NodeKind::Category:
                for (const auto& child : node.children) {
                    const Node* childNode = store_.find(child);
                    if (childNode != nullptr && visible(*childNode)) add(items, node.kind, "pFeature", child);
                }
                break;
            case NodeKind::Integer:
            case NodeKind::Float:
            case NodeKind::String:
            case NodeKind::Boolean:
            case NodeKind::Enumeration:
            case NodeKind::Command:
                add(items, node.kind, "pValue", node.registerName);
                if (node.kind == NodeKind::Command)
                    add(items, node.kind, "CommandValue", std::to_string(kCommandValue));
                for (std::size_t i = 0; i < node.entries.size(); ++i)
                    items.push_back(
                        Item{rankIn(kNodePrefix, kindOrder(node.kind), "EnumEntry"), {}, static_cast<int>(i)});
                break;
            case NodeKind::IntReg:
            case NodeKind::MaskedIntReg:
            case NodeKind::FloatReg:
            case NodeKind::StringReg: registerElements(node, items); break;
            case NodeKind::Port: {
                // An event port takes the records of its event id, as the client's event adapter delivers them.
                if (node.storage == Storage::Event) {
                    char id[8];
                    std::snprintf(id, sizeof id, "%04X", node.eventId);
                    add(items, node.kind, "EventID", id);
                    break;
                }
                const Node* feature = store_.find(node.feature);
                if (feature != nullptr) add(items, node.kind, "ChunkID", hex(feature->chunkId, false));
                break;
            }
            case NodeKind::IntSwissKnife: break;
        }
    }

    void registerElements(const Node& node, std::vector<Item>& items) {
        const Node* feature = store_.find(node.feature);
        if (feature == nullptr) return;
        const bool chunk = feature->storage == Storage::Chunk;
        const bool event = feature->storage == Storage::Event;
        add(items, node.kind, "Address", hex(chunk ? 0 : feature->address, true));
        if (store_.element(node, "pLength") == nullptr)
            add(items, node.kind, "Length", std::to_string(feature->length));
        add(items, node.kind, "AccessMode", chunk || event ? "RO" : accessMode(*feature));
        add(items, node.kind, "pPort", chunk ? feature->name + "Port" : event ? feature->port : "Device");
        if (node.kind == NodeKind::MaskedIntReg) {
            // Big-endian registers number their bits from the most significant one.
            int low = 0;
            int high = 31;
            while (low < 32 && (feature->mask & (1U << low)) == 0) ++low;
            while (high > 0 && (feature->mask & (1U << high)) == 0) --high;
            const int last = static_cast<int>(feature->length) * 8 - 1;
            if (low == high) {
                add(items, node.kind, "Bit", std::to_string(last - low));
            } else {
                add(items, node.kind, "LSB", std::to_string(last - low));
                add(items, node.kind, "MSB", std::to_string(last - high));
            }
        }
        if (node.kind == NodeKind::IntReg || node.kind == NodeKind::MaskedIntReg)
            add(items, node.kind, "Sign", feature->isSigned ? "Signed" : "Unsigned");
        if (node.kind != NodeKind::StringReg) add(items, node.kind, "Endianess", "BigEndian");
    }

    void element(const Element& element) {
        printer_.OpenElement(element.name.c_str(), true);
        for (const auto& [name, value] : element.attributes)
            printer_.PushAttribute(name.c_str(), validXmlText(value).c_str());
        printer_.PushText(validXmlText(element.text).c_str());
        printer_.CloseElement(true);
    }

    void entry(const EnumEntry& entry) {
        printer_.OpenElement("EnumEntry");
        // Clients select entries by value, so a name made to fit the schema changes nothing for the program.
        const std::string name = nameFromText(entry.name, "Entry" + std::to_string(entry.value));
        printer_.PushAttribute("Name", name.c_str());
        std::vector<Item> items;
        for (const auto& stored : entry.elements)
            items.push_back(Item{rankIn(kNodePrefix, kEntryOrder, stored.name), stored, -1});
        items.push_back(
            Item{rankIn(kNodePrefix, kEntryOrder, "Value"), Element{"Value", std::to_string(entry.value), {}}, -1});
        std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.rank < b.rank; });
        for (const auto& item : items) element(item.element);
        printer_.CloseElement();
    }

    void write(const Node& node) {
        std::vector<Item> items;
        for (const auto& stored : node.elements)
            items.push_back(Item{rankIn(kNodePrefix, kindOrder(node.kind), stored.name), stored, -1});
        generated(node, items);
        std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.rank < b.rank; });
        printer_.OpenElement(nodeKindName(node.kind));
        printer_.PushAttribute("Name", node.name.c_str());
        for (const auto& item : items) {
            if (item.entry >= 0)
                entry(node.entries[static_cast<std::size_t>(item.entry)]);
            else
                element(item.element);
        }
        printer_.CloseElement();
    }

    const FeatureStore& store_;
    tinyxml2::XMLPrinter printer_;
};

}  // namespace

std::string writeGenicamXml(const FeatureStore& store, const DocumentInfo& info) {
    Writer writer(store);
    return writer.document(info);
}

}  // namespace genicam
