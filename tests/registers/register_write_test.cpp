// Register writes: the sensor command each feature sends, its exact text and trace line, the refresh
// request, the selector tables, chunk and filter rules, the mask path, the exposure gate during a 3D
// acquisition and the coordinate scaling of each pixel format.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "device/bridge_fixture.h"

namespace {

using bridge_test::BridgeTest;
using Commands = std::vector<std::string>;

class RegisterWriteTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(connectOffline());
        bridge->enableConsoleLog();
        sensor().reset();
    }

    // Runs `write` and returns what it traced.
    template <typename Write>
    std::string traced(Write write) {
        testing::internal::CaptureStderr();
        write();
        return testing::internal::GetCapturedStderr();
    }
};

TEST_F(RegisterWriteTest, SettingWritesSendTheirCommandTraceAndAskForARefresh) {
    struct Row {
        std::string feature;
        bool isFloat;
        double value;
        std::string command;
        std::string trace;
    };
    const Row rows[] = {
        {"Gain", true, 1.5, "SetGain=1.500000", "Write Gain = 1.5\n"},
        {"Gain", true, 12.25, "SetGain=12.250000", "Write Gain = 12.25\n"},
        {"ExposureTime", true, 10000, "SetExposureTime=10000.000000", "Write ExposureTime = 10000\n"},
        {"ExposureTime", true, 1234.5678, "SetExposureTime=1234.567749", "Write ExposureTime = 1234.57\n"},
        {"LightBrightness", false, 80, "SetLEDPower=80", "Write LightBrightness = 80\n"},
        {"LightBrightness", false, 100, "SetLEDPower=100", "Write LightBrightness = 100\n"},
        {"StackAcquisitionMode", false, 2, "SetStackAcquisitionMode=2", "Write StackAcquisitionMode = 2\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        sensor().reset();
        bridge->settingsRefreshRequested = false;
        const std::string text = traced([&] {
            const bool accepted = row.isFloat ? writeFloat(row.feature, static_cast<float>(row.value))
                                              : writeInt(row.feature, static_cast<std::int64_t>(row.value));
            EXPECT_TRUE(accepted);
        });
        EXPECT_EQ(text, row.trace);
        EXPECT_EQ(sensor().commands(), Commands{row.command});
        EXPECT_TRUE(bridge->settingsRefreshRequested);
    }
}

TEST_F(RegisterWriteTest, ARejectedCommandIsReportedAndAsksForNoRefresh) {
    sensor().scriptResult("SetGain=1.500000", {-107});
    const std::string text = traced([&] { writeFloat("Gain", 1.5f); });
    EXPECT_EQ(text, "Write Gain = 1.5\nWARNING: Failed WriteData [SetGain=1.500000]. Error code -107\n");
    EXPECT_FALSE(bridge->settingsRefreshRequested);

    sensor().scriptResult("SetLEDPower=80", {5});
    EXPECT_EQ(traced([&] { writeInt("LightBrightness", 80); }),
              "Write LightBrightness = 80\nWARNING: Failed WriteData [SetLEDPower=80]. Error code 5\n");
    EXPECT_FALSE(bridge->settingsRefreshRequested);
}

TEST_F(RegisterWriteTest, WritesWithoutCommandChangeOnlyTheBridgeState) {
    EXPECT_EQ(traced([&] { writeInt("AcquisitionMode", 65538); }), "Write AcquisitionMode = 65538\n");
    EXPECT_EQ(bridge->acquisitionMode, 2);  // the low 16 bits
    EXPECT_EQ(traced([&] { writeInt("Scan3dCoordinateSelector", 2); }), "Write Scan3dCoordinateSelector = 2\n");
    EXPECT_EQ(bridge->coordinateSelector, 2);
    EXPECT_EQ(traced([&] { writeInt("ChunkScan3dCoordinateSelector", 1); }),
              "Write ChunkScan3dCoordinateSelector = 1\n");
    EXPECT_EQ(bridge->coordinateSelector, 1);
    EXPECT_EQ(traced([&] { writeInt("ChunkSelector", 3); }), "Write ChunkSelector = 3\n");
    EXPECT_EQ(bridge->chunkSelector, 3);
    EXPECT_EQ(traced([&] { camera->fireWrite("TriggerSoftware"); }), "Write TriggerSoftware = \n");
    EXPECT_EQ(traced([&] { writeInt("Foo", 4); }), "Write Foo\n");
    EXPECT_TRUE(sensor().commands().empty());
    EXPECT_FALSE(bridge->settingsRefreshRequested);
}

TEST_F(RegisterWriteTest, ComponentFeaturesFollowTheSelectorAndRefuseValuesOutsideTheirTables) {
    // All components start enabled; single-component streaming is the default.
    EXPECT_EQ(bridge->multiPartMode, kMultiPartSingleComponent);
    writeInt("ComponentSelector", 2);
    writeInt("ComponentEnable", 0);
    EXPECT_FALSE(bridge->componentEnabled[kConfidenceComponent]);
    EXPECT_TRUE(bridge->componentEnabled[kRangeComponent]);
    ASSERT_TRUE(camera->fireRead("ComponentIDValue"));
    EXPECT_EQ(camera->intValue("ComponentIDValue"), kComponents[kConfidenceComponent].id);
    ASSERT_TRUE(camera->fireRead("ComponentEnable"));
    EXPECT_EQ(camera->intValue("ComponentEnable"), 0);

    // A selector past the table reads 0 and changes nothing; an enable other than 0/1 is ignored.
    writeInt("ComponentSelector", 7);
    writeInt("ComponentEnable", 0);
    ASSERT_TRUE(camera->fireRead("ComponentIDValue"));
    EXPECT_EQ(camera->intValue("ComponentIDValue"), 0);
    writeInt("ComponentSelector", 0);
    writeInt("ComponentEnable", 5);
    EXPECT_TRUE(bridge->componentEnabled[kRangeComponent]);
    EXPECT_TRUE(bridge->componentEnabled[kIntensityComponent]);

    // Only the offered modes are taken.
    writeInt("AcquisitionMultiPartMode", 2);
    EXPECT_EQ(bridge->multiPartMode, kMultiPartSingleComponent);
    writeInt("AcquisitionMultiPartMode", 1);
    EXPECT_EQ(bridge->multiPartMode, kMultiPartSynchronizedComponents);
    EXPECT_TRUE(sensor().commands().empty());
}

TEST_F(RegisterWriteTest, StartAndStopAreRecordedUntilTheAcquisitionThreadActsOnThem) {
    EXPECT_EQ(traced([&] { camera->fireWrite("AcquisitionStart"); }), "Write AcquisitionStart\n");
    EXPECT_TRUE(bridge->isAcquisitionStartPending());
    EXPECT_TRUE(bridge->isAcquisitionActive());
    EXPECT_EQ(bridge->acquisitionState(), AcquisitionState::Starting);
    camera->fireRead("AcquisitionStart");
    EXPECT_EQ(camera->intValue("AcquisitionStart"), 1);  // not carried out yet

    EXPECT_EQ(traced([&] { camera->fireWrite("AcquisitionStop"); }), "Write AcquisitionStop\n");
    EXPECT_FALSE(bridge->isAcquisitionActive());  // the last command wins: nothing is left to start
    camera->fireRead("AcquisitionStart");
    camera->fireRead("AcquisitionStop");
    EXPECT_EQ(camera->intValue("AcquisitionStart"), 0);
    EXPECT_EQ(camera->intValue("AcquisitionStop"), 0);
    EXPECT_TRUE(sensor().commands().empty());
}

TEST_F(RegisterWriteTest, ExposureTimeIsRefusedWhileA3dAcquisitionRuns) {
    struct Case {
        std::string format;
        bool stopped;
        bool sent;
    };
    const Case cases[] = {
        {"Coord3D_ABC32f", false, false},
        {"Mono16", false, false},
        {"Mono8", false, true},
        {"Coord3D_ABC32f", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format + (c.stopped ? " stopped" : " running"));
        sensor().reset();
        bridge->settingsRefreshRequested = false;
        bridge->pixelFormat = c.format;
        camera->fireWrite(c.stopped ? "AcquisitionStop" : "AcquisitionStart");
        bool accepted = false;
        EXPECT_EQ(traced([&] { accepted = writeFloat("ExposureTime", 5000.0f); }), "Write ExposureTime = 5000\n");
        EXPECT_EQ(accepted, c.sent);
        EXPECT_EQ(sensor().commands(), c.sent ? Commands{"SetExposureTime=5000.000000"} : Commands{});
        EXPECT_EQ(bridge->settingsRefreshRequested, c.sent);
    }
}

TEST_F(RegisterWriteTest, PixelFormatSetsTheCameraModeAndTheCoordinateScaling) {
    struct Case {
        std::int64_t code;
        std::string name;
        std::string command;
        bool sixteenBit;
    };
    const Case cases[] = {
        {RecordingCamera::kMono8, "Mono8", "SetCameraMode=0", false},
        {RecordingCamera::kMono16, "Mono16", "SetCameraMode=1", false},
        {RecordingCamera::kCoord3dAbc32f, "Coord3D_ABC32f", "SetCameraMode=1", false},
        {RecordingCamera::kRgb16, "RGB16", "SetCameraMode=1", true},
        {RecordingCamera::kCoord3dAbc16, "Coord3D_ABC16", "SetCameraMode=1", true},
    };
    // The sample sensor measures X 300, Y 200, Z 500 from Z 400 on.
    const float scales16[3] = {static_cast<float>(300.0 / 65535.0), static_cast<float>(200.0 / 65535.0),
                               static_cast<float>(500.0 / 65535.0)};
    const float offsets16[3] = {-150.0f, -100.0f, 400.0f};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sensor().reset();
        for (CoordinateInfo& axis : bridge->coordinates) axis.scale = axis.offset = 7.0f;
        EXPECT_EQ(traced([&] { writeInt("PixelFormat", c.code); }), "Write PixelFormat = " + c.name + "\n");
        EXPECT_EQ(bridge->pixelFormat, c.name);
        EXPECT_EQ(sensor().commands(), Commands{c.command});
        for (int axis = 0; axis < 3; ++axis) {
            EXPECT_EQ(bridge->coordinates[axis].scale, c.sixteenBit ? scales16[axis] : 1.0f) << axis;
            EXPECT_EQ(bridge->coordinates[axis].offset, c.sixteenBit ? offsets16[axis] : 0.0f) << axis;
        }
        EXPECT_FALSE(bridge->settingsRefreshRequested);
    }
}

