// A CGevCamera for unit tests: records every call with its arguments in order, keeps feature values, keeps
// the frames it is given, and lets a test play the client by firing the registered callbacks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "gev_camera.h"

struct RecordedFrame {
    std::string kind;                               // "image" or "pointcloud"
    std::int64_t count = 0;                         // byteCount or pointCount as given
    std::vector<std::uint8_t> image;                // the declared image part, copied from the frame buffer
    std::vector<std::vector<std::uint8_t>> chunks;  // chunk data in the order added
    std::vector<std::uint32_t> chunkIds;
    // Multipart frames ("multipart"): each part's bytes and record, in order.
    std::vector<std::vector<std::uint8_t>> parts;
    std::vector<GevPart> partRecords;  // data pointers are cleared
    // The timestamp its leader carries: the one given with setFrameTimestamp, else the camera's clock at the send.
    std::uint64_t timestamp = 0;
    bool timestampGiven = false;
};

class RecordingCamera final : public CGevCamera {
public:
    RecordingCamera();
    ~RecordingCamera() override;

    // The most recently created camera (createCamera of the test build), or null.
    static RecordingCamera* last();
    // Every call of every camera, destructors included, as "name(arg, ...)" in order; cleared by reset.
    static std::vector<std::string> globalLog();
    static void resetGlobalLog();

    // Test controls.
    std::vector<std::string> calls();  // this camera's calls in order
    std::vector<std::string> callsNamed(const std::string& operation);
    void clearCalls();
    void setInterfaces(std::vector<std::string> addresses);
    void setStartResult(int result);
    // Runs at the start of every sendImage and sendPointCloud, on the sender's thread (null: nothing).
    void setSendHook(std::function<void()> hook);
    bool fireRead(const std::string& feature);   // as a client's read: the read callback
    bool fireWrite(const std::string& feature);  // the write callback alone (a command: as executed)
    // A client's write, with the device library's rules: a value outside the declared limits or of a feature
    // locked (pIsLocked naming a non-zero feature) is refused without a callback; a write the callback refuses leaves
    // the previous value; a command executes only on its command value and reads 0 afterwards. False: refused.
    bool clientWriteInt(const std::string& feature, std::int64_t value);
    bool clientWriteFloat(const std::string& feature, float value);
    bool clientWriteString(const std::string& feature, const std::string& value);
    void fireConnection(bool connected);
    // As an action command taking effect: runs the action callback on a thread of its own, as the library does,
    // and waits for it to return. False when no callback is registered or `actionIndex` names no action signal.
    bool fireAction(int actionIndex, std::uint64_t actionTicks);
    // Fixes the clock getTimestamp reads at `ticks` (until set again); until then it follows a steady clock in ns.
    void setClock(std::uint64_t ticks);
    std::vector<RecordedFrame> frames();  // the frames the camera accepted
    std::size_t refusedFrameCount();
    std::size_t frameCount();
    // Values as a client would see them.
    std::int64_t intValue(const std::string& name);
    float floatValue(const std::string& name);
    std::string stringValue(const std::string& name);
    bool hasValue(const std::string& name);

    // CGevCamera.
    int startServer(const char* address) override;
    void stopServer() override;
    bool addCategory(const char* name, const char* parent) override;
    bool addFeature(int type, const char* name, const char* category, std::uint16_t access, const char* registerName,
                    std::uint16_t withRegister) override;
    bool addNode(const char* nodeType, const char* name, const char* category, std::uint16_t reserved) override;
    bool addChunkCategory(const char* name) override;
    bool addChunkFeature(std::uint32_t chunkId, const char* name, const char* category, std::uint16_t access,
                         std::uint32_t length, const char* description) override;
    bool setIntValue(const char* name, std::int64_t value) override;
    bool setFloatValue(const char* name, float value) override;
    bool setStringValue(const char* name, const char* value) override;
    bool setEnumValue(const char* name, const char* entryName) override;
    bool getIntValue(const char* name, std::int64_t* value) override;
    bool getFloatValue(const char* name, float* value) override;
    bool getStringValue(const char* name, char* buffer, int size) override;
    bool setNodeElement(const char* node, const char* element, const char* text, bool append) override;
    bool setNodeElementAttribute(const char* node, const char* element, const char* elementText, const char* attribute,
                                 const char* attributeText) override;
    bool addEnumEntry(const char* enumName, const char* entryName, std::int64_t value) override;
    bool setEnumEntryElement(const char* enumName, const char* entryName, const char* element, const char* text,
                             bool append) override;
    bool removeNodeElement(const char* node, const char* element, int occurrence) override;
    bool setFloatRange(const char* name, float min, float max) override;
    bool setIntRange(const char* name, std::int64_t min, std::int64_t max, int increment) override;
    bool setDescription(const char* name, const char* text) override;
    bool setAccessMode(const char* name, std::uint16_t access) override;
    int getInterfaceCount() override;
    bool getInterfaceAddress(int index, char buffer[16]) override;
    bool isServerRunning() override;
    int beginFrame(int stream) override;
    int sendImage(const void* frame, std::int64_t byteCount, int stream) override;
    int sendPointCloud(const void* frame, std::int64_t pointCount, int stream) override;
    void abortFrame(int stream) override;
    void setServerOptionA(int answerBroadcastDiscovery) override;
    void setServerOptionB(int keepFramesForResend) override;
    void setServerOptionC(int enforceHeartbeat, int heartbeatTimeoutMs) override;
    void setServerOptionD(int callReadCallback) override;
    void setServerOptionE(int sendPendingAck, int pendingAckTimeMs) override;
    void setServerTimeouts(int callbackLimitMs, int sendLimitMs) override;
    void setReadCallback(void* context, GevRegisterCallback callback) override;
    void setWriteCallback(void* context, GevRegisterCallback callback) override;
    void setConnectionCallback(void* context, GevConnectionCallback callback) override;
    int addChunkData(const void* frame, const void* data, std::uint32_t length, std::uint32_t chunkId,
                     int stream) override;
    bool addPixelFormat(const char* name) override;
    bool setImageSize(std::uint16_t width, std::uint16_t height, int stream) override;
    bool setImageOffset(std::uint16_t x, std::uint16_t y, int stream) override;
    bool setChunkLayout(std::uint16_t chunkBytes, std::uint16_t chunkCount, int stream) override;
    int getWidth(int stream) override;
    int getHeight(int stream) override;
    const char* getPixelFormatName(int value) override;
    int addIpAddress(const char* ip, const char* mask, const char* gateway) override;
    bool setMacAddress(const char* text) override;
    bool setDeviceInfo(const char* vendor, const char* model, const char* version, const char* info,
                       const char* serial) override;
    bool setUserDefinedName(const char* text) override;
    bool setMultipartOffered(bool offered) override;
    bool setMultipartLayout(std::uint64_t partBytes, int partCount, int stream) override;
    bool multipartActive(int stream) override;
    int sendMultipart(const GevPart* parts, int partCount, int stream) override;
    std::uint64_t getTimestamp() override;
    void setFrameTimestamp(std::uint64_t ticks, int stream) override;
    void setActionCallback(void* context, GevActionCallback callback) override;
    bool addEvent(const char* name, std::uint16_t eventId, const char* dataFeature, const char* category) override;
    bool sendEvent(std::uint16_t eventId, std::uint64_t blockId, std::uint64_t ticks, std::uint32_t data) override;
    std::uint64_t getLastBlockId(int stream) override;
    std::uint64_t getUpcomingBlockId(int stream, int ahead) override;

