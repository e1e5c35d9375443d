// A sensor SDK for unit tests: the seven Tavrion_ functions answer from a script that a test sets up, and
// every command text and call is captured in order.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class ScriptedSensor {
public:
    // The one instance behind the C functions.
    static ScriptedSensor& instance();

    // Back to the defaults: connect succeeds, status 3 (link alive, database loaded), every command 0 unless
    // the sensor would refuse it (a setting outside the descriptor's range, a trigger while not acquiring),
    // "GetTemperature" answers "35", "GetXmlDescriptor" answers an empty text, no calls captured.
    void reset();

    void failConnect(bool fail);
    // Result codes for a command text (WriteData or ReadData), used in order; the last one repeats.
    void scriptResult(const std::string& command, std::vector<std::int32_t> codes);
    // (code, status word) answers of GetSensorStatus, used in order; the last one repeats. A failed read
    // leaves the caller's word untouched.
    void scriptStatus(std::vector<std::pair<std::int32_t, std::int32_t>> answers);
    void setReply(const std::string& command, const std::string& reply);
    // Fill the buffers of a successful GetPointCloud / GetCameraImage (pixel count = size / 26 or size).
    void setPointCloudSource(std::function<void(double* points, std::uint16_t* mono, std::size_t pixels)> source);
    void setCameraImageSource(std::function<void(std::uint8_t* image, std::size_t pixels)> source);
    void setFetchResult(std::int32_t pointCloudCode, std::int32_t cameraImageCode);

    // Captured: "WriteData <text>", "ReadData <text>", "GetSensorStatus", "GetPointCloud <size>",
    // "GetCameraImage <size>", "Connect <address> <port>", "Disconnect".
    std::vector<std::string> calls();
    void clearCalls();
    // Only the command texts of WriteData, in order.
    std::vector<std::string> commands();
    int count(const std::string& call);
    void* handle() const;

    // Used by the C functions.
    void* connect(const char* address, const char* port);
    std::int32_t disconnect(void* handle);
    std::int32_t status(std::int32_t* word);
    std::int32_t write(const char* command);
    std::int32_t read(const char* command, char* reply, std::int32_t size);
    std::int32_t pointCloud(void* buffers, std::int32_t size);
    std::int32_t cameraImage(std::uint8_t* image, std::int32_t size);

private:
    std::int32_t nextResult(const std::string& command);
    bool withinDescriptorRange(const std::string& command);  // with mutex_ held
    void capture(const std::string& call);

    std::mutex mutex_;
    bool failConnect_ = false;
    std::map<std::string, std::deque<std::int32_t>> results_;
    std::deque<std::pair<std::int32_t, std::int32_t>> status_;
    std::map<std::string, std::string> replies_;
    std::function<void(double*, std::uint16_t*, std::size_t)> pointSource_;
    std::function<void(std::uint8_t*, std::size_t)> imageSource_;
    std::int32_t pointCloudCode_ = 0;
    std::int32_t cameraImageCode_ = 0;
    bool acquiring_ = false;
    bool triggered_ = false;
    std::vector<std::string> calls_;
    std::vector<std::string> commands_;
};
