// Starting CorvastrumGigeInterface for an end-to-end test, typing on its standard input and reading what it
// printed.
#include "bridge_process.h"

#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

// The program's text output with line ends as on Linux: a Windows program writes CR LF.
std::string readAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    std::string all = text.str();
    if (program_under_test::isWindowsBuild()) {
        for (std::size_t at; (at = all.find("\r\n")) != std::string::npos;) all.erase(at, 1);
    }
    return all;
}

int uniqueNumber() {
    static int counter = 0;
    return ++counter;
}

}  // namespace

std::string BridgeProcess::programPath() {
    return program_under_test::programPath("CorvastrumGigeInterface", BRIDGE_PROGRAM_PATH);
}

BridgeProcess::BridgeProcess(std::vector<std::string> arguments, BridgeStart start) {
    const std::string base = "/tmp/bridge-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(uniqueNumber());
    outPath_ = base + ".out";
    errPath_ = base + ".err";
    int input = -1;
    if (!start.inputFile.empty()) {
        input = ::open(start.inputFile.c_str(), O_RDONLY | O_CLOEXEC);
        if (input < 0) return;
    } else if (start.onTerminal) {
        // input: the terminal side the program reads; input_: the side this test types on.
        input_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (input_ < 0 || ::grantpt(input_) != 0 || ::unlockpt(input_) != 0) return;
        input = ::open(::ptsname(input_), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (input < 0) return;
    } else {
        int pipeEnds[2];
        if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return;
        input = pipeEnds[0];
        input_ = pipeEnds[1];
    }
    const std::string program = start.program.empty() ? programPath() : start.program;
    pid_ = startChild(program_under_test::command(program, arguments), {input, outPath_, errPath_});
    ::close(input);
}

BridgeProcess::~BridgeProcess() {
    if (pid_ > 0 && !exitStatus_) {
        pressEnter();
        if (!waitExit(3000)) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    if (input_ >= 0) ::close(input_);
    std::remove(outPath_.c_str());
    std::remove(errPath_.c_str());
}

bool BridgeProcess::waitForError(const std::string& text, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (err().find(text) != std::string::npos) return true;
        if (waitExit(0)) return err().find(text) != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string BridgeProcess::out() const { return readAll(outPath_); }
std::string BridgeProcess::err() const { return readAll(errPath_); }

void BridgeProcess::sendInput(const std::string& text) {
    if (input_ >= 0 && ::write(input_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        // The program has gone; nothing to type.
    }
}

std::optional<int> BridgeProcess::waitExit(int timeoutMs) {
    if (exitStatus_ || pid_ <= 0) return exitStatus_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return exitStatus_;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string runCommand(const std::string& commandLine, int* exitStatus) {
    FILE* pipe = ::popen(("timeout 30 " + commandLine + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return {};
    std::string output;
    std::array<char, 4096> chunk{};
    for (std::size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0;) output.append(chunk.data(), n);
    const int status = ::pclose(pipe);
    if (exitStatus != nullptr) *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

std::vector<std::string> fileLines(const std::string& path) {
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // written by a Windows program
        lines.push_back(line);
    }
    return lines;
}
