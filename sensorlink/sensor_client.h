// One connection to a sensor as the SDK's handle sees it: a pool of TCP channels, each carrying one request at
// a time, so that calls from several threads run side by side and a status poll never waits behind a transfer.
// Turns every transport and protocol failure into a TAVRION_ code.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "database_store.h"
#include "protocol.h"
#include "socket.h"

namespace sensorlink {

// Time limits of the calls, each for the whole call from request to last reply byte (a sensor that trickles its
// reply runs out of time like a silent one); a call that does not finish in time fails with TAVRION_ERR_TIMEOUT.
struct ClientLimits {
    int connectMs = 1000;
    int statusMs = 800;           // a whole status poll, connecting included, within the one-second promise
    int callMs = 5000;            // commands, queries, images, point clouds
    int databaseChunkMs = 30000;  // one chunk of a database download; a slow sensor paces its chunks
    // A sensor that has not answered a status poll for this long counts as lost; a shorter silence fails the
    // poll with TAVRION_ERR_TIMEOUT and leaves the caller's status word as it was.
    int silenceLimitMs = 3000;
};

class SensorClient {
public:
    // Opens the first channel and learns the sensor's serial number and resolution; null when the sensor cannot
    // be reached or does not speak the protocol.
    static std::unique_ptr<SensorClient> open(std::uint32_t address, std::uint16_t port,
                                              const ClientLimits& limits = {});
    ~SensorClient();

    std::int32_t status(std::int32_t& word);
    std::int32_t command(const std::string& text);
    std::int32_t query(const std::string& text, char* reply, std::int32_t replySize);
    std::int32_t pointCloud(void* cloud, void* mono, std::int32_t size);
    std::int32_t cameraImage(void* image, std::int32_t size);

    // Fails every running and later call with TAVRION_ERR_LINK_DOWN.
    void shutdown();

    // Bytes of the database download received so far and announced in all; both 0 before it starts.
    std::uint32_t downloadedBytes() const { return downloaded_.load(); }
    std::uint32_t downloadTotal() const { return downloadTotal_.load(); }

    std::uint32_t pixelCount() const { return identity_.width * identity_.height; }
    const std::string& serialNumber() const { return identity_.serialNumber; }

private:
    struct Channel {
        TcpStream stream;
        bool fromPool = false;
    };
    using ChannelPtr = std::unique_ptr<Channel>;
    class Lease;

    SensorClient(std::uint32_t address, std::uint16_t port, const ClientLimits& limits);

    using Deadline = std::chrono::steady_clock::time_point;
    static constexpr Deadline kNoDeadline = Deadline::max();
    // A pooled channel, or a new one when all are busy; `deadline` also bounds connecting and greeting.
    ChannelPtr takeChannel(int connectMs, int replyMs, std::int32_t& code, Deadline deadline = kNoDeadline);
    ChannelPtr connectChannel(int connectMs, int replyMs, std::int32_t& code, Deadline deadline = kNoDeadline);
    void giveBack(ChannelPtr channel, bool reusable);
    // Runs `body` (Channel& → code) on a channel of the pool; `fromPool` tells whether it was a reused one.
    template <typename Body>
    std::int32_t withChannel(int connectMs, int replyMs, Body body, bool* fromPool = nullptr,
                             Deadline deadline = kNoDeadline);

    // Sends one request and reads the reply header and result code. On 0, `bodyLength` counts the reply bytes
    // that follow the code and still wait on the channel.
    std::int32_t exchange(Channel& channel, MessageKind kind, const std::vector<std::uint8_t>& payload,
                          Deadline deadline, std::uint32_t& bodyLength);
    std::int32_t receiveBody(Channel& channel, void* data, std::size_t size, Deadline deadline);
    Deadline callDeadline() const {
        return std::chrono::steady_clock::now() + std::chrono::milliseconds(limits_.callMs);
    }
    std::int32_t statusOnce(std::int32_t& sensorWord, Deadline deadline, bool& retryable);
    std::int32_t plainCommand(const std::string& text);
    std::int32_t downloadDatabase(std::vector<std::uint8_t>& database);
    std::int32_t fetchSamples(MessageKind kind, void* first, std::size_t firstSize, void* second,
                              std::size_t secondSize);

    const std::uint32_t address_;
    const std::uint16_t port_;
    const ClientLimits limits_;
    HelloReply identity_;
    std::unique_ptr<DatabaseStore> database_;
    std::atomic<std::uint32_t> nextRequestId_{1};
    std::atomic<std::int64_t> lastAnswerMs_{0};  // steady clock, when the sensor last answered a status poll
    std::atomic<std::uint32_t> downloaded_{0};
    std::atomic<std::uint32_t> downloadTotal_{0};

    std::mutex mutex_;  // guards the three below
    std::vector<ChannelPtr> idle_;
    std::set<Channel*> busy_;
    bool closing_ = false;
};

}  // namespace sensorlink
