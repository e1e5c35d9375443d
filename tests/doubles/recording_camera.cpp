// The recording camera: every call is logged in order, feature values and frames are kept, and a test fires
// the registered callbacks as a client would.
#include "recording_camera.h"

#include <type_traits>

#include <atomic>
#include <cstring>
#include <sstream>
#include <thread>

#include "os.h"

namespace {

std::mutex globalMutex;
std::vector<std::string> globalCalls;
std::atomic<RecordingCamera*> lastCamera{nullptr};

std::string text(const char* value) { return value == nullptr ? "null" : value; }

bool isCommand(const std::string& feature) {
    return feature == "AcquisitionStart" || feature == "AcquisitionStop" || feature == "TriggerSoftware";
}

std::int64_t bytesPerPixel(std::int64_t format) {
    switch (format) {
        case RecordingCamera::kMono8:
        case RecordingCamera::kConfidence8: return 1;
        case RecordingCamera::kMono16: return 2;
        case RecordingCamera::kRgb16:
        case RecordingCamera::kCoord3dAbc16: return 6;
        case RecordingCamera::kCoord3dAbc32f: return 12;
        default: return 0;
    }
}

// Formats "operation(arg, arg, ...)" with the stream's default notation for numbers.
template <typename... Args>
std::string call(const char* operation, const Args&... args) {
    std::ostringstream line;
    line << operation << '(';
    const char* separator = "";
    ((line << separator << args, separator = ", "), ...);
    line << ')';
    return line.str();
}

}  // namespace

RecordingCamera::RecordingCamera() { lastCamera = this; }

RecordingCamera::~RecordingCamera() {
    {
        std::lock_guard<std::mutex> lock(globalMutex);
        globalCalls.push_back("~CGevCamera()");
    }
    RecordingCamera* self = this;
    lastCamera.compare_exchange_strong(self, nullptr);
}

RecordingCamera* RecordingCamera::last() { return lastCamera; }

std::vector<std::string> RecordingCamera::globalLog() {
    std::lock_guard<std::mutex> lock(globalMutex);
    return globalCalls;
}

void RecordingCamera::resetGlobalLog() {
    std::lock_guard<std::mutex> lock(globalMutex);
    globalCalls.clear();
}

void RecordingCamera::record(const std::string& line) {
    {
        std::lock_guard<std::mutex> lock(globalMutex);
        globalCalls.push_back(line);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(line);
}

std::vector<std::string> RecordingCamera::calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<std::string> RecordingCamera::callsNamed(const std::string& operation) {
    std::vector<std::string> matching;
    for (const std::string& line : calls()) {
        if (line.compare(0, operation.size() + 1, operation + "(") == 0) matching.push_back(line);
    }
    return matching;
}

void RecordingCamera::clearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

void RecordingCamera::setInterfaces(std::vector<std::string> addresses) {
    std::lock_guard<std::mutex> lock(mutex_);
    interfaces_ = std::move(addresses);
}

void RecordingCamera::setStartResult(int result) {
    std::lock_guard<std::mutex> lock(mutex_);
    startResult_ = result;
}

bool RecordingCamera::fireRead(const std::string& feature) {
    GevRegisterCallback callback = nullptr;
    void* context = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        callback = read_;
        context = readContext_;
    }
    return callback != nullptr && callback(context, feature.c_str());
}

bool RecordingCamera::fireWrite(const std::string& feature) {
    GevRegisterCallback callback = nullptr;
    void* context = nullptr;
    const bool command = isCommand(feature);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        callback = write_;
        context = writeContext_;
        if (command) ints_[feature] = 1;
    }
    const bool carriedOut = callback != nullptr && callback(context, feature.c_str());
    if (command) {
        std::lock_guard<std::mutex> lock(mutex_);
        ints_[feature] = 0;
    }
    return carriedOut;
}

bool RecordingCamera::lockedLocked(const std::string& feature) {
    const auto lock = locks_.find(feature);
    if (lock == locks_.end()) return false;
    // The lock may be named by its register node, "reg" followed by the feature's name.
    const std::string owner = lock->second.rfind("reg", 0) == 0 ? lock->second.substr(3) : lock->second;
    return ints_[owner] != 0;
}

