// The feature store through the public interface and the GenICam XML derived from it: every node, element,
// entry and selector relation of a bridge-sized tree appears, references resolve, registers never overlap.
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "camera.h"
#include "sample_tree.h"

namespace {

using tinyxml2::XMLElement;

struct Description {
    tinyxml2::XMLDocument document;
    std::map<std::string, const XMLElement*> nodes;

    explicit Description(const std::string& xml) {
        EXPECT_EQ(document.Parse(xml.c_str(), xml.size()), tinyxml2::XML_SUCCESS);
        for (const XMLElement* node = document.RootElement()->FirstChildElement(); node != nullptr;
             node = node->NextSiblingElement()) {
            const std::string name = node->Attribute("Name");
            EXPECT_EQ(nodes.count(name), 0U) << "node name used twice: " << name;
            nodes[name] = node;
        }
    }
    const XMLElement* node(const std::string& name) const {
        auto it = nodes.find(name);
        return it == nodes.end() ? nullptr : it->second;
    }
    static std::vector<std::string> texts(const XMLElement* node, const char* element) {
        std::vector<std::string> result;
        for (const XMLElement* e = node->FirstChildElement(element); e != nullptr; e = e->NextSiblingElement(element))
            result.push_back(e->GetText() == nullptr ? "" : e->GetText());
        return result;
    }
    static std::vector<std::string> order(const XMLElement* node) {
        std::vector<std::string> result;
        for (const XMLElement* e = node->FirstChildElement(); e != nullptr; e = e->NextSiblingElement())
            result.push_back(e->Name());
        return result;
    }
    static const XMLElement* entry(const XMLElement* enumeration, const std::string& name) {
        for (const XMLElement* e = enumeration->FirstChildElement("EnumEntry"); e != nullptr;
             e = e->NextSiblingElement("EnumEntry"))
            if (name == e->Attribute("Name")) return e;
        return nullptr;
    }
};

std::size_t position(const std::vector<std::string>& list, const std::string& name) {
    return static_cast<std::size_t>(std::find(list.begin(), list.end(), name) - list.begin());
}

class DescriptionTest : public ::testing::Test {
protected:
    void SetUp() override {
        gvcp_test::declareSampleTree(camera);
        xml = camera.genicamXml();
    }
    gige::Camera camera;
    std::string xml;
};

}  // namespace

TEST_F(DescriptionTest, EveryReferenceResolvesAndRegistersNeverOverlap) {
    Description d(xml);
    ASSERT_NE(d.node("Root"), nullptr);
    ASSERT_NE(d.node("Device"), nullptr);
    EXPECT_STREQ(d.document.RootElement()->Attribute("SchemaMinorVersion"), "1");
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    for (const auto& [name, node] : d.nodes) {
        for (const XMLElement* e = node->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
            const std::string element = e->Name();
            if (element[0] == 'p' && e->GetText() != nullptr) {
                EXPECT_NE(d.node(e->GetText()), nullptr) << name << " " << element << " -> " << e->GetText();
            }
        }
        const XMLElement* port = node->FirstChildElement("pPort");
        if (port == nullptr || std::string(port->GetText()) != "Device") continue;
        const std::uint64_t address = std::stoull(node->FirstChildElement("Address")->GetText(), nullptr, 16);
        const std::uint64_t length = std::stoull(node->FirstChildElement("Length")->GetText());
        EXPECT_EQ(address % 4, 0U) << name;
        EXPECT_EQ(length % 4, 0U) << name;
        EXPECT_LE(address + length, genicam::kXmlAddress) << name;
        ranges.emplace_back(address, address + length);
    }
    std::sort(ranges.begin(), ranges.end());
    for (std::size_t i = 1; i < ranges.size(); ++i) {
        // Bit fields of one bootstrap word (the port and packet-size features) share their word on purpose.
        if (ranges[i] == ranges[i - 1] && ranges[i].first < 0x1000) continue;
        EXPECT_LE(ranges[i - 1].second, ranges[i].first) << std::hex << ranges[i].first;
    }
    // Every feature has its register "reg" + name.
    for (const char* name : {"Gain", "PathToMask", "FilterMode", "StackAcquisitionMode", "Width", "ChunkTemperature"}) {
        const XMLElement* feature = d.node(name);
        ASSERT_NE(feature, nullptr) << name;
        EXPECT_EQ(Description::texts(feature, "pValue"), std::vector<std::string>{std::string("reg") + name});
    }
}

