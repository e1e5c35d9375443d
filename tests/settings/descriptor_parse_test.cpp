// The settings record from the descriptor: key lookup rules, conversions, the stop at the first key that
// yields nothing, the temperature read and the update stamp.
#include <gtest/gtest.h>

#include <tinyxml2.h>

#include <cstring>

#include "descriptor_reader.h"
#include "main_class.h"
#include "sample_descriptor.h"
#include "scripted_sensor.h"

namespace {

std::uint32_t fakeNow = 5000;
std::uint32_t fakeClock() { return fakeNow; }

class DescriptorParse : public testing::Test {
protected:
    void SetUp() override {
        ScriptedSensor::instance().reset();
        bridge.tickSource = fakeClock;
        bridge.sensorHandle = ScriptedSensor::instance().handle();
    }

    bool parse(const std::string& text) {
        std::strncpy(bridge.xmlDescriptor, text.c_str(), kDescriptorBufferSize - 1);
        return bridge.parseSensorDescriptor(bridge.xmlDescriptor);
    }

    CMainClass bridge;
};

TEST_F(DescriptorParse, SampleFillsEveryMember) {
    fakeNow = 123456;
    ASSERT_TRUE(parse(sampleDescriptor()));
    EXPECT_EQ(bridge.exposureTimeMin, 100.0f);
    EXPECT_EQ(bridge.exposureTimeMax, 100000.0f);
    EXPECT_EQ(bridge.exposureTimeCurrent, 10000.0f);
    EXPECT_EQ(bridge.gainMin, 1);
    EXPECT_EQ(bridge.gainMax, 16);
    EXPECT_EQ(bridge.gainCurrent, 2);
    EXPECT_EQ(bridge.orderNumber, "C3D-2040");
    EXPECT_EQ(bridge.hardwareVersion, "HW3");
    EXPECT_EQ(bridge.firmwareVersion, "FW1.2.3");
    EXPECT_EQ(bridge.macAddress, "00:11:22:33:44:55");
    EXPECT_EQ(bridge.workingRangeZStart, 400.0);
    EXPECT_EQ(bridge.measuringRangeX, 300.0);
    EXPECT_EQ(bridge.pixelXMax, 64);
    EXPECT_EQ(bridge.pixelYMax, 48);
    EXPECT_EQ(bridge.ledPowerCurrent, 80);
    EXPECT_EQ(bridge.roiWidth, 64);
    EXPECT_EQ(bridge.roiHeight, 48);
    EXPECT_EQ(bridge.stackAcquisitionModeMax, 3);
    EXPECT_EQ(bridge.filters[0].command, "SetSFilter1");
    EXPECT_EQ(bridge.filters[0].name, "lter1");  // from the seventh character on
    EXPECT_TRUE(bridge.filters[1].enabled);
    EXPECT_FALSE(bridge.filters[2].enabled);
    EXPECT_EQ(bridge.filters[5].properties[2].command, "SetPFilter3Prop3");
    EXPECT_EQ(bridge.filters[5].properties[2].name, "lter3Prop3");
    EXPECT_EQ(bridge.filters[3].properties[1].max, 10.0f);
    EXPECT_TRUE(bridge.filters[4].properties[1].command.empty());  // point-cloud filter 2 has one property
    EXPECT_EQ(bridge.sensorTemperature, 35);
    EXPECT_EQ(bridge.lastSettingsUpdateTick, 123456u);
    EXPECT_EQ(ScriptedSensor::instance().calls(), std::vector<std::string>{"ReadData GetTemperature"});
}

TEST_F(DescriptorParse, ConversionsTolerateSpacesAndTrailingTextAndWrapSixteenBits) {
    std::string text = sampleDescriptor();
    text = replaceFirst(text, "<max>100000</max>", "<max> 12.5mm </max>");
    text = replaceFirst(text, "<current>2</current></gain>", "<current>7abc</current></gain>");
    text = replaceFirst(text, "<pixel_x_max>64</pixel_x_max>", "<pixel_x_max>70000</pixel_x_max>");
    text = replaceFirst(text, "<pixel_y_max>48</pixel_y_max>", "<pixel_y_max>-1</pixel_y_max>");
    text = replaceFirst(text, "<ordernumber>C3D-2040</ordernumber>", "<ordernumber> C3D </ordernumber>");
    text = replaceFirst(text, "<command>SetSFilter1</command>", "<command>Set123</command>");
    ASSERT_TRUE(parse(text));
    EXPECT_EQ(bridge.exposureTimeMax, 12.5f);
    EXPECT_EQ(bridge.gainCurrent, 7);
    EXPECT_EQ(bridge.pixelXMax, 4464);
    EXPECT_EQ(bridge.pixelYMax, 65535);
    EXPECT_EQ(bridge.orderNumber, " C3D ");
    EXPECT_EQ(bridge.filters[0].name, "");  // a command of exactly six characters
}

TEST_F(DescriptorParse, FilterCurrentValuesOtherThanZeroEnable) {
    for (const char* value : {"1", "2", "-1"}) {
        ASSERT_TRUE(parse(replaceFirst(sampleDescriptor(), "SetSFilter1</command><current>0</current>",
                                       std::string("SetSFilter1</command><current>") + value + "</current>")));
        EXPECT_TRUE(bridge.filters[0].enabled) << value;
    }
    ASSERT_TRUE(parse(sampleDescriptor()));
    EXPECT_FALSE(bridge.filters[0].enabled);
}

TEST_F(DescriptorParse, FirstSiblingOfADuplicatedNameIsUsed) {
    ASSERT_TRUE(parse(replaceFirst(sampleDescriptor(), "<min>100</min>", "<min>150</min><min>100</min>")));
    EXPECT_EQ(bridge.exposureTimeMin, 150.0f);
}

TEST_F(DescriptorParse, KeyWithoutValueStopsTheParseAndKeepsLaterMembers) {
    ASSERT_TRUE(parse(sampleDescriptor()));
    fakeNow = 9999;
    const std::uint32_t stamp = bridge.lastSettingsUpdateTick;
    std::string text = replaceFirst(sampleDescriptor(), "<serialnumber>SN4711</serialnumber>", "<serialnumber/>");
    text = replaceFirst(text, "<current>10000</current>", "<current>20000</current>");
    text = replaceFirst(text, "<mac>00:11:22:33:44:55</mac>", "<mac>aa</mac>");
    testing::internal::CaptureStderr();
    bridge.enableConsoleLog();
    EXPECT_FALSE(parse(text));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // no trace line for a missing value
    EXPECT_EQ(bridge.exposureTimeCurrent, 20000.0f);        // read before the failing key
    EXPECT_EQ(bridge.serialNumber, "");                     // the failing text member is emptied
    EXPECT_EQ(bridge.macAddress, "00:11:22:33:44:55");      // after it: unchanged
    EXPECT_EQ(bridge.lastSettingsUpdateTick, stamp);
}

TEST_F(DescriptorParse, MissingElementsAttributesAndWrongRootFail) {
    const std::string cases[] = {
        replaceFirst(sampleDescriptor(), "<device>", "<sensor>").replace(0, 0, ""),
        replaceFirst(sampleDescriptor(), "<min>100</min>", ""),
        replaceFirst(sampleDescriptor(), "<min>100</min>", "<min value=\"100\"/>"),
        replaceFirst(sampleDescriptor(), "<current>80</current>", "<current>abc</current>"),
        replaceFirst(sampleDescriptor(), "<current>80</current>", "<current>99999999999</current>"),
    };
    for (const std::string& text : cases) {
        ASSERT_TRUE(parse(sampleDescriptor()));
        EXPECT_FALSE(parse(text));
    }
}

TEST_F(DescriptorParse, MalformedXmlChangesNothingAndIsTraced) {
    ASSERT_TRUE(parse(sampleDescriptor()));
    const std::uint32_t stamp = bridge.lastSettingsUpdateTick;
    fakeNow = 77;
    bridge.enableConsoleLog();
    for (const std::string& text : {std::string(""), std::string("<device><general>"),
                                    replaceFirst(sampleDescriptor(), "<min>100</min>", "<min>50</min></oops>")}) {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(parse(text));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to read the XML data\n");
    }
    EXPECT_EQ(bridge.exposureTimeMin, 100.0f);
    EXPECT_EQ(bridge.lastSettingsUpdateTick, stamp);
}

TEST_F(DescriptorParse, DescriptorFillingTheBufferWithoutItsEndIsRefused) {
    std::memset(bridge.xmlDescriptor, 'x', kDescriptorBufferSize);
    EXPECT_FALSE(bridge.parseSensorDescriptor(bridge.xmlDescriptor));
}

TEST_F(DescriptorParse, FailedTemperatureReadKeepsTheValueAndStillSucceeds) {
    ASSERT_TRUE(parse(sampleDescriptor()));
    ScriptedSensor::instance().scriptResult("GetTemperature", {-102});
    fakeNow = 424242;
    bridge.enableConsoleLog();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(parse(sampleDescriptor()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING: Failed ReadData [GetTemperature]. Error code -102\n");
    EXPECT_EQ(bridge.sensorTemperature, 35);
    EXPECT_EQ(bridge.lastSettingsUpdateTick, 424242u);
}

TEST(DescriptorValue, MissingPathLeavesValueAndEmptyElementClearsIt) {
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.Parse("<a><b>text</b><c/><d><b>x</b></d></a>"), tinyxml2::XML_SUCCESS);
    std::string value = "old";
    EXPECT_FALSE(readDescriptorValue(document, "a:x", value));
    EXPECT_EQ(value, "old");
    EXPECT_FALSE(readDescriptorValue(document, "a:c", value));
    EXPECT_EQ(value, "");
    EXPECT_TRUE(readDescriptorValue(document, "a:b", value));
    EXPECT_EQ(value, "text");
    EXPECT_FALSE(readDescriptorValue(document, "A:b", value));  // case-sensitive
    EXPECT_TRUE(readDescriptorValue(document, "a:d:b", value));
    EXPECT_EQ(value, "x");
}

}  // namespace