template <typename Map, typename Value>
bool RecordingCamera::clientWrite(Map& values, const std::string& feature, const Value& value) {
    GevRegisterCallback callback = nullptr;
    void* context = nullptr;
    bool existed = false;
    Value previous{};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (lockedLocked(feature)) return false;
        callback = write_;
        context = writeContext_;
        const auto found = values.find(feature);
        existed = found != values.end();
        if (existed) previous = found->second;
        values[feature] = value;
        // As the library: frames keep the format they were described with until the program took the write.
        if constexpr (std::is_same_v<Value, std::int64_t>) {
            if (feature == "PixelFormat") heldFormat_ = existed ? previous : kMono8;
        }
    }
    const bool carriedOut = callback != nullptr && callback(context, feature.c_str());
    // Taken back and released in one step, as the library does: a frame built between the two would otherwise
    // be checked against the refused value.
    std::lock_guard<std::mutex> lock(mutex_);
    heldFormat_.reset();
    if (!carriedOut) {
        if (existed) {
            values[feature] = previous;
        } else {
            values.erase(feature);
        }
    }
    return carriedOut;
}

bool RecordingCamera::clientWriteInt(const std::string& feature, std::int64_t value) {
    if (isCommand(feature)) return value == 1 && fireWrite(feature);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto range = intRanges_.find(feature);
        if (range != intRanges_.end() && (value < range->second.first || value > range->second.second)) return false;
        if (feature == "PixelFormat" && bytesPerPixel(value) == 0) return false;  // not an offered format
    }
    return clientWrite(ints_, feature, value);
}

bool RecordingCamera::clientWriteFloat(const std::string& feature, float value) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto range = floatRanges_.find(feature);
        if (value != value) return false;
        if (range != floatRanges_.end() && (value < range->second.first || value > range->second.second)) return false;
    }
    return clientWrite(floats_, feature, value);
}

bool RecordingCamera::clientWriteString(const std::string& feature, const std::string& value) {
    return clientWrite(strings_, feature, value);
}

void RecordingCamera::fireConnection(bool connected) {
    GevConnectionCallback callback = nullptr;
    void* context = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        callback = connection_;
        context = connectionContext_;
    }
    if (callback != nullptr) callback(context, connected);
}

bool RecordingCamera::fireAction(int actionIndex, std::uint64_t actionTicks) {
    GevActionCallback callback = nullptr;
    void* context = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        callback = action_;
        context = actionContext_;
    }
    if (callback == nullptr || actionIndex < 0 || actionIndex >= kActionSignalCount) return false;
    std::thread library([&] { callback(context, actionIndex, actionTicks); });
    library.join();
    return true;
}

void RecordingCamera::setClock(std::uint64_t ticks) {
    std::lock_guard<std::mutex> lock(mutex_);
    clockFixed_ = true;
    clockTicks_ = ticks;
}

std::uint64_t RecordingCamera::clockLocked() { return clockFixed_ ? clockTicks_ : os::monotonicNs(); }

void RecordingCamera::stampLocked() {
    pending_.timestampGiven = timestampGiven_;
    pending_.timestamp = timestampGiven_ ? givenTimestamp_ : clockLocked();
    timestampGiven_ = false;
}

std::vector<RecordedFrame> RecordingCamera::frames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

std::size_t RecordingCamera::refusedFrameCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return refusedFrames_;
}

std::size_t RecordingCamera::frameCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_.size();
}

std::int64_t RecordingCamera::intValue(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return ints_[name];
}

float RecordingCamera::floatValue(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return floats_[name];
}

std::string RecordingCamera::stringValue(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return strings_[name];
}

bool RecordingCamera::hasValue(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return ints_.count(name) + floats_.count(name) + strings_.count(name) > 0;
}

int RecordingCamera::startServer(const char* address) {
    record(call("startServer", text(address)));
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = startResult_ == 0;
    return startResult_;
}

void RecordingCamera::stopServer() {
    record("stopServer()");
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
}

bool RecordingCamera::addCategory(const char* name, const char* parent) {
    record(call("addCategory", text(name), text(parent)));
    return true;
}

bool RecordingCamera::addFeature(int type, const char* name, const char* category, std::uint16_t access,
                                 const char* registerName, std::uint16_t withRegister) {
    record(call("addFeature", type, text(name), text(category), access, text(registerName), withRegister));
    return true;
}

bool RecordingCamera::addNode(const char* nodeType, const char* name, const char* category, std::uint16_t reserved) {
    record(call("addNode", text(nodeType), text(name), text(category), reserved));
    return true;
}