TEST_F(DescriptionTest, DeclaredElementsAppearInSchemaOrder) {
    Description d(xml);
    const XMLElement* value = d.node("PropertyValue");
    EXPECT_TRUE(Description::texts(value, "Min").empty());
    EXPECT_TRUE(Description::texts(value, "Max").empty());
    EXPECT_EQ(Description::texts(value, "pMin"), std::vector<std::string>{"regPropertyValueMin"});
    EXPECT_EQ(Description::texts(value, "pMax"), std::vector<std::string>{"regPropertyValueMax"});
    const auto valueOrder = Description::order(value);
    EXPECT_LT(position(valueOrder, "pIsAvailable"), position(valueOrder, "pValue"));
    EXPECT_LT(position(valueOrder, "pValue"), position(valueOrder, "pMin"));
    EXPECT_LT(position(valueOrder, "pMin"), position(valueOrder, "pMax"));

    const XMLElement* knife = d.node("filterselected3");
    ASSERT_NE(knife, nullptr);
    EXPECT_STREQ(knife->FirstChildElement("pVariable")->Attribute("Name"), "VAR1");
    EXPECT_EQ(Description::texts(knife, "Formula"), std::vector<std::string>{"VAR1=3?1:0"});
    EXPECT_EQ(Description::texts(knife, "Visibility"), std::vector<std::string>{"Invisible"});

    const XMLElement* scale = d.node("regScan3dCoordinateScale");
    EXPECT_EQ(Description::texts(scale, "pInvalidator"),
              (std::vector<std::string>{"Scan3dCoordinateSelector", "PixelFormat"}));
    const auto registerOrder = Description::order(scale);
    EXPECT_TRUE(std::is_sorted(registerOrder.begin(), registerOrder.end(), [&](const auto& a, const auto& b) {
        const std::vector<std::string> schema = {"Address",  "Length",       "AccessMode", "pPort",
                                                 "Cachable", "pInvalidator", "Endianess"};
        return position(schema, a) < position(schema, b);
    }));
    EXPECT_EQ(Description::texts(d.node("Scan3dCoordinateSelector"), "pSelected").size(), 6U);
    // A caching policy given to a feature belongs to its register.
    EXPECT_EQ(Description::texts(d.node("regPathToMask"), "Cachable"), std::vector<std::string>{"WriteAround"});
    EXPECT_EQ(Description::texts(d.node("regDeviceTemperature"), "PollingTime"), std::vector<std::string>{"10000"});
    EXPECT_EQ(Description::texts(d.node("TLParamsLockedCategory"), "Visibility"),
              std::vector<std::string>{"Invisible"});
    EXPECT_EQ(Description::texts(d.node("PixelFormat"), "pIsLocked"), std::vector<std::string>{"regTLParamsLocked"});
}

TEST_F(DescriptionTest, EnumerationEntriesAndSelectors) {
    Description d(xml);
    const XMLElement* selector = d.node("PropertySelector");
    int entries = 0;
    for (const XMLElement* e = selector->FirstChildElement("EnumEntry"); e != nullptr;
         e = e->NextSiblingElement("EnumEntry"))
        ++entries;
    EXPECT_EQ(entries, gvcp_test::kPropertyEntries);
    const XMLElement* fourth = Description::entry(selector, "Property4");
    ASSERT_NE(fourth, nullptr);
    EXPECT_EQ(Description::texts(fourth, "pIsAvailable"), std::vector<std::string>{"filterselected3"});
    EXPECT_EQ(Description::texts(fourth, "Value"), std::vector<std::string>{"4"});

    const XMLElement* formats = d.node("PixelFormat");
    std::vector<std::string> names;
    for (const XMLElement* e = formats->FirstChildElement("EnumEntry"); e != nullptr;
         e = e->NextSiblingElement("EnumEntry"))
        names.push_back(e->Attribute("Name"));
    EXPECT_EQ(names, (std::vector<std::string>{"Mono8", "Coord3D_ABC16", "Mono16", "RGB16", "Coord3D_ABC32f"}));
    EXPECT_EQ(Description::texts(Description::entry(formats, "Coord3D_ABC16"), "Value"),
              std::vector<std::string>{"36700345"});

    std::vector<std::string> filters;
    for (const XMLElement* e = d.node("FilterSelector")->FirstChildElement("EnumEntry"); e != nullptr;
         e = e->NextSiblingElement("EnumEntry"))
        filters.push_back(e->Attribute("Name"));
    EXPECT_EQ(filters,
              (std::vector<std::string>{"Filter0", "Entry1", "Median_filter", "Filter3", "Filter4", "Filter5"}));
    EXPECT_STREQ(d.document.RootElement()->Attribute("ModelName"), "CVS_3D_1280x1024");
    EXPECT_STREQ(d.document.RootElement()->Attribute("VendorName"), "Test_Vendor");

    // A client's "select Temperature, enable it" reaches the program as selector value 0.
    const XMLElement* chunk = Description::entry(d.node("ChunkSelector"), "Temperature");
    ASSERT_NE(chunk, nullptr);
    EXPECT_EQ(Description::texts(chunk, "Value"), std::vector<std::string>{"0"});
    EXPECT_EQ(Description::texts(d.node("ChunkTemperaturePort"), "ChunkID"), std::vector<std::string>{"FFFFF0"});
    EXPECT_EQ(Description::texts(d.node("ChunkSelector"), "pSelected"), std::vector<std::string>{"ChunkEnable"});
}

