// The hand-over of the acquisition between the client's commands (register writes, a disconnect), the
// acquisition thread and the bridge's shut-down. Every change of the acquisition state happens here, under
// acquisitionMutex, and nowhere else.
//
// Two facts make the state: what the client asked for last (`wanted`) and whether the acquisition thread
// holds the sensor in acquisition (`owned`, from the moment it takes a start until the sensor was told to
// stop). The client's last command wins:
//
//                 AcquisitionStart                      loop takes the start
//     Idle  ----------------------------->  Starting  ------------------------>  Running
//   (!wanted,                             (wanted, !owned;                      (wanted, owned)
//    !owned)  <-----------------------------  reads                                 |
//      ^          AcquisitionStop             AcquisitionStart=1)                   | AcquisitionStop,
//      |                                                                            | disconnect,
//      |   loop sent "SetAcquisitionStart=0"                                        | SingleFrame done
//      +-------------------------------------  Stopping  <--------------------------+
//                                            (!wanted, owned;     AcquisitionStart: back to Running,
//                                             reads AcquisitionStop=1)   the loop keeps going
//
// When the loop has stopped the sensor and the client wants an acquisition again (a start written while
// the stop travelled), the start event is still set and the loop starts anew from Idle. Shut-down ends the
// loop wherever it is; an acquisition it holds is stopped at the sensor first.
//
// The start and stop commands wait, within a bound, until the loop has acted on them, so that a client
// that stops and then changes the pixel format finds the acquisition stopped (without an acquisition
// thread, as before the server is up, they do not wait). Nothing here calls the device
// library or the file system while acquisitionMutex is held.
#include <chrono>

#include "main_class.h"

namespace {
// Longer than one acquisition cycle (a point-cloud fetch and a frame) and well inside the library's
// callback limit, after which a client would get BUSY.
constexpr auto kCommandWait = std::chrono::milliseconds(5000);
}  // namespace

void CMainClass::publishAcquisitionState() {
    acquisitionStopped.store(!acquisitionOwned);
    acquisitionStopRequested.store(acquisitionOwned && !acquisitionWanted);
    acquisitionChanged.notify_all();
}

void CMainClass::resetAcquisitionState() {
    std::lock_guard<std::mutex> lock(acquisitionMutex);
    acquisitionWanted = false;
    acquisitionOwned = false;
    os::resetEvent(acquisitionStartEvent);
    publishAcquisitionState();
}

bool CMainClass::requestAcquisitionStart() {
    std::unique_lock<std::mutex> lock(acquisitionMutex);
    const std::uint64_t serial = ++acquisitionCommandSerial;
    acquisitionWanted = true;
    publishAcquisitionState();
    os::setEvent(acquisitionStartEvent);
    acquisitionChanged.wait_for(lock, kCommandWait, [&] {
        return !acquisitionLoopPresent || stopThreads || acquisitionTakenSerial >= serial ||
               acquisitionCommandSerial != serial || !acquisitionWanted;
    });
    // Refused when the loop turned this very start down (it cannot acquire).
    return acquisitionWanted || acquisitionCommandSerial != serial || acquisitionTakenSerial >= serial;
}

void CMainClass::requestAcquisitionStop(bool waitUntilStopped) {
    {
        std::lock_guard<std::mutex> lock(acquisitionMutex);
        ++acquisitionCommandSerial;
        acquisitionWanted = false;
        publishAcquisitionState();
    }
    if (waitUntilStopped) awaitAcquisitionStop();
}

void CMainClass::awaitAcquisitionStop() {
    std::unique_lock<std::mutex> lock(acquisitionMutex);
    const std::uint64_t serial = acquisitionCommandSerial;
    acquisitionChanged.wait_for(lock, kCommandWait, [&] {
        return !acquisitionLoopPresent || stopThreads || !acquisitionOwned || acquisitionCommandSerial != serial;
    });
}

void CMainClass::setAcquisitionLoopPresent(bool present) {
    std::lock_guard<std::mutex> lock(acquisitionMutex);
    acquisitionLoopPresent = present;
    acquisitionChanged.notify_all();
}

bool CMainClass::isAcquisitionActive() {
    std::lock_guard<std::mutex> lock(acquisitionMutex);
    return acquisitionWanted || acquisitionOwned;
}

bool CMainClass::isAcquisitionStartPending() {
    std::lock_guard<std::mutex> lock(acquisitionMutex);
    return acquisitionWanted && !acquisitionOwned;
}

bool CMainClass::isAcquisitionStopPending() {
    std::lock_guard<std::mutex> lock(acquisitionMutex);
    return !acquisitionWanted && acquisitionOwned;
}

bool CMainClass::takeAcquisitionStart() {
    for (;;) {
        os::waitForEvent(acquisitionStartEvent, os::kWaitForever);
        std::lock_guard<std::mutex> lock(acquisitionMutex);
        if (stopThreads) return false;
        if (!acquisitionWanted) {
            // A start that a later stop took back: nothing to do.
            os::resetEvent(acquisitionStartEvent);
            continue;
        }
        acquisitionOwned = true;
        acquisitionTakenSerial = acquisitionCommandSerial;
        publishAcquisitionState();
        return true;
    }
}

void CMainClass::acquisitionEnded(bool singleFrameDone) {
    std::lock_guard<std::mutex> lock(acquisitionMutex);
    acquisitionOwned = false;
    // SingleFrame ends what the client started, unless the client has given a command since.
    if (singleFrameDone && acquisitionCommandSerial == acquisitionTakenSerial) acquisitionWanted = false;
    if (!acquisitionWanted) os::resetEvent(acquisitionStartEvent);
    publishAcquisitionState();
}

bool CMainClass::refuseAcquisitionStart() {
    os::waitForEvent(acquisitionStartEvent, os::kWaitForever);
    bool wasWanted = false;
    {
        std::lock_guard<std::mutex> lock(acquisitionMutex);
        if (stopThreads) return false;
        os::resetEvent(acquisitionStartEvent);
        wasWanted = acquisitionWanted;
        acquisitionWanted = false;
        publishAcquisitionState();
    }
    if (wasWanted) printError("WARNING: The acquisition cannot start: the image buffers are not available\n");
    return true;
}

void CMainClass::shutDownAcquisition() {
    std::lock_guard<std::mutex> lock(acquisitionMutex);
    stopThreads = true;
    acquisitionWanted = false;
    os::setEvent(acquisitionStartEvent);
    publishAcquisitionState();
}
