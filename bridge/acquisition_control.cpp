// The hand-over of the acquisition between the client's commands (register writes, a disconnect), the
// acquisition thread and the bridge's shut-down. Every change of the acquisition state happens here, under
// acquisitionMutex_, and nowhere else.
//
// The state says what the client asked for last and whether the acquisition thread holds the sensor in
// acquisition (from the moment it takes a start until the sensor was told to stop). The client's last
// command wins:
//
//                 AcquisitionStart                       loop takes the start
//     Idle  ----------------------------->  Starting  ------------------------->  Running
//      ^    <-----------------------------  (reads                                 |     ^
//      |      AcquisitionStop, or the       AcquisitionStart=1)    AcquisitionStop, |     | AcquisitionStart:
//      |      loop cannot acquire                                  disconnect,      |     | the loop keeps
//      |                                                           shut-down        v     | going
//      +----------------------------------------------------------------------  Stopping
//                       loop sent "SetAcquisitionStart=0"                   (reads AcquisitionStop=1)
//
// A start the sensor refuses goes from Running straight back to Idle, and the client's start is answered
// with an error. Running also ends by itself, after a SingleFrame acquisition's frame or a frame the device refused:
// once the loop has stopped the sensor the state is Idle, or Starting again when the client has given a command
// meanwhile (a start written while the stop travelled), and the loop starts anew. Shut-down ends the loop
// wherever it is; an acquisition it holds is stopped at the sensor first.
//
// The start and stop commands wait, within a bound, until the loop has acted on them, so that a client
// that stops and then changes the pixel format finds the acquisition stopped (without an acquisition
// thread, as before the server is up, they do not wait). Nothing here calls the device library or the file
// system while acquisitionMutex_ is held.
#include <chrono>

#include "main_class.h"

namespace {
// Longer than one acquisition cycle (a point-cloud fetch and a frame) and well inside the library's
// callback limit, after which a client would get BUSY.
constexpr auto kCommandWait = std::chrono::milliseconds(5000);
}  // namespace

void CMainClass::changeAcquisitionState(AcquisitionState state) {
    const AcquisitionState previous = acquisitionState_.exchange(state);
    // Triggers count from the client's start: one written right after AcquisitionStart waits for the loop,
    // and none outlives the acquisition it was meant for.
    const auto ending = [](AcquisitionState s) {
        return s == AcquisitionState::Idle || s == AcquisitionState::Stopping;
    };
    if (ending(state)) {
        triggerGate.disarm();
    } else if (ending(previous)) {
        triggerGate.arm();
    }
    acquisitionChanged_.notify_all();
}

AcquisitionState CMainClass::acquisitionState() const { return acquisitionState_.load(); }

bool CMainClass::isAcquisitionActive() const { return acquisitionState() != AcquisitionState::Idle; }

bool CMainClass::isAcquisitionStartPending() const { return acquisitionState() == AcquisitionState::Starting; }

bool CMainClass::isAcquisitionStopPending() const { return acquisitionState() == AcquisitionState::Stopping; }

// Shut-down moves a held acquisition to Stopping as well, so this one question covers both.
bool CMainClass::shouldStopAcquisition() const { return acquisitionState() == AcquisitionState::Stopping; }

void CMainClass::resetAcquisitionState() {
    std::lock_guard<std::mutex> lock(acquisitionMutex_);
    changeAcquisitionState(AcquisitionState::Idle);
}

bool CMainClass::requestAcquisitionStart() {
    std::unique_lock<std::mutex> lock(acquisitionMutex_);
    const std::uint64_t serial = ++acquisitionCommandSerial_;
    const AcquisitionState state = acquisitionState();
    if (state == AcquisitionState::Idle) changeAcquisitionState(AcquisitionState::Starting);
    if (state == AcquisitionState::Stopping) changeAcquisitionState(AcquisitionState::Running);
    // A start into a running acquisition is answered at once; a new one once the sensor has answered it, so
    // that a sensor that refuses to start is the client's error.
    acquisitionChanged_.wait_for(lock, kCommandWait, [&] {
        return !acquisitionLoopPresent_ || stopThreads || acquisitionCommandSerial_ != serial ||
               acquisitionState() == AcquisitionState::Idle || acquisitionAnsweredSerial_ >= serial ||
               (acquisitionState() != AcquisitionState::Starting && acquisitionTakenSerial_ < serial);
    });
    // Refused only when this very start was turned down (the loop cannot acquire, the sensor refused, or the
    // program ends); a start that ran and ended meanwhile, or that a later command overtook, was not.
    const bool turnedDown = acquisitionCommandSerial_ == serial &&
                            ((acquisitionState() == AcquisitionState::Idle && acquisitionTakenSerial_ < serial) ||
                             acquisitionRefusedSerial_ == serial);
    return !turnedDown;
}