bool RecordingCamera::addChunkCategory(const char* name) {
    record(call("addChunkCategory", text(name)));
    return true;
}

bool RecordingCamera::addChunkFeature(std::uint32_t chunkId, const char* name, const char* category,
                                      std::uint16_t access, std::uint32_t length, const char* description) {
    record(call("addChunkFeature", chunkId, text(name), text(category), access, length, text(description)));
    return true;
}

bool RecordingCamera::setIntValue(const char* name, std::int64_t value) {
    record(call("setIntValue", text(name), value));
    std::lock_guard<std::mutex> lock(mutex_);
    ints_[text(name)] = value;
    return true;
}

bool RecordingCamera::setFloatValue(const char* name, float value) {
    record(call("setFloatValue", text(name), value));
    std::lock_guard<std::mutex> lock(mutex_);
    floats_[text(name)] = value;
    return true;
}

bool RecordingCamera::setStringValue(const char* name, const char* value) {
    record(call("setStringValue", text(name), text(value)));
    std::lock_guard<std::mutex> lock(mutex_);
    strings_[text(name)] = text(value);
    return true;
}

bool RecordingCamera::setEnumValue(const char* name, const char* entryName) {
    record(call("setEnumValue", text(name), text(entryName)));
    return true;
}

bool RecordingCamera::getIntValue(const char* name, std::int64_t* value) {
    record(call("getIntValue", text(name)));
    std::lock_guard<std::mutex> lock(mutex_);
    *value = ints_[text(name)];
    return true;
}

bool RecordingCamera::getFloatValue(const char* name, float* value) {
    record(call("getFloatValue", text(name)));
    std::lock_guard<std::mutex> lock(mutex_);
    *value = floats_[text(name)];
    return true;
}

bool RecordingCamera::getStringValue(const char* name, char* buffer, int size) {
    record(call("getStringValue", text(name), size));
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string& value = strings_[text(name)];
    if (size <= 0) return false;
    const std::size_t length = std::min(value.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, value.data(), length);
    buffer[length] = '\0';
    return true;
}

bool RecordingCamera::setNodeElement(const char* node, const char* element, const char* value, bool append) {
    record(call("setNodeElement", text(node), text(element), text(value), append ? "true" : "false"));
    if (text(element) == "pIsLocked") {
        std::lock_guard<std::mutex> lock(mutex_);
        locks_[text(node)] = text(value);
    }
    return true;
}

bool RecordingCamera::setNodeElementAttribute(const char* node, const char* element, const char* elementText,
                                              const char* attribute, const char* attributeText) {
    record(call("setNodeElementAttribute", text(node), text(element), text(elementText), text(attribute),
                text(attributeText)));
    return true;
}

bool RecordingCamera::addEnumEntry(const char* enumName, const char* entryName, std::int64_t value) {
    record(call("addEnumEntry", text(enumName), text(entryName), value));
    return true;
}

bool RecordingCamera::setEnumEntryElement(const char* enumName, const char* entryName, const char* element,
                                          const char* value, bool append) {
    record(call("setEnumEntryElement", text(enumName), text(entryName), text(element), text(value),
                append ? "true" : "false"));
    return true;
}

bool RecordingCamera::removeNodeElement(const char* node, const char* element, int occurrence) {
    record(call("removeNodeElement", text(node), text(element), occurrence));
    return true;
}

bool RecordingCamera::setFloatRange(const char* name, float min, float max) {
    record(call("setFloatRange", text(name), min, max));
    std::lock_guard<std::mutex> lock(mutex_);
    floatRanges_[text(name)] = {min, max};
    return true;
}

bool RecordingCamera::setIntRange(const char* name, std::int64_t min, std::int64_t max, int increment) {
    record(call("setIntRange", text(name), min, max, increment));
    std::lock_guard<std::mutex> lock(mutex_);
    intRanges_[text(name)] = {min, max};
    return true;
}

bool RecordingCamera::setDescription(const char* name, const char* value) {
    record(call("setDescription", text(name), text(value)));
    return true;
}

bool RecordingCamera::setAccessMode(const char* name, std::uint16_t access) {
    record(call("setAccessMode", text(name), access));
    return true;
}

int RecordingCamera::getInterfaceCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(interfaces_.size());
}

