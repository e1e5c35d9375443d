// Register reads: the value each feature gives the device and its trace line, the refresh of the settings
// from the sensor (rate limit on an injected clock, write requests, failures), and selectors outside
// their tables.
#include <string>
#include <vector>

#include "device/bridge_fixture.h"

namespace {

using bridge_test::BridgeTest;
using bridge_test::fakeNow;

class RegisterReadTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(connectOffline());
        bridge->enableConsoleLog();
    }

    // One client read; returns what it traced.
    std::string read(const std::string& feature) {
        testing::internal::CaptureStderr();
        EXPECT_TRUE(camera->fireRead(feature));
        return testing::internal::GetCapturedStderr();
    }

    int descriptorReads() { return sensor().count("ReadData GetXmlDescriptor"); }
};

TEST_F(RegisterReadTest, EveryDispatchRowSetsItsValueAndTracesIt) {
    // Distinct values in every source, so that a row answering from the wrong member shows.
    bridge->roiWidth = 640;
    bridge->roiHeight = 480;
    bridge->roiOffsetX = 3;
    bridge->roiOffsetY = 65535;
    bridge->maskPath = "masks/a.png";
    bridge->acquisitionMode = 2;
    camera->fireWrite("AcquisitionStart");  // no acquisition thread takes it: the start stays pending
    bridge->exposureTimeCurrent = 1234.5678f;
    bridge->stackAcquisitionModeCurrent = 3;
    bridge->gainCurrent = 12;
    bridge->ledPowerCurrent = -5;
    bridge->coordinateSelector = 2;
    bridge->coordinates[2] = {0.25f, -8.0f, true, 0.5f, 400.0f, 900.0f};
    bridge->chunkSelector = 3;
    bridge->chunks[3].enabled = true;
    bridge->sensorTemperature = 250;
    bridge->filterSelector = 3;
    bridge->propertySelector = 4;
    bridge->propertyIndex = 1;
    bridge->filters[3].enabled = true;
    bridge->filters[3].properties[1] = {"n", "c", 4.25f, -1.5f, 1e6f};

    struct Row {
        std::string feature;
        std::string call;  // empty: the device's value is not touched
        std::string traced;
    };
    const Row rows[] = {
        {"Width", "", "640"},
        {"Height", "", "480"},
        {"OffsetX", "", "3"},
        {"OffsetY", "", "65535"},
        {"PathToMask", "setStringValue(PathToMask, masks/a.png)", "masks/a.png"},
        {"AcquisitionMode", "setIntValue(AcquisitionMode, 2)", "2"},
        {"AcquisitionStart", "setIntValue(AcquisitionStart, 1)", "1"},
        {"AcquisitionStop", "setIntValue(AcquisitionStop, 0)", "0"},
        {"ExposureTime", "setFloatValue(ExposureTime, 1234.57)", "1234.57"},
        {"StackAcquisitionMode", "setIntValue(StackAcquisitionMode, 3)", "3"},
        {"Gain", "setFloatValue(Gain, 12)", "12"},
        {"LightBrightness", "setIntValue(LightBrightness, -5)", "-5"},
        {"Scan3dCoordinateSelector", "setIntValue(Scan3dCoordinateSelector, 2)", "2"},
        {"Scan3dCoordinateScale", "setFloatValue(Scan3dCoordinateScale, 0.25)", "0.25"},
        {"Scan3dCoordinateOffset", "setFloatValue(Scan3dCoordinateOffset, -8)", "-8"},
        {"Scan3dInvalidDataFlag", "setIntValue(Scan3dInvalidDataFlag, 1)", "1"},
        {"Scan3dInvalidDataValue", "setFloatValue(Scan3dInvalidDataValue, 0.5)", "0.5"},
        {"Scan3dAxisMin", "setFloatValue(Scan3dAxisMin, 400)", "400"},
        {"Scan3dAxisMax", "setFloatValue(Scan3dAxisMax, 900)", "900"},
        {"ChunkSelector", "setIntValue(ChunkSelector, 3)", "3"},
        {"ChunkEnable", "setIntValue(ChunkEnable, 1)", "1"},
        {"ChunkScan3dCoordinateSelector", "setIntValue(ChunkScan3dCoordinateSelector, 2)", "2"},
        {"ChunkScan3dCoordinateScale", "setFloatValue(ChunkScan3dCoordinateScale, 0.25)", "0.25"},
        {"ChunkScan3dCoordinateOffset", "setFloatValue(ChunkScan3dCoordinateOffset, -8)", "-8"},
        {"ChunkScan3dInvalidDataFlag", "setIntValue(ChunkScan3dInvalidDataFlag, 1)", "1"},
        {"ChunkScan3dInvalidDataValue", "setFloatValue(ChunkScan3dInvalidDataValue, 0.5)", "0.5"},
        {"DeviceTemperature", "setFloatValue(DeviceTemperature, 250)", "250"},
        {"FilterSelector", "setIntValue(FilterSelector, 3)", "3"},
        {"FilterMode", "setIntValue(FilterMode, 1)", "1"},
        {"PropertySelector", "setIntValue(PropertySelector, 4)", "4"},
        {"PropertyValue", "setFloatValue(PropertyValue, 4.25)", "4.25"},
        {"PropertyValueMin", "setFloatValue(PropertyValueMin, -1.5)", "-1.5"},
        {"PropertyValueMax", "setFloatValue(PropertyValueMax, 1e+06)", "1e+06"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.feature);
        camera->clearCalls();
        EXPECT_EQ(read(row.feature), "Read " + row.feature + " = " + row.traced + "\n");
        const std::vector<std::string> expected =
            row.call.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.call};
        EXPECT_EQ(camera->calls(), expected);
    }
    EXPECT_EQ(descriptorReads(), 1);  // only the connection's own read
}