TEST_F(RegisterWriteTest, ARejectedCameraModeIsAnsweredWithAnErrorAndKeepsTheFormat) {
    ASSERT_TRUE(writeInt("PixelFormat", RecordingCamera::kMono8));
    sensor().scriptResult("SetCameraMode=1", {-108});
    bool accepted = true;
    EXPECT_EQ(traced([&] { accepted = writeInt("PixelFormat", RecordingCamera::kRgb16); }),
              "Write PixelFormat = RGB16\nWARNING: Failed WriteData [SetCameraMode=1]. Error code -108\n");
    EXPECT_FALSE(accepted);
    EXPECT_EQ(bridge->pixelFormat, "Mono8");
    EXPECT_EQ(camera->intValue("PixelFormat"), RecordingCamera::kMono8);
    EXPECT_EQ(bridge->coordinates[2].offset, 0.0f);
}

TEST_F(RegisterWriteTest, AFormatTheAcquisitionCannotBuildIsRefusedWithoutASensorCommand) {
    ASSERT_TRUE(writeInt("PixelFormat", RecordingCamera::kMono16));
    sensor().reset();
    EXPECT_FALSE(writeInt("PixelFormat", 0x7fff));
    EXPECT_EQ(sensor().commands(), Commands{});
    EXPECT_EQ(bridge->pixelFormat, "Mono16");
    EXPECT_EQ(camera->intValue("PixelFormat"), RecordingCamera::kMono16);
}