bool RecordingCamera::getInterfaceAddress(int index, char buffer[16]) {
    std::lock_guard<std::mutex> lock(mutex_);
    buffer[0] = '\0';
    if (index < 0 || static_cast<std::size_t>(index) >= interfaces_.size()) return false;
    std::strncpy(buffer, interfaces_[static_cast<std::size_t>(index)].c_str(), 15);
    buffer[15] = '\0';
    return true;
}

bool RecordingCamera::isServerRunning() {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

void RecordingCamera::abortFrame(int stream) { record(call("abortFrame", stream)); }

int RecordingCamera::beginFrame(int stream) {
    record(call("beginFrame", stream));
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = RecordedFrame{};
    imagePartLength_ = -1;
    timestampGiven_ = false;
    return 0;
}

// The library's checks: the image part is exactly what Width, Height and the current PixelFormat describe,
// a point cloud needs a Coord3D format, and image and chunks together fit PayloadSize. Frames are described
// with the format the program last took.
std::int64_t RecordingCamera::frameFormatLocked() {
    if (heldFormat_) return *heldFormat_;
    const auto format = ints_.find("PixelFormat");
    return format == ints_.end() ? kMono8 : format->second;
}

std::int64_t RecordingCamera::payloadSizeLocked() {
    if (multipartParts_ > 0) {
        const bool chunks = chunkCount_ != 0 && ints_["ChunkModeActive"] != 0;
        return static_cast<std::int64_t>(multipartBytes_) + (chunks ? chunkBytes_ + 8 * std::int64_t{chunkCount_} : 0);
    }
    const std::int64_t image = std::int64_t{width_} * height_ * bytesPerPixel(frameFormatLocked());
    if (chunkCount_ == 0 || ints_["ChunkModeActive"] == 0) return image;
    return image + 8 + chunkBytes_ + 8 * std::int64_t{chunkCount_};
}

int RecordingCamera::checkFrame(std::int64_t imageBytes, bool pointCloud) {
    const std::int64_t code = frameFormatLocked();
    if (pointCloud && code != kCoord3dAbc16 && code != kCoord3dAbc32f) return 3;
    if (imagePartLength_ >= 0) imageBytes = imagePartLength_;
    if (imageBytes != std::int64_t{width_} * height_ * bytesPerPixel(code)) return 3;
    std::int64_t total = imageBytes;
    if (!pending_.chunks.empty()) {
        total += 8;
        for (const auto& chunk : pending_.chunks) total += static_cast<std::int64_t>(chunk.size()) + 8;
    }
    return total > payloadSizeLocked() ? 4 : 0;
}

int RecordingCamera::sendImage(const void* frame, std::int64_t byteCount, int stream) {
    runSendHook();
    record(call("sendImage", byteCount, stream));
    std::lock_guard<std::mutex> lock(mutex_);
    stampLocked();
    const std::int64_t derived =
        byteCount > 0 ? byteCount : std::int64_t{width_} * height_ * bytesPerPixel(frameFormatLocked());
    if (const int refused = checkFrame(derived, false); refused != 0) {
        ++refusedFrames_;
        return refused;
    }
    pending_.kind = "image";
    pending_.count = byteCount;
    if (imagePartLength_ > 0) {
        const auto* bytes = static_cast<const std::uint8_t*>(frame);
        pending_.image.assign(bytes, bytes + imagePartLength_);
    }
    frames_.push_back(pending_);
    return 0;
}

void RecordingCamera::setSendHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    sendHook_ = std::move(hook);
}

void RecordingCamera::runSendHook() {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hook = sendHook_;
    }
    if (hook) hook();
}

int RecordingCamera::sendPointCloud(const void* frame, std::int64_t pointCount, int stream) {
    runSendHook();
    record(call("sendPointCloud", pointCount, stream));
    std::lock_guard<std::mutex> lock(mutex_);
    stampLocked();
    if (const int refused = checkFrame(pointCount * bytesPerPixel(frameFormatLocked()), true); refused != 0) {
        ++refusedFrames_;
        return refused;
    }
    pending_.kind = "pointcloud";
    pending_.count = pointCount;
    if (imagePartLength_ > 0) {
        const auto* bytes = static_cast<const std::uint8_t*>(frame);
        pending_.image.assign(bytes, bytes + imagePartLength_);
    }
    frames_.push_back(pending_);
    return 0;
}