TEST(FeatureStoreInterface, DeclarationsRefuseWhatCannotWork) {
    gige::Camera camera;
    EXPECT_TRUE(camera.addCategory("Mine", "Root"));
    EXPECT_FALSE(camera.addCategory("Mine", "Root"));
    EXPECT_FALSE(camera.addCategory("Other", "Missing"));
    EXPECT_FALSE(camera.addCategory(nullptr, "Root"));
    EXPECT_TRUE(camera.addFeature(GevInteger, "Count", "Mine", GevReadWrite, nullptr, 1));
    EXPECT_FALSE(camera.addFeature(GevInteger, "Count", "Mine", GevReadWrite, nullptr, 1));
    EXPECT_FALSE(camera.addFeature(6, "BadType", "Mine", GevReadWrite, nullptr, 1));
    EXPECT_TRUE(camera.addFeature(GevCommand, "Run", "Mine", GevReadWrite, nullptr, 1));
    EXPECT_FALSE(camera.addFeature(GevCommand, "ReadOnlyRun", "Mine", GevReadOnly, nullptr, 1));
    EXPECT_FALSE(camera.addFeature(GevCommand, "NamedRun", "Mine", GevReadWrite, "regRunner", 1));
    EXPECT_FALSE(camera.addFeature(GevInteger, "BadAccess", "Mine", 2, nullptr, 1));
    EXPECT_FALSE(camera.addFeature(GevInteger, "regCount", "Mine", GevReadWrite, "x", 1));  // name of Count's register
    EXPECT_FALSE(camera.addNode("Converter", "Conv", "Mine", 0));
    EXPECT_FALSE(camera.addNode("IntSwissKnife", "Knife", "Mine", 1));
    EXPECT_FALSE(camera.addChunkFeature(1, "ChunkOdd", "Mine", GevReadOnly, 3, nullptr));
    EXPECT_FALSE(camera.setIntRange("Count", 5, 1, 1));
    EXPECT_FALSE(camera.addPixelFormat("NotAFormat"));
    EXPECT_FALSE(camera.setNodeElement("Missing", "Visibility", "Guru", false));
    EXPECT_FALSE(camera.removeNodeElement("Count", "Min", 0));  // integers get no literal limits by default
    EXPECT_TRUE(camera.addFeature(GevFloat, "Ratio", "Mine", GevReadWrite, nullptr, 1));
    EXPECT_TRUE(camera.removeNodeElement("Ratio", "Min", 0));
    EXPECT_FALSE(camera.removeNodeElement("Ratio", "Min", 0));
}