TEST_F(RegisterWriteTest, PayloadFeaturesAreRefusedWhileAnAcquisitionIsWantedAndAcceptedAfterTheStop) {
    ASSERT_TRUE(writeInt("PixelFormat", RecordingCamera::kMono8));
    camera->fireWrite("AcquisitionStart");
    EXPECT_FALSE(writeInt("PixelFormat", RecordingCamera::kCoord3dAbc32f));
    EXPECT_EQ(camera->intValue("PixelFormat"), RecordingCamera::kMono8);
    EXPECT_EQ(bridge->pixelFormat, "Mono8");
    EXPECT_FALSE(writeInt("ChunkEnable", 1));
    EXPECT_EQ(bridge->enabledChunkCount, 0);
    camera->fireWrite("AcquisitionStop");
    EXPECT_TRUE(writeInt("PixelFormat", RecordingCamera::kCoord3dAbc32f));
    EXPECT_EQ(bridge->pixelFormat, "Coord3D_ABC32f");
}

TEST_F(RegisterWriteTest, SensorCommandsThatFailAreAnsweredWithAnErrorAndReadsKeepTheSensorValue) {
    // The sample sensor has gain 2 (1 to 16) and LED power 80.
    sensor().scriptResult("SetGain=3.000000", {-107});
    EXPECT_FALSE(writeFloat("Gain", 3.0f));
    EXPECT_FALSE(bridge->settingsRefreshRequested);
    camera->fireRead("Gain");
    EXPECT_EQ(camera->floatValue("Gain"), 2.0f);
    sensor().scriptResult("SetLEDPower=50", {-107});
    EXPECT_FALSE(writeInt("LightBrightness", 50));
    EXPECT_FALSE(writeFloat("Gain", 17.0f));  // outside the limits: the device refuses it before the bridge
    EXPECT_EQ(sensor().count("WriteData SetGain=17.000000"), 0);
}

