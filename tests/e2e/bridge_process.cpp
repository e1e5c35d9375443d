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

std::string readAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

int uniqueNumber() {
    static int counter = 0;
    return ++counter;
}

}  // namespace

BridgeProcess::BridgeProcess(std::vector<std::string> arguments, bool onTerminal) {
    const std::string base = "/tmp/bridge-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(uniqueNumber());
    outPath_ = base + ".out";
    errPath_ = base + ".err";
    int pipeEnds[2];
    if (onTerminal) {
        // [0]: the terminal side the program reads; [1]: the side this test types on.
        pipeEnds[1] = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (pipeEnds[1] < 0 || ::grantpt(pipeEnds[1]) != 0 || ::unlockpt(pipeEnds[1]) != 0) return;
        pipeEnds[0] = ::open(::ptsname(pipeEnds[1]), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (pipeEnds[0] < 0) return;
    } else if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return;
    }
    std::vector<std::string> all{BRIDGE_PROGRAM_PATH};
    all.insert(all.end(), arguments.begin(), arguments.end());
    pid_ = startChild(all, {pipeEnds[0], outPath_, errPath_});
    ::close(pipeEnds[0]);
    input_ = pipeEnds[1];
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

void BridgeProcess::pressEnter() {
    if (input_ >= 0 && ::write(input_, "\n", 1) != 1) {
        // The program has gone; nothing to press.
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
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}
