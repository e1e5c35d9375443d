// The device's feature tree: categories, features with their register nodes, computed nodes, chunk ports,
// enumeration entries, the GenICam elements given to each node, and the current values. It is the single
// source from which the register layout and the GenICam XML are derived. Not thread-safe: the camera
// guards it with its own lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace genicam {

// The value that executes a command; a command register reads 0 once its command was carried out.
constexpr std::int64_t kCommandValue = 1;

enum class NodeKind : std::uint8_t {
    Category,
    Integer,
    Float,
    String,
    Boolean,
    Enumeration,
    Command,
    IntSwissKnife,
    IntReg,
    MaskedIntReg,
    FloatReg,
    StringReg,
    Port,
};
const char* nodeKindName(NodeKind kind);
bool isRegisterKind(NodeKind kind);

struct Element {
    std::string name;
    std::string text;
    std::vector<std::pair<std::string, std::string>> attributes;
};

struct EnumEntry {
    std::string name;
    std::int64_t value = 0;
    std::vector<Element> elements;
};

// Where a feature's value lives.
enum class Storage : std::uint8_t {
    Library,    // in this store, served from a register of the feature area
    Bootstrap,  // in a bootstrap register (bits `mask` of the 4- or 8-byte word at `address`)
    Chunk,      // travels in every frame as chunk data; the store keeps the last value set
    Event,      // arrives with an event on the message channel: `address` is its offset in the event record
    None,       // a feature without a register: only the library sees it
};

struct Node {
    std::string name;
    NodeKind kind = NodeKind::Category;
    std::vector<Element> elements;  // in the order given; the XML writer puts them in schema order
    std::vector<EnumEntry> entries;
    std::vector<std::string> children;  // categories: their features, in declaration order

    // Features only.
    std::string registerName;
    std::uint16_t access = 3;  // GevAccess
    Storage storage = Storage::None;
    std::int64_t intValue = 0;
    float floatValue = 0.0F;
    std::string stringValue;
    std::uint32_t address = 0;  // register address (Library: assigned by the layout; Bootstrap: fixed)
    std::uint32_t length = 0;   // register length in bytes
    std::uint32_t mask = 0;     // Bootstrap: the bits of the register that hold the value (0: all)
    std::uint32_t chunkId = 0;  // Chunk: the chunk's identifier
    std::uint16_t eventId = 0;  // Event: the event's identifier (its features and its port)
    std::string port;           // Event features: the port node of their event
    bool isSigned = false;

    // Register and port nodes only: the feature they serve.
    std::string feature;
};

// Access of the library's own write-only registers (keys): declarations through the interface are read-only
// or read-write.
constexpr std::uint16_t kWriteOnlyAccess = 2;

// Fixed string register size: a multiple of 4, so that padded memory writes never touch a neighbour.
constexpr std::uint32_t kStringRegisterSize = 128;

class FeatureStore {
public:
    FeatureStore();

    Node* find(const std::string& name);
    const Node* find(const std::string& name) const;
    // The feature a name designates: the feature itself or the feature behind its register node.
    Node* featureOf(const std::string& name);
    const std::vector<std::unique_ptr<Node>>& nodes() const { return nodes_; }

    // Declarations; false when a name is taken, a referenced node is missing or an argument is invalid.
    bool addCategory(const std::string& name, const std::string& parent);
    bool addFeature(int type, const std::string& name, const std::string& category, std::uint16_t access,
                    const std::string& registerName, bool withRegister);
    bool addCommand(const std::string& name, const std::string& category);
    // A feature whose register is a bootstrap register (or bits of it); a string feature reads `length` bytes.
    bool addBootstrapFeature(int type, const std::string& name, const std::string& category, std::uint16_t access,
                             std::uint32_t address, std::uint32_t length, std::uint32_t mask);
    // A command that sets the bits `mask` of a bootstrap register.
    bool addBootstrapCommand(const std::string& name, const std::string& category, std::uint32_t address,
                             std::uint32_t mask);
    bool addComputedNode(const std::string& kind, const std::string& name, const std::string& category);
    bool addChunkCategory(const std::string& name);
    bool addChunkFeature(std::uint32_t chunkId, const std::string& name, const std::string& category,
                         std::uint16_t access, std::uint32_t length, const std::string& description);
    bool addEnumEntry(const std::string& enumName, const std::string& entryName, std::int64_t value);
    // An event of the message channel: an entry of EventSelector and the features Event<name>,
    // Event<name>Timestamp, Event<name>FrameID and `dataFeature` (none when empty) in `category`, read from the
    // event's port. The first event also declares EventSelector, EventNotification and EventDroppedCount.
    bool addEvent(const std::string& name, std::uint16_t eventId, const std::string& dataFeature,
                  const std::string& category);

