// The bridge object: everything that lives for the whole run, between the sensor (reached through the
// sensor SDK) and the GigE Vision clients (reached through the camera object of the device library).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device_events.h"
#include "gev_camera.h"
#include "os.h"
#include "trigger_gate.h"
#include "user_set_file.h"

// One chunk of the frames' chunk data.
struct ChunkEntry {
    std::string name;
    std::uint32_t address = 0;  // chunk identifier on the wire
    bool enabled = false;
};

// Scaling and limits of one 3D coordinate axis, as the device advertises them.
struct CoordinateInfo {
    float scale = 0.0f;
    float offset = 0.0f;
    bool invalidDataFlag = false;
    float invalidDataValue = 0.0f;
    float axisMin = 0.0f;
    float axisMax = 0.0f;
};

// One adjustable property of a sensor filter.
struct FilterProperty {
    std::string name;     // the command text from its seventh character on
    std::string command;  // sent with "=" and the value appended
    float current = 0.0f;
    float min = 0.0f;
    float max = 0.0f;
};

// One filter of the sensor.
struct FilterEntry {
    std::string name;     // the command text from its seventh character on
    std::string command;  // sent with "=1" or "=0" appended
    bool enabled = false;
    FilterProperty properties[3];
};

constexpr std::size_t kDescriptorBufferSize = 132000;
constexpr std::size_t kChunkCount = 10;
constexpr std::size_t kFilterCount = 6;
constexpr std::size_t kPropertiesPerFilter = 3;
constexpr std::uint32_t kTemperatureChunkId = 0xFFFFF0;

// PropertySelector entries, numbered across the filters: the filter of each and the property within it.
struct PropertyOwner {
    std::size_t filter;
    std::size_t property;
};
constexpr std::size_t kPropertySelectorCount = 10;
constexpr PropertyOwner kPropertyOwners[kPropertySelectorCount] = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {3, 1},
                                                                   {3, 2}, {4, 0}, {5, 0}, {5, 1}, {5, 2}};

// The image components of one trigger, in ComponentSelector order. The identifier is what a multipart
// block's part carries and ComponentIDValue reports; 0 is left out so it never looks like a single-part image.
struct ComponentInfo {
    const char* name;
    std::uint16_t id;
};
constexpr std::size_t kComponentCount = 3;
constexpr std::size_t kRangeComponent = 0;
constexpr std::size_t kIntensityComponent = 1;
constexpr std::size_t kConfidenceComponent = 2;
constexpr ComponentInfo kComponents[kComponentCount] = {{"Range", 1}, {"Intensity", 2}, {"Confidence", 3}};
// AcquisitionMultiPartMode values: one image per block in PixelFormat, or every enabled component of one
// trigger in one multipart block (stream/multipart_frame.h).
constexpr std::uint16_t kMultiPartSingleComponent = 0;
constexpr std::uint16_t kMultiPartSynchronizedComponents = 1;

// The frame-start trigger (TriggerSelector has the one entry FrameStart). TriggerSource values: Software, then
// one per action signal of the device, "Action1" for the first.
constexpr std::uint16_t kTriggerModeOn = 1;
constexpr std::uint16_t kTriggerSourceSoftware = 0;
constexpr std::uint16_t kTriggerSourceAction1 = 1;
constexpr std::uint16_t kTriggerActionSources = 4;
// The longest TriggerDelay, in microseconds: ten seconds.
constexpr float kMaxTriggerDelayUs = 10.0e6f;

// Where the acquisition stands between the client's commands and the acquisition thread; the drawing of the
// states and their changes is in bridge/acquisition_control.cpp.
enum class AcquisitionState : std::uint8_t { Idle, Starting, Running, Stopping };

// The acquisition loop's clock and pauses. The program uses the steady clock and real sleeps; tests step
// both by hand instead of waiting.
struct LoopTime {
    std::chrono::steady_clock::time_point (*now)() = [] { return std::chrono::steady_clock::now(); };
    void (*pauseMs)(std::uint32_t milliseconds) = &os::sleepMs;
};

