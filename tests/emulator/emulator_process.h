// Starts the sensor emulator as a child process for integration tests (Linux only), and ends it.
//
//   EmulatorProcess emu({"--address", "127.0.0.21", "--width", "64", "--height", "48", "--log-commands", path});
//   ASSERT_TRUE(emu.waitReady());   // the emulator accepts connections on 127.0.0.21:32001
//   ... Tavrion_Connect("127.0.0.21", "32001", 0) ...
//   emu.kill();                     // or let the destructor do it
//
// The arguments are the emulator's own flags (see corvastrum-sensor-emulator --help). Its standard output goes
// to the test's; its standard error is kept in a file and added to the test's standard error at the end. Give every
// test its own 127.0.0.N address so tests run in parallel.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

class EmulatorProcess {
public:
    // Starts the emulator; a start failure shows in waitReady() returning false.
    explicit EmulatorProcess(std::vector<std::string> arguments);
    // Kills the emulator if it still runs.
    ~EmulatorProcess();
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;

    // Waits until the emulator says it listens on its --address and --port (defaults 127.0.0.1, 32001);
    // false when it exited first (an address another sensor holds, say) or `timeoutMs` passed.
    bool waitReady(int timeoutMs = 10000);
    // Ends it at once (SIGKILL), as a crashing sensor, and reaps it; returns once its address refuses
    // connections (under wine that comes a moment after the death).
    void kill();
    // Freezes it (SIGSTOP), as a hanging sensor: connections stay open, nothing is answered. Returns once it
    // has stopped.
    void freeze();
    // Lets a frozen emulator run on (SIGCONT).
    void thaw();
    // Asks it to end (SIGTERM) and waits up to `timeoutMs`; its exit status, or nullopt if it had to be killed.
    std::optional<int> terminate(int timeoutMs = 5000);
    // Waits up to `timeoutMs` for it to end by itself; its exit status, or nullopt while it still runs.
    std::optional<int> waitExit(int timeoutMs);
    bool running();

    pid_t pid() const { return pid_; }
    const std::string& address() const { return address_; }
    // Path of the emulator binary this helper starts.
    static std::string binaryPath();

private:
    pid_t pid_ = -1;
    std::optional<int> exitStatus_;
    std::string address_ = "127.0.0.1";
    int port_ = 32001;
    std::string errorPath_;
};