TEST(FeatureStoreInterface, ValuesRoundTripAndStayInTheirType) {
    gige::Camera camera;
    camera.addCategory("Mine", "Root");
    camera.addFeature(GevString, "Label", "Mine", GevReadWrite, nullptr, 1);
    camera.addFeature(GevBoolean, "Flag", "Mine", GevReadWrite, nullptr, 1);
    camera.addFeature(GevEnumeration, "Mode", "Mine", GevReadWrite, nullptr, 1);
    camera.addEnumEntry("Mode", "A", 3);
    camera.addEnumEntry("Mode", "B", 7);
    EXPECT_FALSE(camera.addEnumEntry("Mode", "A", 4));
    std::int64_t value = 0;
    ASSERT_TRUE(camera.getIntValue("Mode", &value));
    EXPECT_EQ(value, 3);  // the first entry is current until another is chosen
    EXPECT_TRUE(camera.setEnumValue("Mode", "B"));
    EXPECT_FALSE(camera.setIntValue("Mode", 5));
    EXPECT_FALSE(camera.setIntValue("Flag", 2));
    EXPECT_FALSE(camera.setFloatValue("Label", 1.0F));
    EXPECT_TRUE(camera.setStringValue("Label", std::string(300, 'x').c_str()));
    char text[8];
    ASSERT_TRUE(camera.getStringValue("Label", text, sizeof text));
    EXPECT_STREQ(text, "xxxxxxx");
    char whole[256];
    ASSERT_TRUE(camera.getStringValue("Label", whole, sizeof whole));
    EXPECT_EQ(std::string(whole).size(), genicam::kStringRegisterSize - 1);

    EXPECT_STREQ(camera.getPixelFormatName(0x01080001), "Mono8");
    EXPECT_STREQ(camera.getPixelFormatName(0x12345678), "");
    EXPECT_TRUE(camera.setMacAddress("00:1a:2B:3c:4d:5e"));
    EXPECT_TRUE(camera.setMacAddress("00-1a-2b-3c-4d-5e"));
    EXPECT_FALSE(camera.setMacAddress("00:1a:2b:3c:4d"));
    EXPECT_FALSE(camera.setMacAddress("00:1a-2b:3c:4d:5e"));
    EXPECT_EQ(camera.getWidth(1), -1);

    ASSERT_TRUE(camera.setImageSize(100, 10, 0));
    EXPECT_EQ(camera.getWidth(0), 100);
    ASSERT_TRUE(camera.getIntValue("PayloadSize", &value));
    EXPECT_EQ(value, 1000);  // Mono8
    ASSERT_TRUE(camera.setEnumValue("PixelFormat", "Coord3D_ABC16"));
    ASSERT_TRUE(camera.getIntValue("PayloadSize", &value));
    EXPECT_EQ(value, 6000);
    ASSERT_TRUE(camera.setChunkLayout(4, 1, 0));
    ASSERT_TRUE(camera.getIntValue("PayloadSize", &value));
    EXPECT_EQ(value, 6000 + 8 + 4 + 8);  // image tail, then the chunk and its tail
    ASSERT_TRUE(camera.getIntValue("ChunkModeActive", &value));
    EXPECT_EQ(value, 1);
    ASSERT_TRUE(camera.setChunkLayout(0, 0, 0));
    ASSERT_TRUE(camera.getIntValue("ChunkModeActive", &value));
    EXPECT_EQ(value, 0);
    ASSERT_TRUE(camera.getIntValue("GevHeartbeatTimeout", &value));
    EXPECT_EQ(value, 3000);
    EXPECT_TRUE(camera.setIntValue("GevSCPSPacketSize", 1400));
    ASSERT_TRUE(camera.getIntValue("GevSCPSPacketSize", &value));
    EXPECT_EQ(value, 1400);
}

// The sensor's description becomes the ToolTip through a 48-byte register: cut between characters, and bytes
// that are no UTF-8 (or controls XML forbids) replaced, so every XML parser of a client accepts the document.
TEST(FeatureStoreInterface, SensorTextsReachTheXmlAsValidUtf8) {
    gige::Camera camera;
    gvcp_test::declareSampleTree(camera);
    const std::string fortySix(46, 'a');
    camera.setDeviceInfo("Vendor", "Model", "1.0", (fortySix + "\xC3\xA9tage").c_str(), "SN1");
    Description cut(camera.genicamXml());
    EXPECT_STREQ(cut.document.RootElement()->Attribute("ToolTip"), fortySix.c_str());

    camera.setDeviceInfo("Vendor", "Model", "1.0", "caf\xC3\xA9 \xFF\x01 \xE2\x82 end", "SN1");
    Description replaced(camera.genicamXml());
    EXPECT_STREQ(replaced.document.RootElement()->Attribute("ToolTip"),
                 "caf\xC3\xA9 \xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD end");
}
