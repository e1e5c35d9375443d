// The demo device's feature tree: a handful of features of every type, one read-only and several ranged,
// declared through the public CGevCamera interface only, and callbacks that report every access.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>

#include "gev_camera.h"

namespace demo {

// Declares the demo tree and its identity on `camera` (before startServer).
void declareDemoFeatures(CGevCamera& camera, const char* serial);

// Counts and prints the accesses and actions the library reports; DemoReadCounter counts the reads of itself.
class AccessReporter {
public:
    AccessReporter(CGevCamera& camera, std::FILE* log) : camera_(camera), log_(log) {}
    void install();

    std::atomic<int> reads{0};
    std::atomic<int> writes{0};
    std::atomic<int> connections{0};
    std::atomic<int> disconnections{0};
    std::atomic<int> actions{0};
    // Told of every write and control change after it is reported (set before the server starts).
    std::function<void(const char* name)> writeListener;
    std::function<void(bool connected)> connectionListener;

private:
    static bool onRead(void* context, const char* name);
    static bool onWrite(void* context, const char* name);
    static void onConnection(void* context, bool connected);
    static void onAction(void* context, int actionIndex, std::uint64_t actionTicks);

    CGevCamera& camera_;
    std::FILE* log_;
};

}  // namespace demo