    // A library feature filed under `category` once the program declares it (at once if it exists), so that it
    // stands among the program's features of its kind.
    void fileWhenDeclared(const std::string& category, const std::string& name);
    // Library features of the chunk area are filed under the chunk category once one is declared.
    void addChunkControlFeature(const std::string& name);
    const std::string& chunkCategory() const { return chunkCategory_; }
    const std::vector<std::string>& chunkFeatures() const { return chunkFeatures_; }

    // Elements.
    bool setElement(const std::string& node, const std::string& element, const std::string& text, bool append);
    bool setElementAttribute(const std::string& node, const std::string& element, const std::string& elementText,
                             const std::string& attribute, const std::string& attributeText);
    bool setEntryElement(const std::string& enumName, const std::string& entryName, const std::string& element,
                         const std::string& text, bool append);
    bool removeElement(const std::string& node, const std::string& element, int occurrence);
    // A feature whose pIsLocked names a feature (or its register) that holds a non-zero value: clients may
    // not write it.
    bool locked(const Node& feature) const;
    const Element* element(const Node& node, const std::string& name) const;

    // Limits, description, access.
    bool setIntRange(const std::string& name, std::int64_t min, std::int64_t max, std::int64_t increment);
    bool setFloatRange(const std::string& name, float min, float max);
    bool setDescription(const std::string& name, const std::string& text);
    bool setAccess(const std::string& name, std::uint16_t access);

    // Values of features kept in the store (bootstrap-bound features are the camera's business).
    bool setInt(const std::string& name, std::int64_t value);
    bool setFloat(const std::string& name, float value);
    bool setString(const std::string& name, const std::string& value);
    bool setEnum(const std::string& name, const std::string& entryName);
    bool getInt(const std::string& name, std::int64_t& value) const;
    bool getFloat(const std::string& name, float& value) const;
    bool getString(const std::string& name, std::string& value) const;

    // The features whose values bound `feature` through pMin/pMax, so that their owner can bring them up to
    // date before a written value is checked against them.
    std::vector<std::string> boundingFeatures(const Node& feature);
    // Client-side checks: whether `value` is acceptable for the feature (range, entries, 0/1).
    bool intAllowed(const Node& feature, std::int64_t value) const;
    bool floatAllowed(const Node& feature, float value) const;

private:
    Node* add(std::string name, NodeKind kind);
    Node* addValueNode(int type, const std::string& name, const std::string& category, std::uint16_t access);
    Node* addRegisterNode(Node& feature, const std::string& registerName, NodeKind kind);
    bool fileUnder(const std::string& category, const std::string& name);
    // Where an element given to `node` really belongs: elements that only a register may carry move
    // from a feature to its register node.
    Node* elementHost(Node& node, const std::string& element);
    bool limit(const Node& feature, const char* literal, const char* pointer, double& value) const;
    bool declareEventControls();
    bool addEventFeature(const std::string& name, const std::string& category, const std::string& port,
                         std::uint32_t offset, std::uint32_t length);

    std::vector<std::unique_ptr<Node>> nodes_;
    std::unordered_map<std::string, Node*> byName_;
    std::string chunkCategory_;
    std::vector<std::string> chunkFeatures_;
    std::vector<std::string> chunkControlFeatures_;
    std::vector<std::pair<std::string, std::string>> awaitingCategory_;  // category, feature
};

}  // namespace genicam
