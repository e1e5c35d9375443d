// End to end with Aravis as the client: libaravis reads and writes features of a bridge-sized tree served
// on 127.0.5.x, the XML passes the GenApi 1.1 schema Aravis bundles, and (in a private network namespace)
// broadcast discovery, the Aravis tools and tshark see a well-formed device, and an address the device adds to the
// host is taken off again at its end.
#include <gtest/gtest.h>

#include <arv.h>

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "camera.h"
#include "net/host_interfaces.h"
#include "sample_tree.h"

namespace {

struct Recorder {
    std::mutex mutex;
    std::vector<std::string> reads;
    std::vector<std::string> writes;
    int connected = 0;
    int disconnected = 0;
    static bool onRead(void* context, const char* name) {
        auto* self = static_cast<Recorder*>(context);
        std::lock_guard lock(self->mutex);
        self->reads.emplace_back(name);
        return true;
    }
    static bool onWrite(void* context, const char* name) {
        auto* self = static_cast<Recorder*>(context);
        std::lock_guard lock(self->mutex);
        self->writes.emplace_back(name);
        return true;
    }
    static void onConnection(void* context, bool connected) {
        auto* self = static_cast<Recorder*>(context);
        std::lock_guard lock(self->mutex);
        ++(connected ? self->connected : self->disconnected);
    }
    bool wasRead(const std::string& name) {
        std::lock_guard lock(mutex);
        return std::find(reads.begin(), reads.end(), name) != reads.end();
    }
    std::string lastWrite() {
        std::lock_guard lock(mutex);
        return writes.empty() ? "" : writes.back();
    }
};

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
    pclose(pipe);
    return output;
}

}  // namespace

TEST(AravisControl, FeaturesReachTheCallbacks) {
    gige::Camera camera;
    Recorder recorder;
    camera.setServerOptionD(1);
    camera.setReadCallback(&recorder, &Recorder::onRead);
    camera.setWriteCallback(&recorder, &Recorder::onWrite);
    camera.setConnectionCallback(&recorder, &Recorder::onConnection);
    gvcp_test::declareSampleTree(camera);
    ASSERT_EQ(camera.startServer("127.0.5.20"), 0);

    GError* error = nullptr;
    ArvCamera* client = arv_camera_new("127.0.5.20", &error);
    ASSERT_NE(client, nullptr) << (error != nullptr ? error->message : "");
    ArvDevice* device = arv_camera_get_device(client);
    EXPECT_EQ(arv_device_get_integer_feature_value(device, "Width", &error), 1280);
    EXPECT_TRUE(recorder.wasRead("Width"));
    EXPECT_STREQ(arv_device_get_string_feature_value(device, "PixelFormat", &error), "Mono8");

    arv_device_set_float_feature_value(device, "Gain", 3.5, &error);
    ASSERT_EQ(error, nullptr) << error->message;
    EXPECT_EQ(recorder.lastWrite(), "Gain");
    float gain = 0;
    ASSERT_TRUE(camera.getFloatValue("Gain", &gain));
    EXPECT_FLOAT_EQ(gain, 3.5F);

    arv_device_set_string_feature_value(device, "StackAcquisitionMode", "mode2", &error);
    ASSERT_EQ(error, nullptr) << error->message;
    std::int64_t mode = 0;
    ASSERT_TRUE(camera.getIntValue("StackAcquisitionMode", &mode));
    EXPECT_EQ(mode, 2);

    arv_device_set_string_feature_value(device, "ChunkSelector", "Temperature", &error);
    arv_device_set_boolean_feature_value(device, "ChunkEnable", TRUE, &error);
    ASSERT_EQ(error, nullptr) << error->message;
    std::int64_t selector = -1;
    ASSERT_TRUE(camera.getIntValue("ChunkSelector", &selector));
    EXPECT_EQ(selector, 0);

    arv_device_set_string_feature_value(device, "PathToMask", "/tmp/mask.png", &error);
    ASSERT_EQ(error, nullptr) << error->message;
    char mask[128];
    ASSERT_TRUE(camera.getStringValue("PathToMask", mask, sizeof mask));
    EXPECT_STREQ(mask, "/tmp/mask.png");

    // EventNotification is the selected event's word; the message channel's time-out starts at its default.
    arv_device_set_string_feature_value(device, "EventSelector", "FrameEnd", &error);
    arv_device_set_string_feature_value(device, "EventNotification", "On", &error);
    ASSERT_EQ(error, nullptr) << error->message;
    arv_device_set_string_feature_value(device, "EventSelector", "Error", &error);
    EXPECT_STREQ(arv_device_get_string_feature_value(device, "EventNotification", &error), "Off");
    arv_device_set_string_feature_value(device, "EventSelector", "FrameEnd", &error);
    EXPECT_STREQ(arv_device_get_string_feature_value(device, "EventNotification", &error), "On");
    EXPECT_EQ(arv_device_get_integer_feature_value(device, "GevMCTT", &error), 300);

    // Limits from other registers (pMax = PropertyValueMax = 5) are enforced by the device.
    arv_device_set_float_feature_value(device, "PropertyValue", 6.0, &error);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, ARV_DEVICE_ERROR_PROTOCOL_ERROR_INVALID_PARAMETER);
    g_clear_error(&error);
    arv_device_set_integer_feature_value(device, "SensorWidth", 5, &error);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, ARV_DEVICE_ERROR_PROTOCOL_ERROR_WRITE_PROTECT);
    g_clear_error(&error);

    std::uint32_t privilege = 0;
    ASSERT_TRUE(arv_device_read_register(device, 0x0A00, &privilege, &error));
    EXPECT_EQ(privilege, 0x2U);
    g_object_unref(client);
    camera.stopServer();
    std::lock_guard lock(recorder.mutex);
    EXPECT_EQ(recorder.connected, 1);
    EXPECT_EQ(recorder.disconnected, 1);
}

