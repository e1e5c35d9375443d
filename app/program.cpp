// Start-up: version line, bridge, command line, sensor connection, server start; then idle until ENTER, a lost
// sensor or a request to end (SIGTERM, Ctrl+C). A failed step ends the run with status 1 after a pause long
// enough to read the message.
#include "program.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "main_class.h"
#include "option_scanner.h"
#include "os.h"

namespace {

constexpr std::uint32_t kStartFailurePauseMs = 3000;
constexpr std::uint32_t kServerFailurePauseMs = 5000;
constexpr std::uint32_t kIdlePollMs = 100;

// The bridge lives from start-up to the orderly end. On failure paths the process ends without tearing it
// down; keeping it reachable from here makes that deliberate rather than a leak.
CMainClass* bridge = nullptr;

int endAfterPause(std::uint32_t pauseMs) {
    os::sleepMs(pauseMs);
    return 1;
}

void reportScannerError() {
    const int c = options::optopt;
    if (c == 'i' || c == 's') {
        std::fprintf(stderr, "Option -%c requires an argument.\n", c);
    } else if (std::isprint(c)) {
        std::fprintf(stderr, "Unknown option `-%c'.\n", c);
    } else {
        std::fprintf(stderr, "Unknown option character `\\x%x'.\n", static_cast<unsigned>(c));
    }
    std::fflush(stderr);
}

void idleUntilAskedToEndOrSensorLost() {
    // Run as a service, standard input is /dev/null: its end of input is cleared and read again, and the
    // service manager's SIGTERM ends the run the orderly way an ENTER does.
    while (!bridge->isSensorLost() && !os::endRequested()) {
        if (os::consoleInputPending()) {
            const int key = os::readConsoleCharacter();
            if (key == '\n') break;
            // End of input (Ctrl+D) stays latched in the stream until cleared; cleared, ENTER works again.
            if (key == EOF) std::clearerr(stdin);
        }
        os::sleepMs(kIdlePollMs);
    }
}

}  // namespace

int runProgram(int argc, char* argv[]) {
    // Standard input is read one character at a time after a check for pending input; a buffer in between
    // would swallow the line end of "x<ENTER>" where the check can no longer see it.
    std::setvbuf(stdin, nullptr, _IONBF, 0);
    std::fputs("Version: 1.0.0\n\n\n", stdout);
    std::fflush(stdout);

    bridge = new CMainClass;
    bridge->collectInterfaceAddresses();

    if (argc == 1) {
        bridge->printHelp();
        bridge->printInterfaceList();
        bridge->printError("press ENTER to exit.\n");
        std::getchar();
        return 1;
    }

    std::string sensorAddress;
    std::string serverAddress;
    std::string userName;
    std::int32_t interfaceIndex = -1;
    for (int option; (option = options::getopt(argc, argv, "f:u:n:s:i:hda")) != -1;) {
        switch (option) {
            case 'a': break;
            case 'd': bridge->enableConsoleLog(); break;
            case 'f': bridge->setDebugFilePath(options::optarg); break;
            case 'h':
                bridge->printHelp();
                bridge->printInterfaceList();
                std::getchar();
                return 0;
            case 'i': sensorAddress = options::optarg; break;
            case 'n': interfaceIndex = std::atoi(options::optarg); break;
            case 's': serverAddress = options::optarg; break;
            case 'u': userName = options::optarg; break;
            default: reportScannerError(); return endAfterPause(kStartFailurePauseMs);
        }
    }
    if (options::optind < argc) {
        std::printf("Non-option argument %s\n", argv[options::optind]);
        std::fflush(stdout);
        return endAfterPause(kStartFailurePauseMs);
    }
    if (sensorAddress.empty()) {
        bridge->printError("ERROR: scanner IP address is not valid\nCheck Help for more Info\n");
        return endAfterPause(kStartFailurePauseMs);
    }
    // -n chooses the interface that receives the -s address; alone it has nothing to add.
    if (interfaceIndex != -1 && serverAddress.empty()) {
        bridge->printError("ERROR: option -n needs the server address of option -s\nCheck Help for more Info\n");
        return endAfterPause(kStartFailurePauseMs);
    }
    if (!bridge->connectSensor(sensorAddress, userName)) return endAfterPause(kStartFailurePauseMs);
    if (!bridge->startDeviceServer(serverAddress, interfaceIndex)) return endAfterPause(kServerFailurePauseMs);

    // Only from here is there a sensor acquisition and a server to end in order; a request to end during the
    // start-up still ends the process at once, as the connection's loss tells the sensor.
    os::noteEndRequests();
    idleUntilAskedToEndOrSensorLost();
    delete bridge;
    bridge = nullptr;
    return 0;
}
