// The seven Tavrion_ functions: argument checks, the handle registry, and the hand-over to SensorClient.
//
// Handles are checked against a registry of open connections, so a null, foreign or already closed handle is
// answered with TAVRION_ERR_BAD_ARGUMENT instead of being dereferenced. Each call holds the connection alive
// while it runs; Tavrion_Disconnect makes the running calls fail and waits for them before freeing it.
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "sensor_client.h"
#include "socket.h"
#include "tavrion.h"

namespace {

using sensorlink::SensorClient;

struct Entry {
    std::unique_ptr<SensorClient> client;
    int users = 0;
    bool closing = false;
};

std::mutex registryMutex;
std::condition_variable registryChanged;
std::map<void*, Entry>& registry() {
    static std::map<void*, Entry> entries;
    return entries;
}

// Borrows the connection behind a handle for the length of one call.
class Borrowed {
public:
    explicit Borrowed(void* handle) {
        if (handle == nullptr) {
            code_ = TAVRION_ERR_BAD_ARGUMENT;
            return;
        }
        std::lock_guard lock(registryMutex);
        const auto found = registry().find(handle);
        if (found == registry().end()) {
            code_ = TAVRION_ERR_BAD_ARGUMENT;
        } else if (found->second.closing) {
            code_ = TAVRION_ERR_LINK_DOWN;
        } else {
            ++found->second.users;
            handle_ = handle;
            client_ = found->second.client.get();
        }
    }
    ~Borrowed() {
        if (client_ == nullptr) return;
        std::lock_guard lock(registryMutex);
        --registry().at(handle_).users;
        registryChanged.notify_all();
    }
    Borrowed(const Borrowed&) = delete;
    Borrowed& operator=(const Borrowed&) = delete;

    SensorClient* client() const { return client_; }
    std::int32_t code() const { return code_; }

private:
    void* handle_ = nullptr;
    SensorClient* client_ = nullptr;
    std::int32_t code_ = TAVRION_OK;
};

// A command text must be present, non-empty and within the length limit; strnlen never reads past the limit.
bool isValidText(const char* text) {
    if (text == nullptr) return false;
    const std::size_t length = strnlen(text, static_cast<std::size_t>(kTavrionMaxCommandLength) + 1);
    return length > 0 && length <= static_cast<std::size_t>(kTavrionMaxCommandLength);
}

bool parsePort(const char* text, std::uint16_t& port) {
    if (text == nullptr || *text == '\0' || strnlen(text, 6) > 5) return false;
    unsigned value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return false;
        value = value * 10 + static_cast<unsigned>(*c - '0');
    }
    if (value == 0 || value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace

extern "C" {

void* Tavrion_Connect(const char* address, const char* port, std::int32_t flags) {
    std::uint32_t hostAddress = 0;
    std::uint16_t portNumber = 0;
    if (flags != 0 || address == nullptr || strnlen(address, 16) > 15 || !sensorlink::parseIpv4(address, hostAddress) ||
        !parsePort(port, portNumber))
        return nullptr;
    std::unique_ptr<SensorClient> client = SensorClient::open(hostAddress, portNumber);
    if (!client) return nullptr;
    void* handle = client.get();
    std::lock_guard lock(registryMutex);
    registry()[handle].client = std::move(client);
    return handle;
}

std::int32_t Tavrion_Disconnect(void* handle) {
    std::unique_ptr<SensorClient> client;
    {
        std::unique_lock lock(registryMutex);
        const auto found = registry().find(handle);
        if (handle == nullptr || found == registry().end()) return TAVRION_ERR_BAD_ARGUMENT;
        if (found->second.closing) return TAVRION_ERR_LINK_DOWN;
        found->second.closing = true;
        found->second.client->shutdown();
        registryChanged.wait(lock, [&] { return found->second.users == 0; });
        client = std::move(found->second.client);
        registry().erase(found);
    }
    return TAVRION_OK;
}

std::int32_t Tavrion_GetSensorStatus(void* handle, std::int32_t* status) {
    if (status == nullptr) return TAVRION_ERR_BAD_ARGUMENT;
    Borrowed borrowed(handle);
    if (borrowed.client() == nullptr) return borrowed.code();
    std::int32_t word = 0;
    const std::int32_t code = borrowed.client()->status(word);
    if (code == TAVRION_OK) *status = word;
    return code;
}

std::int32_t Tavrion_WriteData(void* handle, const char* command, std::int32_t flags) {
    if (flags != 0 || !isValidText(command)) return TAVRION_ERR_BAD_ARGUMENT;
    Borrowed borrowed(handle);
    if (borrowed.client() == nullptr) return borrowed.code();
    return borrowed.client()->command(command);
}

std::int32_t Tavrion_ReadData(void* handle, const char* command, char* reply, std::int32_t replySize,
                              std::int32_t flags) {
    if (flags != 0 || !isValidText(command) || reply == nullptr || replySize <= 0) return TAVRION_ERR_BAD_ARGUMENT;
    Borrowed borrowed(handle);
    if (borrowed.client() == nullptr) return borrowed.code();
    return borrowed.client()->query(command, reply, replySize);
}

std::int32_t Tavrion_GetPointCloud(void* handle, void* buffers, std::int32_t size, std::int32_t reserved1,
                                   std::int32_t reserved2) {
    if (buffers == nullptr || size <= 0 || reserved1 != 0 || reserved2 != 0) return TAVRION_ERR_BAD_ARGUMENT;
    void* const* pointers = static_cast<void* const*>(buffers);
    if (pointers[0] == nullptr || pointers[1] == nullptr) return TAVRION_ERR_BAD_ARGUMENT;
    Borrowed borrowed(handle);
    if (borrowed.client() == nullptr) return borrowed.code();
    return borrowed.client()->pointCloud(pointers[0], pointers[1], size);
}

std::int32_t Tavrion_GetCameraImage(void* handle, std::uint8_t* image, std::int32_t size, std::int32_t reserved1,
                                    std::int32_t reserved2) {
    if (image == nullptr || size <= 0 || reserved1 != 0 || reserved2 != 0) return TAVRION_ERR_BAD_ARGUMENT;
    Borrowed borrowed(handle);
    if (borrowed.client() == nullptr) return borrowed.code();
    return borrowed.client()->cameraImage(image, size);
}

}  // extern "C"