TEST(AravisControl, XmlPassesTheBundledGenApiSchema) {
    // arv-test carries the GenApi 1.1 schema; its own schema test only ever loads the 1.0 one, so the
    // document is checked here with the same validator and the 1.1 schema.
    std::ifstream tool("/usr/bin/arv-test-0.8", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(tool)), std::istreambuf_iterator<char>());
    const auto id = bytes.find("id=\"GenApiSchema_1_1\"");
    if (id == std::string::npos) GTEST_SKIP() << "arv-test-0.8 with its bundled schema is not installed";
    const auto begin = bytes.rfind("<?xml", id);
    const auto end = bytes.find("</xs:schema>", id) + std::string("</xs:schema>").size();
    const std::string schemaText = bytes.substr(begin, end - begin);
    ArvXmlSchema* schema = arv_xml_schema_new_from_memory(schemaText.data(), schemaText.size());
    ASSERT_NE(schema, nullptr);

    gige::Camera camera;
    gvcp_test::declareSampleTree(camera);
    const std::string xml = camera.genicamXml();
    int line = 0;
    int column = 0;
    GError* error = nullptr;
    EXPECT_TRUE(arv_xml_schema_validate(schema, xml.data(), xml.size(), &line, &column, &error))
        << "line " << line << ": " << (error != nullptr ? error->message : "");
    g_clear_error(&error);
    g_object_unref(schema);
}

TEST(AravisControl, DiscoveryToolsAndTsharkInAPrivateNamespace) {
    if (std::system("unshare -n true > /dev/null 2>&1") != 0) GTEST_SKIP() << "unshare -n is not permitted here";
    if (std::system("command -v tshark > /dev/null 2>&1") != 0) GTEST_SKIP() << "tshark is not installed";
    char work[] = "/tmp/gvcp-ns-XXXXXX";
    ASSERT_NE(mkdtemp(work), nullptr);
    const std::string output = run(std::string("unshare -n sh ") + SOURCE_DIR + "/namespace_check.sh " +
                                   DEMO_DEVICE_PATH + " " + work + " 2>&1");
    EXPECT_NE(output.find("Pellicor-DemoDevice-DEMO0001 (127.0.0.1)"), std::string::npos) << output;
    EXPECT_NE(output.find("Pellicor-DemoDevice-SECOND (127.0.0.2)"), std::string::npos) << output;
    EXPECT_NE(output.find("DemoInteger = 9"), std::string::npos) << output;
    EXPECT_NE(output.find("DemoLabel = ns"), std::string::npos) << output;
    EXPECT_NE(output.find("Genicam:Load                        SUCCESS"), std::string::npos) << output;
    EXPECT_NE(output.find("Genicam:Schema                      SUCCESS"), std::string::npos) << output;
    EXPECT_NE(output.find("GigEVision:StreamChannel            SUCCESS"), std::string::npos) << output;
    EXPECT_EQ(output.find("FAILURE"), std::string::npos) << output;
    EXPECT_NE(output.find("write DemoInteger = 9"), std::string::npos) << output;
    EXPECT_EQ(output.find("== gvcp packets: 0\n"), std::string::npos) << output;
    EXPECT_NE(output.find("== malformed: 0\n"), std::string::npos) << output;
    EXPECT_NE(output.find("== expert items: 0\n"), std::string::npos) << output;
    run(std::string("rm -rf ") + work);
}