TEST_F(RegisterWriteTest, FilterSelectorPicksTheFirstPropertyOfItsFilter) {
    struct Case {
        std::int64_t filter;
        std::uint16_t propertySelector;
    };
    const Case cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 6}, {5, 7}, {6, 9}, {40, 9}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        bridge->propertySelector = 9;
        bridge->propertyIndex = 2;
        writeInt("FilterSelector", c.filter);
        EXPECT_EQ(bridge->filterSelector, c.filter);
        EXPECT_EQ(bridge->propertySelector, c.propertySelector);
        EXPECT_EQ(bridge->propertyIndex, 0);
    }
}

TEST_F(RegisterWriteTest, PropertySelectorGivesTheIndexWithinItsFilter) {
    const std::uint16_t indexOf[] = {0, 0, 0, 0, 1, 2, 0, 0, 1, 2, 0, 0};
    bridge->filterSelector = 2;
    for (std::uint16_t value = 0; value < 12; ++value) {
        SCOPED_TRACE(value);
        bridge->propertyIndex = 2;
        writeInt("PropertySelector", value);
        EXPECT_EQ(bridge->propertySelector, value);
        EXPECT_EQ(bridge->propertyIndex, indexOf[value]);
        EXPECT_EQ(bridge->filterSelector, 2);
    }
}

TEST_F(RegisterWriteTest, PropertyValueAddressesThePropertyOfTheSelectedFilter) {
    writeInt("FilterSelector", 4);
    writeFloat("PropertyValue", 2.5f);
    writeInt("FilterSelector", 5);
    writeInt("PropertySelector", 8);
    bridge->settingsRefreshRequested = false;
    sensor().scriptResult("SetPFilter3Prop2=3.000000", {-107});
    EXPECT_EQ(traced([&] { writeFloat("PropertyValue", 3.0f); }),
              "Write PropertyValue = 3\nWARNING: Failed WriteData [SetPFilter3Prop2=3.000000]. Error code -107\n");
    EXPECT_EQ(sensor().commands(), (Commands{"SetPFilter2Prop1=2.500000", "SetPFilter3Prop2=3.000000"}));
    EXPECT_TRUE(bridge->settingsRefreshRequested);  // also after a rejected property value
}