TEST_F(RegisterReadTest, CommandRegistersReadZeroWhenNothingIsPending) {
    read("AcquisitionStart");
    read("AcquisitionStop");
    EXPECT_EQ(camera->intValue("AcquisitionStart"), 0);
    EXPECT_EQ(camera->intValue("AcquisitionStop"), 0);
}

TEST_F(RegisterReadTest, NamesWithoutARowAreTracedWithoutAValue) {
    for (const std::string name : {"Foo", "gain", "ChunkScan3dAxisMin", "TriggerSoftware", ""}) {
        SCOPED_TRACE(name);
        camera->clearCalls();
        EXPECT_EQ(read(name), "Read " + name + "\n");
        EXPECT_TRUE(camera->calls().empty());
    }
}

TEST_F(RegisterReadTest, SelectorsOutsideTheirTablesAnswerZero) {
    bridge->coordinateSelector = 3;
    bridge->chunkSelector = 10;
    bridge->filterSelector = 6;
    for (const std::string name :
         {"Scan3dCoordinateScale", "Scan3dInvalidDataFlag", "Scan3dAxisMax", "ChunkScan3dCoordinateOffset",
          "ChunkEnable", "FilterMode", "PropertyValue", "PropertyValueMax"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(read(name), "Read " + name + " = 0\n");
    }
    bridge->filterSelector = 5;
    bridge->propertyIndex = 3;
    EXPECT_EQ(read("PropertyValueMin"), "Read PropertyValueMin = 0\n");
}

TEST_F(RegisterReadTest, SettingsRefreshAfterMoreThanOneSecondIncludingTheWrapOfTheClock) {
    struct Case {
        std::uint32_t stamp;
        std::uint32_t elapsed;
        bool refresh;
    };
    const Case cases[] = {
        {100000, 0, false},         {100000, 1000, false},     {100000, 1001, true},
        {0xFFFFFF00u, 1000, false}, {0xFFFFFF00u, 1001, true}, {0xFFFFFFFFu, 5000, true},
    };
    sensor().setReply("GetXmlDescriptor",
                      replaceFirst(sampleDescriptor(), "<max>16</max><current>2<", "<max>16</max><current>12<"));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.stamp) + " + " + std::to_string(c.elapsed));
        bridge->lastSettingsUpdateTick = c.stamp;
        bridge->gainCurrent = 2;
        fakeNow = c.stamp + c.elapsed;
        const int before = descriptorReads();
        const std::string traced = read("Gain");
        EXPECT_EQ(descriptorReads() - before, c.refresh ? 1 : 0);
        if (c.refresh) {
            EXPECT_EQ(traced, "\nUpdating Data\ndata has been updated [0]\nRead Gain = 12\n");
            EXPECT_EQ(bridge->lastSettingsUpdateTick, c.stamp + c.elapsed);
        } else {
            EXPECT_EQ(traced, "Read Gain = 2\n");
        }
    }
}