bool RecordingCamera::setMultipartOffered(bool offered) {
    record(call("setMultipartOffered", offered ? 1 : 0));
    return true;
}

bool RecordingCamera::setMultipartLayout(std::uint64_t partBytes, int partCount, int stream) {
    record(call("setMultipartLayout", static_cast<std::int64_t>(partBytes), partCount, stream));
    if (stream != 0 || partCount < 0 || partCount > 7) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    multipartBytes_ = partCount > 0 ? partBytes : 0;
    multipartParts_ = partCount;
    return true;
}

// Not logged: a query the bridge makes for every frame. The client here always takes multipart blocks.
bool RecordingCamera::multipartActive(int stream) {
    std::lock_guard<std::mutex> lock(mutex_);
    return stream == 0 && multipartParts_ > 0;
}

// As strict as the library: every part is exactly its width x height pixels, the block fits PayloadSize, and
// at most seven parts leave room for the chunk part.
int RecordingCamera::sendMultipart(const GevPart* parts, int partCount, int stream) {
    record(call("sendMultipart", partCount, stream));
    std::lock_guard<std::mutex> lock(mutex_);
    stampLocked();
    if (stream != 0) return 1;
    if (parts == nullptr || partCount <= 0 || partCount > 7) return 4;
    std::int64_t total = 0;
    pending_.kind = "multipart";
    pending_.count = partCount;
    pending_.parts.clear();
    pending_.partRecords.clear();
    for (int i = 0; i < partCount; ++i) {
        const GevPart& part = parts[i];
        if (part.data == nullptr || part.length == 0) return 4;
        if (part.length != std::uint64_t{part.width} * part.height * bytesPerPixel(part.pixelFormat)) {
            ++refusedFrames_;
            return 3;
        }
        const auto* bytes = static_cast<const std::uint8_t*>(part.data);
        pending_.parts.emplace_back(bytes, bytes + part.length);
        GevPart record = part;
        record.data = nullptr;
        pending_.partRecords.push_back(record);
        total += static_cast<std::int64_t>(part.length);
    }
    for (const auto& chunk : pending_.chunks) total += static_cast<std::int64_t>(chunk.size()) + 8;
    if (total > payloadSizeLocked()) {
        ++refusedFrames_;
        return 2;
    }
    frames_.push_back(pending_);
    return 0;
}

// Not logged: a query, which the bridge may make for every frame.
std::uint64_t RecordingCamera::getTimestamp() {
    std::lock_guard<std::mutex> lock(mutex_);
    return clockLocked();
}

void RecordingCamera::setFrameTimestamp(std::uint64_t ticks, int stream) {
    record(call("setFrameTimestamp", ticks, stream));
    if (stream != 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    givenTimestamp_ = ticks;
    timestampGiven_ = true;
}

void RecordingCamera::setActionCallback(void* context, GevActionCallback callback) {
    record("setActionCallback()");
    std::lock_guard<std::mutex> lock(mutex_);
    actionContext_ = context;
    action_ = callback;
}

bool RecordingCamera::addEvent(const char* name, std::uint16_t eventId, const char* dataFeature, const char* category) {
    record(call("addEvent", name, eventId, dataFeature != nullptr ? dataFeature : "", category));
    return name != nullptr && category != nullptr;
}

// Not logged: the bridge may send several per frame; sentEvents() lists them.
bool RecordingCamera::sendEvent(std::uint16_t eventId, std::uint64_t blockId, std::uint64_t ticks, std::uint32_t data) {
    std::lock_guard<std::mutex> lock(mutex_);
    sentEvents_.push_back({eventId, blockId, ticks, data});
    return true;
}

std::vector<RecordingCamera::SentEvent> RecordingCamera::sentEvents() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sentEvents_;
}

// Blocks are numbered 1, 2, ... in the order they were recorded.
std::uint64_t RecordingCamera::getLastBlockId(int stream) {
    std::lock_guard<std::mutex> lock(mutex_);
    return stream == 0 ? frames_.size() : 0;
}

std::uint64_t RecordingCamera::getUpcomingBlockId(int stream, int ahead) {
    std::lock_guard<std::mutex> lock(mutex_);
    return stream == 0 && ahead > 0 ? frames_.size() + static_cast<std::uint64_t>(ahead) : 0;
}