    // The events given to sendEvent, in order, whether or not their notification was On.
    struct SentEvent {
        std::uint16_t eventId = 0;
        std::uint64_t blockId = 0;
        std::uint64_t ticks = 0;
        std::uint32_t data = 0;
    };
    std::vector<SentEvent> sentEvents();

    // Action signals, as many as the device library has.
    static constexpr int kActionSignalCount = 4;
    // PFNC codes of the formats the bridge uses.
    static constexpr std::int64_t kMono8 = 0x01080001;
    static constexpr std::int64_t kMono16 = 0x01100007;
    static constexpr std::int64_t kRgb16 = 0x02300033;
    static constexpr std::int64_t kCoord3dAbc16 = 0x023000B9;
    static constexpr std::int64_t kCoord3dAbc32f = 0x026000C0;
    static constexpr std::int64_t kConfidence8 = 0x010800C6;

private:
    void runSendHook();
    void record(const std::string& call);
    bool lockedLocked(const std::string& feature);  // with mutex_ held
    // Stores a client's value, runs the write callback and puts the old value back when it refuses.
    template <typename Map, typename Value>
    bool clientWrite(Map& values, const std::string& feature, const Value& value);
    std::int64_t payloadSizeLocked();  // with mutex_ held
    std::int64_t frameFormatLocked();  // with mutex_ held
    int checkFrame(std::int64_t imageBytes, bool pointCloud);
    std::uint64_t clockLocked();  // with mutex_ held
    // Gives the frame being sent its timestamp; a given one is used once, as by the library.
    void stampLocked();  // with mutex_ held
    bool timestampGiven_ = false;
    std::uint64_t givenTimestamp_ = 0;
    std::optional<std::int64_t> heldFormat_;  // the format frames keep while a PixelFormat write is answered

    std::mutex mutex_;
    std::vector<std::string> calls_;
    std::vector<std::string> interfaces_;
    int startResult_ = 0;
    bool running_ = false;
    std::map<std::string, std::int64_t> ints_;
    std::map<std::string, float> floats_;
    std::map<std::string, std::string> strings_;
    void* readContext_ = nullptr;
    GevRegisterCallback read_ = nullptr;
    void* writeContext_ = nullptr;
    GevRegisterCallback write_ = nullptr;
    void* connectionContext_ = nullptr;
    GevConnectionCallback connection_ = nullptr;
    void* actionContext_ = nullptr;
    GevActionCallback action_ = nullptr;
    std::vector<SentEvent> sentEvents_;
    bool clockFixed_ = false;
    std::uint64_t clockTicks_ = 0;
    int width_ = 0;
    int height_ = 0;
    std::map<std::string, std::pair<std::int64_t, std::int64_t>> intRanges_;
    std::map<std::string, std::string> locks_;  // feature -> the node its pIsLocked names
    std::map<std::string, std::pair<float, float>> floatRanges_;
    std::uint16_t chunkBytes_ = 0;
    std::uint16_t chunkCount_ = 0;
    std::uint64_t multipartBytes_ = 0;
    int multipartParts_ = 0;
    RecordedFrame pending_;
    std::function<void()> sendHook_;
    std::int64_t imagePartLength_ = -1;
    std::vector<RecordedFrame> frames_;
    std::size_t refusedFrames_ = 0;
};
