// The sensor SDK: seven C functions that reach a Corvastrum 3D sensor over the network.
//
// Every function but Tavrion_Connect takes the handle returned by Tavrion_Connect. All of them may be
// called from several threads at once with the same handle. No call waits forever: a sensor that stops
// answering makes the calls fail with TAVRION_ERR_TIMEOUT or TAVRION_ERR_LINK_DOWN.
#pragma once

#include <cstdint>

// Result codes. 0 is success; every failure is negative.
enum : std::int32_t {
    TAVRION_OK = 0,
    TAVRION_ERR_LINK_DOWN = -101,               // the connection is closed, reset or was never made
    TAVRION_ERR_TIMEOUT = -102,                 // the sensor did not answer within the call's time limit
    TAVRION_ERR_BUFFER_TOO_SMALL = -103,        // the reply does not fit the caller's buffer; nothing written
    TAVRION_ERR_BAD_ARGUMENT = -104,            // null handle or pointer, over-long text, size that does not fit
    TAVRION_ERR_DATABASE_NOT_AVAILABLE = -105,  // "SetLoadSdb": no database for this sensor in the folder
    TAVRION_ERR_UNKNOWN_COMMAND = -106,         // the sensor does not know the command
    TAVRION_ERR_VALUE_REFUSED = -107,           // malformed value, or a value outside the setting's range
    TAVRION_ERR_NOT_READY = -108,               // data asked for before acquisition start and trigger
    TAVRION_ERR_PROTOCOL = -109,                // the sensor answered something that breaks the protocol
    TAVRION_ERR_IO = -110,                      // a local file operation (database folder) failed
};

// Bits of the status word of Tavrion_GetSensorStatus.
enum : std::int32_t {
    TAVRION_STATUS_LINK_ALIVE = 1,
    TAVRION_STATUS_DATABASE_LOADED = 2,
    TAVRION_STATUS_NO_DATA = 8,  // no data in this acquisition cycle
};

// Longest command text, without its NUL.
constexpr int kTavrionMaxCommandLength = 1023;

extern "C" {

// Opens a connection to the sensor at `address` (dotted IPv4 text) and `port` (decimal text, "32001").
// `flags` must be 0. Returns the connection handle, or null when the sensor cannot be reached.
void* Tavrion_Connect(const char* address, const char* port, std::int32_t flags);

// Closes the connection and frees the handle. Calls still running on other threads fail with
// TAVRION_ERR_LINK_DOWN; the handle must not be used after this returns.
std::int32_t Tavrion_Disconnect(void* handle);

// Stores the sensor's status word in `status`: TAVRION_STATUS_LINK_ALIVE clear when the link is lost, that is
// when the connection was closed or reset or the sensor has not answered for 3 seconds (then the result is
// still 0 unless the arguments are bad). A sensor that is silent for less fails the call with
// TAVRION_ERR_TIMEOUT and leaves `status` untouched. Answers within one second in every case and
// never waits behind a data transfer of another thread.
std::int32_t Tavrion_GetSensorStatus(void* handle, std::int32_t* status);

// Sends a command text ("SetGain=2.500000", "SetTriggerSoftware", ...). `flags` must be 0.
// "SetSdbPath=<folder>" names the folder of the sensor database; "SetLoadSdb" loads the database file
// of this sensor from that folder (TAVRION_ERR_DATABASE_NOT_AVAILABLE when it is not there);
// "SetLoadSdbFromSensor" downloads it from the sensor into the folder first.
std::int32_t Tavrion_WriteData(void* handle, const char* command, std::int32_t flags);

// Sends a query ("GetXmlDescriptor", "GetTemperature") and stores the NUL-terminated reply text in
// `reply` of `replySize` bytes. `flags` must be 0. "GetSdbDownloadProgress" is answered without the sensor,
// from another thread while "SetLoadSdbFromSensor" runs: "<bytes received>/<total bytes>" ("0/0" before the
// sensor has announced the size).
std::int32_t Tavrion_ReadData(void* handle, const char* command, char* reply, std::int32_t replySize,
                              std::int32_t flags);

// Fetches the point cloud of the last software trigger. `buffers` is the address of two consecutive
// pointers: the first to room for three 64-bit floats (X, Y, Z in mm) per pixel, the second to one
// unsigned 16-bit intensity per pixel. `size` is their total, 26 bytes per pixel of the sensor's full
// resolution. The two reserved arguments must be 0.
std::int32_t Tavrion_GetPointCloud(void* handle, void* buffers, std::int32_t size, std::int32_t reserved1,
                                   std::int32_t reserved2);

// Fetches one 8-bit camera image, one byte per pixel of the sensor's full resolution, into `image` of
// `size` bytes. The two reserved arguments must be 0.
std::int32_t Tavrion_GetCameraImage(void* handle, std::uint8_t* image, std::int32_t size, std::int32_t reserved1,
                                    std::int32_t reserved2);

}  // extern "C"
