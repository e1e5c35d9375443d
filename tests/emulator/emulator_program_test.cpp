// The emulator program over TCP: command log, frame dump, garbage clients, several connections, its flags.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "emulator_process.h"
#include "program_under_test.h"
#include "tavrion.h"

namespace fs = std::filesystem;

namespace {

fs::path freshFolder(const std::string& name) {
    const fs::path folder =
        fs::temp_directory_path() / ("sensor-emulator-test-" + name + "-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

std::vector<std::string> linesOf(const fs::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<char> bytesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Sends raw bytes on a fresh connection and reports whether the emulator then closed it.
bool closesAfter(const std::string& address, const std::string& bytes) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(32001);
    inet_pton(AF_INET, address.c_str(), &target.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        close(fd);
        return false;
    }
    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char buffer[64];
    const ssize_t received = recv(fd, buffer, sizeof buffer, 0);
    close(fd);
    return received == 0 || (received < 0 && errno == ECONNRESET);
}

}  // namespace

TEST(EmulatorProgram, LogsEveryCommandExactlyAndInOrder) {
    const fs::path folder = freshFolder("log");
    EmulatorProcess emu({"--address", "127.0.3.1", "--width", "64", "--height", "48", "--log-commands",
                         (folder / "commands.log").string()});
    ASSERT_TRUE(emu.waitReady());
    void* handle = Tavrion_Connect("127.0.3.1", "32001", 0);
    ASSERT_NE(handle, nullptr);
    char reply[100];
    EXPECT_EQ(Tavrion_WriteData(handle, "SetGain=2.500000", 0), TAVRION_OK);
    EXPECT_EQ(Tavrion_WriteData(handle, "SetBogus=1", 0), TAVRION_ERR_UNKNOWN_COMMAND);
    EXPECT_EQ(Tavrion_ReadData(handle, "GetTemperature", reply, sizeof reply, 0), TAVRION_OK);
    EXPECT_EQ(Tavrion_WriteData(handle, "SetExposureTime=10000.000000", 0), TAVRION_OK);
    EXPECT_EQ(Tavrion_WriteData(handle, "SetCameraMode=1\tx", 0), TAVRION_ERR_VALUE_REFUSED);
    // Read while the emulator still runs: every line is flushed as it comes.
    EXPECT_EQ(linesOf(folder / "commands.log"),
              (std::vector<std::string>{"SetGain=2.500000", "SetBogus=1", "GetTemperature",
                                        "SetExposureTime=10000.000000", "SetCameraMode=1\\x09x"}));
    Tavrion_Disconnect(handle);
}

TEST(EmulatorProgram, DumpsEveryServedFrameAsDocumented) {
    const fs::path folder = freshFolder("dump");
    EmulatorProcess emu({"--address", "127.0.3.2", "--width", "64", "--height", "48", "--trigger-delay-ms", "0",
                         "--dump-dir", (folder / "frames").string()});
    ASSERT_TRUE(emu.waitReady());
    void* handle = Tavrion_Connect("127.0.3.2", "32001", 0);
    ASSERT_NE(handle, nullptr);
    const int n = 64 * 48;
    std::vector<double> xyz(3 * n);
    std::vector<std::uint16_t> mono(n);
    void* buffers[2] = {xyz.data(), mono.data()};
    ASSERT_EQ(Tavrion_WriteData(handle, "SetAcquisitionStart=1", 0), TAVRION_OK);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(Tavrion_WriteData(handle, "SetTriggerSoftware", 0), TAVRION_OK);
        ASSERT_EQ(Tavrion_GetPointCloud(handle, buffers, 26 * n, 0, 0), TAVRION_OK);
    }
    std::vector<std::uint8_t> image(n);
    ASSERT_EQ(Tavrion_GetCameraImage(handle, image.data(), n, 0, 0), TAVRION_OK);
    Tavrion_Disconnect(handle);

    const auto cloud = bytesOf(folder / "frames" / "cloud-000002.bin");
    ASSERT_EQ(cloud.size(), 24u * n);
    EXPECT_EQ(std::memcmp(cloud.data(), xyz.data(), cloud.size()), 0);
    const auto intensity = bytesOf(folder / "frames" / "mono16-000002.bin");
    ASSERT_EQ(intensity.size(), 2u * n);
    EXPECT_EQ(std::memcmp(intensity.data(), mono.data(), intensity.size()), 0);
    EXPECT_TRUE(fs::exists(folder / "frames" / "cloud-000001.bin"));
    const auto camera = bytesOf(folder / "frames" / "image-000001.bin");
    ASSERT_EQ(camera.size(), static_cast<std::size_t>(n));
    EXPECT_EQ(std::memcmp(camera.data(), image.data(), camera.size()), 0);
}

TEST(EmulatorProgram, SameSeedAndCommandsGiveTheSameBytes) {
    const auto capture = [](const char* seed) {
        EmulatorProcess emu(
            {"--address", "127.0.3.3", "--width", "64", "--height", "48", "--seed", seed, "--trigger-delay-ms", "0"});
        EXPECT_TRUE(emu.waitReady());
        void* handle = Tavrion_Connect("127.0.3.3", "32001", 0);
        std::vector<double> xyz(3 * 64 * 48);
        std::vector<std::uint16_t> mono(64 * 48);
        void* buffers[2] = {xyz.data(), mono.data()};
        Tavrion_WriteData(handle, "SetLEDPower=60", 0);
        Tavrion_WriteData(handle, "SetAcquisitionStart=1", 0);
        Tavrion_WriteData(handle, "SetTriggerSoftware", 0);
        EXPECT_EQ(Tavrion_GetPointCloud(handle, buffers, 26 * 64 * 48, 0, 0), TAVRION_OK);
        Tavrion_Disconnect(handle);
        return std::make_pair(xyz, mono);
    };
    const auto first = capture("11");
    EXPECT_EQ(first, capture("11"));
    EXPECT_NE(first.first, capture("12").first);
}

TEST(EmulatorProgram, GarbageClosesOnlyThatConnectionAndOthersAreServed) {
    EmulatorProcess emu({"--address", "127.0.3.4", "--width", "64", "--height", "48"});
    ASSERT_TRUE(emu.waitReady());
    void* handle = Tavrion_Connect("127.0.3.4", "32001", 0);
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(closesAfter("127.0.3.4", "GET / HTTP/1.0\r\n\r\n"));
    // A valid header announcing a command longer than the limit.
    EXPECT_TRUE(closesAfter("127.0.3.4", std::string("TVR1\x02\0\0\0\0\0\0\x01\x7f\xff\xff\xff", 16)));
    // An unknown message kind.
    EXPECT_TRUE(closesAfter("127.0.3.4", std::string("TVR1\x63\0\0\0\0\0\0\x01\0\0\0\0", 16)));
    std::int32_t status = 0;
    EXPECT_EQ(Tavrion_GetSensorStatus(handle, &status), TAVRION_OK);
    EXPECT_EQ(status & TAVRION_STATUS_LINK_ALIVE, TAVRION_STATUS_LINK_ALIVE);
    void* second = Tavrion_Connect("127.0.3.4", "32001", 0);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Tavrion_WriteData(second, "SetLEDPower=50", 0), TAVRION_OK);
    EXPECT_EQ(Tavrion_WriteData(handle, "SetLEDPower=51", 0), TAVRION_OK);
    Tavrion_Disconnect(second);
    Tavrion_Disconnect(handle);
    EXPECT_TRUE(emu.running());
    // An orderly end on SIGTERM; a Windows program under wine gets no such signal and is killed instead.
    if (!program_under_test::isWindowsBuild()) {
        EXPECT_EQ(emu.terminate(), 0);
    }
}