TEST_F(RegisterReadTest, TheRefreshTimeIsTracedInMilliseconds) {
    fakeNow = fakeNow + 5000;
    bridge->tickSource = [] {
        // Every look at the clock advances it: the parse takes its stamp two looks after the start.
        return fakeNow.fetch_add(7) + 7;
    };
    const std::string traced = read("ChunkSelector");
    EXPECT_EQ(traced.find("\nUpdating Data\ndata has been updated ["), 0u);
    EXPECT_NE(traced.find("]\nRead ChunkSelector = 0\n"), std::string::npos);
    bridge->tickSource = &bridge_test::fakeTick;
}

TEST_F(RegisterReadTest, AWriteThatReachedTheSensorForcesTheNextReadToRefresh) {
    sensor().setReply("GetXmlDescriptor",
                      replaceFirst(sampleDescriptor(), "<max>16</max><current>2<", "<max>16</max><current>12<"));
    writeFloat("Gain", 1.5f);
    EXPECT_TRUE(bridge->settingsRefreshRequested);
    EXPECT_EQ(read("Foo"), "\nUpdating Data\ndata has been updated [0]\nRead Foo\n");
    EXPECT_FALSE(bridge->settingsRefreshRequested);
    EXPECT_EQ(bridge->gainCurrent, 12);
    EXPECT_EQ(read("Foo"), "Read Foo\n");  // the request was used up
    EXPECT_EQ(descriptorReads(), 2);
}

TEST_F(RegisterReadTest, AFailedRefreshKeepsTheOldValuesWarnsAndIsTriedAgainOnTheNextRead) {
    sensor().setReply("GetXmlDescriptor",
                      replaceFirst(sampleDescriptor(), "<ledpower><current>80<", "<ledpower><current>90<"));
    sensor().scriptResult("GetXmlDescriptor", {-102, -102, 0});
    const std::uint32_t stamp = bridge->lastSettingsUpdateTick;
    fakeNow = stamp + 2000;
    const std::string warning = "\nUpdating Data\nWARNING: Failed ReadData [GetXmlDescriptor]. Error code -102\n";
    EXPECT_EQ(read("LightBrightness"), warning + "Read LightBrightness = 80\n");
    EXPECT_EQ(bridge->lastSettingsUpdateTick, stamp);
    EXPECT_EQ(read("LightBrightness"), warning + "Read LightBrightness = 80\n");
    EXPECT_EQ(read("LightBrightness"), "\nUpdating Data\ndata has been updated [0]\nRead LightBrightness = 90\n");
    EXPECT_EQ(read("LightBrightness"), "Read LightBrightness = 90\n");
}

TEST_F(RegisterReadTest, ADescriptorThatDoesNotParseIsReportedAndTriedAgain) {
    sensor().setReply("GetXmlDescriptor", "<device><general>");
    fakeNow = fakeNow + 1500;
    EXPECT_EQ(read("Gain"), "\nUpdating Data\nFailed to read the XML data\nWARNING: XML parser error\nRead Gain = 2\n");
    EXPECT_EQ(read("Gain"), "\nUpdating Data\nFailed to read the XML data\nWARNING: XML parser error\nRead Gain = 2\n");
}

TEST_F(RegisterReadTest, WithoutTraceSwitchesNothingIsWrittenNotEvenTheRefresh) {
    bridge->logToConsole = false;
    fakeNow = fakeNow + 1500;
    EXPECT_EQ(read("Gain"), "");
    EXPECT_EQ(descriptorReads(), 2);
    EXPECT_EQ(camera->floatValue("Gain"), 2.0f);
}

}  // namespace
