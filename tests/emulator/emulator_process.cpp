// The emulator child process of the integration tests; see emulator_process.h.
#include "emulator_process.h"

#include "child_process.h"
#include "program_under_test.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

namespace {

bool acceptsConnections(const std::string& address, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool parsed = ::inet_pton(AF_INET, address.c_str(), &target.sin_addr) == 1;
    const bool connected = parsed && ::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0;
    ::close(fd);
    return connected;
}

int statusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }

std::string readWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string newErrorPath() {
    static std::atomic<int> started{0};
    return (std::filesystem::temp_directory_path() /
            ("emulator-" + std::to_string(::getpid()) + "-" + std::to_string(++started) + ".err"))
        .string();
}

}  // namespace

std::string EmulatorProcess::binaryPath() {
    return program_under_test::programPath("corvastrum-sensor-emulator", CORVASTRUM_SENSOR_EMULATOR_PATH);
}

EmulatorProcess::EmulatorProcess(std::vector<std::string> arguments) {
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == "--address") address_ = arguments[i + 1];
        if (arguments[i] == "--port") port_ = std::atoi(arguments[i + 1].c_str());
    }
    errorPath_ = newErrorPath();
    ChildStreams streams;
    streams.errorPath = errorPath_;
    pid_ = startChild(program_under_test::command(binaryPath(), arguments), streams);
}

EmulatorProcess::~EmulatorProcess() {
    kill();
    // What the emulator said goes into the test's output, where a failing test shows it.
    std::cerr << readWhole(errorPath_);
    std::error_code ignored;
    std::filesystem::remove(errorPath_, ignored);
}

bool EmulatorProcess::running() { return pid_ > 0 && !waitExit(0).has_value(); }

std::optional<int> EmulatorProcess::waitExit(int timeoutMs) {
    if (exitStatus_ || pid_ <= 0) return exitStatus_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int raw = 0;
        if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
            exitStatus_ = statusOf(raw);
            return exitStatus_;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool EmulatorProcess::waitReady(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (running()) {
        // Only the emulator's own announcement counts: another sensor already listening on the address would
        // accept connections too, while this one fails to bind and ends.
        if (readWhole(errorPath_).find(" listening on ") != std::string::npos) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void EmulatorProcess::kill() {
    if (pid_ <= 0 || exitStatus_) return;
    ::kill(pid_, SIGKILL);
    int raw = 0;
    if (::waitpid(pid_, &raw, 0) == pid_) exitStatus_ = statusOf(raw);
    // Under wine the sockets of a program belong to wine's server, which closes them only after it noticed
    // the death: until then the address still accepts connections, and an emulator started next would take
    // them for its own.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (acceptsConnections(address_, port_) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void EmulatorProcess::freeze() {
    if (pid_ <= 0 || exitStatus_) return;
    ::kill(pid_, SIGSTOP);
    // kill() only queues the signal; a status read right after it could still be answered.
    int raw = 0;
    ::waitpid(pid_, &raw, WUNTRACED);
}

void EmulatorProcess::thaw() {
    if (pid_ <= 0 || exitStatus_) return;
    ::kill(pid_, SIGCONT);
    int raw = 0;
    ::waitpid(pid_, &raw, WCONTINUED);
}

std::optional<int> EmulatorProcess::terminate(int timeoutMs) {
    if (pid_ <= 0 || exitStatus_) return exitStatus_;
    ::kill(pid_, SIGTERM);
    if (const auto status = waitExit(timeoutMs)) return status;
    kill();
    return std::nullopt;
}