// Runs only inside the namespace the next test makes (the variable is set there).
TEST(HostInterfaces, InsideNamespace) {
    if (std::getenv("GVCP_INSIDE_NAMESPACE") == nullptr) GTEST_SKIP() << "runs inside a private namespace only";
    gige::Camera camera;
    ASSERT_EQ(camera.getInterfaceCount(), 1);
    char text[16];
    ASSERT_TRUE(camera.getInterfaceAddress(0, text));
    EXPECT_STREQ(text, "127.0.0.1");
    EXPECT_FALSE(camera.getInterfaceAddress(1, text));
    EXPECT_STREQ(text, "");
    EXPECT_EQ(camera.addIpAddress("10.11.12.13", "255.255.255.0", "10.11.12.1"), 0);
    EXPECT_NE(camera.addIpAddress("10.11.12.13", "255.255.255.0", "0.0.0.0"), 0);  // already there
    EXPECT_NE(camera.addIpAddress("not an address", "255.255.255.0", "0.0.0.0"), 0);
    EXPECT_EQ(run("ip -4 addr show dev lo").find("10.11.12.13/24") != std::string::npos, true);
    EXPECT_EQ(run("ip route show default").find("via 10.11.12.1") != std::string::npos, true);
    ASSERT_TRUE(camera.getInterfaceAddress(0, text));
    EXPECT_STREQ(text, "127.0.0.1");  // the interface's main address stays first
    EXPECT_EQ(camera.startServer("10.11.12.13"), 0);
    camera.stopServer();
    // An added address is the interface's second one; the lookup finds it, so the camera takes it off at its end
    // and the next run may add it again.
    gige::HostInterface holder;
    ASSERT_TRUE(gige::findHostInterface(0x0A0B0C0D, holder));
    EXPECT_EQ(holder.name, "lo");
}

TEST(HostInterfaces, AnAddedAddressLeavesWithTheCamera) {
    if (std::getenv("GVCP_INSIDE_NAMESPACE") == nullptr) GTEST_SKIP() << "runs inside a private namespace only";
    for (int round = 0; round < 2; ++round) {
        gige::Camera camera;
        EXPECT_EQ(camera.addIpAddress("10.11.13.14", "255.255.255.0", "0.0.0.0"), 0) << round;
        EXPECT_NE(run("ip -4 addr show dev lo").find("10.11.13.14/24"), std::string::npos) << round;
    }
    EXPECT_EQ(run("ip -4 addr show dev lo").find("10.11.13.14"), std::string::npos);
}

TEST(HostInterfaces, AddressesAreAddedInAPrivateNamespace) {
    if (std::system("unshare -n true > /dev/null 2>&1") != 0) GTEST_SKIP() << "unshare -n is not permitted here";
    const std::string output = run(
        "unshare -n sh -c 'ip link set lo up && GVCP_INSIDE_NAMESPACE=1 /proc/" + std::to_string(getpid()) +
        "/exe --gtest_filter=HostInterfaces.InsideNamespace:HostInterfaces.AnAddedAddressLeavesWithTheCamera' 2>&1");
    EXPECT_NE(output.find("[  PASSED  ] 2 tests"), std::string::npos) << output;
    EXPECT_EQ(output.find("cannot remove"), std::string::npos) << output;
    EXPECT_EQ(output.find("is on no interface"), std::string::npos) << output;
}
