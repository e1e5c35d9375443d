#include "bridge_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

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

BridgeProcess::BridgeProcess(std::vector<std::string> arguments) {
    const std::string base = "/tmp/bridge-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(uniqueNumber());
    outPath_ = base + ".out";
    errPath_ = base + ".err";
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], 0);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
    posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> all{BRIDGE_PROGRAM_PATH};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, BRIDGE_PROGRAM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
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