void RecordingCamera::setServerOptionA(int value) { record(call("setServerOptionA", value)); }
void RecordingCamera::setServerOptionB(int value) { record(call("setServerOptionB", value)); }
void RecordingCamera::setServerOptionC(int a, int b) { record(call("setServerOptionC", a, b)); }
void RecordingCamera::setServerOptionD(int value) { record(call("setServerOptionD", value)); }
void RecordingCamera::setServerOptionE(int a, int b) { record(call("setServerOptionE", a, b)); }
void RecordingCamera::setServerTimeouts(int a, int b) { record(call("setServerTimeouts", a, b)); }

void RecordingCamera::setReadCallback(void* context, GevRegisterCallback callback) {
    record("setReadCallback()");
    std::lock_guard<std::mutex> lock(mutex_);
    readContext_ = context;
    read_ = callback;
}

void RecordingCamera::setWriteCallback(void* context, GevRegisterCallback callback) {
    record("setWriteCallback()");
    std::lock_guard<std::mutex> lock(mutex_);
    writeContext_ = context;
    write_ = callback;
}

void RecordingCamera::setConnectionCallback(void* context, GevConnectionCallback callback) {
    record("setConnectionCallback()");
    std::lock_guard<std::mutex> lock(mutex_);
    connectionContext_ = context;
    connection_ = callback;
}

int RecordingCamera::addChunkData(const void*, const void* data, std::uint32_t length, std::uint32_t chunkId,
                                  int stream) {
    record(call("addChunkData", data == nullptr ? "null" : "data", length, chunkId, stream));
    std::lock_guard<std::mutex> lock(mutex_);
    if (data == nullptr) {
        imagePartLength_ = length;
    } else if (ints_["ChunkModeActive"] == 0) {
        return 0;  // chunk mode off: the library leaves chunk values out of the frame
    } else {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        pending_.chunks.emplace_back(bytes, bytes + length);
        pending_.chunkIds.push_back(chunkId);
    }
    return 0;
}

bool RecordingCamera::addPixelFormat(const char* name) {
    record(call("addPixelFormat", text(name)));
    return true;
}

bool RecordingCamera::setImageSize(std::uint16_t width, std::uint16_t height, int stream) {
    record(call("setImageSize", width, height, stream));
    std::lock_guard<std::mutex> lock(mutex_);
    width_ = width;
    height_ = height;
    return true;
}

bool RecordingCamera::setImageOffset(std::uint16_t x, std::uint16_t y, int stream) {
    record(call("setImageOffset", x, y, stream));
    return true;
}

bool RecordingCamera::setChunkLayout(std::uint16_t chunkBytes, std::uint16_t chunkCount, int stream) {
    record(call("setChunkLayout", chunkBytes, chunkCount, stream));
    std::lock_guard<std::mutex> lock(mutex_);
    if ((chunkCount_ == 0) != (chunkCount == 0)) ints_["ChunkModeActive"] = chunkCount > 0 ? 1 : 0;
    chunkBytes_ = chunkBytes;
    chunkCount_ = chunkCount;
    return true;
}

int RecordingCamera::getWidth(int) {
    std::lock_guard<std::mutex> lock(mutex_);
    return width_;
}

int RecordingCamera::getHeight(int) {
    std::lock_guard<std::mutex> lock(mutex_);
    return height_;
}

const char* RecordingCamera::getPixelFormatName(int value) {
    switch (value) {
        case kMono8: return "Mono8";
        case kMono16: return "Mono16";
        case kRgb16: return "RGB16";
        case kCoord3dAbc16: return "Coord3D_ABC16";
        case kCoord3dAbc32f: return "Coord3D_ABC32f";
        default: return "";
    }
}

int RecordingCamera::addIpAddress(const char* ip, const char* mask, const char* gateway) {
    record(call("addIpAddress", text(ip), text(mask), text(gateway)));
    return 0;
}

bool RecordingCamera::setMacAddress(const char* value) {
    record(call("setMacAddress", text(value)));
    return true;
}

bool RecordingCamera::setDeviceInfo(const char* vendor, const char* model, const char* version, const char* info,
                                    const char* serial) {
    record(call("setDeviceInfo", text(vendor), text(model), text(version), text(info), text(serial)));
    return true;
}

bool RecordingCamera::setUserDefinedName(const char* value) {
    record(call("setUserDefinedName", text(value)));
    return true;
}

CGevCamera* createCamera() { return new RecordingCamera; }
