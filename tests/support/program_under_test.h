// Which build the end-to-end tests drive. Normally the Linux programs of this build; with the environment
// variable WINDOWS_PROGRAM_DIR naming the Windows build's program folder, the Windows programs run under wine
// instead, against the same tests and the same Linux client. Under wine every loopback datagram leaves from
// 127.0.0.1, so there the device must serve on 127.0.0.1 (the tests then run in a network namespace of their
// own, one at a time).
#pragma once

#include <string>
#include <vector>

namespace program_under_test {

bool isWindowsBuild();
// The command line that runs `program` (a path from programPath) with `arguments`.
std::vector<std::string> command(const std::string& program, const std::vector<std::string>& arguments);
// The program named `name` (no extension) of the build under test; `linuxPath` is where the Linux build has it.
std::string programPath(const std::string& name, const std::string& linuxPath);
// The address a device under test serves on: `linuxAddress`, or 127.0.0.1 under wine.
std::string deviceAddress(const std::string& linuxAddress);

}  // namespace program_under_test
