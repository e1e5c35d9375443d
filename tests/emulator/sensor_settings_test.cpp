// The emulated sensor's settings: the descriptor is complete and realistic, commands apply or are refused whole.
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <cstdlib>
#include <sstream>

#include "descriptor_keys.h"
#include "sensor_settings.h"
#include "tavrion.h"

using emulator::SensorSettings;

namespace {

// The text at a ':'-separated element path, walking first children by name as the bridge does; null if absent.
const char* valueAt(const tinyxml2::XMLDocument& document, const std::string& key) {
    const tinyxml2::XMLNode* node = &document;
    std::stringstream path(key);
    std::string token;
    while (std::getline(path, token, ':')) {
        node = node->FirstChildElement(token.c_str());
        if (node == nullptr) return nullptr;
    }
    return node->ToElement()->GetText();
}

std::string valueOf(const SensorSettings& settings, const std::string& key) {
    tinyxml2::XMLDocument document;
    const std::string xml = settings.descriptorXml();
    EXPECT_EQ(document.Parse(xml.c_str()), tinyxml2::XML_SUCCESS);
    const char* text = valueAt(document, key);
    return text ? text : "<missing>";
}

}  // namespace

TEST(SensorSettings, DescriptorHoldsAll82KeysWithValues) {
    const SensorSettings settings("CVS3D-1", 64, 48);
    tinyxml2::XMLDocument document;
    const std::string xml = settings.descriptorXml();
    ASSERT_EQ(document.Parse(xml.c_str()), tinyxml2::XML_SUCCESS);
    const auto keys = descriptorKeys();
    ASSERT_EQ(keys.size(), 82u);
    for (const std::string& key : keys) {
        const char* text = valueAt(document, key);
        ASSERT_NE(text, nullptr) << key;
        EXPECT_GT(std::string(text).size(), 0u) << key;
    }
    EXPECT_LT(xml.size(), 132000u);  // the bridge's descriptor buffer
}

TEST(SensorSettings, DescriptorValuesDescribeTheSensor) {
    const SensorSettings settings("CVS3D-1", 64, 48);
    EXPECT_EQ(valueOf(settings, "device:general:serialnumber"), "CVS3D-1");
    EXPECT_EQ(valueOf(settings, "device:general:pixel_x_max"), "64");
    EXPECT_EQ(valueOf(settings, "device:general:pixel_y_max"), "48");
    EXPECT_EQ(valueOf(settings, "device:settings:roi:roi1:width:current"), "64");
    EXPECT_EQ(valueOf(settings, "device:settings:roi:roi1:height:current"), "48");
    EXPECT_EQ(valueOf(settings, "device:settings:roi:roi1:offsetx:current"), "0");
    EXPECT_EQ(valueOf(settings, "device:settings:exposuretime:current"), "10000");
    EXPECT_EQ(valueOf(settings, "device:settings:gain:min"), "1");
    EXPECT_EQ(valueOf(settings, "device:settings:ledpower:max"), "100");
    EXPECT_EQ(valueOf(settings, "device:general:measuringrange_y"), "240");  // square pixels: 320 * 48 / 64
    // Names from the seventh character on are what clients see.
    for (const auto& key : descriptorKeys()) {
        if (key.size() < 8 || key.substr(key.size() - 8) != ":command") continue;
        const std::string command = valueOf(settings, key);
        ASSERT_GT(command.size(), 7u) << key;
        EXPECT_EQ(command.substr(0, 3), "Set") << key;
        EXPECT_TRUE(std::isupper(static_cast<unsigned char>(command[6]))) << key << " " << command;
    }
}