TEST_F(RegisterWriteTest, FilterModeSendsOnlyAChangeOfTheFilterState) {
    // In the sample only stack filter 2 (index 1) is on.
    struct Case {
        std::int64_t filter;
        std::int64_t value;
        Commands commands;
    };
    const Case cases[] = {
        {1, 1, {}},
        {1, 0, {"SetSFilter2=0"}},
        {1, 2, {"SetSFilter2=0"}},
        {0, 0, {}},
        {0, 1, {"SetSFilter1=1"}},
        {0, 2, {"SetSFilter1=0"}},
        {5, 1, {"SetPFilter3=1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.filter) + " := " + std::to_string(c.value));
        writeInt("FilterSelector", c.filter);
        writeInt("PropertySelector", c.filter == 5 ? 9 : 0);
        sensor().reset();
        bridge->settingsRefreshRequested = false;
        EXPECT_EQ(traced([&] { writeInt("FilterMode", c.value); }),
                  "Write FilterMode = " + std::to_string(c.value) + "\n");
        EXPECT_EQ(sensor().commands(), c.commands);
        EXPECT_EQ(bridge->settingsRefreshRequested, !c.commands.empty());
        if (c.value == 1 && !c.commands.empty()) {
            EXPECT_EQ(bridge->propertyIndex, 0);
        }
    }
    // The filter's own state follows only the next refresh from the sensor.
    EXPECT_FALSE(bridge->filters[0].enabled);

    sensor().scriptResult("SetSFilter1=1", {-101});
    writeInt("FilterSelector", 0);
    bridge->settingsRefreshRequested = false;
    writeInt("FilterMode", 1);
    EXPECT_TRUE(bridge->settingsRefreshRequested);  // also after a rejected command
}

TEST_F(RegisterWriteTest, ChunkEnableCountsEachChunkOnceAndIgnoresOtherValues) {
    struct Step {
        std::int64_t value;
        std::uint16_t payload;
        std::uint16_t count;
        std::vector<std::string> layout;
    };
    const Step steps[] = {
        {1, 4, 1, {"setChunkLayout(4, 1, 0)"}}, {1, 4, 1, {}}, {2, 4, 1, {}}, {-1, 4, 1, {}},
        {0, 0, 0, {"setChunkLayout(0, 0, 0)"}}, {0, 0, 0, {}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.value);
        camera->clearCalls();
        EXPECT_EQ(traced([&] { writeInt("ChunkEnable", step.value); }),
                  "Write ChunkEnable = " + std::to_string(step.value) + "\n");
        EXPECT_EQ(bridge->chunkPayloadSize, step.payload);
        EXPECT_EQ(bridge->enabledChunkCount, step.count);
        EXPECT_EQ(camera->callsNamed("setChunkLayout"), step.layout);
        EXPECT_EQ(bridge->chunks[0].enabled, step.count == 1);
    }
    // A second chunk adds to the first.
    writeInt("ChunkEnable", 1);
    writeInt("ChunkSelector", 9);
    writeInt("ChunkEnable", 1);
    EXPECT_EQ(bridge->chunkPayloadSize, 8);
    EXPECT_EQ(bridge->enabledChunkCount, 2);
    EXPECT_TRUE(bridge->chunks[9].enabled);
}

TEST_F(RegisterWriteTest, SelectorsOutsideTheirTablesChangeNothing) {
    writeInt("ChunkSelector", 10);
    camera->clearCalls();
    writeInt("ChunkEnable", 1);
    EXPECT_TRUE(camera->callsNamed("setChunkLayout").empty());
    EXPECT_EQ(bridge->enabledChunkCount, 0);

    writeInt("FilterSelector", 6);
    writeInt("FilterMode", 1);
    writeFloat("PropertyValue", 1.0f);
    bridge->filterSelector = 5;
    bridge->propertyIndex = 3;
    writeFloat("PropertyValue", 1.0f);
    EXPECT_TRUE(sensor().commands().empty());
}

class MaskPathTest : public RegisterWriteTest {
protected:
    void SetUp() override {
        RegisterWriteTest::SetUp();
        folder = std::filesystem::temp_directory_path() /
                 ("unit-mask-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        std::filesystem::create_directories(folder);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        RegisterWriteTest::TearDown();
    }
    std::string makeFile(const std::string& name) {
        const std::filesystem::path path = folder / name;
        std::ofstream(path) << "mask";
        return path.string();
    }
    std::filesystem::path folder;
};

TEST_F(MaskPathTest, OnlyAnExistingRegularFileIsTakenAndAnEmptyTextClears) {
    const std::string mask = makeFile("mask.bmp");
    EXPECT_EQ(traced([&] { EXPECT_TRUE(writeString("PathToMask", mask)); }), "Write PathToMask = " + mask + "\n");
    EXPECT_EQ(bridge->maskPath, mask);

    // Refused with an error status, the device keeping the accepted path: a missing file, a folder.
    const std::filesystem::path folderNamedLikeAFile = folder / "masks.png";
    std::filesystem::create_directories(folderNamedLikeAFile);
    for (const std::string& refused : {(folder / "missing.png").string(), folderNamedLikeAFile.string()}) {
        SCOPED_TRACE(refused);
        EXPECT_EQ(traced([&] { EXPECT_FALSE(writeString("PathToMask", refused)); }),
                  "Write PathToMask = " + refused + "\n");
        EXPECT_EQ(bridge->maskPath, mask);
        EXPECT_EQ(camera->stringValue("PathToMask"), mask);
    }

    EXPECT_TRUE(writeString("PathToMask", ""));
    EXPECT_EQ(bridge->maskPath, "");
    EXPECT_EQ(camera->stringValue("PathToMask"), "");
    EXPECT_TRUE(sensor().commands().empty());
}

}  // namespace