void CMainClass::requestAcquisitionStop(bool waitUntilStopped) {
    {
        std::lock_guard<std::mutex> lock(acquisitionMutex_);
        ++acquisitionCommandSerial_;
        const AcquisitionState state = acquisitionState();
        if (state == AcquisitionState::Starting) changeAcquisitionState(AcquisitionState::Idle);
        if (state == AcquisitionState::Running) changeAcquisitionState(AcquisitionState::Stopping);
    }
    if (waitUntilStopped) awaitAcquisitionStop();
}

void CMainClass::awaitAcquisitionStop() {
    std::unique_lock<std::mutex> lock(acquisitionMutex_);
    const std::uint64_t serial = acquisitionCommandSerial_;
    acquisitionChanged_.wait_for(lock, kCommandWait, [&] {
        const AcquisitionState state = acquisitionState();
        return !acquisitionLoopPresent_ || stopThreads || acquisitionCommandSerial_ != serial ||
               state == AcquisitionState::Idle || state == AcquisitionState::Starting;
    });
}

void CMainClass::setAcquisitionLoopPresent(bool present) {
    std::lock_guard<std::mutex> lock(acquisitionMutex_);
    acquisitionLoopPresent_ = present;
    acquisitionChanged_.notify_all();
}

bool CMainClass::takeAcquisitionStart() {
    std::unique_lock<std::mutex> lock(acquisitionMutex_);
    acquisitionChanged_.wait(lock, [&] { return stopThreads || acquisitionState() == AcquisitionState::Starting; });
    if (stopThreads) return false;
    acquisitionTakenSerial_ = acquisitionCommandSerial_;
    changeAcquisitionState(AcquisitionState::Running);
    return true;
}

void CMainClass::sensorStartAnswered(bool accepted) {
    std::lock_guard<std::mutex> lock(acquisitionMutex_);
    acquisitionAnsweredSerial_ = acquisitionTakenSerial_;
    if (!accepted) {
        acquisitionRefusedSerial_ = acquisitionTakenSerial_;
        // Nothing runs to stop; a start written meanwhile found the acquisition running and is not repeated,
        // since the sensor would refuse it just the same.
        changeAcquisitionState(AcquisitionState::Idle);
    }
    acquisitionChanged_.notify_all();
}

void CMainClass::acquisitionEnded(bool singleFrameDone) {
    std::lock_guard<std::mutex> lock(acquisitionMutex_);
    // SingleFrame ends what the client started, unless the client has given a command since.
    const bool startAgain = acquisitionState() == AcquisitionState::Running &&
                            !(singleFrameDone && acquisitionCommandSerial_ == acquisitionTakenSerial_);
    changeAcquisitionState(startAgain ? AcquisitionState::Starting : AcquisitionState::Idle);
}

bool CMainClass::refuseAcquisitionStart() {
    {
        std::unique_lock<std::mutex> lock(acquisitionMutex_);
        acquisitionChanged_.wait(lock, [&] { return stopThreads || acquisitionState() == AcquisitionState::Starting; });
        if (stopThreads) return false;
        changeAcquisitionState(AcquisitionState::Idle);
    }
    printError("WARNING: The acquisition cannot start: the image buffers are not available\n");
    return true;
}

void CMainClass::shutDownAcquisition() {
    std::lock_guard<std::mutex> lock(acquisitionMutex_);
    stopThreads = true;
    const AcquisitionState state = acquisitionState();
    if (state == AcquisitionState::Starting) changeAcquisitionState(AcquisitionState::Idle);
    if (state == AcquisitionState::Running) changeAcquisitionState(AcquisitionState::Stopping);
    // The loop waits for a start or for this; it must wake also when the state stays as it was.
    acquisitionChanged_.notify_all();
}
