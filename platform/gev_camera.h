// The GigE Vision device as the bridge sees it: one camera object whose features are addressed by name.
//
// The library behind this interface is a real GigE Vision device (GVCP control channel on UDP 3956,
// GVSP stream channel 0, a GenICam description generated from the declarations below). The bridge
// declares categories, features and computed nodes by name; the library gives every feature a register
// node named "reg" followed by the feature name, lays out the register map, writes the GenICam XML at
// startServer and serves both. A client's register read reaches the bridge through the read callback
// (before the value is encoded), a write through the write callback (after the value is stored).
//
// Conventions that hold for every operation:
// - Texts are NUL-terminated byte strings; a null text is treated as empty where a text is optional and
//   refused (result false / non-zero) where a name is required.
// - Declaration and value operations return true when they took effect and false when the named node
//   does not exist, the name is already taken, or an argument is out of its documented range. The bridge
//   ignores these results; tools and tests use them.
// - Every operation may be called from any thread. Callbacks are invoked on the library's control thread
//   with no library lock held, so a callback may call any operation here, the set*Value ones included.
#pragma once

#include <cstdint>

// Feature type codes of addFeature.
enum GevFeatureType : int {
    GevInteger = 1,
    GevCommand = 2,
    GevFloat = 3,
    GevString = 4,
    GevBoolean = 5,
    GevEnumeration = 7,
};

// Access codes of addFeature, addChunkFeature and setAccessMode.
enum GevAccess : std::uint16_t {
    GevReadOnly = 1,
    GevReadWrite = 3,
};

// Register access callbacks: the context given at registration and the feature's name. The result tells
// the library whether the access succeeded; false makes the library answer the client with an error
// status instead of the value (the bridge always answers true).
using GevRegisterCallback = bool (*)(void* context, const char* featureName);
// Control-channel callback: true when a client has taken control of the device, false when it released
// it or its heartbeat expired. Called once per change.
using GevConnectionCallback = void (*)(void* context, bool connected);
// Action callback: `actionIndex` 0 for the first action signal (ActionSelector 1, trigger source "Action1"),
// `actionTicks` the device time the action was meant for (its action time when scheduled, the moment it took
// effect otherwise).
using GevActionCallback = void (*)(void* context, int actionIndex, std::uint64_t actionTicks);

// What a part of a multipart block holds (sendMultipart); the values are the data types of the stream's part
// records.
enum GevPartDataType : std::uint16_t {
    GevPart2DImage = 0x0001,
    GevPart3DImage = 0x0005,
    GevPartConfidenceMap = 0x0009,
    // The chunk part the library adds at the end of a block; not for sendMultipart.
    GevPartChunkData = 0x000A,
};

// One part of a multipart block: `length` bytes at `data`, exactly width x height pixels of `pixelFormat`
// (a PFNC code), and the identifier of the component it shows. The library sends it as given: the part's
// record in the block's leader and trailer is made from these fields.
struct GevPart {
    const void* data = nullptr;
    std::uint64_t length = 0;
    std::uint32_t pixelFormat = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t dataType = GevPart2DImage;
    std::uint16_t componentId = 0;
};

class CGevCamera {
public:
    // 1. Stops the server if it runs and releases every resource of the device.
    virtual ~CGevCamera() = default;

    // 2. Brings the device online on `address` (dotted IPv4 text; empty or null: every IPv4 interface of
    //    the host). Writes the GenICam XML from the declarations made so far and opens the control port.
    //    Returns 0 when online; non-zero when the address is not a local address, the port is taken or the
    //    server is already running; nothing is left half started then.
    virtual int startServer(const char* address) = 0;
    //    Stops the control thread and any stream, frees the ports. Harmless when not running.
    virtual void stopServer() = 0;

    // 3. Declares a category under `parent` ("Root" for the top level).
    virtual bool addCategory(const char* name, const char* parent) = 0;

    // 4. Declares a feature of `type` (GevFeatureType) in `category` with `access` (GevAccess).
    //    `registerName`: name of the feature's register node; null gives "reg" followed by the name.
    //    `withRegister`: 1 gives the feature a register of its own (the bridge always passes 1);
    //    0 declares a feature whose value lives only in the library and is not reachable by clients.
    //    A GevCommand is executed by writing 1 (the write callback runs then) and reads 0 once the write was
    //    answered; it takes GevReadWrite, no register name and a register of its own.
    virtual bool addFeature(int type, const char* name, const char* category, std::uint16_t access,
                            const char* registerName, std::uint16_t withRegister) = 0;

