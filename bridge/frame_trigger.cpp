// Frame-start triggers from the clients: a TriggerSoftware write or an action command becomes one capture
// when TriggerMode is On with that trigger's source and an acquisition runs. What happens to a trigger is
// said: one that arrives while another still waits is refused with a warning on the console, one outside an
// acquisition is noted in the debug trace. With TriggerMode Off, or from another source, a trigger does nothing.
#include <string>

#include "main_class.h"

namespace {

std::string sourceName(std::uint16_t source) {
    if (source == kTriggerSourceSoftware) return "Software";
    return "Action" + std::to_string(source - kTriggerSourceAction1 + 1);
}

}  // namespace

bool CMainClass::isTriggerModeOn() {
    std::lock_guard<std::mutex> lock(stateMutex);
    return triggerMode == kTriggerModeOn;
}

bool CMainClass::offerTrigger(std::uint16_t source, std::uint64_t ticks) {
    bool wanted = false;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        wanted = triggerMode == kTriggerModeOn && triggerSource == source;
    }
    // Free-running, or a trigger of another source: nothing to do, as a camera ignores it.
    if (!wanted) return false;
    switch (triggerGate.offer(ticks)) {
        case TriggerGate::Offer::Taken: return true;
        case TriggerGate::Offer::NotArmed:
            trace("Trigger " + sourceName(source) + " ignored: no acquisition runs\n");
            return false;
        case TriggerGate::Offer::Refused:
            // Named after the next block to leave: the capture that kept this trigger from being taken.
            sendDeviceEvent(DeviceEvent::FrameTriggerMissed, camera->getUpcomingBlockId(0, 1));
            printError("WARNING: Trigger " + sourceName(source) +
                       " refused: the previous trigger is still waiting for its capture (" +
                       std::to_string(triggerGate.refusedCount()) + " refused so far)\n");
            return false;
    }
    return false;
}