class CMainClass {
public:
    CMainClass();
    ~CMainClass();
    CMainClass(const CMainClass&) = delete;
    CMainClass& operator=(const CMainClass&) = delete;

    // Start-up and console (bridge/).
    void collectInterfaceAddresses();
    void printHelp();
    void printInterfaceList();
    void enableConsoleLog();
    void setDebugFilePath(std::string path);
    bool isSensorLost();
    // `userName` (option -u, empty: none) names the device for this run instead of the stored DeviceUserID.
    bool connectSensor(std::string sensorAddress, std::string userName);
    bool openDebugFile();
    void onClientConnection(bool connected);

    // Sensor requests (bridge/sensor_commands.cpp). A command answers the SDK's code and reports a failure in
    // the trace; the temperature read updates sensorTemperature, which keeps its last good value on a failure.
    std::int32_t sendSensorCommand(const std::string& command);
    void readSensorTemperature();

    // Acquisition hand-over (bridge/acquisition_control.cpp, which draws the states). Client side: a start
    // is refused (false) when the acquisition cannot run at all or the sensor refused to start; a stop may
    // wait until the sensor stopped. Active: any state but Idle.
    bool requestAcquisitionStart();
    void requestAcquisitionStop(bool waitUntilStopped);
    void awaitAcquisitionStop();                // until the sensor stopped or a later command changed the course
    AcquisitionState acquisitionState() const;  // a snapshot, read without waiting for the hand-over
    bool isAcquisitionActive() const;
    bool isAcquisitionStartPending() const;
    bool isAcquisitionStopPending() const;
    // Acquisition-thread side: wait for a start (false: the thread must end), ask whether the acquisition it
    // holds is to end (the client stopped or left, or the program ends; cheap enough to ask before every
    // step), report the end of an acquisition after the sensor was told to stop, or turn starts down while
    // no acquisition can run.
    bool takeAcquisitionStart();
    // The sensor's answer to the start just taken; a refused start ends the acquisition before it ran.
    void sensorStartAnswered(bool accepted);
    bool shouldStopAcquisition() const;
    void acquisitionEnded(bool singleFrameDone);
    bool refuseAcquisitionStart();
    void setAcquisitionLoopPresent(bool present);
    // Frame-start triggers (bridge/frame_trigger.cpp): a trigger from `source` meant for device time `ticks`
    // (a TriggerSoftware write, an action signal) starts one capture when TriggerMode is On with that
    // source and an acquisition runs; false when it starts none. Called on the device library's threads.
    bool offerTrigger(std::uint16_t source, std::uint64_t ticks);
    bool isTriggerModeOn();
    // Events for the client's message channel (bridge/device_events.cpp), from any thread: queued, never
    // waited for. A temperature read notes the value, which sends DeviceTemperatureExceeded once per rise
    // above temperatureThreshold.
    void sendDeviceEvent(DeviceEvent event, std::uint64_t blockId, std::uint32_t data = 0);
    void noteSensorTemperature(std::uint16_t degrees);
    // Bring-up: no acquisition, nothing asked for.
    void resetAcquisitionState();
    // Shut-down: ends the acquisition thread wherever it is.
    void shutDownAcquisition();

    // Device description and server start (device/).
    bool startDeviceServer(std::string serverAddress, std::int32_t interfaceIndex);

    // Settings record (settings/).
    bool parseSensorDescriptor(const char* descriptor);
    // User sets and DeviceUserID (settings/user_sets.cpp), kept in a file per sensor serial beside the sensor
    // database. At start-up, before the server is online: read the file, name the device and load the set
    // UserSetDefault names, saying on the console which one or why none. Loading writes each setting as a
    // client's write; false, with the setting named on the console, when one is refused. Saving stores the
    // current values; false when the set is Default or the file cannot be written.
    void restoreUserSettings();
    bool loadUserSet(std::size_t set);
    bool saveUserSet(std::size_t set);
    bool storeUserSetDefault(std::size_t set);
    bool storeDeviceUserId(const std::string& name);

