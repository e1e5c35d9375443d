// Construction, destruction and the small operations of the bridge object.
#include "main_class.h"

#include <cstdio>
#include <iostream>

#include "tavrion.h"

namespace {

bool forwardRegisterRead(void* context, const char* featureName) {
    return static_cast<CMainClass*>(context)->onRegisterRead(featureName);
}

bool forwardRegisterWrite(void* context, const char* featureName) {
    return static_cast<CMainClass*>(context)->onRegisterWrite(featureName);
}

void forwardClientConnection(void* context, bool connected) {
    static_cast<CMainClass*>(context)->onClientConnection(connected);
}

void forwardActionSignal(void* context, int actionIndex, std::uint64_t actionTicks) {
    if (actionIndex < 0 || actionIndex >= kTriggerActionSources) return;
    static_cast<CMainClass*>(context)->offerTrigger(static_cast<std::uint16_t>(kTriggerSourceAction1 + actionIndex),
                                                    actionTicks);
}

}  // namespace

CMainClass::CMainClass() {
    settingsRefreshRequested = false;
    lastSettingsUpdateTick = tickSource();
    camera.reset(createCamera());

    camera->setServerOptionD(1);
    camera->setServerOptionA(1);
    camera->setServerOptionE(1, 0);
    camera->setServerTimeouts(10000, 10000);
    camera->setReadCallback(this, forwardRegisterRead);
    camera->setWriteCallback(this, forwardRegisterWrite);
    camera->setConnectionCallback(this, forwardClientConnection);
    camera->setActionCallback(this, forwardActionSignal);
    camera->setServerOptionB(1);
    camera->setServerOptionC(1, 0);
}

CMainClass::~CMainClass() {
    if (camera && camera->isServerRunning()) camera->stopServer();
    // The worker threads are ended and joined whenever they exist, also when the server went down on its own
    // before: a thread object destroyed while its thread still runs would end the process.
    if (acquisitionThread || watchdogThread) {
        shutDownAcquisition();
        if (acquisitionThread) {
            acquisitionThread->join();
            acquisitionThread.reset();
        }
        if (watchdogThread) {
            watchdogThread->join();
            watchdogThread.reset();
        }
    }
    if (sensorHandle != nullptr) Tavrion_Disconnect(sensorHandle);
    if (debugFile.is_open()) {
        logToFile = false;
        debugFile.close();
    }
    camera.reset();
}

void CMainClass::collectInterfaceAddresses() {
    for (int index = 0; index < camera->getInterfaceCount(); ++index) {
        char address[16] = {};
        camera->getInterfaceAddress(index, address);
        address[sizeof address - 1] = '\0';
        interfaceAddresses.emplace_back(address);
    }
}

void CMainClass::enableConsoleLog() { logToConsole = true; }

void CMainClass::setDebugFilePath(std::string path) { debugFilePath = std::move(path); }

bool CMainClass::isSensorLost() { return sensorLost; }

void CMainClass::trace(const std::string& message) {
    std::lock_guard<std::mutex> lock(outputMutex);
    if (logToFile) debugFile << message << std::flush;
    if (logToConsole) {
        std::fwrite(message.data(), 1, message.size(), stderr);
        std::fflush(stderr);
    }
}

void CMainClass::printError(const std::string& message) {
    std::lock_guard<std::mutex> lock(outputMutex);
    std::fwrite(message.data(), 1, message.size(), stderr);
    std::fflush(stderr);
}

void CMainClass::printErrorAndLog(const std::string& message) {
    std::lock_guard<std::mutex> lock(outputMutex);
    if (logToFile) debugFile << message << std::flush;
    std::fwrite(message.data(), 1, message.size(), stderr);
    std::fflush(stderr);
}

void CMainClass::writeToDebugFile(const std::string& message) {
    std::lock_guard<std::mutex> lock(outputMutex);
    if (logToFile) debugFile << message << std::flush;
}
