// Runs CorvastrumGigeInterface as a child process for end-to-end tests (on Linux; the program itself may be
// the Windows build under wine, see program_under_test.h): its standard output and error go to files the test
// reads, its standard input is a pipe the test can type on, or a file.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "program_under_test.h"

struct BridgeStart {
    std::string program;      // the program file to run; empty: the one of the build under test
    std::string inputFile;    // a file as standard input instead of the pipe
    bool onTerminal = false;  // standard input is a pseudo-terminal, where Ctrl+D (sendInput("\x04")) ends
                              // the input once
};

class BridgeProcess {
public:
    explicit BridgeProcess(std::vector<std::string> arguments, BridgeStart start = {});
    // The program file of the build under test.
    static std::string programPath();
    ~BridgeProcess();  // ends the program (ENTER, then SIGKILL if it hangs)
    BridgeProcess(const BridgeProcess&) = delete;
    BridgeProcess& operator=(const BridgeProcess&) = delete;

    // Waits until standard error contains `text`; false when the program ended first or time ran out.
    bool waitForError(const std::string& text, int timeoutMs = 10000);
    std::string out() const;
    std::string err() const;
    void pressEnter() { sendInput("\n"); }
    void sendInput(const std::string& text);
    // Its exit status once it ended within `timeoutMs`, else nullopt.
    std::optional<int> waitExit(int timeoutMs);
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    std::string outPath_;
    std::string errPath_;
    std::optional<int> exitStatus_;
};

// Runs a command line through the shell with a time limit; its standard output and error together.
std::string runCommand(const std::string& commandLine, int* exitStatus = nullptr);

// Lines of a text file (empty when it does not exist).
std::vector<std::string> fileLines(const std::string& path);