    // Register callbacks (registers/).
    bool onRegisterRead(const char* featureName);
    bool onRegisterWrite(const char* featureName);
    void refreshSettingsIfStale();
    void applyCoordinateScaling();
    bool applyChunkEnable(std::int64_t value);  // false: refused
    bool applyFilterMode(std::int64_t value);   // false: refused or the sensor failed

    // Frame conversions (stream/).
    void convertPointsToU16(std::int32_t width, std::int32_t height, bool noData, const double* points,
                            std::uint16_t* output);
    void convertPointsToFloat(std::int32_t width, std::int32_t height, bool noData, const double* points,
                              float* output);

    // Debug trace: to the debug file when logToFile, then to standard error when logToConsole. Each message
    // is written whole, also when several threads trace at once.
    void trace(const std::string& message);
    // A message that always goes to standard error, written whole.
    void printError(const std::string& message);
    // A message that goes to the debug file (when open) and always to standard error.
    void printErrorAndLog(const std::string& message);
    // A message for the debug file only, written when logToFile.
    void writeToDebugFile(const std::string& message);

    // Members, in their order of declaration. Which thread may touch them when is said per group; the groups
    // marked "guarded by" are read and written only with that mutex held once the worker threads run.

    // Set up before the worker threads start and only read while they run.
    std::unique_ptr<CGevCamera> camera;
    void* sensorHandle = nullptr;
    std::unique_ptr<std::thread> acquisitionThread;
    std::unique_ptr<std::thread> watchdogThread;
    // Read by the worker threads without a lock; shutDownAcquisition sets it with acquisitionMutex_ held.
    std::atomic<bool> stopThreads{false};
    // The settings refresh: on the server's callback thread once the server is up, before that at connect.
    std::uint32_t lastSettingsUpdateTick = 0;
    std::atomic<bool> settingsRefreshRequested{false};
    char xmlDescriptor[kDescriptorBufferSize] = {};
    // The debug file is opened before the worker threads start; after that it is written only with
    // outputMutex held.
    std::atomic<bool> logToFile{false};
    std::atomic<bool> logToConsole{false};
    std::string debugFilePath;
    std::ofstream debugFile;
    // guarded by stateMutex, from here to roiHeight except the atomic sensorTemperature
    ChunkEntry chunks[kChunkCount];
    CoordinateInfo coordinates[3];
    FilterEntry filters[kFilterCount];
    std::uint16_t filterSelector = 0;
    std::uint16_t propertySelector = 0;
    std::uint16_t propertyIndex = 0;
    std::uint16_t coordinateSelector = 0;
    std::uint16_t stackAcquisitionModeCurrent = 0;
    std::uint16_t stackAcquisitionModeMin = 0;
    std::uint16_t stackAcquisitionModeMax = 0;
    std::uint16_t chunkSelector = 0;
    std::uint16_t chunkPayloadSize = 0;
    std::uint16_t enabledChunkCount = 0;
    // Multipart: the selected component, which components a synchronized block carries, and the mode.
    std::uint16_t componentSelector = 0;
    bool componentEnabled[kComponentCount] = {true, true, true};
    std::uint16_t multiPartMode = kMultiPartSingleComponent;
    std::uint16_t acquisitionMode = 0;
    std::uint16_t triggerSelector = 0;
    std::uint16_t triggerMode = 0;
    std::uint16_t triggerSource = kTriggerSourceSoftware;
    float triggerDelayUs = 0.0f;
    std::string maskPath;
    std::string pixelFormat;
    // guarded by stateMutex: the settings record, which a refresh writes and the register reads answer from
    std::uint16_t pixelXMax = 0;
    std::uint16_t pixelYMax = 0;
    double workingRangeZStart = 0.0;
    double measuringRangeZ = 0.0;
    double measuringRangeY = 0.0;
    double measuringRangeX = 0.0;
    double scale16X = 0.0;
    double scale16Y = 0.0;
    double scale16Z = 0.0;
    float exposureTimeCurrent = 0.0f;
    float exposureTimeMin = 0.0f;
    float exposureTimeMax = 0.0f;
    std::int32_t gainMax = 0;
    std::int32_t gainMin = 0;
    std::int32_t gainCurrent = 0;
    std::int32_t ledPowerCurrent = 0;
    std::int32_t ledPowerMin = 0;
    std::int32_t ledPowerMax = 0;
    std::atomic<std::uint16_t> sensorTemperature{0};  // atomic: no lock
    // DeviceTemperatureThreshold in degrees Celsius (0: none), and whether the last reading was above it.
    std::atomic<std::int32_t> temperatureThreshold{0};
    std::atomic<bool> temperatureAboveThreshold{false};
    std::string serialNumber;
    std::string macAddress;
    std::string orderNumber;
    std::string description;
    std::string producer;
    std::string productVersion;
    std::string hardwareVersion;
    std::string firmwareVersion;
    std::string userDefinedName;
    // UserSetSelector and UserSetDefault, as indexes of kUserSetNames.
    std::uint16_t userSetSelector = 0;
    std::uint16_t userSetDefault = 0;
    std::uint16_t roiOffsetX = 0;
    std::uint16_t roiOffsetY = 0;
    std::uint16_t roiWidth = 0;
    std::uint16_t roiHeight = 0;
    // Collected at start-up, before the worker threads.
    std::vector<std::string> interfaceAddresses;
    // Whether option -u named the device for this run.
    bool userNameFromOption = false;
    std::atomic<bool> sensorLost{false};