TEST(SensorSettings, BridgeCommandsApplyAndShowInTheDescriptor) {
    SensorSettings settings("CVS3D-1", 64, 48);
    EXPECT_EQ(settings.apply("SetExposureTime", "2500.500000"), TAVRION_OK);
    EXPECT_EQ(valueOf(settings, "device:settings:exposuretime:current"), "2500.5");
    EXPECT_EQ(settings.apply("SetGain", "2.500000"), TAVRION_OK);
    EXPECT_DOUBLE_EQ(settings.gain(), 2.5);
    EXPECT_EQ(valueOf(settings, "device:settings:gain:current"), "2");
    EXPECT_EQ(settings.apply("SetLEDPower", "35"), TAVRION_OK);
    EXPECT_EQ(valueOf(settings, "device:settings:ledpower:current"), "35");
    EXPECT_EQ(settings.apply("SetStackAcquisitionMode", "2"), TAVRION_OK);
    EXPECT_EQ(valueOf(settings, "device:settings:stackacquisitionmode:current"), "2");
    EXPECT_EQ(settings.apply("SetCameraMode", "1"), TAVRION_OK);
    EXPECT_EQ(settings.cameraMode(), 1);

    const std::string median = valueOf(settings, "device:settings:pointcloudfilter:filters:filter1:command");
    EXPECT_EQ(valueOf(settings, "device:settings:pointcloudfilter:filters:filter1:current"), "0");
    EXPECT_EQ(settings.apply(median, "1"), TAVRION_OK);
    EXPECT_EQ(valueOf(settings, "device:settings:pointcloudfilter:filters:filter1:current"), "1");
    const std::string prefix = "device:settings:pointcloudfilter:filters:filter3:filterproperty2:";
    EXPECT_EQ(settings.apply(valueOf(settings, prefix + "command"), "7.000000"), TAVRION_OK);
    EXPECT_EQ(valueOf(settings, prefix + "current"), "7");
}

TEST(SensorSettings, RefusedCommandsChangeNothing) {
    SensorSettings settings("CVS3D-1", 64, 48);
    const std::string before = settings.descriptorXml();
    const std::string filter = valueOf(settings, "device:settings:stackfilter:filters:filter1:command");
    const std::string property =
        valueOf(settings, "device:settings:stackfilter:filters:filter1:filterproperty1:command");
    struct Case {
        const char* name;
        std::optional<std::string> value;
        std::int32_t code;
    };
    const Case cases[] = {
        {"SetExposureTime", "99.000000", TAVRION_ERR_VALUE_REFUSED},   // below the minimum
        {"SetExposureTime", "100000.5", TAVRION_ERR_VALUE_REFUSED},    // above the maximum
        {"SetExposureTime", "1e999", TAVRION_ERR_VALUE_REFUSED},       // not finite
        {"SetExposureTime", " 500", TAVRION_ERR_VALUE_REFUSED},        // blanks
        {"SetExposureTime", "500us", TAVRION_ERR_VALUE_REFUSED},       // trailing text
        {"SetExposureTime", std::nullopt, TAVRION_ERR_VALUE_REFUSED},  // no value
        {"SetGain", "16.5", TAVRION_ERR_VALUE_REFUSED},
        {"SetGain", "", TAVRION_ERR_VALUE_REFUSED},
        {"SetLEDPower", "80.5", TAVRION_ERR_VALUE_REFUSED},  // an integer setting
        {"SetLEDPower", "101", TAVRION_ERR_VALUE_REFUSED},
        {"SetLEDPower", "-1", TAVRION_ERR_VALUE_REFUSED},
        {"SetCameraMode", "2", TAVRION_ERR_VALUE_REFUSED},
        {"SetStackAcquisitionMode", "4", TAVRION_ERR_VALUE_REFUSED},
        {"SetFocus", "1", TAVRION_ERR_UNKNOWN_COMMAND},
        {"setgain", "2", TAVRION_ERR_UNKNOWN_COMMAND},  // names are case-sensitive
    };
    for (const Case& c : cases)
        EXPECT_EQ(settings.apply(c.name, c.value), c.code) << c.name << "=" << c.value.value_or("<none>");
    EXPECT_EQ(settings.apply(filter, "2"), TAVRION_ERR_VALUE_REFUSED);
    EXPECT_EQ(settings.apply(property, "256.000000"), TAVRION_ERR_VALUE_REFUSED);
    EXPECT_EQ(settings.descriptorXml(), before);
}
