// The program run as a process: exact standard output and standard error, exit status and pauses of the
// paths that end before the sensor is reached.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct ProcessRun {
    std::string out;
    std::string err;
    int status = -1;
    long milliseconds = 0;
};

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Runs the program with `arguments`, standard input fed from `input` through a file.
ProcessRun runProgram(const std::vector<std::string>& arguments, const std::string& input) {
    const std::string base = testing::TempDir() + "program_" + std::to_string(::getpid());
    std::ofstream(base + ".in", std::ios::binary) << input;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, (base + ".in").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (base + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (base + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> all{PROGRAM_PATH};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    ProcessRun run;
    if (posix_spawn(&pid, PROGRAM_PATH, &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    run.milliseconds = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    posix_spawn_file_actions_destroy(&actions);
    run.out = readFile(base + ".out");
    run.err = readFile(base + ".err");
    return run;
}

const std::string kVersion = "Version: 1.0.0\n\n\n";
const std::string kHelp =
    "The CorvastrumGigeInterface is an application that makes the Corvastrum 3D Sensor compatible with any GigE "
    "compatible client. The application is terminal-based.\n\n"
    "Available options:\n\n"
    " -i [3D_SENSOR_IP] the IP address of the Corvastrum 3D Sensor.\n\n"
    " -s [GigE_SERVER_IP] the IP address of the server, to which the application connects.\n\n"
    " -n [X] the Netwrok Interface Card index, thorugh which the application connects.\n"
    "If the GigE_SERVER_IP given by the option -s is not registered in the system, the application will add this "
    "IP to the system\n(requires to run the application as system adminstrator).\n\n"
    " -d print out in the console debug messages. The debug messages are the comands sent and received from the "
    "client.\n\n"
    " -f [FILENAME] print the debug messages into an external file. The debug messages are the commands sent and "
    "received from the client.\n\n"
    " -h print out the help text.\n\n"
    "For more Info, please refer to the CorvastrumGigeInterface user manual\n\n"
    "Below is a list of inteface indeces and their main IPs in this system:\n";

// The help text followed by the interface list (whatever interfaces this host has) and `tail`.
void expectHelpAndList(const std::string& err, const std::string& tail) {
    ASSERT_EQ(err.compare(0, kHelp.size(), kHelp), 0) << err;
    ASSERT_GE(err.size(), kHelp.size() + tail.size());
    ASSERT_EQ(err.compare(err.size() - tail.size(), tail.size(), tail), 0) << err;
    const std::string list = err.substr(kHelp.size(), err.size() - kHelp.size() - tail.size());
    EXPECT_TRUE(std::regex_match(list, std::regex("(Interface [0-9]+  IP: [0-9.]+\n)*"))) << list;
}

TEST(ProgramProcess, NoArgumentsPrintsHelpListAndPromptThenEndsWithOne) {
    const ProcessRun run = runProgram({}, "x");
    EXPECT_EQ(run.out, kVersion);
    expectHelpAndList(run.err, "press ENTER to exit.\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_LT(run.milliseconds, 2500);
}

TEST(ProgramProcess, HelpEndsWithZeroEvenAfterOtherOptions) {
    const ProcessRun run = runProgram({"-i", "127.0.0.1", "-h", "-x"}, "\n");
    EXPECT_EQ(run.out, kVersion);
    expectHelpAndList(run.err, "");
    EXPECT_EQ(run.status, 0);
}

TEST(ProgramProcess, ScannerErrorsShareOneLineAndPauseThreeSeconds) {
    struct Case {
        std::vector<std::string> arguments;
        std::string err;
    };
    const std::string program = PROGRAM_PATH;
    const Case cases[] = {
        {{"-i"}, program + ": option requires an argument -- iOption -i requires an argument.\n"},
        {{"-d", "-f"}, program + ": option requires an argument -- fUnknown option `-f'.\n"},
        {{"-x"}, program + ": illegal option -- xUnknown option `-x'.\n"},
        {{"-\x01"}, program + ": illegal option -- \x01Unknown option character `\\x1'.\n"},
    };
    for (const Case& c : cases) {
        const ProcessRun run = runProgram(c.arguments, "");
        EXPECT_EQ(run.out, kVersion);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.status, 1);
        EXPECT_GE(run.milliseconds, 3000);
    }
}

TEST(ProgramProcess, LeftoverElementAndEmptySensorAddressEndWithOne) {
    ProcessRun run = runProgram({"-i", "1.2.3.4", "extra"}, "");
    EXPECT_EQ(run.out, kVersion + "Non-option argument extra\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 1);
    EXPECT_GE(run.milliseconds, 3000);

    run = runProgram({"-d", "-s", "127.0.0.1"}, "");
    EXPECT_EQ(run.out, kVersion);
    EXPECT_EQ(run.err, "ERROR: scanner IP address is not valid\nCheck Help for more Info\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_GE(run.milliseconds, 3000);
}

TEST(ProgramProcess, InterfaceIndexWithoutServerAddressIsRefusedBeforeTheSensor) {
    const ProcessRun run = runProgram({"-i", "127.0.0.1", "-n", "0"}, "");
    EXPECT_EQ(run.out, kVersion);
    EXPECT_EQ(run.err, "ERROR: option -n needs the server address of option -s\nCheck Help for more Info\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_GE(run.milliseconds, 3000);
}

TEST(ProgramProcess, DoubleDashMakesTheNextElementANonOption) {
    const ProcessRun run = runProgram({"-i", "1.2.3.4", "--", "-d"}, "");
    EXPECT_EQ(run.out, kVersion + "Non-option argument -d\n");
    EXPECT_EQ(run.status, 1);
}

}  // namespace