    // 5. Declares a computed node of GenICam kind `nodeType` ("IntSwissKnife") in `category`; its formula
    //    and variables are given as elements. `reserved` must be 0.
    virtual bool addNode(const char* nodeType, const char* name, const char* category, std::uint16_t reserved) = 0;
    //    Declares the category that holds the chunk features (under "Root").
    virtual bool addChunkCategory(const char* name) = 0;
    //    Declares an integer chunk feature whose value travels in every frame as the chunk `chunkId`,
    //    `length` bytes big-endian (4 or 8). Also adds an entry to ChunkSelector, named after the feature
    //    without its "Chunk" prefix, whose value is the chunk's position among the chunk features (0 first).
    //    `description`: tool-tip text, null for none.
    virtual bool addChunkFeature(std::uint32_t chunkId, const char* name, const char* category, std::uint16_t access,
                                 std::uint32_t length, const char* description) = 0;

    // 6. Values. A set* call changes what a client reads next; a get* call gives what a client last wrote
    //    (or what was last set). Integers, booleans (0/1) and enumerations (the entry's value) use the
    //    integer operations.
    virtual bool setIntValue(const char* name, std::int64_t value) = 0;
    virtual bool setFloatValue(const char* name, float value) = 0;
    virtual bool setStringValue(const char* name, const char* value) = 0;
    //    Makes the entry `entryName` the current value of the enumeration `name`.
    virtual bool setEnumValue(const char* name, const char* entryName) = 0;
    virtual bool getIntValue(const char* name, std::int64_t* value) = 0;
    virtual bool getFloatValue(const char* name, float* value) = 0;
    //    Copies the value, NUL-terminated and cut to fit, into `buffer` of `size` bytes.
    virtual bool getStringValue(const char* name, char* buffer, int size) = 0;

    // 7. Adds a GenICam element to the node `node` (a feature, its register node, a category or a
    //    computed node): <element>text</element>. `append` true adds a further element of that name after
    //    the existing ones (for elements that may repeat: pSelected, pInvalidator, pIsAvailable, ...);
    //    false replaces an existing element of that name, or adds it when there is none.
    virtual bool setNodeElement(const char* node, const char* element, const char* text, bool append) = 0;
    //    Gives the element `element` of `node` whose text is `elementText` the attribute
    //    `attribute`="`attributeText`"; the element is added first when it does not exist.
    virtual bool setNodeElementAttribute(const char* node, const char* element, const char* elementText,
                                         const char* attribute, const char* attributeText) = 0;

    // 8. Adds an entry to the enumeration `enumName`.
    virtual bool addEnumEntry(const char* enumName, const char* entryName, std::int64_t value) = 0;
    //    As setNodeElement, for one entry of an enumeration.
    virtual bool setEnumEntryElement(const char* enumName, const char* entryName, const char* element, const char* text,
                                     bool append) = 0;
    //    Removes an element of `node` that the library writes by default (for example the literal "Min"
    //    and "Max" of a float, replaced by pMin/pMax). `occurrence`: which one of several, 0 for the first.
    virtual bool removeNodeElement(const char* node, const char* element, int occurrence) = 0;

    // 9. Limits, description and access.
    virtual bool setFloatRange(const char* name, float min, float max) = 0;
    virtual bool setIntRange(const char* name, std::int64_t min, std::int64_t max, int increment) = 0;
    virtual bool setDescription(const char* name, const char* text) = 0;
    virtual bool setAccessMode(const char* name, std::uint16_t access) = 0;

    // 10. The host's network interfaces that carry an IPv4 address, in a stable order; `buffer` receives
    //     the interface's main IPv4 address as dotted text (at most 15 characters and the NUL). Index out of
    //     range: false and an empty text.
    virtual int getInterfaceCount() = 0;
    virtual bool getInterfaceAddress(int index, char buffer[16]) = 0;
    virtual bool isServerRunning() = 0;

