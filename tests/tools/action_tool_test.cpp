// corvastrum-action against the demo device in a private network namespace, with tshark on the loopback: the
// tool's action commands (unicast and broadcast, at once and scheduled) and the device's acknowledges decode
// cleanly, and what a client sees holds: a wrong key gets no answer, a past time is answered ACTION_LATE once the
// client enabled the newer status codes, a full queue OVERFLOW, and the demo device takes each action at its time
// (how late is printed, not asserted).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "script_output.h"

namespace {

std::string run(const std::string& command) { return script_output::run(command + " 2>&1"); }

// Files of this run only: test runs of other build trees share the temporary folder.
std::string ownTempFile(const std::string& name) {
    return ::testing::TempDir() + std::to_string(getpid()) + "_" + name;
}

using script_output::section;

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(ActionTool, ActionsAndAcknowledgesDecodeAndKeepTheirRules) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0) GTEST_SKIP() << "tshark is not installed";
    if (std::system("command -v arv-tool-0.8 >/dev/null 2>&1") != 0) GTEST_SKIP() << "arv-tool-0.8 is not installed";
    if (std::system("unshare -n true >/dev/null 2>&1") != 0) GTEST_SKIP() << "no private network namespace here";
    const std::string capture = ownTempFile("actions.pcap");
    const std::string deviceLog = ownTempFile("actions_device.log");
    const std::string script = ownTempFile("actions.sh");
    std::ofstream(script) << "set -u\nip link set lo up\nCAP=" << capture << "\nLOG=" << deviceLog << "\nTOOL=\""
                          << ACTION_TOOL << " --ack\"\n"
                          << "rm -f $CAP\n"
                          << DEMO_DEVICE << " --address 127.0.8.1 > $LOG 2>&1 & DEVICE=$!\n"
                          << R"sh(
tshark -i lo -f "udp port 3956" -w $CAP >/dev/null 2>&1 & CAPTURE=$!
for i in $(seq 300); do [ -s $CAP ] && break; sleep 0.1; done  # capturing once the file has its header
ACTION="$TOOL --device-key 0x1234 --address 127.0.8.1"
sleep 0.5
# No application will control the device: it acts unconditionally. Signal 1 is group 7, signal 2 group 8.
arv-tool-0.8 -a 127.0.8.1 control ActionUnconditionalMode=On ActionDeviceKey=0x1234 ActionSelector=1 \
  ActionGroupKey=7 ActionGroupMask=1 ActionSelector=2 ActionGroupKey=8 ActionGroupMask=0xFF ActionQueueSize
echo "== now"
$ACTION --group-key 7 --group-mask 1
echo "== scheduled"
$ACTION --group-key 8 --group-mask 2 --in-ms 300; sleep 0.5
echo "== broadcast"
$TOOL --device-key 0x1234 --group-key 7 --group-mask 1 --address 255.255.255.255 --source 127.0.0.1 --timeout-ms 300
echo "== wrong key"
$TOOL --device-key 0x1235 --group-key 7 --group-mask 1 --address 127.0.8.1 --timeout-ms 300
echo "== late with generic codes"
$ACTION --group-key 7 --group-mask 1 --at 1000
arv-tool-0.8 -a 127.0.8.1 control "R[0x0954]=0x40008" > /dev/null
echo "== late"
$ACTION --group-key 7 --group-mask 1 --at 1000
echo "== full queue"
for i in $(seq 17); do $ACTION --group-key 8 --group-mask 1 --in-ms 60000 --timeout-ms 200 | grep ACTION_ACK; done
echo "== device"
sleep 0.5; kill $DEVICE; wait $DEVICE 2>/dev/null
grep "^action" $LOG
sleep 0.5; kill $CAPTURE; wait $CAPTURE 2>/dev/null
echo "== wire"
echo "commands $(tshark -r $CAP -Y "gvcp.cmd.command == 0x0100" 2>/dev/null | wc -l)"
echo "scheduled $(tshark -r $CAP -Y "gvcp.cmd.command == 0x0100 && gvcp.cmd.flag.scheduledactioncommand == 1 && gvcp.cmd.action.time" 2>/dev/null | wc -l)"
echo "acks $(tshark -r $CAP -Y "gvcp.ack == 0x0101" 2>/dev/null | wc -l)"
echo "late $(tshark -r $CAP -Y "gvcp.ack == 0x0101 && gvcp.cmd.status == 0x8016" 2>/dev/null | wc -l)"
echo "malformed $(tshark -r $CAP -Y "_ws.malformed || _ws.expert.severity >= warning" 2>/dev/null | wc -l)"
)sh";
    const std::string output = run("unshare -n -- bash " + script);

    EXPECT_NE(output.find("ActionQueueSize = 16"), std::string::npos) << output;
    EXPECT_EQ(count(section(output, "now"), "ACTION_ACK from 127.0.8.1: SUCCESS"), 1) << output;
    EXPECT_EQ(count(section(output, "scheduled"), "ACTION_ACK from 127.0.8.1: SUCCESS"), 1) << output;
    EXPECT_EQ(count(section(output, "broadcast"), "ACTION_ACK from 127.0.8.1: SUCCESS"), 1) << output;
    EXPECT_NE(section(output, "wrong key").find("no answer from 127.0.8.1"), std::string::npos) << output;
    EXPECT_EQ(count(section(output, "late with generic codes"), "ERROR (0x8FFF)"), 1) << output;
    EXPECT_EQ(count(section(output, "late"), "ACTION_LATE (0x8016)"), 1) << output;
    const std::string full = section(output, "full queue");
    EXPECT_EQ(count(full, "SUCCESS"), 16) << output;
    EXPECT_EQ(count(full, "OVERFLOW (0x8015)"), 1) << output;

    // Taken by the device: every action but the wrong key's and the queued ones, late ones included.
    const std::string device = section(output, "device");
    EXPECT_EQ(count(device, "action Action1"), 4) << output;
    EXPECT_EQ(count(device, "action Action2"), 1) << output;
    const auto scheduled = device.find("action Action2");
    if (scheduled != std::string::npos) {
        long long lateNs = -1;
        std::sscanf(device.c_str() + device.find("taken ", scheduled), "taken %lld", &lateNs);
        EXPECT_GE(lateNs, 0) << "a scheduled action is never taken early";
        std::printf("scheduled action taken %.3f ms after its action time\n", static_cast<double>(lateNs) / 1e6);
    }

    const std::string wire = section(output, "wire");
    int commands = 0, scheduledOnWire = 0, acks = 0, late = 0, malformed = -1;
    std::istringstream lines(wire);
    for (std::string line; std::getline(lines, line);) {
        std::sscanf(line.c_str(), "commands %d", &commands);
        std::sscanf(line.c_str(), "scheduled %d", &scheduledOnWire);
        std::sscanf(line.c_str(), "acks %d", &acks);
        std::sscanf(line.c_str(), "late %d", &late);
        std::sscanf(line.c_str(), "malformed %d", &malformed);
    }
    EXPECT_EQ(commands, 23) << output;
    EXPECT_EQ(scheduledOnWire, 20) << output;
    EXPECT_EQ(acks, 22) << output;
    EXPECT_EQ(late, 1) << output;
    EXPECT_EQ(malformed, 0) << output;
}