    // Guards the plain state that the server's callback thread, a settings refresh and the acquisition
    // thread share, the members marked "guarded by stateMutex" above. Held only for short copies and
    // updates, never across a call into the sensor SDK, the device library or the file system. Before the
    // server is up only the main thread runs, and bring-up reads them without it.
    std::mutex stateMutex;

    // The millisecond tick source of the refresh rule and the settings stamp; tests step it by hand.
    std::uint32_t (*tickSource)() = &os::tickCountMs;
    // The acquisition loop's clock and pauses; set before the server starts.
    LoopTime loopTime;
    // Triggers waiting for the acquisition loop; armed while an acquisition is wanted (acquisition_control.cpp).
    TriggerGate triggerGate;

private:
    void changeAcquisitionState(AcquisitionState state);  // with acquisitionMutex_ held

    std::mutex outputMutex;  // keeps trace and console messages whole; guards debugFile

    // The user set file (settings/user_sets.cpp): what it holds, where it is, and whether a failure to write it
    // was already reported. Guarded by userSetMutex_, which is held across the file's writes and never taken
    // inside stateMutex.
    bool writeUserSetFileLocked(const UserSetFile& file);
    std::mutex userSetMutex_;
    UserSetFile userSetFile_;
    std::string userSetFolder_;    // the program's folder, with its separator
    std::string userSetFileName_;  // empty until start-up found the sensor's serial
    bool userSetStorageReported_ = false;
    // The values at start-up before any set was loaded: what loading Default brings back.
    UserSetValues defaultValues_;

    // The acquisition hand-over (acquisition_control.cpp). acquisitionChanged_ is notified on every change of
    // the members below and at shut-down.
    std::mutex acquisitionMutex_;
    std::condition_variable acquisitionChanged_;
    // Written only with acquisitionMutex_ held; atomic so that the acquisition thread and the register reads
    // can look at it without the lock.
    std::atomic<AcquisitionState> acquisitionState_{AcquisitionState::Idle};
    // guarded by acquisitionMutex_: one more for every start and stop command; the command serial of the start
    // the acquisition thread took last, of the last one the sensor answered and of the last one it refused;
    // whether there is an acquisition thread to wait for.
    std::uint64_t acquisitionCommandSerial_ = 0;
    std::uint64_t acquisitionTakenSerial_ = 0;
    std::uint64_t acquisitionAnsweredSerial_ = 0;
    std::uint64_t acquisitionRefusedSerial_ = 0;
    bool acquisitionLoopPresent_ = false;
};

// Thread functions, given the bridge's address.
void acquisitionLoop(void* bridge);
void sensorWatchdog(void* bridge);