    // 11. Frames on stream channel `stream` (only 0 exists), built and sent on the caller's thread.
    //     beginFrame starts a new frame: it forgets the chunk parts of the previous one.
    virtual int beginFrame(int stream) = 0;
    //     Sends `frame` as one image block: the image part (declared with addChunkData, or the whole
    //     current image size in the current pixel format) followed by the chunks added since beginFrame.
    //     `byteCount`: bytes of image data in `frame`, 0 to derive it from the image size and pixel format.
    //     Returns 0 when the frame was sent, or dropped because no client has configured a stream
    //     destination; non-zero when it is refused (larger than the declared payload, no such stream).
    virtual int sendImage(const void* frame, std::int64_t byteCount, int stream) = 0;
    //     As sendImage for a 3D frame of `pointCount` points in the current Coord3D pixel format.
    virtual int sendPointCloud(const void* frame, std::int64_t pointCount, int stream) = 0;
    //     Ends the frame being sent on `stream` now, from any thread (an acquisition stop): its remaining
    //     packets, paced by the client's packet delay, are not sent, and the send returns 0.
    virtual void abortFrame(int stream) = 0;

    // 12. Start-up settings, given once before startServer.
    //     A: answer broadcast discovery (1) or only unicast discovery (0).
    virtual void setServerOptionA(int answerBroadcastDiscovery) = 0;
    //     B: keep recent frames for packet resend requests (1) or not (0).
    virtual void setServerOptionB(int keepFramesForResend) = 0;
    //     C: heartbeat enforcement (1: a controlling client that misses its heartbeat loses control) and
    //        the heartbeat time-out in ms to start with (0: the standard 3000 ms).
    virtual void setServerOptionC(int enforceHeartbeat, int heartbeatTimeoutMs) = 0;
    //     D: call the read callback before every register read of a feature (1) or never (0).
    virtual void setServerOptionD(int callReadCallback) = 0;
    //     E: answer with PENDING_ACK while a callback runs longer than the client's ack time-out (1) or not
    //        (0), and the extended ack time announced in PENDING_ACK in ms (0: the library's default).
    virtual void setServerOptionE(int sendPendingAck, int pendingAckTimeMs) = 0;
    //     The longest a register callback may keep a client waiting before the library gives up on it and
    //     answers BUSY, and the longest sendImage/sendPointCloud may block on the network, both in ms.
    virtual void setServerTimeouts(int callbackLimitMs, int sendLimitMs) = 0;
    virtual void setReadCallback(void* context, GevRegisterCallback callback) = 0;
    virtual void setWriteCallback(void* context, GevRegisterCallback callback) = 0;
    virtual void setConnectionCallback(void* context, GevConnectionCallback callback) = 0;

    // 13. Adds a part to the current frame. `data` null declares the image part: `length` bytes at the
    //     start of the frame buffer. Otherwise `data` holds `length` bytes (a multiple of 4) of the chunk
    //     `chunkId`, copied now. Returns 0, or non-zero when the frame has no room for it.
    virtual int addChunkData(const void* frame, const void* data, std::uint32_t length, std::uint32_t chunkId,
                             int stream) = 0;

    // 14. Offers one more pixel format in PixelFormat by its PFNC name ("Mono16", "RGB16", ...); false for
    //     a name the library does not know.
    virtual bool addPixelFormat(const char* name) = 0;
    virtual bool setImageSize(std::uint16_t width, std::uint16_t height, int stream) = 0;
    virtual bool setImageOffset(std::uint16_t x, std::uint16_t y, int stream) = 0;
    //     Chunk data per frame (`chunkBytes` of chunk values, `chunkCount` chunks); PayloadSize follows.
    virtual bool setChunkLayout(std::uint16_t chunkBytes, std::uint16_t chunkCount, int stream) = 0;

    // 15. The image size set with setImageSize; -1 for an unknown stream.
    virtual int getWidth(int stream) = 0;
    virtual int getHeight(int stream) = 0;
    //     The PFNC name of a pixel format code; "" for an unknown code. The text lives as long as the camera.
    virtual const char* getPixelFormatName(int value) = 0;

    // 16. Adds `ip` with `mask` to the host's interface that holds an address of the same network, or to
    //     the first interface when none does; `gateway` "0.0.0.0" adds no route. Returns 0 on success,
    //     otherwise non-zero with the reason on standard error (administrator rights are needed).
    virtual int addIpAddress(const char* ip, const char* mask, const char* gateway) = 0;
    //     The MAC address served in the bootstrap registers, as text "aa:bb:cc:dd:ee:ff" (or with "-").
    virtual bool setMacAddress(const char* text) = 0;
    virtual bool setDeviceInfo(const char* vendor, const char* model, const char* version, const char* info,
                               const char* serial) = 0;
    virtual bool setUserDefinedName(const char* text) = 0;