TEST(EmulatorProgram, DiesWhenToldAndRefusesBadFlags) {
    // How long a process that must end by itself is given: a sanitizer build takes several seconds only to start
    // and print its refusal on a loaded machine (3.4 s measured for the ThreadSanitizer build at a load of 4).
    constexpr int kEndsWithinMs = 30000;
    EmulatorProcess dying({"--address", "127.0.3.5", "--width", "16", "--height", "16", "--die-after", "0.3"});
    ASSERT_TRUE(dying.waitReady());
    EXPECT_EQ(dying.waitExit(kEndsWithinMs), 3);

    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--width", "0"},
                                                {"--serial", "../x"},
                                                {"--fail", "SetGain"},
                                                {"--fail", "SetGain=abc"},
                                                {"--address", "localhost"},
                                                {"--no-such-flag"}}) {
        std::vector<std::string> arguments;
        if (bad[0] != "--address") arguments = {"--address", "127.0.3.5"};
        arguments.insert(arguments.end(), bad.begin(), bad.end());
        EmulatorProcess refused(arguments);
        EXPECT_NE(refused.waitExit(kEndsWithinMs).value_or(0), 0) << bad[0];
    }
    // A second sensor on a taken address says so and ends.
    EmulatorProcess first({"--address", "127.0.3.5", "--width", "16", "--height", "16"});
    ASSERT_TRUE(first.waitReady());
    EmulatorProcess second({"--address", "127.0.3.5", "--width", "16", "--height", "16"});
    EXPECT_EQ(second.waitExit(kEndsWithinMs), 2);
}

TEST(EmulatorProgram, HelpDocumentsEveryFlag) {
    std::string command;
    for (const std::string& word : program_under_test::command(EmulatorProcess::binaryPath(), {"--help"}))
        command += word + " ";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string help;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) help.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0);
    for (const char* flag :
         {"--address", "--port", "--width", "--height", "--serial", "--seed", "--log-commands", "--dump-dir", "--fail",
          "--no-data-every", "--die-after", "--reply-delay-ms", "--trigger-delay-ms", "--download-seconds",
          "cloud-NNNNNN.bin", "mono16-NNNNNN.bin", "image-NNNNNN.bin"})
        EXPECT_NE(help.find(flag), std::string::npos) << flag;
}
