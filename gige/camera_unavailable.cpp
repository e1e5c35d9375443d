// Placeholder until the device library exists: a camera that cannot go online.
#include "gev_camera.h"

namespace {
class UnavailableCamera final : public CGevCamera {
public:
    int startServer(const char*) override { return 1; }
    void stopServer() override {}
    bool addCategory(const char*, const char*) override { return false; }
    bool addFeature(int, const char*, const char*, std::uint16_t, const char*, std::uint16_t) override { return false; }
    bool addNode(const char*, const char*, const char*, std::uint16_t) override { return false; }
    bool addChunkCategory(const char*) override { return false; }
    bool addChunkFeature(std::uint32_t, const char*, const char*, std::uint16_t, std::uint32_t, const char*) override { return false; }
    bool setIntValue(const char*, std::int64_t) override { return false; }
    bool setFloatValue(const char*, float) override { return false; }
    bool setStringValue(const char*, const char*) override { return false; }
    bool setEnumValue(const char*, const char*) override { return false; }
    bool getIntValue(const char*, std::int64_t*) override { return false; }
    bool getFloatValue(const char*, float*) override { return false; }
    bool getStringValue(const char*, char*, int) override { return false; }
    bool setNodeElement(const char*, const char*, const char*, bool) override { return false; }
    bool setNodeElementAttribute(const char*, const char*, const char*, const char*, const char*) override { return false; }
    bool addEnumEntry(const char*, const char*, std::int64_t) override { return false; }
    bool setEnumEntryElement(const char*, const char*, const char*, const char*, bool) override { return false; }
    bool removeNodeElement(const char*, const char*, int) override { return false; }
    bool setFloatRange(const char*, float, float) override { return false; }
    bool setIntRange(const char*, std::int64_t, std::int64_t, int) override { return false; }
    bool setDescription(const char*, const char*) override { return false; }
    bool setAccessMode(const char*, std::uint16_t) override { return false; }
    int getInterfaceCount() override { return 0; }
    bool getInterfaceAddress(int, char buffer[16]) override { buffer[0] = 0; return false; }
    bool isServerRunning() override { return false; }
    int beginFrame(int) override { return 1; }
    int sendImage(const void*, std::int64_t, int) override { return 1; }
    int sendPointCloud(const void*, std::int64_t, int) override { return 1; }
    void setServerOptionA(int) override {}
    void setServerOptionB(int) override {}
    void setServerOptionC(int, int) override {}
    void setServerOptionD(int) override {}
    void setServerOptionE(int, int) override {}
    void setServerTimeouts(int, int) override {}
    void setReadCallback(void*, GevRegisterCallback) override {}
    void setWriteCallback(void*, GevRegisterCallback) override {}
    void setConnectionCallback(void*, GevConnectionCallback) override {}
    int addChunkData(const void*, const void*, std::uint32_t, std::uint32_t, int) override { return 1; }
    bool addPixelFormat(const char*) override { return false; }
    bool setImageSize(std::uint16_t, std::uint16_t, int) override { return false; }
    bool setImageOffset(std::uint16_t, std::uint16_t, int) override { return false; }
    bool setChunkLayout(std::uint16_t, std::uint16_t, int) override { return false; }
    int getWidth(int) override { return -1; }
    int getHeight(int) override { return -1; }
    const char* getPixelFormatName(int) override { return ""; }
    int addIpAddress(const char*, const char*, const char*) override { return 1; }
    bool setMacAddress(const char*) override { return false; }
    bool setDeviceInfo(const char*, const char*, const char*, const char*, const char*) override { return false; }
    bool setUserDefinedName(const char*) override { return false; }
};
}  // namespace

CGevCamera* createCamera() { return new UnavailableCamera; }