    // 17. Multipart blocks on stream channel `stream` (only 0 exists).
    //     Offers multipart in the stream channel's capabilities; given once before startServer.
    virtual bool setMultipartOffered(bool offered) = 0;
    //     The program offers blocks of `partCount` image parts of `partBytes` bytes in total (sendMultipart),
    //     or single images when `partCount` is 0 (sendImage, sendPointCloud).
    virtual bool setMultipartLayout(std::uint64_t partBytes, int partCount, int stream) = 0;
    //     Whether the blocks sent now are multipart: the program offers parts (setMultipartLayout) and the
    //     client enabled multipart (GevSCCFGMultiPartEnabled) and extended ids (GevGVSPExtendedIDMode), which
    //     a multipart leader needs for its part count. PayloadSize follows the same answer: the parts and the
    //     chunk part when it is true, the single image in PixelFormat with its chunks when it is false. A
    //     program asks before each frame and sends the image a client without multipart expects otherwise.
    virtual bool multipartActive(int stream) = 0;
    //     Sends the parts of one trigger as one multipart block, the chunks added since beginFrame in a chunk
    //     part at its end. When the blocks are not multipart (multipartActive), the part in PixelFormat and
    //     the image size goes out alone as an image block with the chunks, as sendImage would send it, and
    //     without such a part the frame is refused (size mismatch). Results as sendImage; at most 7 parts.
    virtual int sendMultipart(const GevPart* parts, int partCount, int stream) = 0;

    // 18. Device clock and actions.
    //     The device clock now, in ticks of GevTimestampTickFrequency (1 GHz).
    virtual std::uint64_t getTimestamp() = 0;
    //     The timestamp the next block sent on `stream` carries in its leader instead of the moment it is sent
    //     (for example the moment the sensor was triggered); beginFrame forgets it.
    virtual void setFrameTimestamp(std::uint64_t ticks, int stream) = 0;
    //     Called on a library thread (never the caller's, never with a library lock held) each time an action
    //     command for one of the device's action signals takes effect; at the action time for a scheduled one.
    virtual void setActionCallback(void* context, GevActionCallback callback) = 0;

    // 19. Events on the message channel: the one the controlling client configured (GevMCDA, GevMCPHostPort),
    //     closed when control is lost.
    //     Declares an event the device may send, before startServer: an entry `name` of EventSelector whose
    //     EventNotification (Off until a client switches it On) decides whether it is sent, and the data
    //     features a GenICam client reads once the event has arrived: Event<name> (the event id),
    //     Event<name>Timestamp and Event<name>FrameID, in `category`. `dataFeature` (null for none) names one
    //     more integer data feature: the event then goes out as EVENTDATA with 4 data bytes (big-endian).
    //     `eventId`: from 0x9000 up for the device's own events.
    virtual bool addEvent(const char* name, std::uint16_t eventId, const char* dataFeature, const char* category) = 0;
    //     Queues the event `eventId` for the message channel and returns at once, never waiting for the network
    //     or an acknowledge. `blockId`: the block the event belongs to (0 for none); `ticks`: the device time it
    //     happened; `data`: the value of its data feature (ignored without one). True when queued; false when its
    //     notification is Off, no channel is open, or the bounded queue is full (the event then counts as
    //     dropped, as does one whose retries are spent without an acknowledge: EventDroppedCount).
    virtual bool sendEvent(std::uint16_t eventId, std::uint64_t blockId, std::uint64_t ticks, std::uint32_t data) = 0;
    //     The block id of the last block sent on `stream`, 0 before the first.
    virtual std::uint64_t getLastBlockId(int stream) = 0;
    //     The block id the `ahead`-th block sent from now on `stream` will carry (1: the next one), counted as
    //     the stream channel counts ids now (16-bit ids wrap to 1, 64-bit ids do not); 0 for another stream.
    virtual std::uint64_t getUpcomingBlockId(int stream, int ahead) = 0;
};

// Creates a new device. The caller owns it and releases it with delete. Never null.
CGevCamera* createCamera();
